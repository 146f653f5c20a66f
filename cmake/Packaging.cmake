# Installing and packaging.
#   Linux:   bin/quilbo, share/man/man1/quilbo.1, share/doc/quilbo/ (README.md,
#            copyright, the scheduling examples made for the install prefix);
#            a .deb (cpack --preset deb).
#   Windows: one folder Quilbo\: Quilbo.exe, README.txt and quilbo.txt (plain
#            text, CR LF), LICENSE.txt, the Task Scheduler scripts; a .zip
#            (cpack --preset zip, from the 32-bit build).
include(GNUInstallDirs)

# The latest entry of the Debian changelog names the maintainer; the package
# takes it from there so the two never disagree.
set(QUILBO_CHANGELOG ${CMAKE_SOURCE_DIR}/contrib/debian/changelog)
# Read here and in CMakeLists.txt (the Windows version information): a change
# configures the build anew.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${QUILBO_CHANGELOG} ${CMAKE_SOURCE_DIR}/LICENSE)
file(STRINGS ${QUILBO_CHANGELOG} signer REGEX "^ -- " LIMIT_COUNT 1)
string(REGEX REPLACE "^ -- (.*>)  .*$" "\\1" QUILBO_MAINTAINER "${signer}")

find_package(Python3 COMPONENTS Interpreter)

# The generated texts' folder: Ninja makes an output's folder itself, the
# Makefile generators do not.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/package-text)

if(WIN32)
  set(win_dir Quilbo)
  install(TARGETS quilbo RUNTIME DESTINATION ${win_dir})

  # Windows readers get plain text with CR LF; the manual page is rendered
  # here, on the build machine, since Windows has no man.
  find_program(QUILBO_GROFF groff)
  set(text_dir ${CMAKE_BINARY_DIR}/package-text)
  set(texts ${text_dir}/README.txt ${text_dir}/LICENSE.txt)
  if(NOT Python3_FOUND)
    message(FATAL_ERROR "python3 is needed to make README.txt from README.md")
  endif()
  add_custom_command(
    OUTPUT ${text_dir}/README.txt
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/readme_text.py
            ${CMAKE_SOURCE_DIR}/README.md ${text_dir}/README.txt
    DEPENDS ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/tools/readme_text.py
    COMMENT "README.txt: the README as plain text for Windows")
  add_custom_command(
    OUTPUT ${text_dir}/LICENSE.txt
    COMMAND ${CMAKE_COMMAND} -DIN=${CMAKE_SOURCE_DIR}/LICENSE
            -DOUT=${text_dir}/LICENSE.txt -P ${CMAKE_SOURCE_DIR}/cmake/crlf.cmake
    DEPENDS ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/cmake/crlf.cmake
    COMMENT "LICENSE.txt with CR LF")
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
  install(FILES ${texts} DESTINATION ${win_dir})
  install(FILES ${CMAKE_SOURCE_DIR}/contrib/windows/quilbo-task.cmd
                ${CMAKE_SOURCE_DIR}/contrib/windows/create-task.cmd
          DESTINATION ${win_dir})
else()
  install(TARGETS quilbo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES doc/quilbo.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

  # The copyright file in Debian's machine-readable form, made from LICENSE.
  set(copyright ${CMAKE_BINARY_DIR}/package-text/copyright)
  add_custom_command(
    OUTPUT ${copyright}
    COMMAND ${CMAKE_COMMAND} -DIN=${CMAKE_SOURCE_DIR}/LICENSE -DOUT=${copyright}
            -P ${CMAKE_SOURCE_DIR}/cmake/deb-copyright.cmake
    DEPENDS ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/cmake/deb-copyright.cmake
    COMMENT "copyright: the licence in Debian's form")
  add_custom_target(quilbo_copyright ALL DEPENDS ${copyright})
  install(FILES ${copyright} DESTINATION ${CMAKE_INSTALL_DOCDIR})

  # The scheduling examples name the program by its full path, so they are
  # made at install time for the prefix they are installed under (the
  # package's /usr, or cmake --install --prefix /usr/local).
  set(examples ${CMAKE_BINARY_DIR}/examples)
  install(CODE "
    set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
    get_filename_component(prefix \"\${prefix}\" ABSOLUTE)
    foreach(example systemd/quilbo.service systemd/quilbo.timer cron.d/quilbo)
      file(READ \"${CMAKE_SOURCE_DIR}/contrib/\${example}\" text)
      string(REPLACE \"/usr/bin/quilbo\" \"\${prefix}/${CMAKE_INSTALL_BINDIR}/quilbo\" text \"\${text}\")
      file(WRITE \"${examples}/\${example}\" \"\${text}\")
    endforeach()")
  install(FILES ${examples}/systemd/quilbo.service ${examples}/systemd/quilbo.timer
          DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples/systemd)
  # Under a name without a dot: cron skips such names in /etc/cron.d.
  install(FILES ${examples}/cron.d/quilbo DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples/cron.d)
endif()

set(CPACK_PACKAGE_NAME quilbo)
set(CPACK_PACKAGE_VENDOR "the Quilbo authors")
set(CPACK_PACKAGE_CONTACT "${QUILBO_MAINTAINER}")
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
  # The files already sit in their folder Quilbo\, which is unpacked into
  # C:\Program Files (or anywhere else).
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
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
  # Between staging and packing: compress, add the changelog and the lintian
  # overrides, strip .comment.
  set(CPACK_QUILBO_DEBIAN ${CMAKE_SOURCE_DIR}/contrib/debian)
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/deb-finish.cmake)
endif()

include(CPack)
