# cmake -DBUILD_DIR=... -DPREFIX=... -DBINDIR=bin -DDATA_FROM_BIN=../share/corvid-dialer
#       -DDOCDIR=share/doc/corvid-dialer [-DMODULE=../lib/corvid-dialer/libcorvid_webview.so] -P CheckInstall.cmake
# Installs the build into PREFIX (emptied first) and fails unless the program, corvid-dial with its
# link handler, its ring tone and the
# embedded browser's module (MODULE, relative to the program's folder) where the program looks for
# them, the documentation, and what a desktop package carries (desktop entry, icons, manual pages,
# AppStream metainfo, which appstreamcli validates pedantically when it is installed) are there. PREFIX is removed again when all is well.
foreach(var BUILD_DIR PREFIX BINDIR DATA_FROM_BIN DOCDIR DATADIR APP_ID MANDIR)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "CheckInstall.cmake: ${var} is not set")
    endif()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed (${result}):\n${output}")
endif()
set(missing "")
set(expected "${BINDIR}/corvid-dialer" "${BINDIR}/corvid-dial" "${BINDIR}/${DATA_FROM_BIN}/ring.wav"
             "${BINDIR}/../share/applications/corvid-dial.desktop" "${DOCDIR}/README.md"
             "${DOCDIR}/docs/ARCHITECTURE.md" "${DOCDIR}/docs/ENGINE.md" "${DOCDIR}/copyright" "${DOCDIR}/changelog.gz"
             "${DATADIR}/applications/${APP_ID}.desktop" "${DATADIR}/metainfo/${APP_ID}.metainfo.xml"
             "${DATADIR}/icons/hicolor/scalable/apps/${APP_ID}.svg" "${DATADIR}/icons/hicolor/48x48/apps/${APP_ID}.png"
             "${DATADIR}/icons/hicolor/256x256/apps/${APP_ID}.png"
             "${MANDIR}/man1/corvid-dialer.1.gz" "${MANDIR}/man1/corvid-dial.1.gz")
if(MODULE)
    list(APPEND expected "${BINDIR}/${MODULE}")
endif()
foreach(path ${expected})
    if(NOT EXISTS "${PREFIX}/${path}")
        list(APPEND missing "${path}")
    endif()
endforeach()
if(missing)
    message(FATAL_ERROR "not installed under ${PREFIX}: ${missing}\n${output}")
endif()
file(GLOB installed LIST_DIRECTORIES false RELATIVE "${PREFIX}" "${PREFIX}/${BINDIR}/*")
list(SORT installed)
if(NOT installed STREQUAL "${BINDIR}/corvid-dial;${BINDIR}/corvid-dialer")
    message(FATAL_ERROR "only the program and corvid-dial belong in ${BINDIR}, found: ${installed}")
endif()
file(STRINGS "${PREFIX}/${DATADIR}/applications/${APP_ID}.desktop" entry)
foreach(line "Categories=Network;Telephony;" "Icon=${APP_ID}" "Exec=corvid-dialer")
    list(FIND entry "${line}" at)
    if(at LESS 0)
        message(FATAL_ERROR "the desktop entry lacks ${line}")
    endif()
endforeach()
find_program(APPSTREAMCLI appstreamcli)
if(APPSTREAMCLI)
    execute_process(COMMAND "${APPSTREAMCLI}" validate --pedantic --no-net --no-color
                            "${PREFIX}/${DATADIR}/metainfo/${APP_ID}.metainfo.xml"
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    # Passing means no issue at all, pedantic ones included (they do not change the exit code).
    if(NOT result EQUAL 0 OR output MATCHES "(^|\n)[EWIP]: ")
        message(FATAL_ERROR "appstreamcli validate --pedantic:\n${output}")
    endif()
else()
    message(STATUS "appstreamcli not installed: the metainfo is not validated")
endif()
message(STATUS "installed layout under ${PREFIX} is complete")
file(REMOVE_RECURSE "${PREFIX}")
