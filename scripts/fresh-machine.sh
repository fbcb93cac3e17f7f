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
#
# What runs in the new system, and debootstrap making one, runs in a PID and mount
# namespace of its own: its mounts are seen nowhere else and go with its last process,
# and ending the namespace's first process ends every process in it. So when SIGINT,
# SIGTERM or SIGHUP stops this script, at any point, it ends them all, removes the
# system (or the half-made base), and then ends by that signal.
set -euo pipefail
release=${1:-}
[ -n "$release" ] && [ $# -eq 1 ] || { echo "usage: fresh-machine.sh RELEASE (bookworm, trixie, ...)" >&2; exit 2; }
fail() { echo "fresh-machine.sh: $release: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || fail "needs root (debootstrap, chroot and namespaces)"
source=$(cd "$(dirname "$0")/.." && pwd)
cache=${VELMORAN_FRESH_CACHE:-/var/cache/velmoran/fresh}
base=$cache/$release-minbase.tar
inner= staging= machine=

# Runs COMMAND... in the background in a PID and mount namespace of its own; sets inner.
isolate() {
  unshare --fork --pid --mount --propagation private --kill-child "$@" &
  inner=$!
}
# Ends whatever runs in the namespace and waits, 30 s at most, until nothing does: killing
# unshare kills its first process (--kill-child), whose end takes every other process
# of the namespace with it.
end_isolated() {
  [ -n "$inner" ] || return 0
  local first= state process
  for process in /proc/[0-9]*; do
    [ "$(sed 's/.*) //' "$process/stat" 2>/dev/null | cut -d ' ' -f 2)" != "$inner" ] || first=${process#/proc/}
  done
  kill -KILL "$inner" 2>/dev/null || true
  wait "$inner" 2>/dev/null || true
  inner=
  for _ in $(seq 150); do
    state=$(sed 's/.*) //' "/proc/$first/stat" 2>/dev/null | cut -d ' ' -f 1)
    [ -z "$first" ] || [ -z "$state" ] || [ "$state" = Z ] && return 0
    sleep 0.2
  done
  echo "fresh-machine.sh: process $first of the system still runs after 30 s" >&2
}
# Removes what this run made, once nothing runs in it; a folder that still shows a mount
# here is left in place rather than emptied through it.
remove() {
  local folder=$1
  [ -n "$folder" ] && [ -e "$folder" ] || return 0
  if awk -v root="$folder/" 'index($2, root) == 1 { found = 1 } END { exit !found }' /proc/mounts; then
    echo "fresh-machine.sh: $folder still has mounts; left in place" >&2
  else
    rm -rf --one-file-system "$folder" "$folder.log"
  fi
}
cleanup() {
  end_isolated
  remove "$staging"
  remove "$machine"
}
stop() {
  trap '' INT TERM HUP
  echo "fresh-machine.sh: $release: stopped by SIG$1; ending what runs in the system and removing it" >&2
  cleanup
  trap - EXIT "$1"
  kill -"$1" $$
}
trap cleanup EXIT
for signal in INT TERM HUP; do trap "stop $signal" "$signal"; done

if ! command -v debootstrap >/dev/null; then
  # A mirror caught mid-sync fails one index now and then (install-deps.sh does the same).
  apt-get update -qq >/dev/null 2>&1 || { sleep 10; apt-get update -qq >/dev/null 2>&1; } ||
    echo "fresh-machine.sh: apt-get update failed for some index; installing from what it fetched" >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null ||
    fail "cannot install debootstrap"
fi
if [ -z "$(find "$base" -mtime -7 2>/dev/null)" ]; then
  echo "fresh-machine.sh: making a minimal Debian $release system (debootstrap)"
  mkdir -p "$cache"
  staging=$(mktemp -d "$cache/$release-XXXXXX")
  status=0
  isolate debootstrap --variant=minbase --include=git,ca-certificates "$release" "$staging" >"$staging.log" 2>&1
  wait "$inner" || status=$?
  inner=
  [ $status -eq 0 ] || { tail -n 20 "$staging.log" >&2; fail "debootstrap failed (log above)"; }
  # Numeric owners: the system's own users, not this machine's of the same names.
  tar --numeric-owner -C "$staging" -cf "$base.part" . && mv "$base.part" "$base"
  remove "$staging"
  staging=
fi

machine=$(mktemp -d /var/tmp/velmoran-fresh-$release-XXXXXX)
tar --numeric-owner -C "$machine" -xf "$base"
# As on any machine, every user may reach /: mktemp made it 0700, and so does the base
# made in such a folder.
chmod 0755 "$machine"
cp -L /etc/resolv.conf "$machine/etc/resolv.conf"
mkdir -p "$machine/mnt/velmoran"

echo "fresh-machine.sh: Debian $(cat "$machine/etc/debian_version") ($release), clone in /root/velmoran"
start=$SECONDS
status=0
isolate --mount-proc="$machine/proc" bash -c '
  set -e
  machine=$1 source=$2
  mount -t sysfs sysfs "$machine/sys"
  mount --rbind /dev "$machine/dev"
  mount --bind -o ro "$source" "$machine/mnt/velmoran"
  exec chroot "$machine" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root CI=true bash -c "
    set -e
    git config --global --add safe.directory /mnt/velmoran
    git clone -q /mnt/velmoran /root/velmoran
    cd /root/velmoran
    scripts/run-example.sh
    scripts/test.sh"' fresh-machine "$machine" "$source"
wait "$inner" || status=$?
inner=
echo "fresh-machine.sh: Debian $release: the README's commands $([ $status -eq 0 ] && echo passed || echo "FAILED (exit $status)") in $((SECONDS - start)) s"
exit $status
