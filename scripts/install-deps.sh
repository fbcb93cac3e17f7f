#!/usr/bin/env bash
# Installs the Debian packages a leg of the build needs, where they are missing.
#   install-deps.sh native    compiler, CMake, GoogleTest
#   install-deps.sh all       also the Windows cross-build and Wine, and clang for fuzzing
set -euo pipefail

packages=(cmake g++ make libgtest-dev)
if [ "${1:-native}" = all ]; then
  packages+=(g++-mingw-w64-x86-64 googletest wine64 clang libclang-rt-14-dev)
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]} (run as root, or install them with apt-get)" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
