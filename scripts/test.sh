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
#               kernel's own FTDI, 16550, PL011 and CDC-ACM drivers, and what each was told
#   sanitizers  the native tests again, built with AddressSanitizer and UBSan
#
#   test.sh [--skip fuzz|windows|arm|drivers|sanitizers]...   (the native leg always runs)
#
# Missing Debian packages are installed first. A leg is left out only when asked with
# --skip, which CI (CI=true) refuses; the summary says so. A leg's counts are CTest's own:
# a test that failed or did not run fails the run, and under CI so does one that skipped.
set -uo pipefail
cd "$(dirname "$0")/.."

legs=(fuzz windows arm drivers sanitizers)
declare -A left_out=()
while [ $# -gt 0 ]; do
  case "$1 ${2:-}" in
    "--skip fuzz" | "--skip windows" | "--skip arm" | "--skip drivers" | "--skip sanitizers") left_out[$2]=1; shift 2 ;;
    -h* | --help*) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
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

# Configures and builds a preset, or marks its legs failed: build PRESET "LEG..." [CMAKE_ARGS...]
build() {
  local preset=$1 leg
  cmake --preset "$preset" "${@:3}" && cmake --build --preset "$preset" && return 0
  for leg in $2; do fail_leg "$leg" "the $preset build failed"; done
  return 1
}

# Runs one label of one build as a leg. The counts are the totals CTest writes at the
# head of its JUnit report; its "skipped" holds the tests that did not run as well.
ctest_leg() {
  local leg=$1 preset=$2 label=$3 status=0 count tests failures disabled skipped
  ctest --preset "$preset" -L "^$label\$" --no-tests=error --output-junit "$results/$leg.xml" || status=$?
  for count in tests failures disabled skipped; do
    printf -v "$count" '%s' "$(sed -n "s/^[[:space:]]*$count=\"\([0-9]*\)\"$/\1/p" "$results/$leg.xml" 2>/dev/null | head -n 1)"
  done
  local counts="$((tests - failures - disabled - skipped)) passed, $((disabled + skipped)) skipped, $failures failed"
  summary[$leg]=$counts
  [ -n "$tests" ] && [ "$status" -eq 0 ] || fail_leg "$leg" "$counts (ctest exit $status)"
  [ $((disabled + skipped)) -eq 0 ] || [ "${CI:-}" != true ] || fail_leg "$leg" "$counts: nothing may skip under CI"
}

if runs fuzz; then
  if scripts/fuzz.sh "${FUZZ_SECONDS:-30}" | tee "$results/fuzz.log"; then
    summary[fuzz]="$(grep -c '^fuzzed ' "$results/fuzz.log") targets, no failure ($(sed -n 's/^fuzzed \([a-z_]*\): \([0-9]*\) inputs$/\1 \2/p' "$results/fuzz.log" | paste -sd, | sed 's/,/, /g') inputs)"
  else
    fail_leg fuzz "a target failed or did not build"
  fi
fi

on() { runs "$1" && echo ON || echo OFF; }
if build default "native windows arm drivers" "-DVELMORAN_WINDOWS_LEG=$(on windows)" "-DVELMORAN_ARM_LEG=$(on arm)" \
  "-DVELMORAN_DRIVERS_LEG=$(on drivers)"; then
  ctest_leg native default native
  for leg in windows arm drivers; do runs $leg && ctest_leg $leg default $leg; done
fi
runs sanitizers && build asan sanitizers && ctest_leg sanitizers asan native

echo
echo "Summary"
for leg in fuzz native windows arm drivers sanitizers; do
  line="LEFT OUT, as asked with --skip $leg: NOT TESTED"
  runs "$leg" && line=${summary[$leg]:-"FAILED: did not run"}
  runs "$leg" && [ -z "${summary[$leg]:-}" ] && failed=1
  printf '  %-11s %s\n' "$leg" "$line"
done
[ ${#left_out[@]} -eq 0 ] || printf '\n!!! Legs left out on purpose: %s. This run does not prove them. !!!\n' "${!left_out[*]}"
exit $failed
