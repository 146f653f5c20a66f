# Installing and packaging.
#   Linux:   bin/quilbo, share/man/man1/quilbo.1, share/doc/quilbo/README.md
#            and the scheduling examples; a .deb (cpack --preset deb).
#   Windows: one flat folder: Quilbo.exe, README.txt (CR LF), quilbo.txt (the
#            manual page as text, CR LF), the Task Scheduler scripts; a .zip
#            (cpack --preset zip, from the 32-bit build).
include(GNUInstallDirs)

set(QUILBO_PACKAGE_CONTACT "Quilbo maintainers <quilbo@example.org>"
    CACHE STRING "Maintainer named in the packages")

if(WIN32)
  install(TARGETS quilbo RUNTIME DESTINATION .)

  # Windows readers get text files with CR LF; the manual page is rendered
  # here, on the build machine, since Windows has no man.
  find_program(QUILBO_GROFF groff)
  set(text_dir ${CMAKE_BINARY_DIR}/package-text)
  add_custom_command(
    OUTPUT ${text_dir}/README.txt
    COMMAND ${CMAKE_COMMAND} -DIN=${CMAKE_SOURCE_DIR}/README.md
            -DOUT=${text_dir}/README.txt -P ${CMAKE_SOURCE_DIR}/cmake/crlf.cmake
    DEPENDS ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/cmake/crlf.cmake
    COMMENT "README.txt with CR LF")
  set(texts ${text_dir}/README.txt)
  if(QUILBO_GROFF)
    add_custom_command(
      OUTPUT ${text_dir}/quilbo.txt
      COMMAND ${CMAKE_COMMAND} -DGROFF=${QUILBO_GROFF}
              -DIN=${CMAKE_SOURCE_DIR}/doc/quilbo.1 -DOUT=${text_dir}/quilbo.txt
              -P ${CMAKE_SOURCE_DIR}/cmake/crlf.cmake
      DEPENDS ${CMAKE_SOURCE_DIR}/doc/quilbo.1 ${CMAKE_SOURCE_DIR}/cmake/crlf.cmake
      COMMENT "quilbo.txt: the manual page as text with CR LF")
    list(APPEND texts ${text_dir}/quilbo.txt)
  else()
    message(WARNING "groff not found (Debian package groff-base): the package "
                    "will lack quilbo.txt, the manual page as text")
  endif()
  add_custom_target(quilbo_texts ALL DEPENDS ${texts})
  install(FILES ${texts} DESTINATION .)
  install(FILES ${CMAKE_SOURCE_DIR}/contrib/windows/quilbo-task.cmd
                ${CMAKE_SOURCE_DIR}/contrib/windows/create-task.cmd
          DESTINATION .)
else()
  install(TARGETS quilbo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES doc/quilbo.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES contrib/systemd/quilbo.service contrib/systemd/quilbo.timer
          DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
  # Named for /etc/cron.d, where names with a dot are ignored.
  install(FILES contrib/cron/quilbo DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
          RENAME quilbo.cron)
endif()

set(CPACK_PACKAGE_NAME quilbo)
set(CPACK_PACKAGE_VENDOR "Quilbo")
set(CPACK_PACKAGE_CONTACT "${QUILBO_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "append text log files to archives and keep the archives small")
set(CPACK_PACKAGE_DESCRIPTION
    "Quilbo appends every log file that matches a pattern, line by line, to a
file of the same name in an archive folder next to the logs, optionally
deletes the logs and cuts each archive to its last N kilobytes. Archives
are 8-bit text with CR LF line ends. It is meant to be run by cron or a
systemd timer; exit status 5 means there was nothing to archive.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME quilbo-${PROJECT_VERSION}-win32)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Computed from the executable by dpkg-shlibdeps: libc6, libgcc-s1 and
  # libstdc++6 with the versions this build needs.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # Debian installs manual pages compressed.
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/deb-compress-man.cmake)
endif()

include(CPack)
