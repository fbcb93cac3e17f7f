#!/usr/bin/env bash
# Builds everything and runs every test, leg by leg, then prints what each leg ran:
#   fuzz        the libFuzzer targets side by side, FUZZ_SECONDS each (default 30)
#   native      the native build's tests (CTest label native): unit tests, the real binary,
#               the end-to-end table against the stand-in device, the .deb
#   windows     velmoran.exe, cross-built once by the native build (label windows): its
#               checks, its zip and MSI, its unit tests and the end-to-end table under Wine
#   arm         velmoran for arm64 and armhf, cross-built by the native build (label arm):
#               the end-to-end table under qemu, and each one's .deb
#   drivers     Linux booted under qemu, amd64 and arm64 (label drivers): velmoran on the
#               kernel's own FTDI, CH340, CP2102, PL2303, CDC-ACM, 16550 and PL011 drivers,
#               and what each was told
#   sanitizers  the native tests again, built with AddressSanitizer and UBSan
#
#   test.sh [--skip fuzz|windows|arm|drivers|sanitizers]...   (the native leg always runs)
#
# Missing Debian packages are installed first. A leg is left out only when asked with
# --skip, which CI (CI=true) refuses; the summary says so. A leg's counts are CTest's own:
# a test that failed or did not run fails the run, and under CI so does one that skipped.
# The native, windows, arm and drivers legs run in one CTest run, their cases side by
# side when asked (TEST_JOBS at a time; default 1), as their CMake files allow.
# The summary ends with the whole run's time and each step's.
set -uo pipefail
cd "$(dirname "$0")/.."

legs=(fuzz windows arm drivers sanitizers)
declare -A left_out=()
while [ $# -gt 0 ]; do
  case "$1 ${2:-}" in
    "--skip fuzz" | "--skip windows" | "--skip arm" | "--skip drivers" | "--skip sanitizers") left_out[$2]=1; shift 2 ;;
    -h* | --help*) sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "test.sh: unknown arguments '$*'; --skip takes one of: ${legs[*]} (see --help)" >&2; exit 2 ;;
  esac
