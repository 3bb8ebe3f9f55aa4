# What `cmake --install` puts under the prefix, and the Debian package made from it
# (`cpack -G DEB`). The data files live in app/dist/.
include(GNUInstallDirs)

set(KVEL_DIST ${PROJECT_SOURCE_DIR}/app/dist)
configure_file(${KVEL_DIST}/kvel.metainfo.xml.in ${PROJECT_BINARY_DIR}/dist/kvel.metainfo.xml @ONLY)
configure_file(${KVEL_DIST}/kvel.1.in ${PROJECT_BINARY_DIR}/dist/kvel.1 @ONLY)
configure_file(${KVEL_DIST}/kvel-sim.1.in ${PROJECT_BINARY_DIR}/dist/kvel-sim.1 @ONLY)

foreach(program kvel kvel-sim)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${PROJECT_BINARY_DIR}/dist/${program}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endforeach()
install(FILES ${KVEL_DIST}/kvel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_BINARY_DIR}/dist/kvel.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${KVEL_DIST}/kvel.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 32 48 64 128 256)
  install(FILES ${KVEL_DIST}/kvel-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME kvel.png)
endforeach()

set(CPACK_PACKAGE_NAME kvel)
set(CPACK_PACKAGE_VENDOR "KVEL developers")
set(CPACK_PACKAGE_CONTACT "KVEL developers <kvel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "terminal and service tool for motion controllers on an RS-232 line")
set(CPACK_PACKAGE_DESCRIPTION
    "KVEL is the terminal and toolbox of service engineers for programmable motion
controllers (step-motor indexers, servo drives, motion controls) on RS-232:
terminal with command history, macros, repeat, hex view and log; settings per
controller family; scan, program and parameter transfers, error reports and
I/O tests. kvel-sim simulates controllers on pseudo-terminals.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies from the binaries' libraries (dpkg-shlibdeps), plus the fonts the window's
# layout is measured with.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation2")
include(CPack)
