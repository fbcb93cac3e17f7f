#!/bin/sh
# Selects the device on the CAN bus, then starts the firmware download.
#   download.sh /dev/ttyUSB0 0x1FFFFFF0 0x01 0x02
# Ends with 0 once the download has started, 1 when the device never answered,
# 2 when the port is missing or busy, 3 when a word is wrong, 4 when velmoran did not run.
tries=1
while :; do
  velmoran "$@"
  status=$?
  case $status in
    0) echo "Device selected: starting the download."
       # Start the firmware download here.
       exit 0 ;;
    7) if [ $tries -lt 3 ]; then tries=$((tries + 1)); continue; fi
       echo "No acknowledgment after $tries tries."
       exit 1 ;;
    3) echo "Port missing or held by another program."
       exit 2 ;;
    [1-6]) echo "Wrong words on the command line."
       exit 3 ;;
    *) echo "velmoran did not run (status $status)."
       exit 4 ;;
  esac
done
