#!/usr/bin/env bash
# The MSI as IT deploys it, under Wine's msiexec in the prefix WINEPREFIX names:
#   msi-test.sh MSI FILES VERSION WINE_SH
# FILES is what the MSI was built from (packaging/build-msi.sh); a rebuild at the same
# version and a later version are built from it here, each with its README marked.
#   1. msiexec /i /qn: the files in Program Files\velmoran, the folder put last on the
#      system PATH, one product in Apps & features with its name, version,
#      publisher and comments; a new cmd finds velmoran by name, and the installed
#      velmoran-sim.exe on COM21 acknowledges it on COM20.
#   2. A rebuild at the same version over it, then a later version over that: each time
#      one product, its version and files, the PATH as before with the folder once,
#      last; after the later version, cmd finds velmoran by name again. The first again
#      over the later: refused as a downgrade, nothing changed.
#   3. msiexec /x /qn: no file left, no product, the system PATH as it was before.
# Wine's msiexec, taking an appended entry off, leaves its separator: an empty entry,
# at which Wine's cmd stops its search. Windows Installer does not, so the test takes such
# an entry out after each step, and says so.
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
# The system PATH as the registry holds it, an entry a line, empty entries too: Wine's cmd
# stops its search at one.
environment='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
system_path() {
  "$wine" run reg query "$environment" /v PATH | tr -d '\r' | sed -n 's/^ *PATH *REG_[A-Z_]*SZ *//p' | tr ';' '\n'
}
# Takes out the empty entries that Wine's msiexec leaves, saying so.
without_wines_empty_entries() {
  local kind entries
  entries=$(system_path | sed '/^$/d' | paste -sd ';')
  [ "$entries" != "$(system_path | paste -sd ';')" ] || return 0
  echo "msi-test: Wine's msiexec left an empty entry in the system PATH after $1; taken out"
  kind=$("$wine" run reg query "$environment" /v PATH | tr -d '\r' | sed -n 's/^ *PATH *\(REG_[A-Z_]*SZ\) .*/\1/p')
  "$wine" run reg add "$environment" /v PATH /t "$kind" /d "$entries" /f >/dev/null
}
# The Apps & features entries of velmoran, a line each: "VERSION|PUBLISHER|COMMENTS|HELP LINK".
products() {
  "$wine" run reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s | tr -d '\r' | awk '
    function entry() { if (name == "velmoran") print version "|" publisher "|" comments "|" help }
    /^HKEY/ { entry(); name = version = publisher = comments = help = "" }
    $1 == "DisplayName" { name = $3 } $1 == "DisplayVersion" { version = $3 }
    $1 == "Publisher" { sub(/^ *Publisher *REG_SZ */, ""); publisher = $0 }
    $1 == "Comments" { sub(/^ *Comments *REG_SZ */, ""); comments = $0 }
    $1 == "HelpLink" { sub(/^ *HelpLink *REG_SZ */, ""); help = $0 }
    END { entry() }'
}
comments="Selects a device on a CAN bus for a firmware download. README.md in the installation folder tells how."
# After STEP, one product of that version; every entry the PATH had before, in order, then
# the folder once, last (with or without its last backslash), and no empty entry but Wine's.
expect_installed() { # expect_installed VERSION STEP
  local listed path
  listed=$(products)
  [ "$listed" = "$1|The velmoran authors|$comments|" ] || fail "Apps & features lists: '$listed'"
  without_wines_empty_entries "$2"
  path=$(system_path | sed 's/\\$//')
  [ "$path" = "$path_before"$'\n'"$folder" ] || fail "the system PATH is:
$path
not what it was with $folder after it:
$path_before"
}
# Builds FILES again as VERSION, its README marked: rebuild NAME VERSION.
rebuild() {
  cp -r "$files" "$scratch/$1"
  echo "Installed by the upgrade test: $1." >>"$scratch/$1/README.md"
  "$here/../../packaging/build-msi.sh" "$scratch/$1.msi" "$2" "$scratch/$1"
}

path_before=$(system_path | sed 's/\\$//')
[ -n "$path_before" ] || fail "the prefix has no system PATH"
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
expect_installed "$version" "the install"

null_modem_open "$scratch"
ln -sfn "$line_a" "$WINEPREFIX/dosdevices/com20"
ln -sfn "$line_b" "$WINEPREFIX/dosdevices/com21"
# In a folder of its own, cmd finds velmoran only on the PATH; the installed stand-in
# acknowledges it.
acknowledged_by_name() {
  local out ended
  standin_start "$scratch/sim.log" "$wine" run "$folder\\velmoran-sim.exe" COM21 --frames 1
  out=$(cd "$scratch" && "$wine" run cmd /c velmoran COM20 0x1FFFFFF0 0x01 | tr -d '\r') && ended=0 || ended=$?
  [ "$out" = "Program to select CAN ID for download, Version 1.00
Opened serial port COM20 successfully
Sent ID: 0x1FFFFFF0 Data: 0x01 
Received: 0x06 " ] && [ "$ended" = 0 ] || fail "cmd /c velmoran ended with $ended $1, after:
$out"
  wait "$standin" || fail "the installed velmoran-sim.exe ended with status $? $1"
  standin=
}
acknowledged_by_name "after the install"

# 2. A rebuild at the same version over it, then a later version over that, then the
# first again.
rebuild same "$version"
msiexec /i "$scratch/same.msi" || fail "msiexec /i of a rebuild of $version over it ended with status $?"
expect_installed "$version" "the rebuild of $version"
cmp "$installed/README.md" "$scratch/same/README.md" || fail "the README is not the rebuild's"
IFS=. read -r major minor patch <<<"$version"
later=$major.$minor.$((patch + 1))
rebuild later "$later"
msiexec /i "$scratch/later.msi" || fail "msiexec /i of $later over $version ended with status $?"
expect_installed "$later" "the upgrade to $later"
cmp "$installed/README.md" "$scratch/later/README.md" || fail "the README is not the later version's"
acknowledged_by_name "after the upgrade to $later"
# Refused by the downgrade rule, whose message ends the install: Windows Installer's
# 1603, "fatal error during installation", of which a Linux parent sees the low byte.
status=0
msiexec /i "$msi" || status=$?
[ "$status" = $((1603 & 255)) ] || fail "msiexec /i of $version over $later ended with status $status, not 1603's low byte"
expect_installed "$later" "the refused downgrade"
cmp "$installed/README.md" "$scratch/later/README.md" || fail "the refused $version changed the README"
cmp "$installed/velmoran.exe" "$files/velmoran.exe" || fail "the refused $version changed velmoran.exe"

# 3. A silent removal.
msiexec /x "$scratch/later.msi" || fail "msiexec /x ended with status $?"
[ -z "$(find "$installed" -type f 2>/dev/null)" ] || fail "left behind: $(find "$installed" -type f)"
without_wines_empty_entries "the removal"
[ "$(system_path)" = "$path_before" ] || fail "the system PATH is:
$(system_path)
not as it was before:
$path_before"
[ -z "$(products)" ] || fail "Apps & features still lists velmoran: $(products)"
echo "installed, acknowledged through the PATH, rebuilt and upgraded to $later in place, downgrade refused, removed"
