#!/usr/bin/env bash
# CI: fuzz the parsers that read what strangers hand the programs. Installs
# what a fresh Debian machine lacks, builds the fuzz preset, runs every
# target for FUZZ_SECONDS (60 by default) on a copy of its committed corpus,
# and fails on any crash, leak, timeout or broken invariant.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-60}"
jobs="${FUZZ_JOBS:-$(nproc)}"

# clang provides the compiler, libclang-rt-<its major version>-dev
# libFuzzer and the sanitizer runtimes, which must match that version.
source .ci/install-missing.sh
install_missing cmake make clang
clang_major=$(clang -dumpversion | cut -d. -f1)
install_missing "libclang-rt-${clang_major}-dev"

# The presets leave the number of build jobs to the environment.
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
cmake --preset fuzz
cmake --build --preset fuzz

# target and the longest input it is given: a configuration file long enough
# to cross the reader's 4096-byte blocks several times, a path of more than
# one work buffer (the target cuts it to 511 bytes), a header with the
# longest name and the count bytes, a size text well past 10 bytes.
targets=(
  "fuzz_config_file 16384"
  "fuzz_path_names 1024"
  "fuzz_segment_header 512"
  "fuzz_size_text 64"
)

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

run_target() {
  local name="$1" max_len="$2"
  mkdir -p "$work/$name/corpus" "$work/$name/artifacts"
  cp -R "fuzz/corpus/$name/." "$work/$name/corpus/"
  if "build/fuzz/fuzz/$name" "$work/$name/corpus" \
      -max_total_time="$seconds" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$work/$name/artifacts/" \
      >"$work/$name/log" 2>&1; then
    echo "ok"
  else
    echo "FAILED"
  fi >"$work/$name/result"
}

running=0
for entry in "${targets[@]}"; do
  # shellcheck disable=SC2086
  run_target $entry &
  running=$((running + 1))
  if ((running >= jobs)); then
    wait -n || true
    running=$((running - 1))
  fi
done
wait

failed=0
for entry in "${targets[@]}"; do
  name="${entry%% *}"
  result="$(cat "$work/$name/result")"
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$name/log")"
  echo "== $name: $result, ${runs:-?} executions (limit ${seconds} s)"
  if [[ "$result" != ok ]]; then
    failed=1
    tail -n 60 "$work/$name/log"
    for artifact in "$work/$name/artifacts"/*; do
      [[ -e "$artifact" ]] || continue
      echo "-- crashing input $(basename "$artifact") (hex):"
      od -An -tx1 -v "$artifact" | head -n 40
    done
  fi
done
exit "$failed"
