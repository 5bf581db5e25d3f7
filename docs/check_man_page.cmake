# Checks one manual page; run by ctest (label docs) as
#   cmake -DGROFF=<groff> -DPAGE=<page.1> -DTEXTS=<header;...>
#         -DSEGMENT_FORMAT=<segment_format.h> [-DCHECK_SIZES=ON]
#         -P check_man_page.cmake
#
# 1. groff renders the page with every warning turned on and says nothing:
#    any warning or error output fails the test.
# 2. The page has the sections a reader looks for, and a NAME line that
#    whatis and apropos can read ("Name \- summary").
# 3. Every message that the page's "Failures" list quotes in bold is a text
#    that the program really prints: it stands in one of TEXTS.
# 4. The signature that the page gives is the code's; with CHECK_SIZES, so
#    are the default segment size and the size limits.

cmake_minimum_required(VERSION 3.25)

foreach(variable GROFF PAGE TEXTS SEGMENT_FORMAT)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "check_man_page.cmake: ${variable} is not set")
  endif()
endforeach()
get_filename_component(page_name "${PAGE}" NAME_WE)
set(failures "")

# 1. Render with all warnings.
execute_process(
  COMMAND "${GROFF}" -man -Tutf8 -ww -z "${PAGE}"
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output)
if(NOT result EQUAL 0 OR NOT output STREQUAL "")
  string(APPEND failures "groff -man -Tutf8 -ww -z (exit ${result}) said:\n${output}\n")
endif()

# The page as a reader sees it, for the checks below: plain text, no
# overstriking.
execute_process(
  COMMAND "${GROFF}" -man -Tascii -P-c -P-b -P-u "${PAGE}"
  RESULT_VARIABLE result
  OUTPUT_VARIABLE rendered
  ERROR_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${page_name}: groff -Tascii failed (exit ${result})")
endif()
string(ASCII 8 backspace)
string(REGEX REPLACE ".${backspace}" "" rendered "${rendered}")
# Lines are filled and hyphenated: compare text with single blanks.
string(REGEX REPLACE "-\n[ ]+" "" flowing "${rendered}")
string(REGEX REPLACE "[ \n]+" " " flowing "${flowing}")

# 2. Sections and the NAME line.
foreach(section NAME SYNOPSIS DESCRIPTION "EXIT STATUS" EXAMPLES FILES "SEE ALSO")
  string(FIND "${rendered}" "\n${section}\n" at)
  if(at EQUAL -1)
    string(APPEND failures "no section ${section}\n")
  endif()
endforeach()
file(READ "${PAGE}" source)
string(REGEX MATCH "\n\\.SH NAME\n[^\n]+" name_line "${source}")
if(NOT name_line MATCHES "\n\\.SH NAME\n${page_name} \\\\- [a-z]")
  string(APPEND failures "the NAME line is not \"${page_name} \\- summary\": ${name_line}\n")
endif()

# 3. The quoted failure messages.
set(texts "")
foreach(header IN LISTS TEXTS)
  file(READ "${header}" header_text)
  string(APPEND texts "${header_text}")
endforeach()
string(FIND "${source}" "\n.SS Failures\n" start)
if(start EQUAL -1)
  string(APPEND failures "no \"Failures\" list under EXIT STATUS\n")
else()
  string(SUBSTRING "${source}" ${start} -1 failure_list)
  string(FIND "${failure_list}" "\n.SH " end)
  string(SUBSTRING "${failure_list}" 0 ${end} failure_list)
  string(REGEX MATCHALL "\n\\.TP\n\\.BI? [^\n]+" tags "${failure_list}")
  set(checked 0)
  foreach(tag IN LISTS tags)
    # .B text  or  .BI "text \(aq" placeholder \(aq
    string(REGEX REPLACE "^\n\\.TP\n\\.BI? " "" message "${tag}")
    if(message MATCHES "^\"([^\"]*)\"")
      set(message "${CMAKE_MATCH_1}")
    endif()
    string(REGEX REPLACE " *\\\\\\(aq$" "" message "${message}")
    string(REPLACE "\\(aq" "'" message "${message}")
    string(REPLACE "\\(dq" "\\\"" message "${message}")
    string(REPLACE "\\e" "\\\\" message "${message}")
    string(FIND "${texts}" "\"${message}" found)
    if(found EQUAL -1)
      string(APPEND failures "the page quotes \"${message}\", which the program never prints\n")
    endif()
    math(EXPR checked "${checked} + 1")
  endforeach()
  if(checked LESS 5)
    string(APPEND failures "only ${checked} quoted messages found in the Failures list\n")
  endif()
endif()

# 4. The segment format as the code has it.
file(READ "${SEGMENT_FORMAT}" format_text)
if(NOT format_text MATCHES "kSegmentSignature\\[\\] = {([^}]*)}")
  message(FATAL_ERROR "${SEGMENT_FORMAT} has no kSegmentSignature")
endif()
string(REGEX REPLACE "[' ,]" "" signature "${CMAKE_MATCH_1}")
set(phrases "ASCII \"${signature}\"")
if(CHECK_SIZES)
  foreach(constant kDefaultSegmentSize kMinSegmentSize kMaxSegmentSize)
    if(NOT format_text MATCHES "${constant} = ([0-9]+);")
      message(FATAL_ERROR "${SEGMENT_FORMAT} has no ${constant}")
    endif()
    set(${constant} "${CMAKE_MATCH_1}")
  endforeach()
  list(APPEND phrases
    "The default segment size, ${kDefaultSegmentSize} bytes,"
    "lies between ${kMinSegmentSize} and ${kMaxSegmentSize} inclusive"
    "It starts as ${kDefaultSegmentSize}.")
endif()
foreach(phrase IN LISTS phrases)
  string(FIND "${flowing}" "${phrase}" found)
  if(found EQUAL -1)
    string(APPEND failures "the page does not say \"${phrase}\"\n")
  endif()
endforeach()

if(NOT failures STREQUAL "")
  message(FATAL_ERROR "${PAGE}:\n${failures}")
endif()
message(STATUS "${page_name}: renders without warnings; sections, NAME line, messages and format check out")
