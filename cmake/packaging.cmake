# Installation of the manuals, and the Windows zip that CPack makes:
# - a native install puts both programs in bin/, their manual pages in
#   share/man/man1 and the README with a commented example Trenzik.ini in
#   share/doc/trenzik; the Debian package is built from debian/ with
#   dpkg-buildpackage, which compresses, strips and records all of it;
# - a MinGW build for Windows gives a zip with Trenzik.exe, Morvel.exe and
#   the manuals as plain text (Trenzik.txt, Morvel.txt), side by side in one
#   folder:            cmake --workflow --preset package-windows
#   which lands in build/packages/.
include(GNUInstallDirs)

set(TRENZIK_MAN_PAGES
  ${PROJECT_SOURCE_DIR}/docs/man/Trenzik.1
  ${PROJECT_SOURCE_DIR}/docs/man/Morvel.1)

if(NOT WIN32)
  # As they are: the packaging compresses them (dh_compress, gzip -n).
  install(FILES ${TRENZIK_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/packaging/Trenzik.ini
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/trenzik)
else()
  # In the Windows zip the programs and their text manuals share one folder,
  # with no bin/: Trenzik reads Trenzik.ini from, and writes its segments
  # into, its own folder. These rules belong to the zip only; a plain
  # `cmake --install` keeps bin/.
  install(TARGETS Trenzik Morvel
    RUNTIME DESTINATION .
    COMPONENT windows_zip EXCLUDE_FROM_ALL)
  # groff runs on the build machine (the toolchain files search programs
  # there, never in the target's root).
  find_program(TRENZIK_GROFF groff)
  if(TRENZIK_GROFF)
    set(text_manuals "")
    foreach(page IN LISTS TRENZIK_MAN_PAGES)
      get_filename_component(page_name "${page}" NAME_WE)
      set(text_manual "${CMAKE_BINARY_DIR}/manual/${page_name}.txt")
      add_custom_command(
        OUTPUT "${text_manual}"
        COMMAND ${CMAKE_COMMAND} -DGROFF=${TRENZIK_GROFF} -DPAGE=${page}
                -DOUTPUT=${text_manual}
                -P ${PROJECT_SOURCE_DIR}/packaging/render-text-manual.cmake
        DEPENDS "${page}" ${PROJECT_SOURCE_DIR}/packaging/render-text-manual.cmake
        COMMENT "Rendering ${page_name}.txt"
        VERBATIM)
      list(APPEND text_manuals "${text_manual}")
    endforeach()
    add_custom_target(text_manuals ALL DEPENDS ${text_manuals})
    install(FILES ${text_manuals} DESTINATION . COMPONENT windows_zip EXCLUDE_FROM_ALL)
  else()
    message(WARNING
      "groff not found: the Windows package cannot hold its text manuals, "
      "so packaging will stop. Install groff-base and configure again.")
    install(CODE "message(FATAL_ERROR \"The text manuals need groff: install groff-base and configure again.\")"
      COMPONENT windows_zip EXCLUDE_FROM_ALL)
  endif()
  # Beside the programs: a commented sample Trenzik.ini, a short README.txt
  # and the licence, all with CR LF line ends for Windows editors. The
  # 64-bit build makes the same zip: cmake --workflow --preset package-windows-x64
  foreach(pair IN ITEMS
      "packaging/windows/Trenzik.ini=Trenzik.ini"
      "packaging/windows/README.txt=README.txt"
      "LICENSE=LICENSE.txt")
    string(REPLACE "=" ";" pair "${pair}")
    list(GET pair 0 source)
    list(GET pair 1 target)
    file(READ "${PROJECT_SOURCE_DIR}/${source}" contents)
    string(REPLACE "\r\n" "\n" contents "${contents}")
    string(REPLACE "\n" "\r\n" contents "${contents}")
    file(WRITE "${CMAKE_BINARY_DIR}/zip/${target}" "${contents}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/${source}")
    install(FILES "${CMAKE_BINARY_DIR}/zip/${target}" DESTINATION . COMPONENT windows_zip
      EXCLUDE_FROM_ALL)
  endforeach()
endif()

if(NOT WIN32)
  return()
endif()

set(CPACK_PACKAGE_NAME "Trenzik")
set(CPACK_PACKAGE_VENDOR "the Trenzik and Morvel authors")
set(CPACK_PACKAGE_CONTACT "Trenzik and Morvel maintainers <maintainers@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "split a file into segments for removable media and bind them back")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR ZIP)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL windows_zip)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
# One folder, Trenzik-<version>-win32/ (or -win64/ for the 64-bit build),
# holding the programs, their manuals, the sample Trenzik.ini, README.txt
# and LICENSE.txt.
set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_SYSTEM_NAME win32)
endif()

include(CPack)
