# Run by CPack between staging and packing: the .deb gets its manual pages
# compressed (gzip -9n: no name, no time stamp), as Debian's policy asks.
if(CPACK_GENERATOR STREQUAL "DEB")
  file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
  list(FILTER staged INCLUDE REGEX "/share/man/man[1-9]/[^/]+\\.[1-9]$")
  foreach(page ${staged})
    execute_process(COMMAND gzip -9nf ${page} RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "gzip failed on ${page}")
    endif()
  endforeach()
endif()
