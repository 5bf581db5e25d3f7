#!/usr/bin/env bash
# CI: the manual pages and the packages. Installs what a fresh Debian machine
# lacks, runs the docs tests (each manual page renders without a groff
# warning and matches the code), makes the Debian package and the 32-bit
# Windows zip, lists both, and checks what they hold: the files in their
# places, the Debian programs running from an unpacked package, the Windows
# programs needing no DLL beyond the system's. The Debian package must pass
# lintian and hardening-check without an error or a warning.
set -euo pipefail
cd "$(dirname "$0")/.."

# groff-base renders the pages; dpkg-dev gives dpkg-buildflags, dpkg-shlibdeps
# (the .deb's dependencies) and, through binutils, objdump; lintian and
# devscripts (hardening-check) judge the .deb; unzip lists the zip.
source .ci/install-missing.sh
install_missing cmake g++ make libgtest-dev googletest groff-base gzip dpkg-dev \
  lintian devscripts mingw-w64 unzip

# The docs tests, from the release build (the test preset fails when the
# label selects no test, as it would without groff).
cmake --preset release
cmake --build --preset release
ctest --preset test -L docs

# Both packages, into build/packages/.
rm -rf build/packages
cmake --workflow --preset package-deb
cmake --workflow --preset package-windows
cmake --workflow --preset package-windows-x64

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
expect_lines() {  # what, listing, expected lines...
  local what=$1 listing=$2
  shift 2
  for line in "$@"; do
    grep -qxF -- "$line" <<<"$listing" || fail "$what lacks $line"
  done
}

