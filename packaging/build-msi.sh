#!/usr/bin/env bash
# Builds the Windows installer with msitools:
#   build-msi.sh OUT VERSION FILES
# FILES holds what it installs as it lays it out: velmoran.exe, velmoran-sim.exe,
# README.md, LICENSE and examples/ with download.bat, download.sh and ftdi-latency.bat.
# wixl (0.101 in Debian 12) has no Environment element: the row that puts the folder on
# the system PATH, and takes it off again on removal, is added with msibuild. The newer
# wixl of Debian 13 makes an empty Environment table, which takes the row the same way.
set -euo pipefail
out=$(realpath -m "$1") version=$2 files=$3
here=$(cd "$(dirname "$0")" && pwd)
rm -f "$out"
(cd "$files" && wixl --arch x64 --define Version="$version" --output "$out" "$here/velmoran.wxs")
msibuild "$out" -i "$here/msi-environment.idt"
