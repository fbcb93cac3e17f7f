#!/usr/bin/env bash
# Builds the libFuzzer targets and runs them side by side, each on a core of its own for
# a bounded time, from the seed corpus in fuzz/corpus (new inputs go to a scratch folder,
# not into the repository). An input that makes a target fail is kept under
# build/fuzz-failures/, and the command that reruns it is printed.
#   fuzz.sh [SECONDS_PER_TARGET]   (default 30)
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
targets=(word_readers request_frame)

cmake --preset fuzz >/dev/null && cmake --build --preset fuzz || exit 1

scratch=$(mktemp -d)
kept=build/fuzz-failures/$(date +%Y%m%d-%H%M%S)
trap 'rm -rf "$scratch"; rmdir "$kept"/* "$kept" 2>/dev/null' EXIT
pids=()
for target in "${targets[@]}"; do
  mkdir -p "$scratch/$target" "$kept/$target"
  echo "fuzzing $target for ${seconds}s"
  # -max_len lets the word readers meet words far longer than any seed.
  build/fuzz/fuzz/fuzz_$target -max_total_time="$seconds" -max_len=8192 -print_final_stats=1 \
    -artifact_prefix="$kept/$target/" "$scratch/$target" "fuzz/corpus/$target" 2>"$scratch/$target.log" &
  pids+=($!)
done

failed=0
for i in "${!targets[@]}"; do
  target=${targets[$i]}
  if wait "${pids[$i]}"; then
    echo "fuzzed $target: $(sed -n 's/^stat::number_of_executed_units: *//p' "$scratch/$target.log") inputs"
  else
    tail -n 40 "$scratch/$target.log"
    echo "fuzz_$target found a failure; its input is kept, and this reruns it:" >&2
    for input in "$kept/$target"/*; do echo "  build/fuzz/fuzz/fuzz_$target $input" >&2; done
    failed=1
  fi
done
exit $failed
