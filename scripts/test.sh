#!/usr/bin/env bash
# Builds everything and runs every test:
#   - the fuzz targets, about half a minute each;
#   - the native build: unit tests, the real binary, and the end-to-end table against
#     the stand-in device;
#   - the same suite again under AddressSanitizer and UndefinedBehaviorSanitizer;
#   - the Windows build cross-compiled with MinGW-w64: its checks, its unit tests under
#     Wine, and (from the native suite) the end-to-end table run against it under Wine.
# Outside CI a leg whose tools are missing is skipped with a word; under CI it fails.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh all || [ "${CI:-}" != true ]

missing() {
  if [ "${CI:-}" = true ]; then
    echo "CI: $1 is missing" >&2
    exit 1
  fi
  echo "$1 is missing: skipping $2" >&2
}

have_wine() { [ -x /usr/lib/wine/wine64 ] || command -v wine64 >/dev/null; }
windows_leg=no
if command -v x86_64-w64-mingw32-g++ >/dev/null && have_wine; then
  windows_leg=yes
else
  missing "MinGW-w64 or Wine" "the Windows leg"
fi

if command -v clang++ >/dev/null; then
  scripts/fuzz.sh "${FUZZ_SECONDS:-30}"
else
  missing clang++ "the fuzz targets"
fi

# Built first: the native suite runs the end-to-end table against velmoran.exe too.
if [ $windows_leg = yes ]; then
  cmake --preset mingw
  cmake --build --preset mingw
fi

cmake --preset default
cmake --build --preset default
ctest --preset default

cmake --preset asan
cmake --build --preset asan
ctest --preset asan

if [ $windows_leg = yes ]; then
  ctest --preset mingw
fi
