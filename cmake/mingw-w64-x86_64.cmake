# Cross build for 64-bit Windows (x86_64) with MinGW-w64:
#   cmake -S . -B <dir> -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TRENZIK_MINGW_TRIPLET x86_64-w64-mingw32)
set(TRENZIK_WINE_ARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
