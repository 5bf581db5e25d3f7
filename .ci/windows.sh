#!/usr/bin/env bash
# CI for the Windows programs: install the cross compilers, Wine for both
# Windows kinds and a Japanese locale where missing, build the 32-bit and the
# 64-bit presets, run their unit tests under Wine, then the whole-program
# tests that drive Trenzik.exe and Morvel.exe under Wine from a native build.
#
# Knobs: TRENZIK_WINE_HOST_BUILD (the native driver's build folder, default
# build/wine-host), TRENZIK_WINE_LARGE=0 (leave out the test with a source of
# more than 4 GiB, which writes about 9 GB).
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS

source .ci/install-missing.sh

echo "== Tools =="
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  # wine32 is an i386 package: the 32-bit build runs on it.
  dpkg --add-architecture i386
fi
install_missing cmake g++ make libgtest-dev googletest mingw-w64 locales \
  wine wine64 wine32:i386
if ! locale -a | grep -qix 'ja_JP.utf8'; then
  echo "Making the locale ja_JP.UTF-8"
  localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi
wine --version

prefixes=${TRENZIK_WINE_PREFIXES:-$PWD/build/wine}
export TRENZIK_WINE_PREFIXES=$prefixes
# Whatever Wine left running in this run's prefixes ends with it.
stop_wine() {
  local arch
  for arch in win32 win64; do
    if [[ -d "$prefixes/$arch" ]]; then
      WINEPREFIX="$prefixes/$arch" wineserver -k >/dev/null 2>&1 || true
    fi
  done
}
trap stop_wine EXIT

echo "== Windows builds =="
# The presets leave the number of build and test jobs to the environment.
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
export CTEST_PARALLEL_LEVEL=${CTEST_PARALLEL_LEVEL:-$(nproc)}
cmake --workflow --preset windows-x86
cmake --workflow --preset windows-x64

echo "== Wine prefixes =="
# Made before the tests, whose listing under Wine has a few seconds only; a
# new prefix takes longer than that.
for arch in win32 win64; do
  cmake/wine-run.sh "$arch" cmd.exe /c exit
done

echo "== Unit tests under Wine =="
ctest --preset windows-x86
ctest --preset windows-x64

echo "== The programs under Wine =="
host_build=${TRENZIK_WINE_HOST_BUILD:-build/wine-host}
cmake -S . -B "$host_build" -DCMAKE_BUILD_TYPE=Release \
  -DTRENZIK_WARNINGS_AS_ERRORS=ON -DTRENZIK_WINE_TESTS=ON \
  -DTRENZIK_WINDOWS_X86_DIR="$PWD/build/windows-x86" \
  -DTRENZIK_WINDOWS_X64_DIR="$PWD/build/windows-x64" >/dev/null
cmake --build "$host_build" --target wine_tests wine_large_tests -j2
labels='^wine$'
if [[ "${TRENZIK_WINE_LARGE:-1}" != 0 ]]; then
  labels='^(wine|large)$'
fi
ctest --test-dir "$host_build" -L "$labels" -j2 --output-on-failure --no-tests=error

echo "Windows builds and tests took $((SECONDS - started)) s"
