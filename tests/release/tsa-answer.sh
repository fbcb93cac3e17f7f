#!/usr/bin/env bash
# One answer of the local RFC 3161 timestamp server that release-test.sh runs behind socat:
# reads an HTTP POST of a timestamp query on standard input and writes the reply that
# `openssl ts` signs with the test's TSA key.   tsa-answer.sh TSA_CONFIG
set -euo pipefail
length=0
while IFS= read -r line; do
  line=${line%$'\r'}
  [ -n "$line" ] || break
  case ${line,,} in content-length:*) length=${line#*:} length=${length// /} ;; esac
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c "$length" >"$work/query"
openssl ts -reply -config "$1" -queryfile "$work/query" -out "$work/reply" 2>"$work/log" ||
  { printf 'HTTP/1.0 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n'; exit 0; }
printf 'HTTP/1.0 200 OK\r\nContent-Type: application/timestamp-reply\r\nContent-Length: %d\r\n\r\n' \
  "$(stat -c %s "$work/reply")"
cat "$work/reply"
