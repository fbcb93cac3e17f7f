#!/usr/bin/env bash
# Builds everything and runs every test, leg by leg, then prints what each leg ran:
#   fuzz        the libFuzzer targets, about half a minute each (FUZZ_SECONDS)
#   native      the native build: unit tests, the real binary, the end-to-end table
#               against the stand-in device
#   windows     velmoran.exe cross-built with MinGW-w64: its checks, its zip, its unit tests
#               under Wine, and the end-to-end table run against it under Wine
#   sanitizers  the native suite again under AddressSanitizer and UBSan
#
#   test.sh [--skip fuzz|windows|sanitizers]...   (the native leg always runs)
#
# Missing Debian packages are installed first. A leg is left out only when asked
# with --skip, which CI (CI=true) refuses; the summary then says so. A leg whose tools
# are there but that cannot run fails the run, and so does a skipped test under CI.
set -uo pipefail
cd "$(dirname "$0")/.."

legs=(fuzz windows sanitizers)
declare -A left_out=()
while [ $# -gt 0 ]; do
  case $1 in
    --skip)
      [ $# -ge 2 ] || { echo "test.sh: --skip needs one of: ${legs[*]}" >&2; exit 2; }
      case " ${legs[*]} " in
        *" $2 "*) left_out[$2]=1 ;;
        *) echo "test.sh: no leg '$2' to leave out; these may be: ${legs[*]}" >&2; exit 2 ;;
      esac
      shift 2
      ;;
    -h|--help)
      sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'
      exit 0
      ;;
    *) echo "test.sh: unknown argument '$1' (see --help)" >&2; exit 2 ;;
  esac
