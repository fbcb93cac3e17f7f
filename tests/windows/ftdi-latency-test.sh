#!/usr/bin/env bash
# velmoran.exe on COM20 after a missed reply, with FTDI's registry keys as a case sets
# them, under Wine: on standard error the timer's line where the port's latency timer is
# too long for the window, none where it is not or cannot be known, then that nothing came
# back on the port, named as Device Manager names the present device that has it; standard
# output and the exit status as ever. Then examples/ftdi-latency.bat under Wine's cmd.
#   ftdi-latency-test.sh CASE SIM_EXE TOOL_EXE WINE_SH BAT
# The stand-in on COM21, the other end of a null-modem pair, stays silent but in the
# acknowledged case. WINEPREFIX is the shared prefix; the FTDIBUS key is removed after.
set -euo pipefail
case=$1 sim=$2 tool=$3 wine=$4 bat=$5
fail() { echo "ftdi-latency-test ($case): $*" >&2; exit 1; }
scratch=$(mktemp -d)
root='HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS' root_key='HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\FTDIBUS'
forget_keys() {
  "$wine" run reg delete "$root" /f >/dev/null 2>&1 || true
  "$wine" run reg delete 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\VCP0' /f >/dev/null 2>&1 || true
  rm -f "$WINEPREFIX/drive_c/0.bat" "$WINEPREFIX/drive_c/2B2D4E1.bat" "$WINEPREFIX/drive_c"/*.ran
}
trap 'kill ${standin:-} 2>/dev/null || true; null_modem_close; forget_keys; rm -rf "$scratch"' EXIT
. "$(dirname "$0")/../support/standin-lines.sh"

# key [--gone] [--named NAME] DEVICE VALUE...: values for that device's Device Parameters,
# in a .reg file's own words ("PortName"="COM20", "LatencyTimer"=dword:00000010), NAME its
# FriendlyName; seed imports every key at once. The instance key has the Ports class, as a device's has, so that Wine's
# SetupAPI lists it as present (it lists every such key); --gone leaves the class out,
# and SetupAPI does not list it, as Windows leaves out an adapter that is unplugged.
printf 'Windows Registry Editor Version 5.00\r\n' >"$scratch/keys.reg"
key() {
  local class='"ClassGUID"="{4d36e978-e325-11ce-bfc1-08002be10318}"' name=
  [ "$1" != --gone ] || { class=; shift; }
  [ "$1" != --named ] || { name="\"FriendlyName\"=\"$2\""; shift 2; }
  printf '\r\n[%s\\%s\\0000]\r\n%s\r\n%s\r\n' "$root_key" "$1" "$class" "$name" >>"$scratch/keys.reg"
  printf '\r\n[%s\\%s\\0000\\Device Parameters]\r\n' "$root_key" "$1" >>"$scratch/keys.reg"
  shift
  printf '%s\r\n' "$@" >>"$scratch/keys.reg"
}
seed() {
  "$wine" run reg import "Z:${scratch//\//\\}\\keys.reg" >/dev/null 2>&1 ||
    fail "reg import failed: $(cat "$scratch/keys.reg")"
}
# ftdi_script WORD...: examples/ftdi-latency.bat under cmd, in C:\, where a command hidden
# in a key's name would be found.
drive_c=$WINEPREFIX/drive_c
ftdi_script() {
  cp "$bat" "$drive_c/ftdi-latency.bat" && rm -f "$drive_c"/*.ran
  (cd "$drive_c" && "$wine" run cmd /c 'C:\ftdi-latency.bat' "$@" | tr -d '\r')
}
# holds DEVICE VALUE WHAT: the device's LatencyTimer is VALUE (0x10), or the case fails
# saying WHAT and all that reg said, once.
holds() {
  local said status=0
  said=$("$wine" run reg query "$root\\$1\\0000\\Device Parameters" /v LatencyTimer 2>&1 | tr -d '\r') || status=$?
  [ "$(sed -n 's/^ *LatencyTimer *REG_DWORD *//p' <<<"$said")" = "$2" ] ||
    fail "$3: $1's LatencyTimer is not $2; reg query ended with $status and said: $said"
}

