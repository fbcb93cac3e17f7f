# Sourced by the script tests that run the stand-in device:
#   standin_start LOG COMMAND...   starts the stand-in in the background, its output in
#                                  LOG, and waits for its first line, which says that it
#                                  is ready: sets standin (its process) and standin_line
#   null_modem_open DIR            a null-modem pair of serial lines: two pseudo-terminals
#                                  whose controller sides socat joins, so that what a
#                                  program writes on one line, the program on the other
#                                  reads; sets line_a and line_b to the lines' paths
#   null_modem_close               stops the pair
#   tool_lines PORT_WORD LAST      what velmoran prints for the frame 0x1FFFFFF0 0x01 0x02
#                                  on that port, LAST its last line
# socat keeps both terminal sides open itself, so that neither line hangs up when a
# program lets go of it.

standin_start() {
  local log=$1
  shift
  "$@" >"$log" &
  standin=$!
  for _ in $(seq 300); do
    [ -s "$log" ] && break
    kill -0 "$standin" 2>/dev/null || break
    sleep 0.05
  done
  standin_line=$(head -n 1 "$log" | tr -d '\r')
  [ -z "$standin_line" ] || return 0
  # Whether it ended, and how: under Wine (WINEDEBUG=-all) a program that crashes says nothing.
  local ended="it is still running after 15 s" status=0
  kill -0 "$standin" 2>/dev/null || { wait "$standin" || status=$?; ended="it ended with status $status"; }
  echo "the stand-in device did not start ($ended, nothing on its output): $*" >&2
  return 1
}

null_modem_open() {
  local dir=$1
  command -v socat >/dev/null ||
    { echo "a null-modem pair needs socat (Debian package socat; scripts/install-deps.sh)" >&2; return 1; }
  # The relay is the cable: at real-time priority where the machine allows it, as the
  # stand-in asks for itself, so that other work on a busy machine cannot hold a reply
  # past the 11 ms window.
  local prompt=()
  chrt -f 1 true 2>/dev/null && prompt=(chrt -f 1)
  "${prompt[@]}" socat pty,rawer,link="$dir/line-a" pty,rawer,link="$dir/line-b" 2>"$dir/socat.log" &
  null_modem_relay=$!
  for _ in $(seq 100); do [ -e "$dir/line-a" ] && [ -e "$dir/line-b" ] && break; sleep 0.05; done
  line_a=$(readlink -f "$dir/line-a") && line_b=$(readlink -f "$dir/line-b") && [ -c "$line_a" ] && [ -c "$line_b" ] ||
    { echo "socat made no pair of lines: $(cat "$dir/socat.log")" >&2; return 1; }
}

null_modem_close() {
  [ -z "${null_modem_relay:-}" ] || { kill "$null_modem_relay" 2>/dev/null; wait "$null_modem_relay" 2>/dev/null; } || true
  null_modem_relay=
}

tool_lines() {
  printf 'Program to select CAN ID for download, Version 1.00\nOpened serial port %s successfully\n' "$1"
  printf 'Sent ID: 0x1FFFFFF0 Data: 0x01 0x02 \n%s\n' "$2"
}
