#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for a bounded time from the seed corpus
# in fuzz/corpus (new inputs go to a scratch folder, not into the repository).
#   fuzz.sh [SECONDS_PER_TARGET]   (default 30)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for target in word_readers request_frame; do
  mkdir -p "$scratch/$target"
  echo "fuzzing $target for ${seconds}s"
  # -max_len lets the word readers meet words far longer than any seed.
  build/fuzz/fuzz/fuzz_$target -max_total_time="$seconds" -max_len=8192 -print_final_stats=1 \
    -artifact_prefix="$scratch/" "$scratch/$target" "fuzz/corpus/$target" 2>"$scratch/$target.log" || {
    tail -n 40 "$scratch/$target.log"
    echo "fuzz_$target found a failure" >&2
    exit 1
  }
  units=$(sed -n 's/^stat::number_of_executed_units: *//p' "$scratch/$target.log")
  echo "fuzzed $target: ${units:-0} inputs"
done
