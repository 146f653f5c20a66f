# Run by CPack between staging and packing the .deb, for what Debian's
# policy asks of a binary package:
#  - manual pages, and documents over 4 KiB, compressed with gzip -9n (no
#    name, no time stamp);
#  - the Debian changelog as share/doc/quilbo/changelog.Debian.gz, and the
#    lintian overrides;
#  - no .comment section (compiler versions) in the executables.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${root}/*")

function(gzip file)
  execute_process(COMMAND gzip -9nf ${file} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip failed on ${file}")
  endif()
endfunction()

foreach(file ${staged})
  file(SIZE ${file} size)
  if(file MATCHES "/share/man/man[1-9]/[^/]+\\.[1-9]$"
     OR (file MATCHES "/share/doc/quilbo/[^/]+$" AND NOT file MATCHES "/copyright$"
         AND size GREATER 4096))
    gzip(${file})
  elseif(file MATCHES "/bin/[^/]+$")
    execute_process(COMMAND objcopy --remove-section=.comment ${file}
                    RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "objcopy failed on ${file}")
    endif()
  endif()
endforeach()

file(GLOB docdir LIST_DIRECTORIES true "${root}/usr/share/doc/quilbo")
if(NOT docdir)
  message(FATAL_ERROR "no usr/share/doc/quilbo in ${root}")
endif()
configure_file(${CPACK_QUILBO_DEBIAN}/changelog ${docdir}/changelog.Debian COPYONLY)
gzip(${docdir}/changelog.Debian)
configure_file(${CPACK_QUILBO_DEBIAN}/lintian-overrides
               ${root}/usr/share/lintian/overrides/quilbo COPYONLY)
