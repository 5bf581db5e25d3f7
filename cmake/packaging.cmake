# Installation of the manuals, and the packages that CPack makes:
# - a native build gives a Debian package (.deb) with both programs and their
#   manual pages:      cmake --workflow --preset package-deb
# - a MinGW build for Windows gives a zip with Trenzik.exe, Morvel.exe and
#   the manuals as plain text (Trenzik.txt, Morvel.txt), side by side in one
#   folder:            cmake --workflow --preset package-windows
# With those presets both land in build/packages/.
include(GNUInstallDirs)

set(TRENZIK_MAN_PAGES
  ${PROJECT_SOURCE_DIR}/docs/man/Trenzik.1
  ${PROJECT_SOURCE_DIR}/docs/man/Morvel.1)

if(NOT WIN32)
  # Manual pages go into share/man/man1, gzip-compressed (as Debian wants
  # them) when gzip is there.
  find_program(TRENZIK_GZIP gzip)
  if(TRENZIK_GZIP)
    set(compressed_pages "")
    foreach(page IN LISTS TRENZIK_MAN_PAGES)
      get_filename_component(page_name "${page}" NAME)
      set(compressed "${CMAKE_BINARY_DIR}/man/${page_name}.gz")
      add_custom_command(
        OUTPUT "${compressed}"
        COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_BINARY_DIR}/man"
        COMMAND ${CMAKE_COMMAND} -E copy "${page}" "${CMAKE_BINARY_DIR}/man/${page_name}"
        COMMAND "${TRENZIK_GZIP}" -9 -n -f "${CMAKE_BINARY_DIR}/man/${page_name}"
        DEPENDS "${page}"
        COMMENT "Compressing manual page ${page_name}"
        VERBATIM)
      list(APPEND compressed_pages "${compressed}")
    endforeach()
    add_custom_target(man_pages ALL DEPENDS ${compressed_pages})
    install(FILES ${compressed_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  else()
    install(FILES ${TRENZIK_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
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

set(CPACK_PACKAGE_NAME "Trenzik")
set(CPACK_PACKAGE_VENDOR "the Trenzik and Morvel authors")
set(CPACK_PACKAGE_CONTACT "Trenzik and Morvel maintainers <maintainers@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "split a file into segments for removable media and bind them back")
# No line may start with a full stop: in a Debian description that is a
# control statement.
set(CPACK_PACKAGE_DESCRIPTION "\
Trenzik cuts one file into a numbered segment set of at most a chosen
size each (abc.zip.1, abc.zip.2 and so on; 1440000 bytes by default), to
carry it on diskettes or other removable media. Morvel checks that a set
is complete and binds it back into a byte-identical copy of the file.")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build/")

if(WIN32)
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
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_PACKAGE_NAME "trenzik")
  # Version 1.0-1: the first Debian revision of release 1.0, so the package
  # carries changelog.Debian.gz as a non-native package does.
  set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
  set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
  set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
  # Dependencies from the programs' own shared libraries (dpkg-shlibdeps).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Installed files get the modes Debian wants whatever the umask.
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

  # The distribution's hardening, as dpkg-buildflags gives it with every
  # hardening feature asked for: PIE, -fstack-protector-strong,
  # -D_FORTIFY_SOURCE=2 with -O2, -Wl,-z,relro and -Wl,-z,now. The
  # package-deb preset turns it on; the other builds keep their own flags.
  option(TRENZIK_DEBIAN_BUILD_FLAGS
    "Compile and link the programs with the flags of dpkg-buildflags" OFF)
  if(TRENZIK_DEBIAN_BUILD_FLAGS)
    find_program(TRENZIK_DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
    foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
      execute_process(
        COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                "${TRENZIK_DPKG_BUILDFLAGS}" --get ${kind}
        OUTPUT_VARIABLE flags
        OUTPUT_STRIP_TRAILING_WHITESPACE
        COMMAND_ERROR_IS_FATAL ANY)
      separate_arguments(debian_${kind} UNIX_COMMAND "${flags}")
    endforeach()
    message(STATUS "dpkg-buildflags: ${debian_CPPFLAGS} ${debian_CXXFLAGS} | ${debian_LDFLAGS}")
    # After the build type's own flags on the command line, so -O2 wins.
    foreach(target trenzik_common trenzik_splitter trenzik_joiner Trenzik Morvel)
      target_compile_options(${target} PRIVATE ${debian_CPPFLAGS} ${debian_CXXFLAGS})
    endforeach()
    foreach(target Trenzik Morvel)
      target_link_options(${target} PRIVATE ${debian_LDFLAGS})
    endforeach()
  endif()

  # A stripped install (cpack with CPACK_STRIP_FILES, cmake --install
  # --strip) also drops the compiler's .comment and .note sections, as
  # Debian's own tools do.
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      foreach(program Trenzik Morvel)
        execute_process(
          COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
                  \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${program}\"
          COMMAND_ERROR_IS_FATAL ANY)
      endforeach()
    endif()")

  # /usr/share/doc/trenzik: the licence in Debian's machine-readable form,
  # the README and a commented example Trenzik.ini, in every install; the
  # Debian changelog and the lintian overrides only in the package
  # (component "debian", which a plain install leaves out).
  set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/trenzik)
  set(debian_dir ${PROJECT_SOURCE_DIR}/packaging/debian)
  install(FILES ${debian_dir}/copyright ${debian_dir}/Trenzik.ini
    DESTINATION ${doc_dir})
  install(FILES ${debian_dir}/lintian-overrides
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
    RENAME trenzik
    COMPONENT debian EXCLUDE_FROM_ALL)
  if(TRENZIK_GZIP)
    set(compressed_docs
      ${CMAKE_BINARY_DIR}/doc/README.md.gz
      ${CMAKE_BINARY_DIR}/doc/changelog.Debian.gz)
    add_custom_command(
      OUTPUT ${compressed_docs}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/doc
      COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/README.md
              ${CMAKE_BINARY_DIR}/doc/README.md
      COMMAND ${CMAKE_COMMAND} -E copy ${debian_dir}/changelog
              ${CMAKE_BINARY_DIR}/doc/changelog.Debian
      COMMAND "${TRENZIK_GZIP}" -9 -n -f ${CMAKE_BINARY_DIR}/doc/README.md
              ${CMAKE_BINARY_DIR}/doc/changelog.Debian
      DEPENDS ${PROJECT_SOURCE_DIR}/README.md ${debian_dir}/changelog
      COMMENT "Compressing README.md and the Debian changelog"
      VERBATIM)
    add_custom_target(compressed_docs ALL DEPENDS ${compressed_docs})
    install(FILES ${CMAKE_BINARY_DIR}/doc/README.md.gz DESTINATION ${doc_dir})
    install(FILES ${CMAKE_BINARY_DIR}/doc/changelog.Debian.gz
      DESTINATION ${doc_dir}
      COMPONENT debian EXCLUDE_FROM_ALL)
  else()
    install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${doc_dir})
    install(CODE "message(FATAL_ERROR \"The Debian changelog needs gzip: install it and configure again.\")"
      COMPONENT debian EXCLUDE_FROM_ALL)
  endif()
  # One package from both components.
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL Unspecified debian)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
endif()

include(CPack)
