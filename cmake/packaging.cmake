# Installing like any Linux desktop program, and the Debian package built
# from that install tree with `cpack -G DEB`.
include(GNUInstallDirs)

set(COMLOOP_APP_ID io.github.comloop.Comloop)
install(TARGETS comloop RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES res/${COMLOOP_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# The theme's bitmaps and the drawing they are made from (cmake/icons.cmake).
install(DIRECTORY ${COMLOOP_ICON_DIR}/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES ${COMLOOP_ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

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
    "config folder, so USB adapters and virtual port pairs work as well.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries come from dpkg-shlibdeps; Qt loads its platform plugin at
# run time, which no library dependency reveals.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
include(CPack)
