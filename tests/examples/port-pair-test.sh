#!/usr/bin/env bash
# velmoran-sim on an existing port, one end of a null-modem pair, and velmoran on the
# other end, as a user rehearses with two virtual COM ports joined in the driver.
#   port-pair-test.sh native OUTCOME SIM TOOL                  the native programs
#   port-pair-test.sh wine OUTCOME SIM_EXE TOOL_EXE WINE_SH    the Windows programs under
#                                                              Wine, on COM21 and COM20
# OUTCOME: acknowledged or silent. Natively the stand-in's port must have its earlier
# settings back once the stand-in has exited.
set -euo pipefail
kind=$1 outcome=$2 sim=$3 tool=$4 wine=${5:-}
fail() { echo "port-pair-test: $*" >&2; exit 1; }
scratch=$(mktemp -d)
trap 'kill ${standin:-} 2>/dev/null || true; null_modem_close; rm -rf "$scratch"' EXIT
. "$(dirname "$0")/../support/standin-lines.sh"

case $outcome in
  acknowledged) options=() status=0 last="Received: 0x06 " seen="replied 0x06 after 0 ms" ;;
  silent) options=(--silent) status=7 last="No acknowledgment received" seen="no reply" ;;
  *) fail "unknown outcome $outcome" ;;
esac

null_modem_open "$scratch"
if [ "$kind" = wine ]; then
  ln -sfn "$line_a" "$WINEPREFIX/dosdevices/com20"
  ln -sfn "$line_b" "$WINEPREFIX/dosdevices/com21"
  sim_word=COM21 tool_word=COM20
  run=("$wine" run)
else
  sim_word=$line_b tool_word=$line_a
  run=()
  # Settings that the stand-in changes (a pseudo-terminal keeps no parity and no data bits
  # but 8), so that only putting them back restores them.
  stty -F "$line_b" 9600 ixon icanon echo opost
  before=$(stty -F "$line_b" -g)
fi

standin_start "$scratch/sim.log" "${run[@]}" "$sim" "$sim_word" --frames 1 "${options[@]}"
[ "$standin_line" = "$sim_word" ] || fail "the stand-in's first line is '$standin_line', not $sim_word"
out=$("${run[@]}" "$tool" "$tool_word" 0x1FFFFFF0 0x01 0x02 | tr -d '\r') && ended=0 || ended=$?
# It exits once it has served its one frame.
for _ in $(seq 100); do kill -0 "$standin" 2>/dev/null || break; sleep 0.05; done
! kill -0 "$standin" 2>/dev/null || fail "the stand-in did not exit after its frame"
wait "$standin" || fail "the stand-in ended with status $?"
standin=

echo "$out"
expected="Program to select CAN ID for download, Version 1.00
Opened serial port $tool_word successfully
Sent ID: 0x1FFFFFF0 Data: 0x01 0x02 
$last"
[ "$out" = "$expected" ] || fail "velmoran printed other lines than:
$expected"
[ "$ended" = "$status" ] || fail "velmoran ended with $ended, not $status"
frame=$(sed -n 2p "$scratch/sim.log" | tr -d '\r')
[ "$frame" = "frame ID 0x1FFFFFF0 data 01 02: sound, $seen" ] || fail "the stand-in saw: $frame"
if [ "$kind" = native ]; then
  [ "$(stty -F "$line_b" -g)" = "$before" ] || fail "the stand-in left its port at: $(stty -F "$line_b" -a)"
fi
