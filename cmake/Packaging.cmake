# What `cmake --install` puts under the prefix, and the Debian package made from it
# (`cpack -G DEB`). The data files live in app/dist/.
include(GNUInstallDirs)

set(KVEL_DIST ${PROJECT_SOURCE_DIR}/app/dist)
set(KVEL_DIST_OUT ${PROJECT_BINARY_DIR}/dist)

# Who answers for the package: "Name <address>". By default the builder's own, as Debian's
# tools take it (DEBFULLNAME and DEBEMAIL), else git's user.name and user.email.
if(NOT KVEL_MAINTAINER)
  set(maintainer_name "$ENV{DEBFULLNAME}")
  set(maintainer_mail "$ENV{DEBEMAIL}")
  find_package(Git QUIET)
  if(GIT_FOUND AND (maintainer_name STREQUAL "" OR maintainer_mail STREQUAL ""))
    execute_process(COMMAND ${GIT_EXECUTABLE} config user.name WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    OUTPUT_VARIABLE git_name OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    execute_process(COMMAND ${GIT_EXECUTABLE} config user.email WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    OUTPUT_VARIABLE git_mail OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(maintainer_name STREQUAL "")
      set(maintainer_name "${git_name}")
    endif()
    if(maintainer_mail STREQUAL "")
      set(maintainer_mail "${git_mail}")
    endif()
  endif()
  if(maintainer_name STREQUAL "" OR maintainer_mail STREQUAL "")
    message(WARNING "No maintainer for the package: set KVEL_MAINTAINER=\"Name <address>\" "
                    "(or DEBFULLNAME and DEBEMAIL)")
    set(maintainer_name "KVEL developers")
    set(maintainer_mail "kvel@localhost")
  endif()
  set(KVEL_MAINTAINER "${maintainer_name} <${maintainer_mail}>" CACHE STRING
      "The package's maintainer, \"Name <address>\"")
endif()
# The homepage, when given, adds the AppStream url and the screenshots of the README (docs/
# below it).
set(KVEL_HOMEPAGE "" CACHE STRING "The project's home page (https://...)")
set(KVEL_METAINFO_URLS "")
if(KVEL_HOMEPAGE)
  set(KVEL_METAINFO_URLS "  <url type=\"homepage\">${KVEL_HOMEPAGE}</url>
  <screenshots>
    <screenshot type=\"default\">
      <caption>The main window against the simulated line</caption>
      <image>${KVEL_HOMEPAGE}/docs/kvel-main-window.png</image>
    </screenshot>
    <screenshot>
      <caption>Unit setup, terminal setup and port setup</caption>
      <image>${KVEL_HOMEPAGE}/docs/setup-dialogs.png</image>
    </screenshot>
    <screenshot>
      <caption>The I/O test window of a GRV control</caption>
      <image>${KVEL_HOMEPAGE}/docs/iotest-grv.png</image>
    </screenshot>
  </screenshots>
")
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${KVEL_HOMEPAGE}")
endif()

configure_file(${KVEL_DIST}/kvel.metainfo.xml.in ${KVEL_DIST_OUT}/${KVEL_APP_ID}.metainfo.xml @ONLY)
configure_file(${KVEL_DIST}/kvel.1.in ${KVEL_DIST_OUT}/kvel.1 @ONLY)
configure_file(${KVEL_DIST}/kvel-sim.1.in ${KVEL_DIST_OUT}/kvel-sim.1 @ONLY)
configure_file(${KVEL_DIST}/kvel-cli.1.in ${KVEL_DIST_OUT}/kvel-cli.1 @ONLY)
configure_file(${KVEL_DIST}/changelog.in ${KVEL_DIST_OUT}/changelog @ONLY)

# Manual pages and the changelog go compressed, as Debian wants them (-n: no name or time in
# the header, so the same sources give the same bytes).
find_program(KVEL_GZIP gzip REQUIRED)
set(compressed)
foreach(file kvel.1 kvel-sim.1 kvel-cli.1 changelog)
  add_custom_command(OUTPUT ${KVEL_DIST_OUT}/${file}.gz
                     COMMAND ${KVEL_GZIP} -9nc ${KVEL_DIST_OUT}/${file} > ${KVEL_DIST_OUT}/${file}.gz
                     DEPENDS ${KVEL_DIST_OUT}/${file} VERBATIM)
  list(APPEND compressed ${KVEL_DIST_OUT}/${file}.gz)
endforeach()
add_custom_target(kvel_dist_files ALL DEPENDS ${compressed})

foreach(program kvel kvel-sim kvel-cli)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${KVEL_DIST_OUT}/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endforeach()
# The bash completion of kvel-cli goes where bash-completion looks for it (its pkg-config
# file says where; below the install prefix, so that a staged or packaged install keeps it).
if(TARGET kvel-cli)
  set(KVEL_BASH_COMPLETION_DIR "${CMAKE_INSTALL_DATADIR}/bash-completion/completions")
  find_package(PkgConfig QUIET)
  if(PkgConfig_FOUND)
    pkg_get_variable(kvel_completions bash-completion completionsdir)
    if(kvel_completions MATCHES "^/usr/(.+)$")
      set(KVEL_BASH_COMPLETION_DIR "${CMAKE_MATCH_1}")
    endif()
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/cli/completion/kvel-cli
          DESTINATION ${KVEL_BASH_COMPLETION_DIR})
endif()
install(FILES ${KVEL_DIST}/kvel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        RENAME ${KVEL_APP_ID}.desktop)
install(FILES ${KVEL_DIST_OUT}/${KVEL_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${KVEL_DIST}/copyright ${KVEL_DIST_OUT}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/tools/sim/example.sim DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(FILES ${KVEL_DIST}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME kvel)
install(FILES ${KVEL_DIST}/kvel.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 32 48 64 128 256)
  install(FILES ${KVEL_DIST}/kvel-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME kvel.png)
endforeach()

set(CPACK_PACKAGE_NAME kvel)
set(CPACK_PACKAGE_VENDOR "KVEL developers")
set(CPACK_PACKAGE_CONTACT "${KVEL_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KVEL_MAINTAINER}")
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
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
