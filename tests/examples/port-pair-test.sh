#!/usr/bin/env bash
# velmoran-sim on an existing port, one end of a null-modem pair, and velmoran on the
# other end, as a user rehearses with two virtual COM ports joined in the driver; then the
# stand-in's port must be as it was before the stand-in took it.
#   port-pair-test.sh native END SIM TOOL                  the native programs; END is how
#                                                          the stand-in ends (below)
#   port-pair-test.sh wine END SIM_EXE TOOL_EXE WINE_SH LINE_RATE
#                                                          the Windows programs under
#                                                          Wine, on COM21 and COM20
# Natively, END: served (its one frame, with stale bytes waiting on the line before it
# starts and hardware flow control on, which it must turn off), signal/SIGNAME (any
# signal that would end it, after a frame: it ends by that signal), sigint_ignored
# (started with SIGINT ignored, as a shell starts what it puts in the background: it
# keeps serving), reader_gone (its output's reader has gone before the frame),
# sigterm_in_delay (while it waits out a long reply delay: it ends within a second,
# sending no reply), closed_handles (started with its standard handles closed: it serves
# its port), closed_handles_own_line (the same on a pseudo-terminal of its own: a stop
# during a reply delay ends it at once, and the wait costs no CPU time), own_terminal
# (its port is the terminal on its standard input: refused) or split_frame (a frame in two
# pieces 20 ms apart, as a USB bridge passes it on: one frame, one reply), held_port
# (velmoran given the stand-in's port: refused, the holder named) or no_rights (velmoran as
# user 65534 on a port open only to a group it is not in: refused, the fix named). After each,
# the port has its earlier settings and an ordinary user may open it (root passes an
# exclusive flag left set; user 65534 does not).
# Under Wine, END is acknowledged, silent or late (its one frame served; a late reply is
# said on standard error with the time it came, not the time the listening ended) or
# ctrl_c, and the port's rate must be back.
set -euo pipefail
kind=$1 case=$2 sim=$3 tool=$4 wine=${5:-} line_rate=${6:-}
fail() { echo "port-pair-test: $*" >&2; exit 1; }
scratch=$(mktemp -d)
trap 'kill ${standin:-} 2>/dev/null || true; null_modem_close; rm -rf "$scratch"' EXIT
. "$(dirname "$0")/../support/standin-lines.sh"

null_modem_open "$scratch"
# Settings that the stand-in changes (a pseudo-terminal keeps no parity and no data bits
# but 8), so that only putting them back restores them.
stty -F "$line_b" 9600 ixon icanon echo opost crtscts -clocal
before=$(stty -F "$line_b" -g)

# Runs velmoran on the other end: sets out (its lines) and ended (its status).
run_tool() {
  out=$("${run[@]}" "$tool" "$tool_word" 0x1FFFFFF0 0x01 0x02 2>"$scratch/tool.err" | tr -d '\r') && ended=0 || ended=$?
}
expect_tool() {
  local status=$1 last=$2 expected
  expected=$(tool_lines "$tool_word" "$last")
  [ "$out" = "$expected" ] || fail "velmoran printed:
$out
not:
$expected"
  [ "$ended" = "$status" ] || fail "velmoran ended with $ended, not $status"
}
# Waits up to 5 s for the stand-in to end and sets sim_status to its exit status.
wait_standin() {
  for _ in $(seq 100); do kill -0 "$standin" 2>/dev/null || break; sleep 0.05; done
  ! kill -0 "$standin" 2>/dev/null || fail "the stand-in did not end"
  wait "$standin" && sim_status=0 || sim_status=$?
  standin=
}
frame_seen() {
  local frame
  frame=$(sed -n 2p "$scratch/sim.log" | tr -d '\r')
  [ "$frame" = "frame ID 0x1FFFFFF0 data 01 02: sound, $1" ] || fail "the stand-in saw: $frame"
}

