# Cross build for 32-bit Windows (i686) with MinGW-w64:
#   cmake -S . -B <dir> -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TRENZIK_MINGW_TRIPLET i686-w64-mingw32)
set(TRENZIK_WINE_ARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
