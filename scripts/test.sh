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
# Missing Debian packages are installed first. A leg is left out only when asked with --skip,
# which CI (CI=true) refuses; the summary says so. Each leg is one CTest run of its label, TEST_JOBS
# cases at a time (default a core each), counted by CTest's summary: a case that failed or did not
# run fails the run, under CI one that skipped.
set -uo pipefail
cd "$(dirname "$0")/.."

legs=(fuzz windows arm drivers sanitizers)
declare -A left_out=()
while [ $# -gt 0 ]; do
  case "$1 ${2:-}" in
    "--skip fuzz" | "--skip windows" | "--skip arm" | "--skip drivers" | "--skip sanitizers") left_out[$2]=1; shift 2 ;;
    -h* | --help*) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "test.sh: unknown arguments '$*'; --skip takes one of: ${legs[*]} (see --help)" >&2; exit 2 ;;
  esac
done
[ "${CI:-}" != true ] || [ ${#left_out[@]} -eq 0 ] ||
  { echo "test.sh: CI runs every leg; --skip ${!left_out[*]} is refused" >&2; exit 2; }
runs() { [ -z "${left_out[$1]:-}" ]; }

install=(native) && for leg in windows arm drivers fuzz; do runs $leg && install+=($leg); done
scripts/install-deps.sh "${install[@]}" ||
  { echo "test.sh: the packages above are needed; or leave their leg out with --skip" >&2; exit 1; }

log=$(mktemp) asan_log=$(mktemp) && trap '[ -z "${asan:-}" ] || kill -- -"$asan" 2>/dev/null; rm -f "$log" "$asan_log"' EXIT
declare -A summary=() && failed=0
fail_leg() { summary[$1]="FAILED: $2"; failed=1; }
# Each step's wall time, in the order the steps ran: timed STEP COMMAND...
run_started=$SECONDS && steps=()
timed() {
  local step=$1 started=$SECONDS status=0 && shift && "$@" || status=$?
  steps+=("$step $((SECONDS - started)) s") && return $status
}

# Configures and builds a preset, or marks its legs failed: build PRESET "LEG..." [CMAKE_ARGS...]
build() {
  cmake --preset "$1" "${@:3}" && cmake --build --preset "$1" && return 0
  for leg in $2; do fail_leg "$leg" "the $1 build failed"; done; return 1
}

# One leg, the cases of one label, counted by CTest's summary (ran, failed, skipped): ctest_leg PRESET LEG LABEL
ctest_leg() {
  local status total failures skipped && ctest --preset "$1" -L "^$3\$" --no-tests=error -j "${TEST_JOBS:-$(nproc)}" | tee "$log"
  status=${PIPESTATUS[0]} && read -r failures total < <(sed -n 's/^[0-9]*% tests passed, \([0-9]*\) tests failed out of \([0-9]*\)$/\1 \2/p' "$log")
  [ -n "${total:-}" ] || { fail_leg "$2" "CTest ended without its summary (exit $status)"; return 1; }
  skipped=$(sed -n '/^The following tests did not run:/,/^$/p' "$log" | grep -c ' (Skipped)$')
  summary[$2]="$((total - failures - skipped)) passed, $skipped skipped, $failures failed"
  [ "$status" -eq 0 ] || fail_leg "$2" "${summary[$2]} (ctest exit $status)"
  [ "$skipped" -eq 0 ] || [ "${CI:-}" != true ] || fail_leg "$2" "${summary[$2]}: nothing may skip under CI"
}

fuzz() { scripts/fuzz.sh "${FUZZ_SECONDS:-30}" | tee "$log"; }
if runs fuzz && timed fuzz fuzz; then
  summary[fuzz]="$(grep -c '^fuzzed ' "$log") targets, no failure ($(sed -n 's/^fuzzed \([a-z_]*\): \([0-9]*\) inputs$/\1 \2/p' "$log" | paste -sd, | sed 's/,/, /g') inputs)"
elif runs fuzz; then
  fail_leg fuzz "a target failed or did not build"
fi

on() { runs "$1" && echo ON || echo OFF; }
if timed "build (default)" build default "native windows arm drivers" "-DVELMORAN_WINDOWS_LEG=$(on windows)" \
  "-DVELMORAN_ARM_LEG=$(on arm)" "-DVELMORAN_DRIVERS_LEG=$(on drivers)"; then
  for leg in native windows arm; do runs $leg && timed "tests ($leg)" ctest_leg default $leg $leg; done
  # The sanitizer build beside the drivers leg (whose guests boot alone), niced, in a group (set -m) the run's end stops.
  runs drivers && runs sanitizers && { set -m; nice -n 19 bash -c 'cmake --preset asan && cmake --build --preset asan' </dev/null >"$asan_log" 2>&1 & asan=$! && set +m; }
  runs drivers && timed "tests (drivers)" ctest_leg default drivers drivers
fi
asan_built() { wait "$asan" && cat "$asan_log" && return; cat "$asan_log"; fail_leg sanitizers "the asan build failed"; return 1; }
step=(build asan sanitizers) && [ -z "${asan:-}" ] || step=(asan_built)
runs sanitizers && timed "build (asan${asan:+, the rest after the drivers leg})" "${step[@]}" &&
  timed "tests (sanitizers)" ctest_leg asan sanitizers native

printf '\nSummary\n'
for leg in fuzz native windows arm drivers sanitizers; do
  line="LEFT OUT, as asked with --skip $leg: NOT TESTED"
  runs "$leg" && line=${summary[$leg]:-"FAILED: did not run"}
  runs "$leg" && [ -z "${summary[$leg]:-}" ] && failed=1
  printf '  %-11s %s\n' "$leg" "$line"
done
[ ${#left_out[@]} -eq 0 ] || printf '\n!!! Legs left out on purpose: %s. This run does not prove them. !!!\n' "${!left_out[*]}"
printf '\nTime: %s s in all\n' $((SECONDS - run_started))
printf '  %s\n' "${steps[@]}"
exit $failed