if [ "$kind" = wine ]; then
  ln -sfn "$line_a" "$WINEPREFIX/dosdevices/com20"
  ln -sfn "$line_b" "$WINEPREFIX/dosdevices/com21"
  tool_word=COM20 run=("$wine" run)
  frames=(--frames 1) sim_end=0 options=() status=0 last="Received: 0x06 " seen="replied 0x06 after 0 ms"
  case $case in
    acknowledged) ;;
    silent) options=(--silent) status=7 last="No acknowledgment received" seen="no reply" ;;
    late) options=(--delay 30) status=7 last="No acknowledgment received" seen="replied 0x06 after 30 ms" ;;
    # Wine turns SIGINT into the console's Ctrl-C event; 0xC000013A ends in 0x3A.
    ctrl_c) frames=() sim_end=58 ;;
    *) fail "unknown outcome $case" ;;
  esac
  standin_start "$scratch/sim.log" env --default-signal=INT "${run[@]}" "$sim" COM21 "${frames[@]}" "${options[@]}"
  [ "$standin_line" = COM21 ] || fail "the stand-in's first line is '$standin_line', not COM21"
  run_tool
  [ "$case" != ctrl_c ] || kill -INT "$standin"
  wait_standin
  [ "$sim_status" = "$sim_end" ] || fail "the stand-in ended with status $sim_status, not $sim_end"
  expect_tool "$status" "$last"
  frame_seen "$seen"
  if [ "$case" = late ]; then
    said=$(tr -d '\r' <"$scratch/tool.err")
    [[ $said =~ ^"velmoran: a reply came late on COM20: 0x06, "(29|[34][0-9]|5[0-5])\.[0-9]" ms after the frame went out" ]] ||
      fail "velmoran said of the reply 30 ms after the frame: $said"
  fi
  # Of the settings it puts back, Wine shows for certain the rate (Wine 10 as a number
  # with BOTHER, which stty does not read).
  rate=$("$line_rate" "$line_b") || fail "cannot read COM21's rate"
  [ "$rate" = 9600 ] || fail "the stand-in left COM21 at $rate baud"
  exit 0
fi

