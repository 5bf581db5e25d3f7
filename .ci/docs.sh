#!/usr/bin/env bash
# CI: the manual pages, the README's commands and the packages. Installs
# what a fresh Debian machine lacks, runs the docs tests (each manual page
# renders without a groff or mandoc warning and matches the code), runs the
# README's commands that can run here, builds the Debian source and binary
# packages twice from clean copies of the tree (the hashes must agree),
# checks them with lintian, hardening-check and the autopkgtest, makes both
# Windows zips and checks what they hold.
set -euo pipefail
cd "$(dirname "$0")/.."

# groff-base and mandoc render and lint the pages; debhelper and dpkg-dev
# build the Debian package; lintian, devscripts (hardening-check) and
# autopkgtest judge it; mingw-w64 and unzip make and list the zips.
source .ci/install-missing.sh
install_missing cmake g++ make libgtest-dev googletest groff-base mandoc gzip dpkg-dev \
  debhelper lintian devscripts autopkgtest mingw-w64 unzip

# The docs tests, from the release build (the test preset fails when the
# label selects no test, as it would without groff).
cmake --preset release
cmake --build --preset release
ctest --preset test -L docs

rm -rf build/packages
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

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The manual pages under mandoc's lint as well (the style notes aside), and
# at the widths of a terminal no bracket stays alone at a line's end.
for page in docs/man/*.1; do
  lint=$(mandoc -Tlint -Wwarning "$page" 2>&1) || true
  [[ -z "$lint" ]] || fail "$page: mandoc -Tlint: $lint"
  for width in 72 80; do
    if MANWIDTH=$width groff -man -Tutf8 -rLL=${width}n -P-c -P-b -P-u "$page" 2>/dev/null |
      grep -qE '[(][^ ]? *$'; then
      fail "$page: a line ends in an opening bracket at $width columns"
    fi
  done
done

# The Debian package: dpkg-buildpackage on two clean copies of the tree (what
# git tracks), in folders of different names, the second without its tests.
# Same sources, same changelog date (SOURCE_DATE_EPOCH): same bytes.
echo "== dpkg-buildpackage, twice"
for copy in first second; do
  mkdir -p "$scratch/$copy/trenzik-1.0"
  git ls-files -z --cached --others --exclude-standard |
    tar --null -T - -cf - | tar -x -C "$scratch/$copy/trenzik-1.0"
done
(cd "$scratch/first/trenzik-1.0" && dpkg-buildpackage -us -uc) >"$scratch/first.log" 2>&1 ||
  { tail -50 "$scratch/first.log" >&2; echo "dpkg-buildpackage failed" >&2; exit 1; }
grep -E 'tests passed|tests failed' "$scratch/first.log" || true
(cd "$scratch/second/trenzik-1.0" && DEB_BUILD_OPTIONS=nocheck dpkg-buildpackage -us -uc) \
  >"$scratch/second.log" 2>&1 ||
  { tail -50 "$scratch/second.log" >&2; echo "the second dpkg-buildpackage failed" >&2; exit 1; }
for file in trenzik_1.0_amd64.deb trenzik-dbgsym_1.0_amd64.deb trenzik_1.0.dsc trenzik_1.0.tar.xz; do
  file=${file/amd64/$(dpkg --print-architecture)}
  if ! cmp -s "$scratch/first/$file" "$scratch/second/$file"; then
    fail "$file differs between two builds"
    if command -v diffoscope >/dev/null; then
      diffoscope "$scratch/first/$file" "$scratch/second/$file" || true
    fi
  fi
done
(cd "$scratch/first" && sha256sum ./*.deb ./*.dsc ./*.tar.xz)

changes=$(echo "$scratch"/first/trenzik_1.0_*.changes)
deb=$(echo "$scratch"/first/trenzik_1.0_*.deb)
echo "== ${deb}"
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"
expect_lines "$deb" "$(dpkg-deb --contents "$deb" | awk '{print $6}')" \
  ./usr/bin/Trenzik ./usr/bin/Morvel \
  ./usr/share/man/man1/Trenzik.1.gz ./usr/share/man/man1/Morvel.1.gz \
  ./usr/share/doc/trenzik/copyright ./usr/share/doc/trenzik/changelog.gz \
  ./usr/share/doc/trenzik/README.md.gz ./usr/share/doc/trenzik/Trenzik.ini \
  ./usr/share/lintian/overrides/trenzik
dpkg-deb --field "$deb" Depends | grep -q 'libc6' || fail "$deb: no libc6 in Depends"
[[ -f $(echo "$scratch"/first/trenzik-dbgsym_1.0_*.deb) ]] || fail "no -dbgsym package"

# Lintian at every level, pedantic included, on the source and the binary
# packages; any tag fails but the overridden ones, each with its reason.
echo "== lintian -EvIL +pedantic (nothing below: no tag beyond the overridden ones)"
tags=$(lintian -EvIL +pedantic "$changes" 2>&1 | grep -v -e '^N: ' -e 'running with root privileges' || true)
[[ -z "$tags" ]] || fail "lintian: $tags"

dpkg -x "$deb" "$scratch/root"
for page in Trenzik Morvel; do
  zcat "$scratch/root/usr/share/man/man1/$page.1.gz" | cmp -s - "docs/man/$page.1" ||
    fail "$deb: $page.1.gz is not docs/man/$page.1"
done
zcat "$scratch/root/usr/share/doc/trenzik/README.md.gz" | cmp -s - README.md ||
  fail "$deb: README.md.gz is not README.md"

# The hardening: PIE, stack protector, fortified functions, full RELRO with
# immediate binding, and control-flow protection. The linker marks a program
# for it only when every object in it is marked, the C library's start
# files included; where those lack the mark (Debian 12), the programs' own
# code must still carry it, and the rest of hardening-check must pass.
echo "== hardening-check"
programs=("$scratch/root/usr/bin/Trenzik" "$scratch/root/usr/bin/Morvel")
start_files=$(gcc -print-file-name=Scrt1.o)
if grep -q 'x86 feature: IBT, SHSTK' <<<"$(readelf -n "$start_files")" ||
  [[ "$(dpkg --print-architecture)" != amd64 ]]; then
  hardening-check "${programs[@]}" || fail "$deb: hardening-check"
else
  echo "$start_files carries no IBT and SHSTK marks: the programs cannot be marked"
  hardening-check --nocfprotection "${programs[@]}" || fail "$deb: hardening-check"
  # Every function built with -fcf-protection opens with endbr64; the
  # programs are stripped, so count them rather than look for main.
  for program in "${programs[@]}"; do
    (($(objdump -d "$program" | grep -c endbr64) >= 50)) ||
      fail "$program: hardly any endbr64: built without -fcf-protection"
  done
fi

# The autopkgtest, on this machine itself; the package is removed again
# when it was not installed before.
echo "== autopkgtest -- null"
installed_before=$(dpkg-query -W -f='${Status}' trenzik 2>/dev/null || true)
autopkgtest "$deb" "$scratch/first/trenzik-1.0/" -- null || fail "autopkgtest"
[[ "$installed_before" == *"ok installed"* ]] || dpkg --purge trenzik >/dev/null || true

# The README's commands, taken from the README itself: the first sh block
# after the line that starts with the given words, its indentation removed.
repo=$PWD
readme_block() {
  awk -v start="$1" '
    index($0, start) == 1 { found = 1; next }
    found && !inside && /^ *```sh$/ { inside = 1; indent = index($0, "`") - 1; next }
    inside && /^ *```$/ { exit }
    inside { print substr($0, indent + 1) }' "$repo/README.md"
}
echo "== The README's commands"
readme=$scratch/readme
mkdir -p "$readme/data" "$readme/stage"
# The round trip, with this machine's folders and a size for a small file.
roundtrip=$(readme_block 'A round trip in a script' |
  sed -e "s|/media/stage|$readme/stage|g" -e "s|~/data|$readme/data|g" -e 's/700000000/27000/')
[[ "$roundtrip" == *"setsid -w Trenzik"* ]] || fail "README.md: no round trip found"
head -c 300000 /dev/urandom >"$readme/data/abc.zip"
(PATH="$PWD/build/release:$PATH" bash -c "$roundtrip") >"$readme/roundtrip.txt" 2>&1 ||
  fail "the README's round trip: $(cat "$readme/roundtrip.txt")"
grep -qx 'abc.zip: OK' "$readme/roundtrip.txt" || fail "the README's round trip did not check the copy"
# A failed split stops it before Morvel runs: a file that fits one segment.
rm -f "$readme/stage/"* && head -c 1000 /dev/urandom >"$readme/data/abc.zip"
if (PATH="$PWD/build/release:$PATH" bash -c "$roundtrip") >"$readme/failed.txt" 2>&1; then
  fail "the README's round trip goes on after a failed split"
fi
grep -q 'File will not be segmented.' "$readme/failed.txt" && [[ ! -e "$readme/stage/join.log" ]] ||
  fail "the README's round trip does not stop at the failed split: $(cat "$readme/failed.txt")"
# Rebuilding without Morvel, on twelve segments with a stale thirteenth.
head -c 300000 /dev/urandom >"$readme/abc.zip"
(cd "$readme/stage" && rm -f ./* && cp ../abc.zip . &&
  PATH="$OLDPWD/build/release:$PATH" setsid -w Trenzik abc.zip 27000 </dev/null >/dev/null) ||
  fail "the split for the README's recipe"
(cd "$readme/stage" && head -c 27000 /dev/urandom >abc.zip.13 && rm abc.zip &&
  bash -c "$(readme_block '- **Without Morvel:**')" && cmp abc.zip ../abc.zip) ||
  fail "the README's recipe does not rebuild the file"
# Building only the programs, in a clean copy; installing into a prefix.
mkdir "$readme/tree"
git ls-files -z --cached --others --exclude-standard | tar --null -T - -cf - | tar -x -C "$readme/tree"
(cd "$readme/tree" && bash -e -c "$(readme_block 'GoogleTest. To build only the two programs')") \
  >"$readme/tree.txt" 2>&1 && [[ -x "$readme/tree/build/release/Trenzik" ]] ||
  fail "the README's build without tests: $(tail -20 "$readme/tree.txt")"
cmake --install build/release --prefix "$readme/prefix" >/dev/null
for file in bin/Trenzik bin/Morvel share/man/man1/Trenzik.1 share/man/man1/Morvel.1 \
  share/doc/trenzik/README.md share/doc/trenzik/Trenzik.ini; do
  [[ -f "$readme/prefix/$file" ]] || fail "cmake --install puts no $file in the prefix"
done
# The whole text is read before its first line is looked at: a reader that
# quits after one line would end the program by SIGPIPE, a race with its
# later lines and no fault of the program.
for word in --help --version; do
  text=$(cd "$readme" && setsid -w "$repo/build/release/Trenzik" $word </dev/null) &&
    [[ "${text%%$'\n'*}" =~ ^(Usage:\ )?Trenzik ]] || fail "Trenzik $word"
done

shopt -s nullglob
zips=(build/packages/Trenzik-*-win32.zip)
zips64=(build/packages/Trenzik-*-win64.zip)
shopt -u nullglob
((${#zips[@]} == 1)) || { echo "expected one win32 .zip in build/packages, found ${#zips[@]}" >&2; exit 1; }
((${#zips64[@]} == 1)) || { echo "expected one win64 .zip in build/packages, found ${#zips64[@]}" >&2; exit 1; }

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
    # The Windows manual speaks of Windows only.
    for word in /usr/ setsid sha256sum /dev/tty /opt/ /media/; do
      grep -qF -- "$word" "$text" && fail "$zip: $program.txt mentions $word"
    done
    grep -qF 'certutil -hashfile' "$text" || fail "$zip: $program.txt does not say certutil -hashfile"
  done
  grep -qF 'Program Files' "$folder/Trenzik.txt" || fail "$zip: Trenzik.txt does not warn of Program Files"
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
