#!/usr/bin/env bash
# Benchmarks whole runs of the real velmoran against the stand-in device, acknowledging
# at once and staying silent, and shows the Windows executable's size where it is built.
#   bench.sh [RUNS]   (default 300)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh native
cmake --preset default >/dev/null
cmake --build --preset default --target velmoran velmoran-bench >/dev/null
build/default/velmoran-bench build/default/velmoran "${1:-300}"

echo
echo "velmoran (Linux):       $(stat -c %s build/default/velmoran) bytes"
if command -v x86_64-w64-mingw32-g++ >/dev/null; then
  cmake --preset mingw >/dev/null
  cmake --build --preset mingw --target velmoran >/dev/null
  size=$(stat -c %s build/mingw/velmoran.exe)
  echo "velmoran.exe (Windows): $size bytes ($((size / 1024)) KiB)"
fi
