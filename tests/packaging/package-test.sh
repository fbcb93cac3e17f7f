#!/usr/bin/env bash
# Builds the release packages as the README says and checks what a colleague gets.
#   package-test.sh deb BUILD_DIR VERSION   the .deb (and the .tar.gz beside it): its
#       fields, its files, its man pages, and its velmoran run against the stand-in
#   package-test.sh zip BUILD_DIR VERSION   the Windows zip: velmoran.exe, README, LICENSE
set -euo pipefail
kind=$1
build=$2
version=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() {
  echo "package-test: $*" >&2
  exit 1
}

cmake --build "$build" --target package >"$scratch/package.log" 2>&1 || {
  cat "$scratch/package.log"
  fail "the package target failed"
}

# Every expected path (one per line in $2) must be in the listing $1, and nothing else
# that is a file.
expect_files() {
  local listing=$1 expected=$2
  diff <(sort <<<"$expected") <(sort <<<"$listing") || fail "the package holds other files than expected"
}

case $kind in
  deb)
    command -v dpkg-deb >/dev/null || fail "dpkg-deb is needed to look into the .deb"
    deb=$(find "$build" -maxdepth 1 -name "velmoran_${version}_*.deb" | head -n 1)
    [ -n "$deb" ] || fail "no velmoran_${version}_*.deb in $build"
    [ -f "$build/velmoran-$version-Linux.tar.gz" ] || fail "no velmoran-$version-Linux.tar.gz beside it"

    fields=$(dpkg-deb -f "$deb")
    echo "$fields"
    grep -qx "Package: velmoran" <<<"$fields" || fail "wrong package name"
    grep -qx "Version: $version" <<<"$fields" || fail "wrong version"
    grep -q "^Maintainer: ." <<<"$fields" || fail "no maintainer"
    grep -q "^Description: ." <<<"$fields" || fail "no description"
    grep -q "^ .*velmoran-sim plays the CAN interface" <<<"$fields" || fail "no long description"
    ! grep -q "^Depends:" <<<"$fields" || fail "static programs need no dependencies"

    files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }')
    expect_files "$files" "./usr/bin/velmoran
./usr/bin/velmoran-sim
./usr/share/man/man1/velmoran.1
./usr/share/man/man1/velmoran-sim.1
./usr/share/doc/velmoran/README.md
./usr/share/doc/velmoran/LICENSE
./usr/share/doc/velmoran/copyright"

    root=$scratch/root
    dpkg-deb -x "$deb" "$root"
    for page in velmoran velmoran-sim; do
      warnings=$(groff -man -ww -z -Tutf8 "$root/usr/share/man/man1/$page.1" 2>&1) || fail "groff failed on $page.1"
      [ -z "$warnings" ] || fail "$page.1 renders with warnings: $warnings"
    done

    # The installed tool against the installed stand-in, as the man page shows it.
    out=$("$root/usr/bin/velmoran-sim" --frames 1 | {
      read -r port
      "$root/usr/bin/velmoran" "$port" 0x1FFFFFF0 0x01 0x02 | sed "s|$port|PORT|"
      echo "exit ${PIPESTATUS[0]}"
      cat >/dev/null  # the stand-in's frame line
    })
    expected="Program to select CAN ID for download, Version 1.00
Opened serial port PORT successfully
Sent ID: 0x1FFFFFF0 Data: 0x01 0x02 
Received: 0x06 
exit 0"
    [ "$out" = "$expected" ] || fail "the installed velmoran printed:
$out"
    echo "the installed velmoran ran against the installed stand-in: exit 0"
    ;;
  zip)
    zip=$build/velmoran-$version-win64.zip
    [ -f "$zip" ] || fail "no $zip"
    files=$(cd "$scratch" && cmake -E tar tf "$zip" | grep -v '/$')
    top=velmoran-$version-win64
    expect_files "$files" "$top/velmoran.exe
$top/README.md
$top/LICENSE"
    (cd "$scratch" && cmake -E tar xf "$zip")
    cmp "$scratch/$top/velmoran.exe" "$build/velmoran.exe" || fail "the zip's velmoran.exe is not the one built"
    echo "$zip holds: $(tr '\n' ' ' <<<"$files")"
    ;;
  *)
    fail "usage: package-test.sh deb|zip BUILD_DIR VERSION"
    ;;
esac
