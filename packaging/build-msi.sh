#!/usr/bin/env bash
# Builds the Windows installer with msitools:
#   build-msi.sh OUT VERSION FILES
# FILES holds what it installs as it lays it out: velmoran.exe, velmoran-sim.exe,
# README.md, LICENSE and examples/ with download.bat, download.sh and ftdi-latency.bat.
# wixl (0.101 in Debian 12) has no Environment element: the row that puts the folder on
# the system PATH, and takes it off again on removal, is added with msibuild. The newer
# wixl of Debian 13 makes an empty Environment table, which takes the row the same way.
# The folder goes last, as installers' folders do on Windows: first, any program in it,
# wherever INSTALLDIR was set, would shadow Windows' own commands. (Wine's msiexec,
# taking the entry off the end, leaves its separator, an empty entry at which Wine's
# cmd stops its search; msi-test.sh takes it out and says so.)
#
# The same files give the same MSI, byte for byte, wherever and whenever it is built:
# - every time in it is SOURCE_DATE_EPOCH (the last commit's time where it is not set):
#   the files' times in the cabinet (wixl 0.101 takes the files' own, 0.106 the clock's)
#   and the summary's creation and save times (the clock's). wixl runs in UTC under
#   faketime -f, whose clock stands still: without -f it runs on from the epoch, and the
#   cabinet's times came out 2 s apart in two builds;
# - the ProductCode and PackageCode, which wixl would draw at random, are UUIDv5 names,
#   under the upgrade code, of the version and a hash of everything the MSI is made from:
#   the files, these sources and wixl's version. Any change to what it holds gives new
#   codes, so that a rebuild at the same version still upgrades the installed one.
set -euo pipefail
out=$(realpath -m "$1") version=$2 files=$3
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "build-msi.sh: $*" >&2; exit 1; }
command -v faketime >/dev/null || fail "faketime is needed to give the MSI a fixed time (Debian package faketime)"
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$here" log -1 --format=%ct 2>/dev/null || true)}
[[ $epoch =~ ^[0-9]+$ ]] || fail "set SOURCE_DATE_EPOCH: there is no git history to take the time from"
rm -f "$out"
upgrade=$(mktemp -d)
trap 'rm -rf "$upgrade"' EXIT

# uuid5 NAMESPACE NAME: the name-based UUID (SHA-1) of NAME in NAMESPACE, as Windows writes it.
uuid5() {
  local namespace=${1//-/} hash
  hash=$( { printf "$(sed 's/../\\x&/g' <<<"$namespace")"; printf '%s' "$2"; } | sha1sum | cut -c1-32)
  hash=${hash:0:12}5${hash:13:3}$(printf '%x' $(((0x${hash:16:1} & 3) | 8)))${hash:17:15}
  hash=${hash^^}
  echo "${hash:0:8}-${hash:8:4}-${hash:12:4}-${hash:16:4}-${hash:20:12}"
}
upgrade_code=$(sed -n 's/.*UpgradeCode="\([0-9A-F-]*\)".*/\1/p' "$here/velmoran.wxs")
[ -n "$upgrade_code" ] || fail "no UpgradeCode in velmoran.wxs"
contents=$( { (cd "$files" && find . -type f -print0 | LC_ALL=C sort -z | xargs -0 sha256sum)
  (cd "$here" && sha256sum velmoran.wxs msi-environment.idt build-msi.sh); wixl --version; } | sha256sum | cut -c1-64)
product_code=$(uuid5 "$upgrade_code" "velmoran $version ProductCode $contents")
package_code=$(uuid5 "$upgrade_code" "velmoran $version PackageCode $contents")

# The cabinet keeps each file's time.
find "$files" -exec touch -h -d "@$epoch" {} +
# wixl 0.101 (Debian 12) does not know MajorUpgrade's AllowSameVersionUpgrades and says so
# in a GLib warning: that one is left out of what it prints.
status=0
(cd "$files" && TZ=UTC faketime -f "$(date -u -d "@$epoch" '+%Y-%m-%d %H:%M:%S')" \
  wixl --arch x64 --define Version="$version" --define ProductCode="$product_code" \
  --output "$out" "$here/velmoran.wxs") 2>"$upgrade/wixl.err" || status=$?
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
[ -n "$attributes" ] || fail "no upgrade row in $out"
if [ $((attributes & 512)) -eq 0 ]; then
  awk 'BEGIN { FS = OFS = "\t" } $7 == "WIX_UPGRADE_DETECTED" { $5 += 512 } { print }' "$upgrade/Upgrade.idt" \
    >"$upgrade/Upgrade.new" && mv "$upgrade/Upgrade.new" "$upgrade/Upgrade.idt"
  [ "$(row)" = $((attributes + 512)) ] || fail "the upgrade row could not be rewritten"
  msibuild "$out" -i "$upgrade/Upgrade.idt"
fi
# wixl draws the PackageCode (the summary's revision number) itself; msibuild sets it with
# the summary's subject, author and template, given back as wixl wrote them.
summary() { msiinfo suminfo "$out" | sed -n "s/^$1: //p"; }
msibuild "$out" -s "$(summary Subject)" "$(summary Author)" "$(summary Template)" "{$package_code}"
[ "$(summary 'Revision number (UUID)')" = "{$package_code}" ] || fail "the PackageCode could not be set"
