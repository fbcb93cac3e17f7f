#!/usr/bin/env bash
# Runs a download script from examples/ through one outcome against the stand-in device,
# as a user would; or checks that the README shows the script as it stands.
#   examples-test.sh sh OUTCOME SIM TOOL_DIR           download.sh natively, velmoran from TOOL_DIR
#   examples-test.sh bat OUTCOME SIM EXE_DIR WINE_SH   download.bat under Wine's cmd (WINEPREFIX set)
# OUTCOME: acknowledged, answered_on_retry, silent, missing_port, wrong_word or shown_in_readme.
set -euo pipefail
kind=$1 outcome=$2 sim=$3 tools=$4 wine=${5:-}
root=$(cd "$(dirname "$0")/../.." && pwd)
script=$root/examples/download.$kind
fail() { echo "examples-test: $*" >&2; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"; [ -z "${device:-}" ] || kill "$device" 2>/dev/null || true' EXIT

if [ "$outcome" = shown_in_readme ]; then
  readme=$(<"$root/README.md")
  [[ $readme == *"$(tr -d '\r' <"$script")"* ]] || fail "README.md does not show $script as it stands"
  exit 0
fi

# The stand-in's options (none: no device, the port is missing), the ID word, then what
# the script must end with: its status, its last line and the frames the device saw.
case $outcome in
  acknowledged) options=(--reply-byte 06) id=0x1FFFFFF0 status=0 frames=1 last="Device selected: starting the download." ;;
  answered_on_retry) options=(--ignore-first 1) id=0x1FFFFFF0 status=0 frames=2 last="Device selected: starting the download." ;;
  silent) options=(--silent) id=0x1FFFFFF0 status=1 frames=3 last="No acknowledgment after 3 tries." ;;
  missing_port) options=() id=0x1FFFFFF0 status=2 frames=0 last="Port missing or held by another program." ;;
  wrong_word) options=(--silent) id=xyz status=3 frames=0 last="Wrong words on the command line." ;;
  *) fail "unknown outcome $outcome" ;;
esac

port=/dev/velmoran-no-such-port
if [ ${#options[@]} -gt 0 ]; then
  "$sim" "${options[@]}" >"$scratch/device.log" &
  device=$!
  for _ in $(seq 100); do [ -s "$scratch/device.log" ] && break; sleep 0.05; done
  port=$(head -n 1 "$scratch/device.log")
fi
if [ "$kind" = bat ]; then
  # COM21 is the stand-in's terminal in the Wine prefix, or nothing at all.
  rm -f "$WINEPREFIX/dosdevices/com21"
  [ -z "${device:-}" ] || ln -s "$port" "$WINEPREFIX/dosdevices/com21"
  cp "$script" "$tools/velmoran.exe" "$scratch/"
  out=$(cd "$scratch" && "$wine" run cmd /c download.bat COM21 "$id" 0x01 0x02) && ended=0 || ended=$?
else
  out=$(cd "$scratch" && PATH=$tools:$PATH sh "$script" "$port" "$id" 0x01 0x02) && ended=0 || ended=$?
fi
if [ -n "${device:-}" ]; then
  kill "$device" && wait "$device" || true
  device=
fi
seen=$(grep -c '^frame ' "$scratch/device.log" 2>/dev/null || true)
echo "$out"
[ "$ended" = "$status" ] || fail "the script ended with $ended, not $status"
[ "$(tr -d '\r' <<<"$out" | tail -n 1)" = "$last" ] || fail "the script's last line is not: $last"
[ "${seen:-0}" = "$frames" ] || fail "the device saw ${seen:-0} frames, not $frames"
