#!/usr/bin/env bash
# Times the copy engines of the platform layer on the programs' own work:
# a 1 GiB file split at 1440000 bytes behind a 17-byte header, that set
# joined again (offsets that never line up on a page), the whole file copied
# at offset 0 (offsets that do), and 100 MiB joined from 512-byte segments
# (copies too small to fill a page). Each group runs on a freshly made ext4
# and tmpfs, the engines in rotated order, wall and CPU time side by side.
#
#   bench/engine_bench.sh [rounds]        (root, for the mounts)
#
# Knobs: BENCH_SIZE_MIB (1024), BENCH_SMALL_MIB (100), BENCH_FS ("ext4 tmpfs"),
# BENCH_ENGINES ("blocks pipe range").
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-5}
size_mib=${BENCH_SIZE_MIB:-1024}
small_mib=${BENCH_SMALL_MIB:-100}
read -r -a kinds <<<"${BENCH_FS:-ext4 tmpfs}"
read -r -a engines <<<"${BENCH_ENGINES:-blocks pipe range}"
measure="python3 $here/bench/measure.py"

work=$(mktemp -d "${TMPDIR:-/tmp}/engine-bench-XXXXXX")
source "$here/bench/fresh_fs.sh"
trap 'drop_fs; rm -rf "$work"' EXIT

worker=$work/copy_engines
g++ -std=c++17 -O2 -Wall -Wextra -I"$here/src" -o "$worker" "$here/bench/copy_engines.cpp" \
  "$here/src/common/copy_buffer.cpp" "$here"/src/platform/posix/posix_*.cpp \
  "$here/src/platform/key_decoding.cpp" \
  -DTRENZIK_HAVE_CLOSE_RANGE=1 -DTRENZIK_HAVE_SYNCFS=1 -DTRENZIK_HAVE_RENAMEAT2=1
head -c $((size_mib << 20)) /dev/urandom >"$work/master.bin"

# stage MIB: a fresh file system holding the first MIB MiB of the master file.
stage() {
  fresh_fs "$kind" $((size_mib * 7 + 512))
  head -c $(($1 << 20)) "$work/master.bin" >"$fs_root/input.bin"
  settle
}

for kind in "${kinds[@]}"; do
  log=$work/$kind.log
  for ((round = 1; round <= rounds; round++)); do
    echo "bench: $kind round $round of $rounds" >&2
    stage "$size_mib"
    for engine in $(rotated "$round" "${engines[@]}"); do
      mkdir "$fs_root/set-$engine"
      settle
      $measure run "$log" "split-$engine" "$round" -- \
        "$worker" "$engine" split "$fs_root/input.bin" "$fs_root/set-$engine" 1440000 17
    done
    for engine in $(rotated "$round" "${engines[@]}"); do
      settle
      $measure run "$log" "join-$engine" "$round" -- \
        "$worker" "$engine" join "$fs_root/set-$engine" "$fs_root/joined-$engine" 17
      cmp -s "$fs_root/input.bin" "$fs_root/joined-$engine" ||
        { echo "bench: $engine joined a different file" >&2; exit 1; }
    done
    stage "$size_mib"
    for engine in $(rotated "$round" "${engines[@]}"); do
      settle
      $measure run "$log" "whole-$engine" "$round" -- \
        "$worker" "$engine" whole "$fs_root/input.bin" "$fs_root/whole-$engine"
    done
    stage "$small_mib"
    mkdir "$fs_root/tiny"
    "$worker" blocks split "$fs_root/input.bin" "$fs_root/tiny" 512 17
    for engine in $(rotated "$round" "${engines[@]}"); do
      settle
      $measure run "$log" "join512-$engine" "$round" -- \
        "$worker" "$engine" join "$fs_root/tiny" "$fs_root/tiny-$engine" 17
    done
  done
  ratios=()
  for pattern in split join whole join512; do
    for engine in "${engines[@]}"; do
      [[ $engine == blocks ]] || ratios+=("$pattern $engine/blocks=$pattern-$engine/$pattern-blocks")
    done
  done
  $measure report "$log" "Copy engines on $(fs_describe), $size_mib MiB ($small_mib MiB for join512)" \
    "${ratios[@]}"
done
