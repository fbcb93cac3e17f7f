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
# wixl's MajorUpgrade takes only earlier versions: a rebuild at the same version (every
# CI build is one) would install beside the first. The upgrade row takes its own version
# too (msidbUpgradeAttributesVersionMaxInclusive); the downgrade row stays as it was.
upgrade=$(mktemp -d)
trap 'rm -rf "$upgrade"' EXIT
msiinfo export "$out" Upgrade | tr -d '\r' | awk 'BEGIN { FS = OFS = "\t" } $7 == "WIX_UPGRADE_DETECTED" { $5 = 513 } { print }' \
  >"$upgrade/Upgrade.idt"
grep -q '	513		WIX_UPGRADE_DETECTED' "$upgrade/Upgrade.idt" || { echo "build-msi.sh: no upgrade row in $out" >&2; exit 1; }
msibuild "$out" -i "$upgrade/Upgrade.idt"
