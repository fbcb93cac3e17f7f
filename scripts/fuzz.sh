#!/usr/bin/env bash
# Builds the libFuzzer targets and runs them side by side, each on a core of its own for
# a bounded time, from the seed corpus in fuzz/corpus (new inputs go to a scratch folder,
# not into the repository).
#   fuzz.sh [SECONDS_PER_TARGET]   (default 30)
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
targets=(word_readers request_frame)

cmake --preset fuzz >/dev/null && cmake --build --preset fuzz || exit 1

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
pids=()
for target in "${targets[@]}"; do
  mkdir -p "$scratch/$target"
  echo "fuzzing $target for ${seconds}s"
  # -max_len lets the word readers meet words far longer than any seed.
  build/fuzz/fuzz/fuzz_$target -max_total_time="$seconds" -max_len=8192 -print_final_stats=1 \
    -artifact_prefix="$scratch/" "$scratch/$target" "fuzz/corpus/$target" 2>"$scratch/$target.log" &
  pids+=($!)
done

failed=0
for i in "${!targets[@]}"; do
  target=${targets[$i]}
  if wait "${pids[$i]}"; then
    echo "fuzzed $target: $(sed -n 's/^stat::number_of_executed_units: *//p' "$scratch/$target.log") inputs"
  else
    tail -n 40 "$scratch/$target.log"
    echo "fuzz_$target found a failure" >&2
    failed=1
  fi
done
exit $failed
