# Installation on Linux and the Debian package: the three programs, a menu
# entry and an icon for qm730c, the table file's type, the program's
# AppStream record, the copyright file, and manual pages for qm730ctl and
# qm730sim written by help2man from the built programs' own --help.
include(GNUInstallDirs)

set(QM730_PROGRAMS qm730ctl qm730sim)
if(QM730_BUILD_GUI)
  list(APPEND QM730_PROGRAMS qm730c)
endif()
install(TARGETS ${QM730_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(QM730_BUILD_GUI)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/qm730c.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/qm730c.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  # The table file's type (*.tbl), which the menu entry opens.
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/qm730c-table.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME qm730c.xml)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/org.example.qm730c.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  # The desktop finds the new type and what opens it once its caches are
  # rebuilt. The Debian package leaves that to dpkg's triggers, and a staged
  # install (DESTDIR) to whoever installs the stage.
  install(CODE [[
    if("$ENV{DESTDIR}" STREQUAL "" AND NOT CMAKE_INSTALL_PREFIX MATCHES "/_CPack_Packages/")
      find_program(QM730_UPDATE_MIME update-mime-database)
      find_program(QM730_UPDATE_DESKTOP update-desktop-database)
      if(QM730_UPDATE_MIME)
        execute_process(COMMAND ${QM730_UPDATE_MIME} "${CMAKE_INSTALL_PREFIX}/share/mime")
      endif()
      if(QM730_UPDATE_DESKTOP)
        execute_process(COMMAND ${QM730_UPDATE_DESKTOP} -q "${CMAKE_INSTALL_PREFIX}/share/applications")
      endif()
    endif()
  ]])
endif()

# The licence, with the notices of what the programs are built with, where
# Debian keeps a package's copyright file.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Manual pages need the programs to run, so not in a cross-build. Without
# help2man (Debian: help2man) the programs still build and install.
find_program(HELP2MAN help2man)
if(HELP2MAN AND NOT CMAKE_CROSSCOMPILING)
  set(man_dir ${PROJECT_BINARY_DIR}/man)
  file(MAKE_DIRECTORY ${man_dir})
  set(qm730ctl_name "prepare, inspect and transfer QM730C configurations, write the board's firmware")
  set(qm730ctl_commands FROM_HELP)
  set(qm730sim_name "simulated QM730C board on a pseudo-terminal")
  set(qm730sim_commands "")
  set(pages "")
  foreach(program qm730ctl qm730sim)
    set(page ${man_dir}/${program}.1.gz)
    add_custom_command(OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -DHELP2MAN=${HELP2MAN} -DPROGRAM=$<TARGET_FILE:${program}>
              "-DNAME_LINE=${${program}_name}" "-DCOMMANDS=${${program}_commands}" -DOUTPUT=${page}
              -P ${PROJECT_SOURCE_DIR}/cmake/man_page.cmake
      DEPENDS ${program} ${PROJECT_SOURCE_DIR}/cmake/man_page.cmake
      COMMENT "Writing the manual page of ${program}"
      VERBATIM)
    list(APPEND pages ${page})
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${pages})
  install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man not found: no manual pages (Debian: apt-get install help2man)")
endif()

# cpack -G DEB in the build folder: build/qm730c_VERSION_ARCH.deb. Its
# dependencies are the Debian packages of the libraries the programs link
# (found by dpkg-shlibdeps from dpkg-dev).
set(CPACK_PACKAGE_NAME qm730c)
set(CPACK_PACKAGE_VENDOR "QM730C tools")
set(QM730_PACKAGE_MAINTAINER "QM730C tools maintainers <maintainers@example.invalid>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT "${QM730_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configuration utility for the QM730C POCSAG paging encoder")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Prepares the whole configuration of a QM730C paging encoder and transmitter board (frequency and PLL words, "
    "serial-link and protocol settings, passwords, 899 pager records, 100 prepared messages and 7 alarm "
    "messages), keeps it in table files and sends it to and reads it from the board over a serial line. "
    "In service mode it writes firmware into the board's flash.\n\n"
    "The package holds the Qt program qm730c, the command-line tool qm730ctl for scripted work and the "
    "simulated board qm730sim, so everything can be tried without hardware.")
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_INSTALL_DIRECTORY /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
