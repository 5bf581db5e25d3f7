#!/usr/bin/env bash
# Runs a program of the Windows builds under Wine:
#
#   wine-run.sh [--console] win32|win64 PROGRAM [ARGUMENT...]
#
# win32 is the prefix for the i686 build, win64 the one for the x86_64 build.
# Each lives in $TRENZIK_WINE_PREFIXES/<arch> (default: build/wine beside the
# sources) and is made on first use. The toolchain files name this script as
# CMAKE_CROSSCOMPILING_EMULATOR, so ctest runs the test programs through it.
#
# --console: standard input becomes the controlling terminal. Wine gives a
# program console input only from a terminal on its standard input, so key
# waits driven through a pseudo terminal need it.
set -euo pipefail

console=no
if [[ "${1-}" == "--console" ]]; then
  console=yes
  shift
fi
if (($# < 2)); then
  echo "usage: $0 [--console] win32|win64 PROGRAM [ARGUMENT...]" >&2
  exit 2
fi
arch=$1
shift
case "$arch" in
  win32 | win64) ;;
  *)
    echo "$0: unknown prefix '$arch' (win32 or win64)" >&2
    exit 2
    ;;
esac

here=$(cd "$(dirname "$0")" && pwd)
prefixes=${TRENZIK_WINE_PREFIXES:-$here/../build/wine}
export WINEARCH="$arch"
export WINEPREFIX="$prefixes/$arch"
export WINEDEBUG="${WINEDEBUG:--all}"

# Closes every descriptor above standard error. Whatever Wine starts in the
# background (its server, the prefix's services) keeps the descriptors it
# inherits for as long as it runs: a pipe of the caller's would then not
# reach its end when the program does.
close_inherited() {
  local fd
  for fd in /proc/$BASHPID/fd/*; do
    fd=${fd##*/}
    if ((fd > 2)); then eval "exec $fd>&-"; fi
  done
}

# Runs a command with only /dev/null open.
detached() {
  (
    close_inherited
    exec "$@" </dev/null >/dev/null 2>&1
  )
}

# The program itself, with standard input, output and error only; the last
# command of this script, so that closing the script's own descriptor does
# no harm.
run_program() {
  close_inherited
  if [[ "$console" == yes ]]; then
    exec "${loader[@]}" "$@" </dev/tty
  fi
  exec "${loader[@]}" "$@"
}

# The 64-bit prefix gets the 64-bit loader directly. Debian's `wine` always
# starts the 32-bit loader, which hands a 64-bit program on; on a machine
# that cannot execute 32-bit code that first step already fails.
wine=wine
if [[ "$arch" == win64 ]]; then
  for candidate in "$(command -v wine64 || true)" /usr/lib/wine/wine64; do
    if [[ -n "$candidate" && -x "$candidate" ]]; then
      wine=$candidate
      export WINELOADER="$candidate"
      break
    fi
  done
fi

# Debian's loaders come without Wine's preloader, which would reserve the
# addresses Windows programs expect before anything else is mapped. The
# 64-bit loader is linked at 0x7d000000 and the kernel places its heap at a
# random point in the gigabyte above; now and then that heap covers
# 0x7ffe0000, where Wine must map the shared user data, and the program
# ends at once with "failed to map the shared user data" (six starts in
# about 38,000 here). Without the randomisation the heap starts right after
# the loader, far below that address.
loader=("$wine")
if command -v setarch >/dev/null; then
  loader=(setarch "$(uname -m)" -R "$wine")
fi

mkdir -p "$prefixes"

# A new prefix is written out only when its wineserver ends; until then
# system.reg is missing and the next run would start over.
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  (
    flock 9
    if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
      detached "${loader[@]}" wineboot --init
      detached wineserver --wait
    fi
  ) 9>"$prefixes/.$arch.lock"
fi

# Debian's wineserver quits with the last program of its prefix, and the next
# program boots the prefix anew (two seconds and more). A server that stays a
# few seconds keeps a series of runs quick and still ends by itself. The
# prefix's own processes are started here too, away from the caller's
# descriptors; the start fails and changes nothing when a server is running.
(
  flock 8
  if detached wineserver -p"${TRENZIK_WINESERVER_LINGER:-10}"; then
    detached "${loader[@]}" cmd.exe /c exit || true
  fi
) 8>"$prefixes/.$arch.server.lock"

run_program "$@"
