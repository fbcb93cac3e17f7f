#!/usr/bin/env bash
# The README's two commands as a newcomer meets them: a fresh minimal Debian RELEASE
# system (debootstrap --variant=minbase, with git and ca-certificates), this project
# cloned into /root there, then scripts/run-example.sh and scripts/test.sh run as root
# with a bare environment (and CI=true, so that no leg may skip).
#   fresh-machine.sh RELEASE    bookworm (12), trixie (13), ...
# The minimal base system is kept between runs in VELMORAN_FRESH_CACHE (default
# /var/cache/velmoran/fresh) and refreshed after a week; everything the README's
# commands install, they install in each run. Needs root, and debootstrap (installed
# when missing).
set -euo pipefail
release=${1:-}
[ -n "$release" ] && [ $# -eq 1 ] || { echo "usage: fresh-machine.sh RELEASE (bookworm, trixie, ...)" >&2; exit 2; }
fail() { echo "fresh-machine.sh: $release: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || fail "needs root (debootstrap and chroot)"
source=$(cd "$(dirname "$0")/.." && pwd)
cache=${VELMORAN_FRESH_CACHE:-/var/cache/velmoran/fresh}
base=$cache/$release-minbase.tar

if ! command -v debootstrap >/dev/null; then
  { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap; } \
    >/dev/null || fail "cannot install debootstrap"
fi
if [ -z "$(find "$base" -mtime -7 2>/dev/null)" ]; then
  echo "fresh-machine.sh: making a minimal Debian $release system (debootstrap)"
  mkdir -p "$cache"
  staging=$(mktemp -d "$cache/$release-XXXXXX")
  debootstrap --variant=minbase --include=git,ca-certificates "$release" "$staging" >"$staging.log" 2>&1 ||
    { tail -n 20 "$staging.log" >&2; rm -rf --one-file-system "$staging"; fail "debootstrap failed (log above)"; }
  # Numeric owners: the system's own users, not this machine's of the same names.
  tar --numeric-owner -C "$staging" -cf "$base.part" . && mv "$base.part" "$base"
  rm -rf --one-file-system "$staging" "$staging.log"
fi

machine=$(mktemp -d /var/tmp/velmoran-fresh-$release-XXXXXX)
# Unmounted before anything is removed: the machine's /dev is bound into it.
cleanup() {
  local mounts
  mounts=$(awk -v root="$machine/" 'index($2, root) == 1 { print $2 }' /proc/mounts | sort -r)
  for mount in $mounts; do umount -l "$mount" 2>/dev/null || true; done
  if awk -v root="$machine/" 'index($2, root) == 1 { found = 1 } END { exit !found }' /proc/mounts; then
    echo "fresh-machine.sh: $machine still has mounts; left in place" >&2
  else
    rm -rf --one-file-system "$machine"
  fi
}
trap cleanup EXIT
tar --numeric-owner -C "$machine" -xf "$base"
# As on any machine, every user may reach /: mktemp made it 0700, and so does the base
# made in such a folder.
chmod 0755 "$machine"
cp -L /etc/resolv.conf "$machine/etc/resolv.conf"
mount -t proc proc "$machine/proc"
mount -t sysfs sysfs "$machine/sys"
mount --rbind /dev "$machine/dev" && mount --make-rslave "$machine/dev"
mkdir -p "$machine/mnt/velmoran"
mount --bind -o ro "$source" "$machine/mnt/velmoran"

echo "fresh-machine.sh: Debian $(cat "$machine/etc/debian_version") ($release), clone in /root/velmoran"
start=$SECONDS
status=0
chroot "$machine" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root CI=true bash -c '
  set -e
  git config --global --add safe.directory /mnt/velmoran
  git clone -q /mnt/velmoran /root/velmoran
  cd /root/velmoran
  scripts/run-example.sh
  scripts/test.sh' || status=$?
echo "fresh-machine.sh: Debian $release: the README's commands $([ $status -eq 0 ] && echo passed || echo "FAILED (exit $status)") in $((SECONDS - start)) s"
exit $status
