#!/usr/bin/env bash
# Builds the Windows installer with msitools:
#   build-msi.sh OUT VERSION FILES
# FILES holds what it installs as it lays it out: velmoran.exe, velmoran-sim.exe,
# README.md, LICENSE and examples/ with download.bat, download.sh and ftdi-latency.bat.
# wixl (0.101 in Debian 12) has no Environment element: the row that puts the folder on
# the system PATH, and takes it off again on removal, is added with msibuild. The newer
# wixl of Debian 13 makes an empty Environment table, which takes the row the same way.
# The folder goes first: Wine's msiexec takes an entry off the end of PATH but leaves its
# separator, so an upgrade left ";;C:\Program Files\velmoran\", and Wine's cmd stops
# its search at the empty entry; at the front it leaves none. The folder holds only
# velmoran's two programs, so going first hides nothing of Windows'.
set -euo pipefail
out=$(realpath -m "$1") version=$2 files=$3
here=$(cd "$(dirname "$0")" && pwd)
rm -f "$out"
upgrade=$(mktemp -d)
trap 'rm -rf "$upgrade"' EXIT
# wixl 0.101 (Debian 12) does not know MajorUpgrade's AllowSameVersionUpgrades and says so
# in a GLib warning: that one is left out of what it prints.
status=0
(cd "$files" && wixl --arch x64 --define Version="$version" --output "$out" "$here/velmoran.wxs") \
  2>"$upgrade/wixl.err" || status=$?
grep -v -e "has no property named 'AllowSameVersionUpgrades'" -e '^$' "$upgrade/wixl.err" >&2 || true
[ $status -eq 0 ] || exit $status
msibuild "$out" -i "$here/msi-environment.idt"
# Without that attribute, wixl's upgrade row takes only earlier versions: a rebuild at the
# same version (every CI build is one) would install beside the first. Where the row lacks
# msidbUpgradeAttributesVersionMaxInclusive (512), it is added to the bits wixl set; the
# downgrade row stays as it was.
msiinfo export "$out" Upgrade | tr -d '\r' >"$upgrade/Upgrade.idt"
row() { awk 'BEGIN { FS = "\t" } $7 == "WIX_UPGRADE_DETECTED" { print $5 }' "$upgrade/Upgrade.idt"; }
attributes=$(row)
[ -n "$attributes" ] || { echo "build-msi.sh: no upgrade row in $out" >&2; exit 1; }
if [ $((attributes & 512)) -eq 0 ]; then
  awk 'BEGIN { FS = OFS = "\t" } $7 == "WIX_UPGRADE_DETECTED" { $5 += 512 } { print }' "$upgrade/Upgrade.idt" \
    >"$upgrade/Upgrade.new" && mv "$upgrade/Upgrade.new" "$upgrade/Upgrade.idt"
  [ "$(row)" = $((attributes + 512)) ] || { echo "build-msi.sh: the upgrade row could not be rewritten" >&2; exit 1; }
  msibuild "$out" -i "$upgrade/Upgrade.idt"
fi