# Runs velmoran.exe on COM20 and checks its output, its status and its standard error.
expect_run() {
  local status=$1 last=$2 hint=$3 out err ended
  out=$("$wine" run "$tool" COM20 0x1FFFFFF0 0x01 0x02 2>"$scratch/err" | tr -d '\r') && ended=0 || ended=$?
  err=$(tr -d '\r' <"$scratch/err")
  local expected
  expected=$(tool_lines COM20 "$last")
  [ "$out" = "$expected" ] || fail "velmoran printed:
$out
not:
$expected"
  [ "$ended" = "$status" ] || fail "velmoran ended with $ended, not $status"
  [ "$err" = "$hint" ] || fail "velmoran's standard error was:
$err
not:
$hint"
}
hint16="velmoran: COM20 is an FTDI USB serial port whose latency timer is 16 ms, too long for the 11 ms reply window: \
a reply can arrive too late. Set it to 1 ms (see the README, Troubleshooting)."
# silent HINT [NAME]: a missed reply; HINT the timer's line or none, NAME the port's.
silent() {
  local nothing="velmoran: nothing came back on COM20${2:+, $2,} in the 61 ms after the frame went out: is this the \
CAN interface's port, and is the adapter powered and on the bus?"
  expect_run 7 "No acknowledgment received" "$1${1:+$'\n'}$nothing"
}

null_modem_open "$scratch"
ln -sfn "$line_a" "$WINEPREFIX/dosdevices/com20"
ln -sfn "$line_b" "$WINEPREFIX/dosdevices/com21"
options=(--silent)
[ "$case" != acknowledged ] || options=()
standin_start "$scratch/sim.log" "$wine" run "$sim" COM21 "${options[@]}"
[ "$standin_line" = COM21 ] || fail "the stand-in's first line is '$standin_line', not COM21"