tool_word=$line_a run=()
# The stand-in, on its port; every signal at its default, as a shell that starts a
# command in the background does not leave SIGINT and SIGQUIT.
start() { standin_start "$scratch/sim.log" env --default-signal "$sim" "$line_b" "$@"; }
chmod 0666 "$line_b"
# Whatever reached the tool's line since it last let go of it, within 0.2 s.
bytes_at_tool() { sleep 0.2; timeout 1 dd if="$line_a" bs=64 count=1 iflag=nonblock 2>/dev/null | od -An -tx1 | tr -d ' \n'; }
# Runs velmoran until the stand-in, which prints nothing, acknowledges with 0x06 (5 s at
# most): a frame sent before it has set its line up goes unanswered, is flushed, or comes
# back as the line's echo.
run_tool_until_acknowledged() {
  for _ in $(seq 100); do
    run_tool
    [ "$ended" != 0 ] || [[ $out != *"Received: 0x06 " ]] || return 0
    kill -0 "$standin" 2>/dev/null || fail "the stand-in ended before it served a frame"
    sleep 0.05
  done
  fail "the stand-in never acknowledged"
}
# SIGTERM while the stand-in waits out its reply delay: it must end by it within a second.
stop_in_delay() {
  local stopped took
  stopped=$(date +%s%N)
  kill -TERM "$standin"
  wait_standin
  took=$((($(date +%s%N) - stopped) / 1000000))
  [ "$sim_status" = 143 ] || fail "the stand-in ended with status $sim_status, not by SIGTERM"
  [ "$took" -lt 1000 ] || fail "the stand-in took $took ms to end after SIGTERM in its reply delay"
}
# The stand-in's CPU time so far, in clock ticks.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$standin/stat"; }
case $case in
  served)
    # Half a frame, as a device left by an earlier run would have sent it.
    printf '\x09\x36\x26\x1F' >"$line_a"
    sleep 0.1
    start --frames 1
    flow=$(stty -F "$line_b" -a)
    [[ $flow == *-crtscts* && $flow == *" clocal"* ]] || fail "the stand-in serves its line with: $flow"
    run_tool
    wait_standin
    [ "$sim_status" = 0 ] || fail "the stand-in ended with status $sim_status"
    expect_tool 0 "Received: 0x06 "
    frame_seen "replied 0x06 after 0 ms" ;;
  signal/*)
    signal=${case#signal/}
    start
    run_tool
    expect_tool 0 "Received: 0x06 "
    kill -"$signal" "$standin"
    wait_standin
    [ "$sim_status" = $((128 + $(kill -l "$signal"))) ] ||
      fail "the stand-in ended with status $sim_status, not by $signal" ;;
  sigint_ignored)
    standin_start "$scratch/sim.log" env --ignore-signal=INT "$sim" "$line_b"
    kill -INT "$standin"
    sleep 0.2
    kill -0 "$standin" 2>/dev/null || fail "SIGINT, ignored when it started, ended the stand-in"
    run_tool
    expect_tool 0 "Received: 0x06 "
    kill -TERM "$standin"
    wait_standin
    [ "$sim_status" = 143 ] || fail "the stand-in ended with status $sim_status, not by SIGTERM" ;;
  closed_handles)
    env --default-signal "$sim" "$line_b" <&- >&- 2>&- &
    standin=$!
    run_tool_until_acknowledged
    expect_tool 0 "Received: 0x06 "
    kill -TERM "$standin"
    wait_standin
    [ "$sim_status" = 143 ] || fail "the stand-in ended with status $sim_status, not by SIGTERM" ;;
  closed_handles_own_line)
    env --default-signal "$sim" --delay 3000 <&- >&- 2>&- &
    standin=$!
    # Read link by link: a descriptor the starting stand-in closes while find walks them
    # made find fail, and under pipefail that ended this script without a word.
    own=
    for _ in $(seq 100); do
      for descriptor in "/proc/$standin/fd"/*; do
        link=$(readlink "$descriptor" 2>/dev/null) || continue
        case $link in /dev/pts/*) own=$link && break ;; esac
      done
      [ -n "$own" ] && break
      sleep 0.05
    done
    [ -n "$own" ] || fail "the stand-in made no pseudo-terminal"
    tool_word=$own
    run_tool
    expect_tool 7 "No acknowledgment received"
    ticks=$(cpu_ticks)
    sleep 0.5
    ticks=$(($(cpu_ticks) - ticks))
    stop_in_delay
    [ "$ticks" -le 10 ] || fail "the stand-in used $ticks clock ticks of CPU time in half a second of waiting"
    exit 0 ;;
  reader_gone)
    # Like velmoran-sim PORT | head -n 1: the reader takes the first line and is gone.
    mkfifo "$scratch/output"
    env --default-signal=PIPE "$sim" "$line_b" >"$scratch/output" 2>"$scratch/sim.err" &
    standin=$!
    read -r first <"$scratch/output"
    [ "$first" = "$line_b" ] || fail "the stand-in's first line is '$first'"
    run_tool
    expect_tool 0 "Received: 0x06 "
    wait_standin
    [ "$sim_status" = 1 ] || fail "the stand-in ended with status $sim_status, not 1: $(cat "$scratch/sim.err")" ;;
  sigterm_in_delay)
    start --delay 8000
    run_tool
    expect_tool 7 "No acknowledgment received"
    stop_in_delay
    frame_seen "stopped before replying"
    late=$(bytes_at_tool)
    [ -z "$late" ] || fail "the stand-in, stopped in its reply delay, still sent: $late" ;;
  split_frame)
    start --frames 1
    { printf '\x09\x36\x26' && sleep 0.02 && printf '\x1F\xFF\xFF\xF0\x01\x02'; } >"$line_a"
    wait_standin
    [ "$sim_status" = 0 ] || fail "the stand-in ended with status $sim_status"
    frame_seen "replied 0x06 after 0 ms"
    replies=$(bytes_at_tool)
    [ "$replies" = 06 ] || fail "the stand-in answered the frame in pieces with: $replies" ;;
  held_port)
    # velmoran given the port the stand-in holds: exit 3, and on standard error the
    # program that holds it.
    start
    out=$("$tool" "$line_b" 0x1FFFFFF0 0x01 0x02 2>"$scratch/err") && ended=0 || ended=$?
    [ "$ended" = 3 ] && [ "$out" = "Program to select CAN ID for download, Version 1.00
Error opening serial port $line_b" ] || fail "velmoran on the held port ended with $ended after: $out"
    said=$(cat "$scratch/err")
    [ "$said" = "velmoran: $line_b is in use by another program, velmoran-sim (PID $standin): close it, then run again." ] ||
      fail "velmoran on the held port said: $said"
    kill -TERM "$standin" && wait_standin ;;
  no_rights)
    # An ordinary user, not in the group the port is open to.
    chgrp dialout "$line_a" && chmod 0660 "$line_a"
    out=$(setpriv --reuid=65534 --regid=65534 --clear-groups "$tool" "$line_a" 0x1FFFFFF0 0x01 0x02 2>"$scratch/err") &&
      ended=0 || ended=$?
    [ "$ended" = 3 ] && [ "$out" = "Program to select CAN ID for download, Version 1.00
Error opening serial port $line_a" ] || fail "velmoran without rights ended with $ended after: $out"
    said=$(cat "$scratch/err")
    [ "$said" = "velmoran: no permission to open $line_a: it is open to group dialout, which nobody is not in: run \
'sudo usermod -aG dialout nobody', then log out and in again." ] || fail "velmoran without rights said: $said"
    exit 0 ;;
  own_terminal)
    # In a session of its own, with no controlling terminal: only its standard input says
    # whose terminal this is.
    sim_status=0
    setsid -w "$sim" "$line_b" <"$line_b" >"$scratch/sim.log" 2>"$scratch/sim.err" || sim_status=$?
    [ "$sim_status" = 1 ] || fail "the stand-in ended with status $sim_status, not 1"
    grep -q "is the terminal velmoran-sim runs on" "$scratch/sim.err" || fail "the stand-in said: $(cat "$scratch/sim.err")" ;;
  *) fail "unknown end $case" ;;
esac

[ "$(stty -F "$line_b" -g)" = "$before" ] || fail "the stand-in left its port at: $(stty -F "$line_b" -a)"
as_user=()
[ "$(id -u)" -ne 0 ] || as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
"${as_user[@]}" stty -F "$line_b" -g >/dev/null || fail "an ordinary user cannot open the stand-in's port after it ended"
