# What both MinGW-w64 toolchain files share; they set
# TRENZIK_MINGW_TRIPLET and TRENZIK_WINE_ARCH first.
set(CMAKE_SYSTEM_NAME Windows)

# Distributions ship a -posix and a -win32 threading variant. The programs
# must load on Windows XP: the -posix one links winpthreads, which imports
# GetTickCount64 and other functions XP lacks, so the -win32 one is taken
# where both exist (.ci/windows.sh checks the imports). The tests need
# std::mutex, which the -win32 variant lacks, and get a small stand-in
# (tests/windows/gtest_win32_threads.h).
if(EXISTS "/usr/bin/${TRENZIK_MINGW_TRIPLET}-g++-win32")
  set(TRENZIK_MINGW_VARIANT "-win32")
else()
  set(TRENZIK_MINGW_VARIANT "")
endif()
set(CMAKE_C_COMPILER ${TRENZIK_MINGW_TRIPLET}-gcc${TRENZIK_MINGW_VARIANT})
set(CMAKE_CXX_COMPILER ${TRENZIK_MINGW_TRIPLET}-g++${TRENZIK_MINGW_VARIANT})
set(CMAKE_RC_COMPILER ${TRENZIK_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TRENZIK_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs link statically (CMakeLists.txt: -static on trenzik_common),
# which takes the compiler's runtimes in too: no extra DLLs.

# ctest runs the test programs under Wine, in a prefix of their own kind
# (cmake/wine-run.sh makes it on first use).
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;${TRENZIK_WINE_ARCH}")
