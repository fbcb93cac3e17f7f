#!/usr/bin/env bash
# Installs the Debian packages that legs of the build need, where they are missing.
#   install-deps.sh [LEG...]   native (the default), windows, fuzz
#     native    compiler, CMake, GoogleTest, groff (to check the man pages), strace (to
#               see the line settings the tool asks for)
#     windows   the MinGW-w64 cross-compiler, GoogleTest's sources for it, and Wine
#     fuzz      clang and its libFuzzer runtime
set -euo pipefail

packages=()
for leg in "${@:-native}"; do
  case $leg in
    native) packages+=(cmake g++ make libgtest-dev groff-base strace) ;;
    windows) packages+=(g++-mingw-w64-x86-64 googletest wine64) ;;
    fuzz) packages+=(clang libclang-rt-14-dev) ;;
    *) echo "install-deps.sh: unknown leg '$leg' (native, windows, fuzz)" >&2; exit 2 ;;
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
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
