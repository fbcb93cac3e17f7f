#!/usr/bin/env bash
# Starts or stops a Wine prefix for the tests: wine-prefix.sh start|stop DIR
#
# One persistent wineserver serves the whole run, and Wine's services are started
# once here with every stream on /dev/null: started by a test's program instead,
# they would inherit its pipes and hold them open, so capturing that program's
# output would wait seconds for them.
set -euo pipefail
action=$1
prefix=$2
export WINEPREFIX=$prefix WINEDEBUG=-all

wine64=$(command -v wine64 || true)
[ -n "$wine64" ] || wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || { echo "wine64 is not installed" >&2; exit 1; }
export WINELOADER=$wine64

case $action in
  start)
    rm -rf "$prefix"
    mkdir -p "$prefix"
    wineserver -p </dev/null >/dev/null 2>&1
    "$wine64" wineboot </dev/null >/dev/null 2>&1
    ;;
  stop)
    wineserver -k </dev/null >/dev/null 2>&1 || true
    rm -rf "$prefix"
    ;;
  *)
    echo "usage: wine-prefix.sh start|stop DIR" >&2
    exit 2
    ;;
esac
