#!/usr/bin/env bash
# Builds the release packages as the README says and checks what a colleague gets.
#   package-test.sh deb BUILD_DIR VERSION [RUNNER...]   the .deb and the portable tarball:
#       their fields and files, lintian on the .deb, the man pages, and the .deb's
#       velmoran run against its velmoran-sim (through RUNNER, an emulator, for another
#       architecture's build)
#   package-test.sh zip BUILD_DIR VERSION   the Windows zip: velmoran.exe, velmoran-sim.exe,
#       README, LICENSE, the download examples and the FTDI latency script
set -euo pipefail
kind=$1
build=$2
version=$3
runner=("${@:4}")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() {
  echo "package-test: $*" >&2
  exit 1
}

# Packed as scripts/release.sh packs: every time in the packages is the last commit's.
export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$(dirname "$0")" log -1 --format=%ct)}
# Packing and lintian at the lowest priority: the cases beside this one time replies to
# the millisecond.
nice -n 19 cmake --build "$build" --target package >"$scratch/package.log" 2>&1 || {
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
    for tool in dpkg-deb lintian groff; do
      command -v $tool >/dev/null || fail "$tool is needed to check the .deb"
    done
    deb=$(find "$build" -maxdepth 1 -name "velmoran_${version}_*.deb" | head -n 1)
    [ -n "$deb" ] || fail "no velmoran_${version}_*.deb in $build"
    arch=$(dpkg-deb -f "$deb" Architecture)
    tarball=$build/velmoran-$version-linux-$arch.tar.gz
    [ -f "$tarball" ] || fail "no velmoran-$version-linux-$arch.tar.gz beside it"

    fields=$(dpkg-deb -f "$deb")
    echo "$fields"
    grep -qx "Package: velmoran" <<<"$fields" || fail "wrong package name"
    grep -qx "Version: $version" <<<"$fields" || fail "wrong version"
    grep -q "^Maintainer: ." <<<"$fields" || fail "no maintainer"
    grep -q "^ .*velmoran-sim plays the CAN interface" <<<"$fields" || fail "no long description"
    grep -q "^Depends: .*libc6 (>= " <<<"$fields" || fail "no Depends worked out from the programs' libraries"

    files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }')
    expect_files "$files" "./usr/bin/velmoran
./usr/bin/velmoran-sim
./usr/share/man/man1/velmoran.1.gz
./usr/share/man/man1/velmoran-sim.1.gz
./usr/share/doc/velmoran/README.md
./usr/share/doc/velmoran/changelog.gz
./usr/share/doc/velmoran/copyright
./usr/share/doc/velmoran/examples/download.bat
./usr/share/doc/velmoran/examples/download.sh"

    # Without an address the contact is malformed, in the control file and in the
    # changelog's signature alike; every other finding fails.
    suppressed=()
    grep -q "^Maintainer: .*<.*@.*>" <<<"$fields" ||
      suppressed=(--suppress-tags malformed-contact,bogus-mail-host-in-debian-changelog)
    nice -n 19 lintian --fail-on error,warning "${suppressed[@]}" "$deb" 2>/dev/null || fail "lintian finds fault with $deb"
    echo "lintian: no error or warning${suppressed:+ but for the contact, which has no address}"

    root=$scratch/root
    dpkg-deb -x "$deb" "$root"
    for program in velmoran velmoran-sim; do
      description=$(file -L "$root/usr/bin/$program")
      [[ $description == *"dynamically linked"* && $description == *", stripped"* ]] ||
        fail "$program is not dynamic and stripped: $description"
    done
    for page in velmoran velmoran-sim; do
      warnings=$(zcat "$root/usr/share/man/man1/$page.1.gz" | groff -man -ww -z -Tutf8 2>&1) || fail "groff failed on $page.1"
      [ -z "$warnings" ] || fail "$page.1 renders with warnings: $warnings"
    done

    portable=$(tar tzf "$tarball" | grep -v '/$')
    top=velmoran-$version-linux-$arch
    expect_files "$portable" "$top/bin/velmoran
$top/bin/velmoran-sim
$top/share/man/man1/velmoran.1
$top/share/man/man1/velmoran-sim.1
$top/share/doc/velmoran/README.md
$top/share/doc/velmoran/LICENSE
$top/share/doc/velmoran/examples/download.bat
$top/share/doc/velmoran/examples/download.sh"
    tar xzf "$tarball" -C "$scratch"
    file "$scratch/$top/bin/velmoran" | grep -q "statically linked" || fail "the tarball's velmoran is not static"

    # The installed tool against the installed stand-in, as the man page shows it.
    # Bounded: a tool that sends no frame would leave the stand-in waiting for one.
    out=$(timeout 20 "${runner[@]}" "$root/usr/bin/velmoran-sim" --frames 1 | {
      read -r port
      "${runner[@]}" "$root/usr/bin/velmoran" "$port" 0x1FFFFFF0 0x01 0x02 | sed "s|$port|PORT|"
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
    echo "the .deb's velmoran ran against its velmoran-sim: exit 0"
    ;;
  zip)
    zip=$build/velmoran-$version-win64.zip
    [ -f "$zip" ] || fail "no $zip"
    files=$(cd "$scratch" && cmake -E tar tf "$zip" | grep -v '/$')
    top=velmoran-$version-win64
    expect_files "$files" "$top/velmoran.exe
$top/velmoran-sim.exe
$top/README.md
$top/LICENSE
$top/download.bat
$top/download.sh
$top/ftdi-latency.bat"
    (cd "$scratch" && cmake -E tar xf "$zip")
    for program in velmoran velmoran-sim; do
      cmp "$scratch/$top/$program.exe" "$build/$program.exe" || fail "the zip's $program.exe is not the one built"
    done
    echo "$zip holds: $(tr '\n' ' ' <<<"$files")"
    ;;
  *)
    fail "usage: package-test.sh deb|zip BUILD_DIR VERSION [RUNNER...]"
    ;;
esac
