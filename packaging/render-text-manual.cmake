# Renders one manual page as plain ASCII text with CR LF line ends, for the
# Windows package:
#   cmake -DGROFF=<groff> -DPAGE=<page.1> -DOUTPUT=<page.txt> -P render-text-manual.cmake
cmake_minimum_required(VERSION 3.25)

foreach(variable GROFF PAGE OUTPUT)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "render-text-manual.cmake: ${variable} is not set")
  endif()
endforeach()

# -rW=1: the page's Windows paragraphs in place of its POSIX ones (drive
# letters, the console, certutil instead of /dev/tty, setsid, sha256sum).
# -rHY=0: no hyphenation, so that a path or a command broken across lines
# can still be copied whole. -P-c -P-b -P-u: no escape sequences, no
# overstriking for bold and italics.
execute_process(
  COMMAND "${GROFF}" -man -Tascii -rHY=0 -rW=1 -P-c -P-b -P-u "${PAGE}"
  RESULT_VARIABLE result
  OUTPUT_VARIABLE text
  ERROR_VARIABLE errors)
if(NOT result EQUAL 0 OR NOT errors STREQUAL "")
  message(FATAL_ERROR "groff could not render ${PAGE} (exit ${result}):\n${errors}")
endif()

# What overstriking is left (a bullet is "+", backspace, "o") keeps its
# last character.
string(ASCII 8 backspace)
string(REGEX REPLACE ".${backspace}" "" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUTPUT}" "${text}")
