# One INTERFACE target carries the project's compile settings; every target links it.
add_library(corvid_common INTERFACE)
target_compile_options(corvid_common INTERFACE -Wall -Wextra -Wno-unused-parameter)
target_compile_definitions(corvid_common INTERFACE
    CORVID_PROVIDER_DOMAIN="${CORVID_PROVIDER_DOMAIN}"
    CORVID_VERSION="${CORVID_VERSION}")
target_include_directories(corvid_common INTERFACE ${PROJECT_SOURCE_DIR}/src)
if(CORVID_SANITIZE)
    target_compile_options(corvid_common INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(corvid_common INTERFACE -fsanitize=address,undefined)
endif()
if(CORVID_WITH_WEBENGINE)
    target_compile_definitions(corvid_common INTERFACE CORVID_WITH_WEBENGINE=1)
endif()

# corvid_add_library(NAME SOURCES... [LIBS libs...]) : one static library per subsystem folder.
function(corvid_add_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    if(NOT ARG_SOURCES)
        # A folder whose code has not been written yet still yields a (empty) library.
        file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp "")
        set(ARG_SOURCES ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp)
        set_source_files_properties(${ARG_SOURCES} PROPERTIES SKIP_AUTOGEN ON)
    endif()
    add_library(${name} STATIC ${ARG_SOURCES})
    target_link_libraries(${name} PUBLIC corvid_common ${ARG_LIBS})
endfunction()
