# Installation (cmake --install, DESTDIR) and the Debian package (cpack -G DEB):
# the program, desktop entry, icons, AppStream metadata, manual page, documentation,
# the systemd unit with its settings file for headless use, and the firewalls'
# definitions of our ports (ufw, firewalld).
include(GNUInstallDirs)

set(VANTREL_APP_ID org.vantrel.Server)
set(_pkg ${CMAKE_CURRENT_LIST_DIR})
set(_out ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${_out})

install(TARGETS vantrel-server RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${_pkg}/${VANTREL_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 16 24 32 48 64 128 256)
    install(FILES ${CMAKE_SOURCE_DIR}/res/icons/${size}/${VANTREL_APP_ID}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/res/icons/${VANTREL_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# AppStream wants the screenshot (docs/window.png) as a web address, under the domain
# that the id names.
set(VANTREL_SCREENSHOT_URL "https://vantrel.org/screenshots/window.png" CACHE STRING
    "Web address of docs/window.png for the AppStream metadata (empty: no screenshot)")
set(VANTREL_METAINFO_SCREENSHOTS "")
if(VANTREL_SCREENSHOT_URL)
    string(CONCAT VANTREL_METAINFO_SCREENSHOTS
        "  <screenshots>\n    <screenshot type=\"default\">\n"
        "      <image>${VANTREL_SCREENSHOT_URL}</image>\n"
        "      <caption>The window with transfers in every state</caption>\n"
        "    </screenshot>\n  </screenshots>\n")
endif()
configure_file(${_pkg}/${VANTREL_APP_ID}.metainfo.xml.in
               ${_out}/${VANTREL_APP_ID}.metainfo.xml @ONLY)
install(FILES ${_out}/${VANTREL_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The manual page: options from the program's own --help and the SETTINGS section from
# its --help-settings-roff (the one table of settings), so neither can drift; the guides'
# sections from docs/*.md (md2h2m.py), the same text the README links to; the rest from
# vantrel-server.h2m. Without a display variable --help needs no window system.
set(VANTREL_MAN_GUIDES
    "docs/window.md=THE WINDOW"
    "docs/headless.md=HEADLESS AND AS A SERVICE"
    "docs/laptop-and-device.md=A LAPTOP AND ONE DEVICE"
    "docs/booting.md=BOOTING MACHINES"
    "docs/device-transfers.md=SENDING TO AND FETCHING FROM A DEVICE"
    "docs/behaviour.md=HOW IT BEHAVES")
set(_guides)
foreach(_guide ${VANTREL_MAN_GUIDES})
    string(REGEX REPLACE "=.*" "" _file "${_guide}")
    list(APPEND _guides ${CMAKE_SOURCE_DIR}/${_file})
endforeach()
find_program(HELP2MAN help2man)
find_package(Python3 COMPONENTS Interpreter)
if(HELP2MAN AND Python3_Interpreter_FOUND)
    add_custom_command(
        OUTPUT ${_out}/guides.h2m
        COMMAND ${Python3_EXECUTABLE} ${_pkg}/md2h2m.py ${_out}/guides.h2m ${VANTREL_MAN_GUIDES}
        WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
        DEPENDS ${_pkg}/md2h2m.py ${_guides}
        COMMENT "Manual page sections from the guides"
        VERBATIM)
    add_custom_command(
        OUTPUT ${_out}/vantrel-server.1.gz ${_out}/settings.h2m
        COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY
                --unset=QT_QPA_PLATFORM
                sh -c "\"$1\" --help-settings-roff > \"$2\"" sh
                $<TARGET_FILE:vantrel-server> ${_out}/settings.h2m
        COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY
                --unset=QT_QPA_PLATFORM
                ${HELP2MAN} --no-info --no-discard-stderr --section 1
                --include ${_pkg}/vantrel-server.h2m --include ${_out}/settings.h2m
                --include ${_out}/guides.h2m
                --output ${_out}/vantrel-server.1
                $<TARGET_FILE:vantrel-server>
        COMMAND gzip -9nf ${_out}/vantrel-server.1
        DEPENDS vantrel-server ${_pkg}/vantrel-server.h2m ${_out}/guides.h2m
        COMMENT "Manual page vantrel-server.1"
        VERBATIM)
    add_custom_target(manpage ALL DEPENDS ${_out}/vantrel-server.1.gz)
    # The test that every setting reaches the page reads the one made here.
    if(TARGET tst_settings_table)
        add_dependencies(tst_settings_table manpage)
    endif()
    install(FILES ${_out}/vantrel-server.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
    message(WARNING "help2man or python3 not found: no manual page (apt-get install help2man python3)")
endif()

# Documentation: the licence and README from source; the package carries the licence
# in Debian's form instead (component "debian", left out of a plain cmake --install).
set(_docdir ${CMAKE_INSTALL_DATADIR}/doc/vantrel-server)
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${_docdir}
        COMPONENT source)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${_docdir} COMPONENT debian
        EXCLUDE_FROM_ALL)
# The guides the README links to (the manual page names them too).
file(GLOB _guide_files ${CMAKE_SOURCE_DIR}/docs/*.md)
install(FILES ${_guide_files} DESTINATION ${_docdir}/docs COMPONENT source)
install(FILES ${_guide_files} DESTINATION ${_docdir}/docs COMPONENT debian EXCLUDE_FROM_ALL)
add_custom_command(
    OUTPUT ${_out}/changelog.Debian.gz
    COMMAND gzip -9nc ${_pkg}/debian/changelog > ${_out}/changelog.Debian.gz
    DEPENDS ${_pkg}/debian/changelog VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${_out}/changelog.Debian.gz)
install(FILES ${_pkg}/debian/copyright ${_out}/changelog.Debian.gz DESTINATION ${_docdir}
        COMPONENT debian EXCLUDE_FROM_ALL)

# Firewall definitions of our ports: a ufw application profile (`sudo ufw allow
# vantrel-server`) and a firewalld service with the TFTP connection-tracking helper
# (`sudo firewall-cmd --add-service=vantrel-server`). The default ports come from the
# settings' own defaults, so the two cannot drift apart.
file(READ ${CMAKE_SOURCE_DIR}/engine/config/SettingsTable.h _table)
string(REGEX MATCH "X\\(Port, \"Protocol/Port\", Port, ([0-9]+)," _ "${_table}")
set(VANTREL_TFTP_PORT ${CMAKE_MATCH_1})
string(REGEX MATCH "X\\(HttpPort, \"Http/Port\", Port, ([0-9]+)," _ "${_table}")
set(VANTREL_HTTP_PORT ${CMAKE_MATCH_1})
if(NOT VANTREL_TFTP_PORT OR NOT VANTREL_HTTP_PORT)
    message(FATAL_ERROR "the default ports are not found in engine/config/SettingsTable.h")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/engine/config/SettingsTable.h)
configure_file(${_pkg}/vantrel-server.ufw.in ${_out}/firewall/vantrel-server @ONLY)
configure_file(${_pkg}/vantrel-server.firewalld.xml.in ${_out}/firewall/vantrel-server.xml @ONLY)

# The service: its settings file under the prefix's etc (/etc for the prefix /usr, as
# GNUInstallDirs has it), the unit under lib/systemd/system (systemd reads /usr/lib and
# /usr/local/lib), and its user for systemd-sysusers. Worked out when installing, so
# that --prefix and the package's /usr give a unit that names the right files.
install(CODE "set(_pkg \"${_pkg}\")\nset(_out \"${_out}\")\nset(_bindir \"${CMAKE_INSTALL_BINDIR}\")"
        COMPONENT service)
install(CODE [[
    if(CMAKE_INSTALL_PREFIX STREQUAL "/usr" OR CMAKE_INSTALL_PREFIX STREQUAL "/")
        set(_etc /etc)
    elseif(CMAKE_INSTALL_PREFIX MATCHES "^/opt/")
        set(_etc "/etc${CMAKE_INSTALL_PREFIX}")
    else()
        set(_etc "${CMAKE_INSTALL_PREFIX}/etc")
    endif()
    set(CMAKE_INSTALL_FULL_BINDIR "${CMAKE_INSTALL_PREFIX}/${_bindir}")
    set(CMAKE_INSTALL_FULL_SYSCONFDIR "${_etc}")
    configure_file(${_pkg}/vantrel-server.service.in ${_out}/vantrel-server.service @ONLY)
    configure_file(${_pkg}/vantrel-server.sysusers ${_out}/sysusers/vantrel-server.conf COPYONLY)
    file(INSTALL ${_pkg}/vantrel-server.conf DESTINATION "${_etc}/vantrel-server")
    file(INSTALL ${_out}/vantrel-server.service
         DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/system")
    file(INSTALL ${_out}/sysusers/vantrel-server.conf DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/sysusers.d")
    file(INSTALL ${_out}/firewall/vantrel-server DESTINATION "${_etc}/ufw/applications.d")
    file(INSTALL ${_out}/firewall/vantrel-server.xml
         DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/firewalld/services")
]] COMPONENT service)

# Started from the menu by an ordinary user the program cannot bind port 69 without
# this capability; the package's postinst sets it, a plain install says how.
install(CODE [[
    message(STATUS "To listen on port 69 without root, run once: "
                   "sudo setcap cap_net_bind_service=+ep ${CMAKE_INSTALL_PREFIX}/bin/vantrel-server")
]])

# ---- Debian package (scripts/package.sh). CPack rather than debian/ and
# dpkg-buildpackage: the install rules above are the one list of files, and the
# package needs no second build system.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantrel-server)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Vantrel Server developers")
set(VANTREL_MAINTAINER "Vantrel Server developers <dev@vantrel.org>" CACHE STRING
    "Maintainer of the Debian package")
set(CPACK_PACKAGE_CONTACT "${VANTREL_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "TFTP server with a window that lists every transfer")
# Install with DESTDIR and the prefix /usr, so that /etc stays /etc in the package.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Unspecified service debian)
set(CPACK_DEBIAN_PACKAGE_NAME vantrel-server)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libcap2-bin: postinst's setcap, so that the program listens on port 69 from the menu.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, libcap2-bin")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Vantrel Server answers TFTP read and write requests (RFC 1350) and serves
them from one working folder. Its window shows one row per request, with
the client, the file, its size and how the transfer ended.
.
It also runs headless as a system service (vantrel-server.service, not
enabled by default) on port 69 as an unprivileged user.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${_pkg}/debian/postinst ${_pkg}/debian/prerm ${_pkg}/debian/postrm
    ${_pkg}/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

# Qt's project setup gives installed programs an $ORIGIN search path; the program
# links only system libraries.
set_property(TARGET vantrel-server PROPERTY INSTALL_RPATH "")