shopt -s nullglob
debs=(build/packages/trenzik_*.deb)
zips=(build/packages/Trenzik-*-win32.zip)
zips64=(build/packages/Trenzik-*-win64.zip)
shopt -u nullglob
((${#debs[@]} == 1)) || { echo "expected one .deb in build/packages, found ${#debs[@]}" >&2; exit 1; }
((${#zips[@]} == 1)) || { echo "expected one win32 .zip in build/packages, found ${#zips[@]}" >&2; exit 1; }
((${#zips64[@]} == 1)) || { echo "expected one win64 .zip in build/packages, found ${#zips64[@]}" >&2; exit 1; }
deb=${debs[0]}

echo "== ${deb}"
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"
expect_lines "$deb" "$(dpkg-deb --contents "$deb" | awk '{print $6}')" \
  ./usr/bin/Trenzik ./usr/bin/Morvel \
  ./usr/share/man/man1/Trenzik.1.gz ./usr/share/man/man1/Morvel.1.gz \
  ./usr/share/doc/trenzik/copyright ./usr/share/doc/trenzik/changelog.Debian.gz \
  ./usr/share/doc/trenzik/README.md.gz ./usr/share/doc/trenzik/Trenzik.ini \
  ./usr/share/lintian/overrides/trenzik
dpkg-deb --field "$deb" Depends | grep -q 'libc6' || fail "$deb: no libc6 in Depends"

# Lintian at every level, pedantic included; an error or a warning fails
# (the overrides in the package, each with its reason, excepted).
echo "== lintian -EvIL +pedantic (nothing below: no tag beyond the overridden ones)"
lintian -EvIL +pedantic --fail-on error,warning "$deb" || fail "$deb: lintian"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg -x "$deb" "$scratch/root"
for page in Trenzik Morvel; do
  zcat "$scratch/root/usr/share/man/man1/$page.1.gz" | cmp -s - "docs/man/$page.1" ||
    fail "$deb: $page.1.gz is not docs/man/$page.1"
done
zcat "$scratch/root/usr/share/doc/trenzik/README.md.gz" | cmp -s - README.md ||
  fail "$deb: README.md.gz is not README.md"
# The distribution's hardening: PIE, stack protector, fortified functions,
# full RELRO with immediate binding. Debian's build flags on this release
# do not ask for control-flow protection, so that check is left out.
echo "== hardening-check"
hardening-check --nocfprotection "$scratch/root/usr/bin/Trenzik" "$scratch/root/usr/bin/Morvel" ||
  fail "$deb: hardening-check"
# The packaged programs, started by their bare names from the search path as
# an installed copy would be: the set goes to the current folder. setsid
# leaves them without a terminal, so every key wait ends at once. The set has
# more than nine segments, and a stale segment from an older, longer set lies
# beside it: Morvel reads only 1 .. N, and so does the README's recipe for
# rebuilding the file without Morvel, which is checked here as printed there.
mkdir "$scratch/work" "$scratch/work/set"
head -c 12000 /dev/urandom >"$scratch/work/abc.zip"
(
  cd "$scratch/work"
  export PATH="$scratch/root/usr/bin:$PATH"
  status=0
  setsid -w Trenzik </dev/null >usage.txt 2>&1 || status=$?
  [[ $status == 1 ]] && grep -q 'ERROR: You must specify filename.' usage.txt ||
    { echo "packaged Trenzik without arguments: status $status" >&2; cat usage.txt >&2; exit 1; }
  setsid -w Trenzik abc.zip 1024 </dev/null >split.txt 2>&1 ||
    { echo "packaged Trenzik failed:" >&2; cat split.txt >&2; exit 1; }
  [[ -f abc.zip.12 && ! -e abc.zip.13 ]] ||
    { echo "packaged Trenzik did not write abc.zip.1 .. abc.zip.12:" >&2; ls >&2; exit 1; }
  # (set -e does not act inside a subshell tested with ||: every step
  # says itself when it fails.)
  mv abc.zip.* set/ && head -c 1024 /dev/urandom >set/abc.zip.13 || exit 1
  setsid -w Morvel set/abc.zip.1 </dev/null >join.txt 2>&1 ||
    { echo "packaged Morvel failed:" >&2; cat join.txt >&2; exit 1; }
  cmp abc.zip set/abc.zip && rm set/abc.zip || exit 1
  (
    cd set || exit 1
    L=$(od -An -tu1 -j9 -N1 abc.zip.1)
    N=$(od -An -td4 --endian=little -j5 -N4 abc.zip.1)
    for k in $(seq "$N"); do cat "abc.zip.$k"; done | tail -c +$((L + 11)) > abc.zip
  )
  cmp abc.zip set/abc.zip ||
    { echo "the README's recipe does not rebuild the file" >&2; exit 1; }
) || fail "$deb: the packaged programs do not cut and bind a file"
grep -qF 'for k in $(seq "$N"); do cat "abc.zip.$k"; done | tail -c +$((L + 11)) > abc.zip' README.md ||
  fail "README.md does not show the recipe that docs.sh checks"

# The example configuration file reads without an error and sets the size
# it names: a copy of the program started by its path reads the
# Trenzik.ini beside it.
mkdir "$scratch/example"
cp "$scratch/root/usr/bin/Trenzik" "$scratch/root/usr/share/doc/trenzik/Trenzik.ini" "$scratch/example/"
head -c 2000000 /dev/urandom >"$scratch/example/big.bin"
(
  cd "$scratch/example"
  setsid -w ./Trenzik big.bin </dev/null >split.txt 2>&1 &&
    grep -qxF '  [segment size] is set to: 1440000' split.txt &&
    ! grep -q 'ERROR' split.txt && [[ -f big.bin.2 && ! -e big.bin.3 ]] ||
    { echo "the example Trenzik.ini does not set 1440000:" >&2; cat split.txt >&2; exit 1; }
) || fail "$deb: the example Trenzik.ini"

# Both zips: one folder with the programs, their text manuals, a sample
# Trenzik.ini, README.txt and LICENSE.txt, the texts with CR LF line ends.
check_zip() {  # zip, objdump's file format of its programs
  local zip=$1 format=$2
  echo "== ${zip}"
  unzip -l "$zip"
  local top
  top=$(basename "$zip" .zip)
  local listing
  listing=$(unzip -Z1 "$zip")
  expect_lines "$zip" "$listing" \
    "$top/Trenzik.exe" "$top/Morvel.exe" "$top/Trenzik.txt" "$top/Morvel.txt" \
    "$top/Trenzik.ini" "$top/README.txt" "$top/LICENSE.txt"
  (($(grep -c . <<<"$listing") == 7)) || fail "$zip: holds more than the seven files"
  rm -rf "$scratch/zip"
  unzip -q "$zip" -d "$scratch/zip"
  local folder="$scratch/zip/$top" program text
  for program in Trenzik Morvel; do
    objdump -f "$folder/$program.exe" | grep -q "file format $format" ||
      fail "$zip: $program.exe is not $format"
    bash .ci/check-windows-imports.sh "$folder/$program.exe" ||
      fail "$zip: $program.exe imports what Windows XP lacks"
    x86_64-w64-mingw32-windres -J coff -O rc -i "$folder/$program.exe" |
      grep -qF 'VALUE "FileVersion", "1.0"' || fail "$zip: $program.exe has no version resource"
    text="$folder/$program.txt"
    grep -q $'^NAME\r$' "$text" || fail "$zip: $program.txt is not the rendered manual with CR LF line ends"
    if LC_ALL=C grep -q $'[^\t\r -~]' "$text"; then
      fail "$zip: $program.txt holds more than plain ASCII"
    fi
  done
  for text in README.txt Trenzik.ini LICENSE.txt; do
    # Every line ends in CR LF, and the text is plain ASCII.
    if [[ "$(grep -c $'\r$' "$folder/$text")" != "$(wc -l <"$folder/$text")" ||
      "$(tail -c 2 "$folder/$text" | od -An -c | tr -d ' ')" != '\r\n' ]]; then
      fail "$zip: $text has a line without CR LF"
    fi
    if LC_ALL=C grep -q $'[^\t\r -~]' "$folder/$text"; then
      fail "$zip: $text holds more than plain ASCII"
    fi
  done
  grep -q $'^size=1440000\r$' "$folder/Trenzik.ini" || fail "$zip: Trenzik.ini does not set size=1440000"
  grep -q $'^;size=720000\r$' "$folder/Trenzik.ini" || fail "$zip: Trenzik.ini has no 720000 line"
  for word in Trenzik.exe Morvel.exe Drag 'Program Files' Trenzik.ini; do
    grep -qF "$word" "$folder/README.txt" || fail "$zip: README.txt does not mention $word"
  done
  cmp -s <(tr -d '\r' <"$folder/LICENSE.txt") LICENSE || fail "$zip: LICENSE.txt is not LICENSE"
}
check_zip "${zips[0]}" pei-i386
check_zip "${zips64[0]}" pei-x86-64

# The sample Trenzik.ini as the programs read it: the native build beside it
# takes 1440000, and 720000 once that line is switched on.
mkdir "$scratch/ini"
cp build/release/Trenzik "$scratch/ini/"
cp "$scratch/zip/$(basename "${zips64[0]}" .zip)/Trenzik.ini" "$scratch/ini/"
head -c 2000000 /dev/zero >"$scratch/ini/big.bin"
(cd "$scratch/ini" && setsid -w ./Trenzik big.bin </dev/null >read.txt 2>&1) || true
grep -qx '  \[segment size\] is set to: 1440000' "$scratch/ini/read.txt" &&
  ! grep -q 'ERROR' "$scratch/ini/read.txt" ||
  fail "the sample Trenzik.ini does not read as size=1440000: $(cat "$scratch/ini/read.txt")"
sed -i 's/^;size=720000/size=720000/' "$scratch/ini/Trenzik.ini"
rm -f "$scratch/ini/big.bin."*
(cd "$scratch/ini" && setsid -w ./Trenzik big.bin </dev/null >read.txt 2>&1) || true
grep -qx '  \[segment size\] is set to: 720000' "$scratch/ini/read.txt" ||
  fail "the sample Trenzik.ini's 720000 line does not read: $(cat "$scratch/ini/read.txt")"

if ((failures > 0)); then
  echo "docs.sh: ${failures} package check(s) failed" >&2
  exit 1
fi
echo "docs.sh: manual pages and both packages check out"