done
if [ "${CI:-}" = true ] && [ ${#left_out[@]} -gt 0 ]; then
  echo "test.sh: CI runs every leg; --skip ${!left_out[*]} is refused" >&2
  exit 2
fi
runs() { [ -z "${left_out[$1]:-}" ]; }

install=(native)
runs windows && install+=(windows)
runs fuzz && install+=(fuzz)
scripts/install-deps.sh "${install[@]}" || {
  echo "test.sh: the packages above are needed; or leave their leg out with --skip" >&2
  exit 1
}

results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT
declare -A summary=()
failed=0
fail_leg() {
  summary[$1]="FAILED: $2"
  failed=1
}

# Counts the cases of one CTest run from its JUnit file: GoogleTest's own lines where
# an entry holds them (one entry may run a whole program), else the entry's result.
# Only a skip that GoogleTest or the entry itself asked for is a skip; an entry CTest
# did not run (a fixture failed) is a failure. Fixture entries are not counted, but
# the first line a failing one printed is kept as the reason. An entry that CTest
# called passed with a skipped case in it is counted apart: it would hide a case that
# never ran. Prints: passed skipped failed hidden reason.
count_cases() {
  awk -v include="$2" -v exclude="$3" '
    /<testcase name="/ {
      match($0, /name="[^"]*"/); name = substr($0, RSTART + 6, RLENGTH - 7)
      match($0, /status="[^"]*"/); status = substr($0, RSTART + 8, RLENGTH - 9)
      skipped = 0; failure = 0; ok = 0; sk = 0; bad = 0; first = ""; next
    }
    /<skipped message="SKIP_REGULAR_EXPRESSION_MATCHED"/ { skipped = 1 }
    /<failure/ { failure = 1 }
    /<system-out>/ { first = $0; sub(/.*<system-out>/, "", first); sub(/<\/system-out>.*/, "", first) }
    /\[       OK \] .* \([0-9]+ ms\)$/ { ok++ }
    /\[  SKIPPED \] .* \([0-9]+ ms\)$/ { sk++ }
    /\[  FAILED  \] .* \([0-9]+ ms\)$/ { bad++ }
    /<\/testcase>/ {
      if (name !~ include || name ~ exclude) next
      if (name ~ /prefix_(start|stop)$/) {
        if (status != "run" && setupWhy == "") setupWhy = name ": " first
        next
      }
      if (ok + sk + bad > 0) {
        passed += ok; skips += sk; fails += bad
        if (status == "run" && sk > 0) hidden++
        if (status != "run" && !skipped && bad == 0) fails++
      } else if (skipped) skips++
      else if (status == "run") passed++
      else {
        fails++
        if (why == "" && first != "") why = name ": " first
      }
    }
    END { printf "%d %d %d %d %s\n", passed, skips, fails, hidden, setupWhy != "" ? setupWhy : why }
  ' "$1"
}

# Runs one CTest preset and records the entries whose names match INCLUDE and not
# EXCLUDE as a leg: run_ctest PRESET LEG INCLUDE EXCLUDE [LEG INCLUDE EXCLUDE]...
run_ctest() {
  local preset=$1 junit=$results/$1.xml status=0 any_failed=0 legs_of_run=()
  shift
  ctest --preset "$preset" --output-junit "$junit" --test-output-size-passed 4000000 || status=$?
  while [ $# -gt 0 ]; do
    local leg=$1 include=$2 exclude=$3 passed skips fails hidden why
    shift 3
    legs_of_run+=("$leg")
    if [ ! -s "$junit" ]; then
      fail_leg "$leg" "ctest did not run (exit $status)"
      any_failed=1
      continue
    fi
    read -r passed skips fails hidden why < <(count_cases "$junit" "$include" "$exclude")
    summary[$leg]="$passed passed, $skips skipped, $fails failed"
    if [ "$fails" -gt 0 ]; then
      fail_leg "$leg" "${summary[$leg]}${why:+ ($why)}"
    elif [ "$hidden" -gt 0 ]; then
      fail_leg "$leg" "${summary[$leg]}: $hidden entries passed with a skipped case in them"
    elif [ "$skips" -gt 0 ] && [ "${CI:-}" = true ]; then
      fail_leg "$leg" "${summary[$leg]}: nothing may skip under CI"
    elif [ $((passed + skips)) -eq 0 ]; then
      fail_leg "$leg" "no test ran"
    else
      continue
    fi
    any_failed=1
  done
  if [ "$status" -ne 0 ] && [ $any_failed -eq 0 ]; then
    for leg in "${legs_of_run[@]}"; do fail_leg "$leg" "${summary[$leg]} (ctest exit $status)"; done
  fi
}

# Configures and builds a preset; on failure marks its legs failed: build PRESET LEG... -- CMAKE_ARGS...
build() {
  local preset=$1 legs_of_build=()
  shift
  while [ "$1" != -- ]; do legs_of_build+=("$1"); shift; done
  shift
  if cmake --preset "$preset" "$@" && cmake --build --preset "$preset"; then
    return 0
  fi
  for leg in "${legs_of_build[@]}"; do fail_leg "$leg" "the $preset build failed"; done
  return 1
}

windows_option=-DVELMORAN_WINDOWS_LEG=$(runs windows && echo ON || echo OFF)

if runs fuzz; then
  if scripts/fuzz.sh "${FUZZ_SECONDS:-30}" | tee "$results/fuzz.log"; then
    inputs=$(sed -n 's/^fuzzed \([a-z_]*\): \([0-9]*\) inputs$/\1 \2/p' "$results/fuzz.log" | paste -sd, | sed 's/,/, /g')
    summary[fuzz]="2 targets run, 0 skipped ($inputs inputs)"
  else
    fail_leg fuzz "a target failed or did not build"
  fi
fi

# The end-to-end table under Wine is part of the native suite: its entries are named wine/...
if runs windows; then
  if build default native windows-e2e -- "$windows_option"; then
    run_ctest default native . '^wine/' windows-e2e '^wine/' '^$'
  fi
elif build default native -- "$windows_option"; then
  run_ctest default native . '^wine/'
fi

if runs windows && build mingw windows-unit --; then
  run_ctest mingw windows-unit . '^$'
fi

if runs sanitizers && build asan sanitizers -- "$windows_option"; then
  run_ctest asan sanitizers . '^$'
fi

echo
echo "Summary"
for leg in fuzz native sanitizers windows-unit windows-e2e; do
  case $leg in
    fuzz) label="fuzzing"; asked=fuzz ;;
    native) label="native"; asked=native ;;
    sanitizers) label="sanitizers (ASan, UBSan)"; asked=sanitizers ;;
    windows-unit) label="Windows exe, zip, unit tests (Wine)"; asked=windows ;;
    windows-e2e) label="Windows end-to-end (Wine)"; asked=windows ;;
  esac
  if ! runs "$asked"; then
    line="LEFT OUT, as asked with --skip $asked: NOT TESTED"
  else
    line=${summary[$leg]:-"FAILED: did not run"}
    [ -n "${summary[$leg]:-}" ] || failed=1
  fi
  printf '  %-36s %s\n' "$label" "$line"
done
if [ ${#left_out[@]} -gt 0 ]; then
  echo
  echo "!!! Legs left out on purpose: ${!left_out[*]}. This run does not prove them. !!!"
fi
exit $failed
