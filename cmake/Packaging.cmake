# What a desktop package carries besides the programs: the desktop entry, the icon, the AppStream
# metainfo, the manual pages, the copyright and changelog; and the Debian package made of it all
# (cpack -G DEB, see scripts/package).
set(CORVID_APP_ID "net.corvidvoice.dialer")
set(CORVID_PACKAGING_DIR "${PROJECT_SOURCE_DIR}/packaging")
set(CORVID_GENERATED_DIR "${PROJECT_BINARY_DIR}/packaging")

install(FILES "${CORVID_PACKAGING_DIR}/${CORVID_APP_ID}.desktop" DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES "${CORVID_PACKAGING_DIR}/icons/corvid-dialer.svg"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME ${CORVID_APP_ID}.svg)
foreach(size 16 24 32 48 64 128 256)
    install(FILES "${CORVID_PACKAGING_DIR}/icons/corvid-dialer-${size}.png"
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME ${CORVID_APP_ID}.png)
endforeach()

configure_file("${CORVID_PACKAGING_DIR}/${CORVID_APP_ID}.metainfo.xml.in"
               "${CORVID_GENERATED_DIR}/${CORVID_APP_ID}.metainfo.xml" @ONLY)
install(FILES "${CORVID_GENERATED_DIR}/${CORVID_APP_ID}.metainfo.xml" DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Manual pages and the changelog go in compressed, as Debian's policy asks (gzip -n: no name or
# time stamp in the archive, so the package is reproducible).
find_program(CORVID_GZIP gzip)
set(CORVID_COMPRESSED "")
foreach(page corvid-dialer.1 corvid-dial.1 changelog)
    if(page STREQUAL "changelog")
        configure_file("${CORVID_PACKAGING_DIR}/changelog" "${CORVID_GENERATED_DIR}/changelog" @ONLY)
    else()
        configure_file("${CORVID_PACKAGING_DIR}/man/${page}" "${CORVID_GENERATED_DIR}/${page}" @ONLY)
    endif()
    add_custom_command(OUTPUT "${CORVID_GENERATED_DIR}/${page}.gz"
        COMMAND ${CORVID_GZIP} -9nc "${CORVID_GENERATED_DIR}/${page}" > "${CORVID_GENERATED_DIR}/${page}.gz"
        DEPENDS "${CORVID_GENERATED_DIR}/${page}" VERBATIM)
    list(APPEND CORVID_COMPRESSED "${CORVID_GENERATED_DIR}/${page}.gz")
endforeach()
add_custom_target(corvid_packaging_files ALL DEPENDS ${CORVID_COMPRESSED})
install(FILES "${CORVID_GENERATED_DIR}/corvid-dialer.1.gz" "${CORVID_GENERATED_DIR}/corvid-dial.1.gz"
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES "${CORVID_GENERATED_DIR}/changelog.gz" "${CORVID_PACKAGING_DIR}/copyright" DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The Debian package.
set(CORVID_PACKAGE_MAINTAINER "CorvidDialer developers <maintainers@corvidvoice.net>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "corvid-dialer")
set(CPACK_PACKAGE_VERSION "${CORVID_VERSION}")
set(CPACK_PACKAGE_VENDOR "CorvidDialer developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "softphone and power dialer for outbound call-centre agents")
set(CPACK_PACKAGE_CONTACT "${CORVID_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "comm")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://corvidvoice.net/")
# The long description; CPack puts the summary above it and indents every line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "CorvidDialer sits beside the agent's CRM as one small window and places SIP
calls on two lines, with hold, transfers, three-way calls, recording, voice
mail, chat and supervisor monitoring. Other programs place and end calls
through dial files, the clipboard, tel:, sip: and callto: links and D-Bus.
Every call is logged to the agent's CSV call log.

Site-wide defaults for every agent of a host are read from
/etc/corvid-dialer/site.ini.")
# The libraries' packages come from dpkg-shlibdeps. What it cannot see: the SIP library's grammar
# files (without them chat and presence abort the process), the media framework's plugins behind
# the ring-back tone, and the SVG image plugin.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "linphone-common, gstreamer1.0-plugins-base, libqt6svg6, qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pipewire-pulse | pulseaudio, gstreamer1.0-plugins-good, fonts-dejavu-core")
include(CPack)
