#!/usr/bin/env bash
# Runs a cross-built Windows test program under wine:
#
#   wine-run.sh --prefix=WINEPREFIX --native=DIR PROGRAM.exe [ARGS...]
#
# with no display and no wine diagnostics, and with tarvo-lines (from DIR,
# beside tarvo-board) serving the serial lines of the test: it makes COM
# ports in the prefix's dosdevices that lead to pseudo-terminals. The test
# finds the server through TARVO_LINES. The prefix is created on first use.
set -uo pipefail
prefix="" native=""
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix=*) prefix=${1#--prefix=}; shift ;;
    --native=*) native=${1#--native=}; shift ;;
    *) break ;;
  esac
done
if [ -z "$prefix" ] || [ $# -eq 0 ]; then
  echo "usage: wine-run.sh --prefix=WINEPREFIX --native=DIR PROGRAM.exe [ARGS...]" >&2
  exit 2
fi

export WINEPREFIX=$prefix WINEDEBUG=-all WINEARCH=win64
# No Mono or Gecko installer dialogs, no display.
export WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
unset WAYLAND_DISPLAY
if [ ! -d "$WINEPREFIX/dosdevices" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi

# The wine server, started here with its output away from the caller's: one
# that wine starts by itself keeps the test's stdout open (and ctest waiting)
# until it exits. It stays a few seconds for the next program, then goes.
wineserver --persistent=15 </dev/null >/dev/null 2>&1 || true

server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
  fi
  [ -n "${port_file:-}" ] && rm -f "$port_file"
}
trap cleanup EXIT

if [ -n "$native" ] && [ -x "$native/tarvo-lines" ]; then
  port_file=$(mktemp)
  "$native/tarvo-lines" "$WINEPREFIX/dosdevices" "$native/tarvo-board" >"$port_file" &
  server_pid=$!
  for _ in $(seq 200); do
    [ -s "$port_file" ] && break
    sleep 0.02
  done
  TARVO_LINES=$(head -n1 "$port_file")
  export TARVO_LINES
fi

wine "$@"
status=$?
exit $status