case $case in
  too_long)
    key VID_0403+PID_6001+A1 '"PortName"="COM20"' '"LatencyTimer"=dword:00000010'
    seed
    silent "$hint16" ;;
  present_adapter)
    # The adapter plugged in now was set to 1 ms; one that had COM20 before and is gone
    # still says 16 ms, and is not the one in force.
    # The port is named by the present adapter's name, not the gone one's, though the gone
    # one's key comes first; SERIALCOMM lists the port, as Windows does a present one.
    key --gone --named "Unplugged Serial Port (COM20)" VID_0403+PID_6001+A0 '"PortName"="COM20"' \
      '"LatencyTimer"=dword:00000010'
    key --named "USB Serial Port (COM20)" VID_0403+PID_6001+A1 '"PortName"="com20"' '"LatencyTimer"=dword:00000001'
    key VID_0403+PID_6001+B2 '"PortName"="COM7"' '"LatencyTimer"=dword:000000ff'
    printf '\r\n[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\r\n"\\\\Device\\\\VCP0"="COM20"\r\n' >>"$scratch/keys.reg"
    seed
    silent "" "USB Serial Port (COM20)"
    # Two present adapters named COM20, in any case (Windows would not give two one name):
    # the longer timer is the one to fear.
    key VID_0403+PID_6001+D4 '"PortName"="Com20"' '"LatencyTimer"=dword:00000010'
    seed
    silent "$hint16" "USB Serial Port (COM20)" ;;
  short_enough)
    key VID_0403+PID_6001+A1 '"PortName"="COM20"' '"LatencyTimer"=dword:00000008'
    seed
    silent "" ;;
  other_port)
    key VID_0403+PID_6001+B2 '"PortName"="COM7"' '"LatencyTimer"=dword:00000010'
    seed
    silent "" ;;
  unknown)
    # Nothing that can be trusted as COM20's timer, each in a key of its own: no line, no crash.
    silent ""
    key VID_0403+PID_6001+A1 '"PortName"="COM20"' '"LatencyTimer"="16"'
    key VID_0403+PID_6001+B2 '"LatencyTimer"=dword:00000010'
    key VID_0403+PID_6001+C3 '"PortName"="COM20 "' '"LatencyTimer"=dword:00000010'
    key VID_0403+PID_6001+D4 '"PortName"="\\\\.\\COM20"' '"LatencyTimer"=dword:00000010'
    key VID_0403+PID_6001+E5 '"PortName"=dword:00000014' '"LatencyTimer"=dword:00000010'
    key VID_0403+PID_6001+F6 '"PortName"="COM20"' '"LatencyTimer"=dword:ffffffff'
    key VID_0403+PID_6001+G7 '"PortName"="COM20"' '"LatencyTimer"=dword:00000000'
    key VID_0403+PID_6001+H8 '"PortName"="COM2"' '"LatencyTimer"=dword:00000010'
    seed
    silent "" ;;
  acknowledged)
    key VID_0403+PID_6001+A1 '"PortName"="COM20"' '"LatencyTimer"=dword:00000010'
    seed
    expect_run 0 "Received: 0x06 " "" ;;
  script)
    # FTDI names the key of an adapter without a serial number by its USB location, & and
    # all: the name is printed as it stands, and what follows an & never runs as a command.
    located='VID_0403+PID_6001+6&2B2D4E1&0&2'
    key VID_0403+PID_6001+A1 '"PortName"="COM20"' '"LatencyTimer"=dword:00000010'
    key "$located" '"PortName"="COM20"' '"LatencyTimer"=dword:00000010'
    key VID_0403+PID_6001+B2 '"PortName"="COM7"' '"LatencyTimer"=dword:00000010'
    seed
    for command in 0 2B2D4E1; do printf '@echo ran>C:\\%s.ran\r\n' $command >"$drive_c/$command.bat"; done
    said=$(ftdi_script COM20) || fail "ftdi-latency.bat COM20 failed: $said"
    for name in VID_0403+PID_6001+A1 "$located"; do
      grep -qxF "ftdi-latency: COM20: LatencyTimer 16 -> 1 ms in $root_key\\$name\\0000\\Device Parameters" <<<"$said" ||
        fail "ftdi-latency.bat COM20 said: $said"
      holds "$name" 0x1 "COM20's key"
    done
    ran=$(cd "$drive_c" && ls ./*.ran 2>/dev/null) && fail "a key's name ran as commands: $ran"
    grep -q '^ftdi-latency: unplug the adapter on COM20' <<<"$said" || fail "ftdi-latency.bat COM20 said: $said"
    holds VID_0403+PID_6001+B2 0x10 "COM7's key"
    silent ""
    status=0
    said=$(ftdi_script COM9) || status=$?
    [ "$status" = 2 ] || fail "ftdi-latency.bat COM9 ended with $status, not 2"
    [ "$said" = "ftdi-latency: no FTDI adapter is registered as COM9: check the port in Device Manager, Ports (COM & LPT)." ] ||
      fail "ftdi-latency.bat COM9 said: $said" ;;
  script_refusals)
    # Words the script refuses with its usage line and 1, before it reads the registry.
    key VID_0403+PID_6001+A1 '"PortName"="COM1"' '"LatencyTimer"=dword:00000010'
    seed
    for words in COM04 'COM1 & x' 'COM1|0' 'COM1|256'; do
      IFS='|' read -ra argv <<<"$words"
      status=0
      said=$(ftdi_script "${argv[@]}") || status=$?
      [ "$status" = 1 ] || fail "ftdi-latency.bat $words ended with $status, not 1: $said"
      [ "$said" = "usage: ftdi-latency.bat COMn [MS]   (MS from 1 to 255; 1 if left out)" ] ||
        fail "ftdi-latency.bat $words said: $said"
    done
    holds VID_0403+PID_6001+A1 0x10 "a refused word changed COM1's key" ;;
  *) fail "unknown case" ;;
esac
