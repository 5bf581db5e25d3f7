#!/usr/bin/env bash
# Times Trenzik and Morvel against cp, split and cat on a 1 GiB file of
# random bytes held in the page cache, alternating the commands and taking
# the median of several rounds, and reports each program's peak memory.
#
#   bench/run_bench.sh [build folder] [rounds]
#
# The build folder defaults to build/release (cmake --workflow --preset release).
# The work folder is TMPDIR (default /tmp); TMPDIR=/dev/shm measures in RAM,
# without the file system's own costs.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build/release}" && pwd)
rounds=${2:-5}
size_mib=${BENCH_SIZE_MIB:-1024}
for tool in /usr/bin/time split cat cp; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing (apt-get install time coreutils)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/trenzik-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
input="$work/big.bin"
head -c $((size_mib * 1048576)) /dev/urandom >"$input"
bytes=$(stat -c %s "$input")
cat "$input" >/dev/null  # into the page cache

# run NAME COMMAND...: one timed run; appends "microseconds peak_kib" to NAME's log.
run() {
  local name=$1
  shift
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f "%M" -o "$work/rss" "$@" </dev/null >/dev/null 2>&1
  end=$(date +%s%N)
  echo "$(( (end - start) / 1000 )) $(cat "$work/rss")" >>"$work/$name.log"
}

# Every command writes into a folder of its own, made just before it runs
# and removed right after, so that no command pays for another's files.
fresh() {
  rm -rf "$work/out"
  mkdir "$work/out"
  sync
}

for ((round = 1; round <= rounds; round++)); do
  for segment in 1440000 100000000; do
    fresh
    run "cp" cp "$input" "$work/out/copy.bin"
    fresh
    run "split-$segment" split -b "$segment" "$input" "$work/out/part."
    fresh
    # The set goes into the program's own folder; setsid: no terminal, so
    # the closing key wait ends at once.
    ln -s "$build/Trenzik" "$work/out/Trenzik"
    ln -s "$build/Morvel" "$work/out/Morvel"
    run "trenzik-$segment" setsid "$work/out/Trenzik" "$input" "$segment"
    count=$(ls "$work"/out/big.bin.* | wc -l)
    segments=$(for ((k = 1; k <= count; k++)); do printf '%s ' "$work/out/big.bin.$k"; done)
    run "cat-$segment" sh -c "cat $segments >'$work/out/cat.bin'"
    rm -f "$work/out/cat.bin"
    sync
    run "morvel-$segment" setsid "$work/out/Morvel" "$work/out/big.bin.1"
    cmp -s "$input" "$work/out/big.bin" || { echo "bench: Morvel's output differs from the input" >&2; exit 1; }
  done
done
rm -rf "$work/out"

# median of column 1 (microseconds) and the largest peak memory of a log
median() { sort -n "$work/$1.log" | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'; }
peak() { awk 'm < $2 { m = $2 } END { print m }' "$work/$1.log"; }
mbps() { awk -v b="$bytes" -v us="$1" 'BEGIN { printf "%.0f", b / us }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

cp_us=$(median cp)
printf 'File: %d MiB of random bytes in the page cache, in %s (%s); %d rounds, median times.\n\n' \
  "$size_mib" "${TMPDIR:-/tmp}" "$(stat -f -c %T "$work")" "$rounds"
printf '%-22s %10s %8s %12s\n' command seconds MB/s "peak KiB"
printf '%-22s %10.3f %8s %12s\n' "cp" "$(awk -v u="$cp_us" 'BEGIN{print u/1e6}')" "$(mbps "$cp_us")" "$(peak cp)"
for segment in 1440000 100000000; do
  for name in split trenzik cat morvel; do
    us=$(median "$name-$segment")
    printf '%-22s %10.3f %8s %12s\n' "$name -b $segment" "$(awk -v u="$us" 'BEGIN{print u/1e6}')" \
      "$(mbps "$us")" "$(peak "$name-$segment")"
  done
done
echo
printf '%-12s %14s %16s %14s %14s\n' segment Trenzik/cp Trenzik/split Morvel/cp Morvel/cat
for segment in 1440000 100000000; do
  t=$(median "trenzik-$segment")
  m=$(median "morvel-$segment")
  printf '%-12s %14s %16s %14s %14s\n' "$segment" "$(ratio "$t" "$cp_us")" \
    "$(ratio "$t" "$(median "split-$segment")")" "$(ratio "$m" "$cp_us")" \
    "$(ratio "$m" "$(median "cat-$segment")")"
done
