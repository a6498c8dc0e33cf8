# Installing like any Linux desktop program, and the Debian package built
# from that install tree with `cpack -G DEB`.
include(GNUInstallDirs)

set(COMLOOP_APP_ID io.github.comloop.Comloop)
install(TARGETS comloop comloop-check RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The cable lets whoever installed the package try comloop without hardware.
install(PROGRAMS scripts/virtual-cable DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME comloop-virtual-cable)
install(FILES res/${COMLOOP_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES res/${COMLOOP_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# The theme's bitmaps and the drawing they are made from (cmake/icons.cmake).
foreach(size IN LISTS COMLOOP_ICON_SIZES)
    install(FILES ${COMLOOP_ICON_DIR}/hicolor/${size}x${size}/apps/comloop.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${COMLOOP_ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# The package's version is the project's: a release that forgot its
# changelog entry or its AppStream release would go out describing the last.
file(STRINGS packaging/changelog changelog_top LIMIT_COUNT 1)
string(FIND "${changelog_top}" "comloop (${PROJECT_VERSION}) " changelog_at)
if(NOT changelog_at EQUAL 0)
    message(FATAL_ERROR "packaging/changelog begins with \"${changelog_top}\", but the project is "
                        "version ${PROJECT_VERSION}: add an entry for ${PROJECT_VERSION} on top.")
endif()
file(READ res/${COMLOOP_APP_ID}.metainfo.xml metainfo)
string(FIND "${metainfo}" "<release version=\"${PROJECT_VERSION}\"" release_at)
if(release_at EQUAL -1)
    message(FATAL_ERROR "res/${COMLOOP_APP_ID}.metainfo.xml has no <release version=\"${PROJECT_VERSION}\">: "
                        "add the release to <releases>.")
endif()

# Debian's copyright file, machine-readable, made from LICENSE so that the
# two cannot tell different stories.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
file(READ LICENSE license)
if(NOT license MATCHES "Copyright \\(c\\) ([^\n]+)\n\n(Permission .*)$")
    message(FATAL_ERROR "LICENSE has no \"Copyright (c) ...\" line followed by the licence text.")
endif()
set(COMLOOP_COPYRIGHT ${CMAKE_MATCH_1})
string(STRIP "${CMAKE_MATCH_2}" COMLOOP_LICENSE_TEXT)
# In the copyright format a licence is indented one space, with " ." for
# an empty line.
string(REPLACE "\n\n" "\n.\n" COMLOOP_LICENSE_TEXT "${COMLOOP_LICENSE_TEXT}")
string(REPLACE "\n" "\n " COMLOOP_LICENSE_TEXT "${COMLOOP_LICENSE_TEXT}")
set(doc ${PROJECT_BINARY_DIR}/doc)
configure_file(packaging/copyright.in ${doc}/copyright @ONLY)

# Manual pages and the changelog go out compressed the way Debian wants
# them: gzip at its best, without the name and time stamp that would make
# every build differ.
set(compressed)
set(manuals docs/comloop.1 docs/comloop-check.1 docs/comloop-virtual-cable.1)
foreach(source IN LISTS manuals ITEMS packaging/changelog)
    get_filename_component(name ${source} NAME)
    add_custom_command(OUTPUT ${doc}/${name}.gz
        COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/${source} ${doc}/${name}
        COMMAND gzip -9nf ${doc}/${name}
        DEPENDS ${PROJECT_SOURCE_DIR}/${source}
        COMMENT "Compressing ${source}")
    list(APPEND compressed ${doc}/${name}.gz)
endforeach()
add_custom_target(comloop_docs ALL DEPENDS ${compressed})
list(TRANSFORM manuals REPLACE "^docs/(.*)$" "${doc}/\\1.gz")
install(FILES ${manuals} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${doc}/copyright ${doc}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME comloop)
set(CPACK_PACKAGE_VENDOR "comloop developers")
set(CPACK_PACKAGE_CONTACT "comloop developers <comloop@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "test a serial link between two COM ports")
# Debian shows the long description as it is written: one line each.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "comloop sends a measurement frame from one serial port of this computer\n"
    "and shows what arrives at another, proving that the link between them\n"
    "carries data. COM numbers map to devices through links in the user's\n"
    "config folder, so USB adapters and virtual port pairs work as well.\n"
    "comloop-check makes the same measurement from a script, for many\n"
    "frames, with a verdict and an exit status.\n"
    "comloop-virtual-cable lays a virtual null-modem cable between two COM\n"
    "numbers, to try comloop without any hardware.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/package_permissions.cmake)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries come from dpkg-shlibdeps; Qt loads its platform plugin at
# run time, which no library dependency reveals. The window's fixed layout
# is measured in Liberation Sans: with the fallback a bare system has
# (DejaVu Sans, wider), captions run into each other and "Measure" is cut.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-liberation2")
# The virtual cable needs socat; comloop itself does not.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "socat")
include(CPack)
