#!/usr/bin/env bash
# The MSI as IT deploys it, under Wine's msiexec in the prefix WINEPREFIX names:
#   msi-test.sh MSI FILES VERSION WINE_SH
# FILES is what the MSI was built from (packaging/build-msi.sh); a later version is built
# from it here, its README marked, to install over the first.
#   1. msiexec /i /qn: the files in Program Files\velmoran, the folder once on the system
#      PATH, one product in Apps & features with its name, version, publisher and help
#      link; a new cmd finds velmoran by name, and the installed velmoran-sim.exe on COM21
#      acknowledges it on COM20.
#   2. The later version over it: one product, the later version and files, the folder
#      once on the PATH. The first again over the later: refused, nothing changed.
#   3. msiexec /x /qn: no file left, the folder off the PATH, no product.
set -euo pipefail
msi=$1 files=$2 version=$3 wine=$4
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "msi-test: $*" >&2; exit 1; }
scratch=$(mktemp -d)
trap 'kill ${standin:-} 2>/dev/null || true; null_modem_close; rm -rf "$scratch"' EXIT
. "$here/../support/standin-lines.sh"
[ -f "$msi" ] || fail "no $msi: the Windows build makes it where wixl and msibuild are installed"

installed="$WINEPREFIX/drive_c/Program Files/velmoran"
folder='C:\Program Files\velmoran'
[ ! -e "$installed" ] || fail "velmoran is installed in the prefix already"

# msiexec ACTION PACKAGE: quiet, the package by its Windows path (a Unix one reads as options).
msiexec() { (cd "$scratch" && "$wine" run msiexec "$1" "Z:${2//\//\\}" /qn); }
# How often the system PATH names the installed folder, with or without a last backslash.
on_path() {
  "$wine" run reg query 'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' /v PATH |
    tr -d '\r' | sed -n 's/^ *PATH *REG_[A-Z_]*SZ *//p' | tr ';' '\n' | sed 's/\\$//' |
    grep -cixF "$folder" || true
}
# The Apps & features entries of velmoran, a line each: "VERSION|PUBLISHER|HELP LINK".
products() {
  "$wine" run reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s | tr -d '\r' | awk '
    /^HKEY/ { if (name == "velmoran") print version "|" publisher "|" help; name = version = publisher = help = "" }
    $1 == "DisplayName" { name = $3 } $1 == "DisplayVersion" { version = $3 }
    $1 == "Publisher" { sub(/^ *Publisher *REG_SZ */, ""); publisher = $0 }
    $1 == "HelpLink" { sub(/^ *HelpLink *REG_SZ */, ""); help = $0 }
    END { if (name == "velmoran") print version "|" publisher "|" help }'
}
expect_product() {
  local listed
  listed=$(products)
  [ "$listed" = "$1|The velmoran authors|$folder\\README.md" ] || fail "Apps & features lists: '$listed'"
  [ "$(on_path)" = 1 ] || fail "the system PATH names $folder $(on_path) times"
}

# 1. A silent install.
msiexec /i "$msi" || fail "msiexec /i ended with status $?"
listing=$(cd "$installed" && find . -type f | sort)
[ "$listing" = "./LICENSE
./README.md
./examples/download.bat
./examples/download.sh
./examples/ftdi-latency.bat
./velmoran-sim.exe
./velmoran.exe" ] || fail "Program Files\\velmoran holds:
$listing"
cmp "$installed/velmoran.exe" "$files/velmoran.exe" || fail "the installed velmoran.exe is not the one built"
expect_product "$version"

null_modem_open "$scratch"
ln -sfn "$line_a" "$WINEPREFIX/dosdevices/com20"
ln -sfn "$line_b" "$WINEPREFIX/dosdevices/com21"
standin_start "$scratch/sim.log" "$wine" run "$folder\\velmoran-sim.exe" COM21 --frames 1
# In a folder of its own, cmd finds velmoran only on the PATH.
out=$(cd "$scratch" && "$wine" run cmd /c velmoran COM20 0x1FFFFFF0 0x01 | tr -d '\r') && ended=0 || ended=$?
[ "$out" = "Program to select CAN ID for download, Version 1.00
Opened serial port COM20 successfully
Sent ID: 0x1FFFFFF0 Data: 0x01 
Received: 0x06 " ] && [ "$ended" = 0 ] || fail "cmd /c velmoran ended with $ended after:
$out"
wait "$standin" || fail "the installed velmoran-sim.exe ended with status $?"
standin=

# 2. A later version over it, then the first again.
IFS=. read -r major minor patch <<<"$version"
later=$major.$minor.$((patch + 1))
cp -r "$files" "$scratch/later"
echo "Installed by the upgrade test." >>"$scratch/later/README.md"
"$here/../../packaging/build-msi.sh" "$scratch/later.msi" "$later" "$scratch/later"
msiexec /i "$scratch/later.msi" || fail "msiexec /i of $later over $version ended with status $?"
expect_product "$later"
cmp "$installed/README.md" "$scratch/later/README.md" || fail "the README is not the later version's"
! msiexec /i "$msi" || fail "$version was installed over $later"
expect_product "$later"

# 3. A silent removal.
msiexec /x "$scratch/later.msi" || fail "msiexec /x ended with status $?"
[ -z "$(find "$installed" -type f 2>/dev/null)" ] || fail "left behind: $(find "$installed" -type f)"
[ "$(on_path)" = 0 ] || fail "the system PATH still names $folder"
[ -z "$(products)" ] || fail "Apps & features still lists velmoran: $(products)"
echo "installed, acknowledged through the PATH, upgraded to $later, downgrade refused, removed"
