#!/usr/bin/env bash
# CI for the Windows programs: install the cross compilers, Wine for both
# Windows kinds and a Japanese locale where missing, build the 32-bit and the
# 64-bit presets, run their unit tests under Wine, then the whole-program
# tests that drive Trenzik.exe and Morvel.exe under Wine from a native build.
#
# Before anything runs, both builds' programs must load on Windows XP (their
# imports) and carry their version resource and manifest.
#
# Knobs: TRENZIK_WINE_HOST_BUILD (the native driver's build folder, default
# build/wine-host), TRENZIK_WINE_LARGE=0 (leave out the test with a source of
# more than 4 GiB, which writes about 9 GB), TRENZIK_WINE_X86=0|1 (leave out,
# or insist on, the runs of the 32-bit build; by default they are left out,
# with a notice, only on a machine that cannot execute 32-bit programs).
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
  wine wine64 wine32:i386 tmux
if ! grep -qix 'ja_JP.utf8' <<<"$(locale -a)"; then
  echo "Making the locale ja_JP.UTF-8"
  localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi
# Debian's `wine` starts the 32-bit loader first. A kernel without 32-bit
# support (no IA32 emulation) cannot execute it: then only the 64-bit build
# can run here.
x86_runs=${TRENZIK_WINE_X86:-auto}
if wine --version; then
  [[ "$x86_runs" == auto ]] && x86_runs=1
else
  if [[ "$x86_runs" == 1 ]]; then
    echo "TRENZIK_WINE_X86=1, but this machine cannot start the 32-bit Wine loader" >&2
    exit 1
  fi
  x86_runs=0
  /usr/lib/wine/wine64 --version
  echo "NOTICE: this machine cannot execute 32-bit programs: the 32-bit build" \
    "is built and checked but not run under Wine."
fi

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

echo "== Imports, version resources and manifests of the programs =="
programs=(build/windows-x86/Trenzik.exe build/windows-x86/Morvel.exe
  build/windows-x64/Trenzik.exe build/windows-x64/Morvel.exe)
bash .ci/check-windows-imports.sh "${programs[@]}"
# The check itself must fail on what it is there to catch: a Vista function
# and a DLL beyond the two allowed.
probe=$(mktemp -d)
printf '#include <windows.h>\nint main(void) { MessageBeep(0); return (int)GetTickCount64(); }\n' \
  >"$probe/probe.c"
i686-w64-mingw32-gcc -D_WIN32_WINNT=0x0600 "$probe/probe.c" -o "$probe/probe.exe" -luser32
if bash .ci/check-windows-imports.sh "$probe/probe.exe" >"$probe/check.txt" 2>&1 ||
  ! grep -q 'GetTickCount64' "$probe/check.txt" || ! grep -q 'USER32' "$probe/check.txt"; then
  cat "$probe/check.txt" >&2
  echo "FAILED: the import check let GetTickCount64 or USER32.dll through" >&2
  exit 1
fi
rm -rf "$probe"
for exe in "${programs[@]}"; do
  name=$(basename "$exe" .exe)
  resources=$(x86_64-w64-mingw32-windres -J coff -O rc -i "$exe")
  for expected in 'VERSIONINFO' 'FILEVERSION 1, 0, 0, 0' 'VALUE "FileVersion", "1.0"' \
    'VALUE "ProductVersion", "1.0"' 'VALUE "ProductName", "Trenzik and Morvel"' \
    "VALUE \"FileDescription\", \"$name: " "VALUE \"OriginalFilename\", \"$name.exe\"" \
    '1 24 /* RT_MANIFEST */' 'requestedExecutionLevel level=""asInvoker""' 'supportedOS Id='; do
    if ! grep -qF -- "$expected" <<<"$resources"; then
      echo "FAILED: $exe: no $expected in its resources" >&2
      exit 1
    fi
  done
  echo "$exe: version 1.0 resource and manifest present"
done

echo "== Wine prefixes =="
# Made before the tests, whose listing under Wine has a few seconds only; a
# new prefix takes longer than that.
arches=(win64)
((x86_runs)) && arches=(win32 win64)
for arch in "${arches[@]}"; do
  cmake/wine-run.sh "$arch" cmd.exe /c exit
done

echo "== Unit tests under Wine =="
((x86_runs)) && ctest --preset windows-x86
ctest --preset windows-x64

echo "== The programs under Wine =="
host_build=${TRENZIK_WINE_HOST_BUILD:-build/wine-host}
cmake -S . -B "$host_build" -DCMAKE_BUILD_TYPE=Release \
  -DTRENZIK_WARNINGS_AS_ERRORS=ON -DTRENZIK_WINE_TESTS=ON \
  -DTRENZIK_WINDOWS_X86_DIR="$PWD/build/windows-x86" \
  -DTRENZIK_WINDOWS_X64_DIR="$PWD/build/windows-x64" >/dev/null
cmake --build "$host_build" --target wine_tests wine_console_tests wine_large_tests -j2
labels='^wine$'
if [[ "${TRENZIK_WINE_LARGE:-1}" != 0 ]]; then
  labels='^(wine|large)$'
fi
# The 32-bit build's runs are named .../x86 or .../x86_...; the large
# test is one of them.
exclude=()
((x86_runs)) || exclude=(-E '/x86( |_|$)|^WineLargeFile\.')
ctest --test-dir "$host_build" -L "$labels" "${exclude[@]}" -j2 --output-on-failure \
  --no-tests=error

echo "Windows builds and tests took $((SECONDS - started)) s"
