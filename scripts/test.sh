#!/usr/bin/env bash
# Builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh all
cmake --preset default
cmake --build --preset default
ctest --preset default
