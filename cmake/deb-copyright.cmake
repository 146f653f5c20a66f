# cmake -DIN=LICENSE -DOUT=copyright -P deb-copyright.cmake
# Writes the licence in Debian's machine-readable copyright format: the
# holders from its "Copyright" line, the licence text as the License field
# (MIT in this wording is Debian's "Expat").
file(READ ${IN} licence)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)" line "${licence}")
if(NOT line)
  message(FATAL_ERROR "${IN} has no line 'Copyright (c) <years> <holders>'")
endif()
set(holders "${CMAKE_MATCH_1}")
# The licence text: what follows the copyright line.
string(FIND "${licence}" "${line}" at)
string(LENGTH "${line}" length)
math(EXPR at "${at} + ${length}")
string(SUBSTRING "${licence}" ${at} -1 text)
string(STRIP "${text}" text)
# Field continuation lines start with a space; an empty line is " .".
string(REPLACE "\n" "\n " text "${text}")
string(REPLACE "\n \n" "\n .\n" text "${text}")
file(WRITE ${OUT} "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: quilbo
Upstream-Contact: the Quilbo authors

Files: *
Copyright: ${holders}
License: Expat
 ${text}
")
