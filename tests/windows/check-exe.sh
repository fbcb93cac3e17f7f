#!/usr/bin/env bash
# Checks a Windows executable: check-exe.sh EXE OBJDUMP STRINGS VERSION DESCRIPTION
# It must import nothing but Windows' own DLLs (so it runs on a clean machine with
# no MinGW runtime) and carry its version resource: the project's version and what
# the program is.
set -euo pipefail
exe=$1
objdump=$2
strings=$3
version=$4
description=$5
failed=0

imports=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
[ -n "$imports" ] || { echo "no import table found in $exe"; exit 1; }
while read -r dll; do
  case ${dll,,} in
    kernel32.dll|advapi32.dll|msvcrt.dll|api-ms-win-crt-*.dll|ucrtbase.dll) echo "import ok: $dll" ;;
    *) echo "unexpected import: $dll"; failed=1 ;;
  esac
done <<<"$imports"

resource=$("$strings" -el "$exe")
for expected in "$description" FileVersion ProductVersion "$version"; do
  if grep -qxF -- "$expected" <<<"$resource"; then
    echo "resource ok: $expected"
  else
    echo "missing from the version resource: $expected"
    failed=1
  fi
done
# Small enough to mail around and to copy onto a production-line PC in a moment.
size=$(stat -c %s "$exe")
if [ "$size" -le $((400 * 1024)) ]; then
  echo "size ok: $size bytes"
else
  echo "too large: $size bytes, more than 400 KiB"
  failed=1
fi
exit $failed
