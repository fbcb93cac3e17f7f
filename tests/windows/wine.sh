#!/usr/bin/env bash
# The one place that knows where Wine is, and how the tests start and stop it.
#
#   wine.sh locate          print the loader's and the server's full paths, a line each
#   wine.sh run PROGRAM...  run a Windows program with the loader (WINEPREFIX as set)
#   wine.sh start DIR       make a fresh prefix in DIR with one persistent wineserver
#   wine.sh stop DIR        stop that server and remove DIR
#
# Debian's wine64 package puts wine64 and wineserver in /usr/lib/wine and nothing on
# PATH (only the wine package adds /usr/bin/wineserver), so PATH comes first, then there.
#
# Wine's own output goes to DIR.log, never to the caller's streams: a server or a
# service started with the caller's pipes would hold them open for seconds after the
# test's program ended. A start that fails prints that log.
set -euo pipefail

find_wine_program() {
  local name
  for name in "$@"; do
    if command -v "$name" >/dev/null 2>&1; then
      command -v "$name"
      return 0
    fi
    if [ -x "/usr/lib/wine/$name" ]; then
      echo "/usr/lib/wine/$name"
      return 0
    fi
  done
  echo "wine.sh: none of $* found on PATH or in /usr/lib/wine (Debian package wine64)" >&2
  return 1
}

locate() {
  loader=$(find_wine_program wine64) || return 1
  server=$(find_wine_program wineserver wineserver64) || return 1
  export WINELOADER=$loader WINESERVER=$server
}

action=${1:-}
case $action in
  locate)
    locate
    printf '%s\n%s\n' "$loader" "$server"
    ;;
  run)
    shift
    locate
    export WINEDEBUG=${WINEDEBUG:--all}
    exec "$loader" "$@"
    ;;
  start)
    prefix=${2:?usage: wine.sh start DIR}
    log=$prefix.log
    locate
    export WINEPREFIX=$prefix WINEDEBUG=-all
    # A server left by a run that was cut short would serve the new prefix too (its
    # folder may get the old one's inode) with the old one's state: stop it first.
    [ ! -d "$prefix" ] || "$server" -k </dev/null >/dev/null 2>&1 || true
    rm -rf "$prefix"
    mkdir -p "$prefix"
    : >"$log"
    # The server passes every byte and time-out between a Windows program and its port:
    # at real-time priority where the machine allows it, as the stand-in and the tests'
    # null-modem relay run, so that other cases' load cannot let a read time out with its
    # byte already in (seen once with the cases side by side).
    prompt=()
    chrt -f 1 true 2>/dev/null && prompt=(chrt -f 1)
    if ! "${prompt[@]}" "$server" -p </dev/null >>"$log" 2>&1 || ! "$loader" wineboot </dev/null >>"$log" 2>&1 ||
      [ ! -d "$prefix/dosdevices" ]; then
      echo "wine.sh: the Wine prefix $prefix did not start ($loader, $server); its log:" >&2
      cat "$log" >&2
      exit 1
    fi
    ;;
  stop)
    prefix=${2:?usage: wine.sh stop DIR}
    if locate 2>/dev/null; then
      WINEPREFIX=$prefix "$server" -k </dev/null >>"$prefix.log" 2>&1 || true
    fi
    rm -rf "$prefix" "$prefix.log"
    ;;
  *)
    echo "usage: wine.sh locate | run PROGRAM [ARG...] | start DIR | stop DIR" >&2
    exit 2
    ;;
esac
