#!/usr/bin/env bash
# Installs the Debian packages that legs of the build need, where they are missing.
#   install-deps.sh [LEG...]   native (the default), windows, arm, drivers, fuzz
#     native    compiler, CMake, GoogleTest, groff (to check the man pages), strace (to
#               see the line settings the tool asks for), socat (to join two terminal
#               lines as a null-modem pair)
#     windows   the MinGW-w64 cross-compiler, GoogleTest's sources for it, Wine, and
#               msitools (wixl, msibuild) for the MSI
#     arm       Debian's arm64 and armhf cross-compilers, qemu's user-mode emulators, and
#               the two architectures' C and C++ libraries (Debian multiarch), which
#               dpkg-shlibdeps reads and the .deb's programs run with
#     drivers   qemu's full-system emulators for amd64 and arm64, cpio and xz for the guests'
#               initramfs and modules, and the arm64 cross-compiler; the guests' kernels and busybox
#               are fetched from Debian's archive by the leg itself (tests/drivers/guest.sh)
#     fuzz      clang and its libFuzzer runtime
set -euo pipefail

packages=()
for leg in "${@:-native}"; do
  case $leg in
    native) packages+=(cmake g++ make libgtest-dev groff-base strace socat file dpkg-dev lintian) ;;
    windows) packages+=(g++-mingw-w64-x86-64 googletest wine64 wixl msitools faketime zip
                        osslsigncode openssl softhsm2 libengine-pkcs11-openssl opensc) ;;
    arm) packages+=(g++-aarch64-linux-gnu g++-arm-linux-gnueabihf qemu-user-static
                    libc6:arm64 libstdc++6:arm64 libc6:armhf libstdc++6:armhf) ;;
    drivers) packages+=(qemu-system-x86 qemu-system-arm cpio xz-utils g++-aarch64-linux-gnu) ;;
    fuzz) packages+=(clang libclang-rt-dev) ;;
    *) echo "install-deps.sh: unknown leg '$leg' (native, windows, arm, drivers, fuzz)" >&2; exit 2 ;;
  esac
done

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "missing Debian packages: ${missing[*]} (run as root, or install them with apt-get)" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
for package in "${missing[@]}"; do
  case $package in *:*) dpkg --add-architecture "${package#*:}" ;; esac
done
# A mirror caught mid-sync fails one index now and then: try again, then install from
# what was fetched, which fails plainly if a package is really out of reach.
apt-get update -qq || { sleep 10; apt-get update -qq; } ||
  echo "install-deps.sh: apt-get update failed for some index; installing from what it fetched" >&2
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
