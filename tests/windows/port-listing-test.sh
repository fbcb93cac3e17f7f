#!/usr/bin/env bash
# velmoran.exe given a COM port the PC does not have, under Wine: standard output and the
# status as ever (exit 3), and on standard error the cause and the ports the PC has, from
# SERIALCOMM with the names Device Manager shows for the devices present, in number order.
# The prefix's own COM1 (Wine maps it to the machine's /dev/ttyS0) is listed, never opened.
#   port-listing-test.sh TOOL_EXE WINE_SH
# WINEPREFIX is the shared prefix; the keys seeded are removed after.
set -euo pipefail
tool=$1 wine=$2
fail() { echo "port-listing-test: $*" >&2; exit 1; }
scratch=$(mktemp -d)
machine='HKEY_LOCAL_MACHINE' enum='HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum'
forget_keys() {
  "$wine" run reg delete 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\VCP0' /f >/dev/null 2>&1 || true
  "$wine" run reg delete 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\ProlificSerial0' /f >/dev/null 2>&1 || true
  "$wine" run reg delete 'HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS' /f >/dev/null 2>&1 || true
  "$wine" run reg delete 'HKLM\SYSTEM\CurrentControlSet\Enum\USB\VID_067B&PID_2303' /f >/dev/null 2>&1 || true
}
trap 'forget_keys; rm -rf "$scratch"' EXIT

# An FTDI adapter on COM10 and a Prolific one on COM7, as their drivers record them, with
# the Ports class, so that Wine's SetupAPI lists them as present (it lists every such
# key); and the key of an FTDI adapter unplugged long ago, first in the tree, that named
# COM10 too: without the class, as Windows leaves out an adapter that is unplugged.
ports='"ClassGUID"="{4d36e978-e325-11ce-bfc1-08002be10318}"'
printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
  "[$machine\\HARDWARE\\DEVICEMAP\\SERIALCOMM]" '"\\Device\\VCP0"="COM10"' '"\\Device\\ProlificSerial0"="COM7"' '' \
  "[$enum\\FTDIBUS\\VID_0403+PID_6001+A0\\0000]" '"FriendlyName"="Unplugged Serial Port (COM10)"' '' \
  "[$enum\\FTDIBUS\\VID_0403+PID_6001+A0\\0000\\Device Parameters]" '"PortName"="COM10"' '' \
  "[$enum\\FTDIBUS\\VID_0403+PID_6001+A1\\0000]" '"FriendlyName"="USB Serial Port (COM10)"' "$ports" '' \
  "[$enum\\FTDIBUS\\VID_0403+PID_6001+A1\\0000\\Device Parameters]" '"PortName"="COM10"' '' \
  "[$enum\\USB\\VID_067B&PID_2303\\5&1A2B3C&0&2]" '"FriendlyName"="Prolific USB-to-Serial (COM7)"' "$ports" '' \
  "[$enum\\USB\\VID_067B&PID_2303\\5&1A2B3C&0&2\\Device Parameters]" '"PortName"="COM7"' >"$scratch/keys.reg"
"$wine" run reg import "Z:${scratch//\//\\}\\keys.reg" >/dev/null 2>&1 || fail "reg import failed"

out=$("$wine" run "$tool" COM4 0x1FFFFFF0 0x01 2>"$scratch/err" | tr -d '\r') && ended=0 || ended=$?
[ "$ended" = 3 ] || fail "velmoran ended with $ended, not 3"
[ "$out" = "Program to select CAN ID for download, Version 1.00
Error opening serial port COM4" ] || fail "velmoran printed: $out"
said=$(tr -d '\r' <"$scratch/err")
[ "$said" = "velmoran: COM4 does not exist on this PC: check the port's number in Device Manager, Ports (COM & LPT).
velmoran: the serial ports here are COM1, COM7 (Prolific USB-to-Serial (COM7)), COM10 (USB Serial Port (COM10))." ] ||
  fail "velmoran said on standard error:
$said"
echo "$said"
