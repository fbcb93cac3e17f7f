#!/usr/bin/env bash
# Builds everything and runs every test: the native build with its end-to-end table
# against the stand-in device, the same under the sanitizers, and the Windows build cross-compiled with MinGW-w64,
# its unit tests and the same table run under Wine, and the fuzz targets.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh all || [ "${CI:-}" != true ]

have_wine() { [ -x /usr/lib/wine/wine64 ] || command -v wine64 >/dev/null; }
windows_leg=yes
if ! command -v x86_64-w64-mingw32-g++ >/dev/null || ! have_wine; then
  [ "${CI:-}" = true ] && { echo "CI: the Windows leg needs MinGW-w64 and Wine" >&2; exit 1; }
  echo "MinGW-w64 or Wine is missing: skipping the Windows leg" >&2
  windows_leg=no
fi

if [ $windows_leg = yes ]; then
  cmake --preset mingw
  cmake --build --preset mingw
fi
cmake --preset default
cmake --build --preset default
ctest --preset default

# The whole native suite again, end-to-end cases included, with AddressSanitizer
# and UndefinedBehaviorSanitizer in the tool and the tests: any report fails it.
cmake --preset asan
cmake --build --preset asan
ctest --preset asan
if [ $windows_leg = yes ]; then
  ctest --preset mingw
fi

# The libFuzzer targets, about half a minute each; a crash or a mismatch fails the run.
if command -v clang++ >/dev/null; then
  scripts/fuzz.sh "${FUZZ_SECONDS:-30}"
elif [ "${CI:-}" = true ]; then
  echo "CI: fuzzing needs clang++" >&2
  exit 1
else
  echo "clang++ is missing: skipping the fuzz targets" >&2
fi