done
[ "${CI:-}" != true ] || [ ${#left_out[@]} -eq 0 ] ||
  { echo "test.sh: CI runs every leg; --skip ${!left_out[*]} is refused" >&2; exit 2; }
runs() { [ -z "${left_out[$1]:-}" ]; }

install=(native)
for leg in windows arm drivers fuzz; do runs $leg && install+=($leg); done
scripts/install-deps.sh "${install[@]}" ||
  { echo "test.sh: the packages above are needed; or leave their leg out with --skip" >&2; exit 1; }

results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT
declare -A summary=()
failed=0
fail_leg() { summary[$1]="FAILED: $2"; failed=1; }
# Each step's wall time, in the order the steps ran: timed STEP COMMAND...
run_started=$SECONDS
steps=()
timed() {
  local step=$1 started=$SECONDS status=0
  shift
  "$@" || status=$?
  steps+=("$step $((SECONDS - started)) s")
  return $status
}

# Configures and builds a preset, or marks its legs failed: build PRESET "LEG..." [CMAKE_ARGS...]
build() {
  local preset=$1 leg
  cmake --preset "$preset" "${@:3}" && cmake --build --preset "$preset" && return 0
  for leg in $2; do fail_leg "$leg" "the $preset build failed"; done
  return 1
}

# Runs the labels of one build as legs, in one CTest run, and counts each leg from the
# JUnit report: ctest_legs PRESET LEG:LABEL... A leg's cases are the entries CTest lists
# for its label; each must have run and passed (a skipped one counts apart, never passed).
ctest_legs() {
  local preset=$1 status=0 pair leg label labels=()
  shift
  for pair in "$@"; do labels+=("${pair#*:}"); done
  local pattern="^($(IFS='|'; echo "${labels[*]}"))\$"
  ctest --preset "$preset" -L "$pattern" --no-tests=error -j "${TEST_JOBS:-1}" \
    --output-junit "$results/$preset.xml" || status=$?
  # name<TAB>status for every case in the report, XML's escapes undone.
  sed -n 's/^[[:space:]]*<testcase name="\([^"]*\)".* status="\([a-z]*\)".*/\1\t\2/p' "$results/$preset.xml" 2>/dev/null |
    sed 's/&lt;/</g; s/&gt;/>/g; s/&quot;/"/g; s/&apos;/'"'"'/g; s/&amp;/\&/g' >"$results/$preset.cases"
  for pair in "$@"; do
    leg=${pair%%:*} label=${pair#*:}
    ctest --preset "$preset" -N -L "^$label\$" | sed -n 's/^ *Test *#[0-9]*: //p' >"$results/$leg.names"
    local listed passed failures skipped
    listed=$(wc -l <"$results/$leg.names")
    counts=$(awk -F '\t' 'NR == FNR { leg[$0] = 1; next } ($1 in leg) { n[$2]++; seen++ }
      END { printf "%d %d %d %d", n["run"], n["fail"], n["notrun"] + n["disabled"], seen }' \
      "$results/$leg.names" "$results/$preset.cases")
    read -r passed failures skipped seen <<<"$counts"
    summary[$leg]="$passed passed, $skipped skipped, $failures failed"
    [ "$listed" -gt 0 ] && [ "$seen" -eq "$listed" ] && [ "$failures" -eq 0 ] ||
      fail_leg "$leg" "${summary[$leg]} of $listed listed (ctest exit $status)"
    [ "$skipped" -eq 0 ] || [ "${CI:-}" != true ] || fail_leg "$leg" "${summary[$leg]}: nothing may skip under CI"
  done
  # A failure that no leg's count shows (a case in none of them, CTest itself) fails too.
  [ "$status" -eq 0 ] || failed=1
}

fuzz() { scripts/fuzz.sh "${FUZZ_SECONDS:-30}" | tee "$results/fuzz.log"; }
if runs fuzz; then
  if timed fuzz fuzz; then
    summary[fuzz]="$(grep -c '^fuzzed ' "$results/fuzz.log") targets, no failure ($(sed -n 's/^fuzzed \([a-z_]*\): \([0-9]*\) inputs$/\1 \2/p' "$results/fuzz.log" | paste -sd, | sed 's/,/, /g') inputs)"
  else
    fail_leg fuzz "a target failed or did not build"
  fi
fi

on() { runs "$1" && echo ON || echo OFF; }
if timed "build (default)" build default "native windows arm drivers" "-DVELMORAN_WINDOWS_LEG=$(on windows)" \
  "-DVELMORAN_ARM_LEG=$(on arm)" "-DVELMORAN_DRIVERS_LEG=$(on drivers)"; then
  legs_now=(native:native)
  for leg in windows arm drivers; do runs $leg && legs_now+=("$leg:$leg"); done
  timed "tests (${legs_now[*]%%:*})" ctest_legs default "${legs_now[@]}"
fi
if runs sanitizers; then
  timed "build (asan)" build asan sanitizers && timed "tests (sanitizers)" ctest_legs asan sanitizers:native
fi

echo
echo "Summary"
for leg in fuzz native windows arm drivers sanitizers; do
  line="LEFT OUT, as asked with --skip $leg: NOT TESTED"
  runs "$leg" && line=${summary[$leg]:-"FAILED: did not run"}
  runs "$leg" && [ -z "${summary[$leg]:-}" ] && failed=1
  printf '  %-11s %s\n' "$leg" "$line"
done
[ ${#left_out[@]} -eq 0 ] || printf '\n!!! Legs left out on purpose: %s. This run does not prove them. !!!\n' "${!left_out[*]}"
echo
echo "Time: $((SECONDS - run_started)) s in all"
printf '  %s\n' "${steps[@]}"
exit $failed
