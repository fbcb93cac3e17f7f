#!/usr/bin/env bash
# The tool's main job end to end with no hardware: builds velmoran and the stand-in
# device, starts velmoran-sim, sends ID 0x1FFFFFF0 with data bytes 0x01 0x02 to it,
# shows both sides' output and stops the stand-in.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh native
cmake --preset default >/dev/null
cmake --build --preset default --target velmoran velmoran-sim >/dev/null

build=build/default
device_log=$(mktemp)
trap 'kill "$sim" 2>/dev/null || true; rm -f "$device_log"' EXIT
"$build/velmoran-sim" --frames 1 >"$device_log" &
sim=$!

port=""
for _ in $(seq 100); do
  port=$(head -n 1 "$device_log")
  [ -n "$port" ] && break
  sleep 0.05
done
[ -n "$port" ] || { echo "velmoran-sim did not start" >&2; exit 1; }

echo "\$ velmoran $port 0x1FFFFFF0 0x01 0x02"
status=0
"$build/velmoran" "$port" 0x1FFFFFF0 0x01 0x02 || status=$?
echo "(exit code $status)"
wait "$sim" || true
echo
echo "velmoran-sim saw:"
cat "$device_log"
exit "$status"
