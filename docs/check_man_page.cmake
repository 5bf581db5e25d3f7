# Checks one manual page; run by ctest (label docs) as
#   cmake -DGROFF=<groff> -DPAGE=<page.1> -DTEXTS=<header;...>
#         -DSEGMENT_FORMAT=<segment_format.h> -DOTHER_PAGE=<name>
#         -DFIRST_SCREEN=<phrase;...> [-DCHECK_SIZES=ON]
#         -P check_man_page.cmake
#
# 1. groff renders the page with every warning turned on and says nothing:
#    any warning or error output fails the test.
# 2. The page has the sections a reader looks for, in the conventional
#    order with SEE ALSO last, a NAME line that whatis and apropos can read
#    ("Name \- summary"), and a SEE ALSO that names the other program and
#    the standard tools the page refers to.
# 3. Every message that the page's DIAGNOSTICS list quotes in bold is a
#    text that the program really prints: it stands in one of TEXTS.
# 4. The signature that the page gives is the code's; with CHECK_SIZES, so
#    are the default segment size and the size limits.
# 5. The first screen (the first 50 lines at 80 columns) holds every
#    phrase of FIRST_SCREEN: the answers to a new user's first questions.

cmake_minimum_required(VERSION 3.25)

foreach(variable GROFF PAGE TEXTS SEGMENT_FORMAT OTHER_PAGE FIRST_SCREEN)
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

# 2. Sections, in the conventional order; the NAME line; SEE ALSO.
file(READ "${PAGE}" source)
# The order of man-pages(7); DIAGNOSTICS, a page's own heading, stands
# where the list of errors would.
set(conventional_order NAME SYNOPSIS CONFIGURATION DESCRIPTION OPTIONS "EXIT STATUS"
  "RETURN VALUE" ERRORS DIAGNOSTICS ENVIRONMENT FILES VERSIONS STANDARDS HISTORY NOTES
  CAVEATS BUGS EXAMPLES AUTHORS "REPORTING BUGS" COPYRIGHT "SEE ALSO")
string(REGEX MATCHALL "\n\\.SH [^\n]+" headings "${source}")
set(sections "")
set(last_place -1)
foreach(heading IN LISTS headings)
  string(REGEX REPLACE "^\n\\.SH \"?([^\"]*)\"?$" "\\1" section "${heading}")
  list(APPEND sections "${section}")
  list(FIND conventional_order "${section}" place)
  if(place EQUAL -1)
    string(APPEND failures "section ${section} is not one of: ${conventional_order}\n")
  elseif(place LESS_EQUAL last_place)
    string(APPEND failures "section ${section} is out of the conventional order: ${conventional_order}\n")
  else()
    set(last_place ${place})
  endif()
endforeach()
foreach(required NAME SYNOPSIS DESCRIPTION OPTIONS FILES "EXIT STATUS"
                 DIAGNOSTICS EXAMPLES "NOTES|BUGS" "SEE ALSO")
  string(REPLACE "|" ";" choices "${required}")
  set(found FALSE)
  foreach(choice IN LISTS choices)
    if("${choice}" IN_LIST sections)
      set(found TRUE)
    endif()
  endforeach()
  if(NOT found)
    string(APPEND failures "no section ${required}\n")
  endif()
endforeach()
list(GET sections -1 last_section)
if(NOT last_section STREQUAL "SEE ALSO")
  string(APPEND failures "the last section is ${last_section}, not SEE ALSO\n")
endif()
string(FIND "${rendered}" "\nSEE ALSO\n" see_also_at)
if(NOT see_also_at EQUAL -1)
  string(SUBSTRING "${rendered}" ${see_also_at} -1 see_also)
  foreach(reference "${OTHER_PAGE}(1)" "split(1)" "cat(1)" "sha256sum(1)" "setsid(1)")
    string(FIND "${see_also}" "${reference}" found)
    if(found EQUAL -1)
      string(APPEND failures "SEE ALSO does not name ${reference}\n")
    endif()
  endforeach()
endif()
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
string(FIND "${source}" "\n.SH DIAGNOSTICS\n" start)
if(start EQUAL -1)
  string(APPEND failures "no DIAGNOSTICS section to hold the failure messages\n")
else()
  math(EXPR start "${start} + 1")
  string(SUBSTRING "${source}" ${start} -1 failure_list)
  string(FIND "${failure_list}" "\n.SH " end)
  string(SUBSTRING "${failure_list}" 0 ${end} failure_list)
  # A message may hold a semicolon, which would split the list of tags:
  # carry it as a byte that no page holds.
  string(ASCII 1 semicolon)
  string(REPLACE ";" "${semicolon}" failure_list "${failure_list}")
  string(REGEX MATCHALL "\n\\.TP\n\\.BI? [^\n]+" tags "${failure_list}")
  set(checked 0)
  foreach(tag IN LISTS tags)
    # .B text  or  .BI "text \(aq" placeholder \(aq
    string(REPLACE "${semicolon}" ";" tag "${tag}")
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
    string(APPEND failures "only ${checked} quoted messages found under DIAGNOSTICS\n")
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

# 5. The first screen.
execute_process(
  COMMAND "${GROFF}" -man -Tascii -rLL=80n -rHY=0 -P-c -P-b -P-u "${PAGE}"
  OUTPUT_VARIABLE screen
  ERROR_QUIET)
string(REGEX REPLACE ".${backspace}" "" screen "${screen}")
string(REGEX MATCHALL "[^\n]*\n" screen_lines "${screen}")
list(SUBLIST screen_lines 0 50 screen_lines)
string(JOIN "" screen ${screen_lines})
# Without hyphenation every hyphen at a line's end belongs to the text.
string(REGEX REPLACE "-\n[ ]+" "-" screen "${screen}")
string(REGEX REPLACE "[ \n]+" " " screen "${screen}")
foreach(phrase IN LISTS FIRST_SCREEN)
  string(FIND "${screen}" "${phrase}" found)
  if(found EQUAL -1)
    string(APPEND failures "the first 50 lines do not say \"${phrase}\"\n")
  endif()
endforeach()

if(NOT failures STREQUAL "")
  message(FATAL_ERROR "${PAGE}:\n${failures}")
endif()
message(STATUS "${page_name}: renders without warnings; sections, NAME line, SEE ALSO, messages, format and first screen check out")
