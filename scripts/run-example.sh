#!/usr/bin/env bash
# The tool's main job end to end with no hardware: builds velmoran and the stand-in
# device, starts velmoran-sim, sends ID 0x1FFFFFF0 with data bytes 0x01 0x02 to it,
# shows both sides' output and stops the stand-in. It ends in every case with velmoran's
# exit code: a stand-in still waiting for a frame that velmoran never sent (a port it
# could not open, say) is stopped, and so is one left running when this script is.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh native
cmake --preset default >/dev/null
cmake --build --preset default --target velmoran velmoran-sim >/dev/null

build=build/default
device_log=$(mktemp)
sim=
# SIGTERM lets the stand-in put its line back before it ends.
stop_standin() {
  [ -n "$sim" ] || return 0
  kill "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
  sim=
}
trap 'stop_standin; rm -f "$device_log"' EXIT
for signal in INT TERM HUP; do trap "exit $((128 + $(kill -l $signal)))" $signal; done
"$build/velmoran-sim" --frames 1 >"$device_log" &
sim=$!

port=""
for _ in $(seq 100); do
  port=$(head -n 1 "$device_log")
  [ -n "$port" ] && break
  kill -0 "$sim" 2>/dev/null || break
  sleep 0.05
done
[ -n "$port" ] || { echo "velmoran-sim did not start" >&2; exit 1; }

echo "\$ velmoran $port 0x1FFFFFF0 0x01 0x02"
status=0
"$build/velmoran" "$port" 0x1FFFFFF0 0x01 0x02 || status=$?
echo "(exit code $status)"
# Served its one frame, the stand-in ends by itself; one that got none is stopped.
for _ in $(seq 40); do kill -0 "$sim" 2>/dev/null || break; sleep 0.05; done
stop_standin
echo
echo "velmoran-sim saw:"
cat "$device_log"
exit "$status"
