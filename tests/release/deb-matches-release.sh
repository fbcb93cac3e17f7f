#!/usr/bin/env bash
# The .deb and the tarball that the test run built for ARCH (deb_package_installs_and_runs,
# in BUILD_DIR) against that ARCH's release, made by scripts/release.sh from a copy of the
# checkout in another folder, later, under another TZ and umask: the same bytes.
#   deb-matches-release.sh SOURCE BUILD_DIR VERSION ARCH      (amd64, arm64, armhf)
set -euo pipefail
source=$(cd "$1" && pwd) build=$2 version=$3 arch=$4
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
. "$here/copy-checkout.sh"
release=$scratch/other/velmoran
copy_checkout "$source" "$release"
# At the lowest priority: the cases beside this one time replies to the millisecond.
(umask 077 && TZ=America/St_Johns nice -n 19 "$release/scripts/release.sh" --allow-dirty --only "$arch") ||
  { echo "deb-matches-release: the $arch release failed" >&2; exit 1; }
for artifact in "velmoran_${version}_$arch.deb" "velmoran-$version-linux-$arch.tar.gz"; do
  cmp "$build/$artifact" "$release/dist/$artifact" ||
    { echo "deb-matches-release: $artifact differs from the release's" >&2; exit 1; }
  echo "the same bytes: $artifact"
done
