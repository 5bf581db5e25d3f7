#!/usr/bin/env bash
# Times Trenzik and Morvel against cp, split and cat, on a freshly made file
# system for every group of runs, and prints the results as Markdown.
#
#   bench/run_bench.sh [build folder] [rounds]      (as root, for the mounts)
#
# The build folder defaults to build/release (cmake --workflow --preset
# release); rounds to 5. Knobs, for a quick run or a narrower one:
#   BENCH_SIZE_MIB   the large file, default 1024 (1 GiB)
#   BENCH_SMALL_MIB  the small file, default 100 (100 MiB)
#   BENCH_FS         file systems, default "ext4 tmpfs"
#   BENCH_GROUPS     segment sizes, default "1440000 100000000 4096 512"
#   TMPDIR           where the work folder goes (default /tmp)
# e.g. BENCH_SIZE_MIB=64 BENCH_SMALL_MIB=8 bench/run_bench.sh build/release 1
#
# Every group starts on a new file system (mkfs.ext4 with its default
# journal on an image file through a loop device, or a new tmpfs) holding
# only the input, so no run creates files where files were just deleted.
# Without root or loop devices it measures in plain folders and says so.
#
# Groups, per segment size S (all but 512): cp of the input, split -b S and
# Trenzik at S in rotated order; then cat of Trenzik's set and Morvel of it,
# rotated. At 1440000 and 4096 also, on a file system of its own, Trenzik
# into a fresh folder against Trenzik over an existing set answered "y",
# both through a pseudo terminal. At 512: Morvel and cat over a set made
# beforehand. 1440000 and 100000000 use the large file, 4096 and 512 the
# small one. Wall and CPU (user + system) time per run, GNU time's peak
# memory; ratios are taken within a round and their medians reported.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build/release}" && pwd)
rounds=${2:-5}
size_mib=${BENCH_SIZE_MIB:-1024}
small_mib=${BENCH_SMALL_MIB:-100}
read -r -a kinds <<<"${BENCH_FS:-ext4 tmpfs}"
read -r -a groups <<<"${BENCH_GROUPS:-1440000 100000000 4096 512}"
for tool in /usr/bin/time python3 split cat cp cmp mkfs.ext4 losetup; do
  command -v "$tool" >/dev/null ||
    { echo "bench: $tool is missing (apt-get install time python3 coreutils e2fsprogs mount)" >&2; exit 1; }
done
for program in Trenzik Morvel; do
  [[ -x $build/$program ]] || { echo "bench: no $build/$program; build it first" >&2; exit 1; }
done

measure=(python3 "$here/bench/measure.py" run)
# cat of 200,000 segments takes them all on its command line, which the
# kernel bounds by a quarter of the stack limit (6 MiB at most).
ulimit -s 65536
work=$(mktemp -d "${TMPDIR:-/tmp}/trenzik-bench-XXXXXX")
source "$here/bench/fresh_fs.sh"
trap 'drop_fs; drop_images; rm -rf "$work"' EXIT
head -c $((size_mib << 20)) /dev/urandom >"$work/master.bin"

# stage MIB FS_MIB: a new file system of FS_MIB (4 GiB at least, so that
# mkfs.ext4's usual inode count holds 200,000 small files) holding the input
# (the first MIB MiB of the master file) in the page cache.
stage() {
  fresh_fs "$kind" $(($2 > 4096 ? $2 : 4096))
  head -c $(($1 << 20)) "$work/master.bin" >"$fs_root/big.bin"
  settle
  fs_types[$kind]=$(fs_describe)
}

# make_set FOLDER S: Trenzik's set of the input in FOLDER (untimed).
make_set() {
  mkdir "$1"
  ln -s "$build/Trenzik" "$1/Trenzik"
  (cd "$1" && setsid -w ./Trenzik "$fs_root/big.bin" "$2" </dev/null >/dev/null 2>&1)
  settle
}

# timed LABEL [measure options] -- COMMAND...: one measured run.
timed() {
  local label=$1
  shift
  settle
  "${measure[@]}" "$log" "$label" "$round" "$@"
}

# One command of the splitting step; each writes into a folder of its own.
split_step() {
  local which=$1 s=$2 mib=$3
  case $which in
    cp) timed "cp@$s" -- cp "$fs_root/big.bin" "$fs_root/copy-$s.bin" ;;
    cp+sync)
      timed "cp+sync@$s" -- sh -c 'cp "$1" "$2" && sync "$2"' sh \
        "$fs_root/big.bin" "$fs_root/copy-sync-$s.bin" ;;
    split)
      mkdir "$fs_root/split-$s"
      timed "split@$s" -- split -b "$s" "$fs_root/big.bin" "$fs_root/split-$s/big.bin." ;;
    split+sync)
      # The cheapest flush of split's many files: one syncfs (sync -f).
      mkdir "$fs_root/split-sync-$s"
      timed "split+sync@$s" -- sh -c 'split -b "$1" "$2" "$3/big.bin." && sync -f "$3"' sh \
        "$s" "$fs_root/big.bin" "$fs_root/split-sync-$s" ;;
    Trenzik)
      mkdir "$fs_root/set-$s"
      ln -s "$build/Trenzik" "$fs_root/set-$s/Trenzik"
      timed "Trenzik@$s" -- "$fs_root/set-$s/Trenzik" "$fs_root/big.bin" "$s" ;;
  esac
}

