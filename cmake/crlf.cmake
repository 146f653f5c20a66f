# cmake -DIN=file -DOUT=file [-DGROFF=groff] -P crlf.cmake
# Writes IN to OUT with CR LF line ends; with GROFF, IN is a manual page and
# OUT its rendering as plain text (no bold, underline or escape sequences).
if(GROFF)
  execute_process(
    COMMAND ${GROFF} -t -man -Tascii -ww -rLL=78n -P-c -P-b -P-o -P-u ${IN}
    OUTPUT_VARIABLE text ERROR_VARIABLE errors RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR errors)
    message(FATAL_ERROR "groff failed on ${IN} (${status}): ${errors}")
  endif()
else()
  file(READ ${IN} text)
endif()
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT} "${text}")
