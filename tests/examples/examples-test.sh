#!/usr/bin/env bash
# Runs a download script from examples/ through one outcome against the stand-in device,
# as a user would; or checks that the README shows the script as it stands (the batch
# file: the shell script it only names).
#   examples-test.sh sh OUTCOME SIM TOOL_DIR
#       download.sh natively, velmoran from TOOL_DIR, the stand-in on a pseudo-terminal
#   examples-test.sh bat OUTCOME SIM_EXE EXE_DIR WINE_SH CRASHING_EXE
#       download.bat under Wine's cmd (WINEPREFIX set) on COM20, velmoran.exe from EXE_DIR,
#       velmoran-sim.exe on COM21, the other end of a null-modem pair; CRASHING_EXE ends as
#       a velmoran.exe that crashed does
# OUTCOME: acknowledged, answered_on_retry, silent, missing_port, wrong_word, did_not_run
# or shown_in_readme. The stand-in runs in every outcome, and one that did not start
# fails it.
set -euo pipefail
kind=$1 outcome=$2 sim=$3 tools=$4 wine=${5:-} crashing=${6:-}
root=$(cd "$(dirname "$0")/../.." && pwd)
script=$root/examples/download.$kind
fail() { echo "examples-test: $*" >&2; exit 1; }
scratch=$(mktemp -d)
trap 'kill ${standin:-} 2>/dev/null || true; null_modem_close; rm -rf "$scratch"' EXIT
. "$root/tests/support/standin-lines.sh"

if [ "$outcome" = shown_in_readme ]; then
  readme=$(<"$root/README.md")
  [[ $readme == *"$(tr -d '\r' <"$script")"* ]] || fail "README.md does not show $script as it stands"
  exit 0
fi

# A run that ended with no status of velmoran's own: a signal natively, and under Windows
# an access violation's 0xC0000005, which a batch file sees as below 0.
crashed=$([ "$kind" = bat ] && echo -1073741819 || echo 139)
# The stand-in's options, the ID word, then what the script must end with: its status, its
# last line and the frames the device saw.
options=(--silent) id=0x1FFFFFF0
case $outcome in
  acknowledged) options=(--reply-byte 06) status=0 frames=1 last="Device selected: starting the download." ;;
  answered_on_retry) options=(--ignore-first 1) status=0 frames=2 last="Device selected: starting the download." ;;
  silent) status=1 frames=3 last="No acknowledgment after 3 tries." ;;
  missing_port) status=2 frames=0 last="Port missing or held by another program." ;;
  wrong_word) id=xyz status=3 frames=0 last="Wrong words on the command line." ;;
  did_not_run) status=4 frames=0 last="velmoran did not run (status $crashed)." ;;
  *) fail "unknown outcome $outcome" ;;
esac

if [ "$kind" = bat ]; then
  null_modem_open "$scratch"
  ln -sfn "$line_a" "$WINEPREFIX/dosdevices/com20"
  ln -sfn "$line_b" "$WINEPREFIX/dosdevices/com21"
  rm -f "$WINEPREFIX/dosdevices/com22"
  standin_start "$scratch/device.log" "$wine" run "$sim" COM21 "${options[@]}"
  port=COM20
  [ "$outcome" != missing_port ] || port=COM22
  cp "$script" "$tools/velmoran.exe" "$scratch/"
  [ "$outcome" != did_not_run ] || cp "$crashing" "$scratch/velmoran.exe"
  out=$(cd "$scratch" && "$wine" run cmd /c download.bat "$port" "$id" 0x01 0x02) && ended=0 || ended=$?
else
  standin_start "$scratch/device.log" "$sim" "${options[@]}"
  port=$standin_line
  [ "$outcome" != missing_port ] || port=/dev/velmoran-no-such-port
  if [ "$outcome" = did_not_run ]; then
    tools=$scratch/crashing && mkdir "$tools"
    printf '#!/bin/sh\nkill -SEGV $$\n' >"$tools/velmoran" && chmod +x "$tools/velmoran"
  fi
  out=$(cd "$scratch" && PATH=$tools:$PATH sh "$script" "$port" "$id" 0x01 0x02) && ended=0 || ended=$?
fi
kill "$standin" && wait "$standin" || true
standin=
seen=$(grep -c '^frame ' "$scratch/device.log" || true)
echo "$out"
[ "$ended" = "$status" ] || fail "the script ended with $ended, not $status"
[ "$(tr -d '\r' <<<"$out" | tail -n 1)" = "$last" ] || fail "the script's last line is not: $last"
[ "$seen" = "$frames" ] || fail "the device saw $seen frames, not $frames"