# One command of the joining step, over Trenzik's set in FOLDER.
join_step() {
  local which=$1 s=$2 folder=$3
  local count
  count=$(find "$folder" -name 'big.bin.*' | wc -l)
  case $which in
    cat)
      # Names relative to the set's folder keep 200,000 of them within
      # the command line's limit.
      local names=()
      for ((k = 1; k <= count; k++)); do names+=("big.bin.$k"); done
      timed "cat@$s" --cwd "$folder" --out "$fs_root/cat-$s.bin" -- cat "${names[@]}" ;;
    cat+sync)
      local names=()
      for ((k = 1; k <= count; k++)); do names+=("big.bin.$k"); done
      timed "cat+sync@$s" --cwd "$folder" -- sh -c 'out=$1; shift; cat "$@" >"$out" && sync "$out"' \
        sh "$fs_root/cat-sync-$s.bin" "${names[@]}" ;;
    Morvel)
      timed "Morvel@$s" -- "$build/Morvel" "$folder/big.bin.1"
      cmp -s "$fs_root/big.bin" "$folder/big.bin" ||
        { echo "bench: Morvel's output at $s differs from the input" >&2; exit 1; } ;;
  esac
}

# Trenzik into a fresh folder, and over an existing set answered "y".
overwrite_step() {
  local which=$1 s=$2
  case $which in
    fresh)
      mkdir "$fs_root/fresh-$s"
      ln -s "$build/Trenzik" "$fs_root/fresh-$s/Trenzik"
      timed "Trenzik-fresh@$s" --pty -- "$fs_root/fresh-$s/Trenzik" "$fs_root/big.bin" "$s" ;;
    over)
      timed "Trenzik-over@$s" --pty -- "$fs_root/old-$s/Trenzik" "$fs_root/big.bin" "$s" ;;
  esac
}

declare -A fs_types
for ((round = 1; round <= rounds; round++)); do
  for kind in "${kinds[@]}"; do
    log=$work/$kind.log
    for s in "${groups[@]}"; do
      echo "bench: round $round of $rounds, $kind, segments of $s" >&2
      mib=$size_mib
      [[ $s == 4096 || $s == 512 ]] && mib=$small_mib
      if (((mib << 20) <= s)); then
        echo "bench: $mib MiB fits one segment of $s; group left out" >&2
        continue
      fi
      fs_mib=$((mib * 10 + 256))
      stage "$mib" "$fs_mib"
      if [[ $s == 512 ]]; then
        # Each split step makes 204,801 files: each on a new file system,
        # Trenzik's last, since the joins read its set.
        for which in split+sync Trenzik; do
          stage "$mib" "$fs_mib"
          split_step "$which" "$s" "$mib"
        done
        for which in $(rotated "$round" cat+sync Morvel); do join_step "$which" "$s" "$fs_root/set-$s"; done
        continue
      fi
      for which in $(rotated "$round" cp cp+sync split split+sync Trenzik); do
        split_step "$which" "$s" "$mib"
      done
      for which in $(rotated "$round" cat cat+sync Morvel); do
        join_step "$which" "$s" "$fs_root/set-$s"
      done
      if [[ $s == 1440000 || $s == 4096 ]]; then
        stage "$mib" $((mib * 3 + 256))
        make_set "$fs_root/old-$s" "$s"
        for which in $(rotated "$round" fresh over); do overwrite_step "$which" "$s"; done
      fi
    done
  done
done
drop_fs

# Targets: the wall-time ratio's median must not exceed the bound.
ratios=()
for s in "${groups[@]}"; do
  case $s in
    1440000) bound_cp=1.10 bound_split=0.80 bound_cat=1.10 bound_over=1.2 ;;
    4096) bound_cp= bound_split= bound_cat= bound_over=1.3 ;;
    512)
      ratios+=("Trenzik/split+sync at 512=Trenzik@512/split+sync@512<=1.0"
               "Morvel/cat+sync at 512=Morvel@512/cat+sync@512<=1.3")
      continue ;;
    *) bound_cp= bound_split= bound_cat= bound_over= ;;
  esac
  # The programs flush; the flushed baselines are the measure, the plain
  # ones show what the flush costs.
  ratios+=("Trenzik/cp+sync at $s=Trenzik@$s/cp+sync@$s${bound_cp:+<=$bound_cp}"
           "Trenzik/split+sync at $s=Trenzik@$s/split+sync@$s${bound_split:+<=$bound_split}"
           "Morvel/cat+sync at $s=Morvel@$s/cat+sync@$s${bound_cat:+<=$bound_cat}"
           "Trenzik/cp at $s=Trenzik@$s/cp@$s"
           "Morvel/cat at $s=Morvel@$s/cat@$s")
  [[ -n $bound_over ]] &&
    ratios+=("over existing/fresh at $s=Trenzik-over@$s/Trenzik-fresh@$s<=$bound_over")
done

echo "## Benchmark, $(date -u +%Y-%m-%d), $(nproc) CPUs, Linux $(uname -r)"
echo
echo "Large file $size_mib MiB, small file $small_mib MiB, random bytes; $rounds rounds."
echo
for kind in "${kinds[@]}"; do
  python3 "$here/bench/measure.py" report "$work/$kind.log" \
    "$kind (${fs_types[$kind]:-?}), build $(basename "$build")" "${ratios[@]}"
done
