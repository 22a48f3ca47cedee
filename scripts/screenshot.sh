#!/usr/bin/env bash
# Takes a PNG of tarvo's window as an X server draws it.
#
#   scripts/screenshot.sh [OUTPUT.png]        the window before a run (default docs/panel.png)
#   scripts/screenshot.sh --run [OUTPUT.png]  the window during a run on the
#                                             virtual board (default docs/run.png)
#
# Runs the program from the build tree ($TARVO_BIN, else build/bin/tarvo, or
# $TARVO_BUILD_DIR/bin/tarvo) on a private Xvfb display, with an unattended
# script (with --run: settings, Start, and a wait while the chart fills), grabs
# the window with xwd and turns it into PNG; then the script presses Quit. Missing tools (Xvfb, xwd, ImageMagick, Qt's xcb platform) are
# installed through scripts/setup.sh.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
run=0
if [ "${1:-}" = "--run" ]; then
  run=1
  shift
fi
if [ $run = 1 ]; then out=${1:-$root/docs/run.png}; else out=${1:-$root/docs/panel.png}; fi
case "$out" in /*) ;; *) out="$PWD/$out" ;; esac
bin=${TARVO_BIN:-$root/${TARVO_BUILD_DIR:-build}/bin/tarvo}
# A window opens at most two thirds of the screen: the chart wants the room.
if [ $run = 1 ]; then size=${TARVO_SCREEN:-1920x1080x24}; else size=${TARVO_SCREEN:-1280x800x24}; fi

if [ ! -x "$bin" ]; then
  echo "screenshot.sh: no program at $bin (build it with scripts/build.sh, or set TARVO_BIN)" >&2
  exit 1
fi
if ! command -v Xvfb >/dev/null || ! command -v xwd >/dev/null || ! command -v convert >/dev/null \
   || ! ls /usr/lib/*/qt6/plugins/platforms/libqxcb.so >/dev/null 2>&1; then
  "$root/scripts/setup.sh" screenshot
fi

work=$(mktemp -d)
xvfb_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

. "$root/scripts/xvfb.sh"
start_xvfb screenshot.sh 90 140 "$size" "$work/xvfb.log"

# The program quits by itself, so nothing is left running if a step fails.
# A run: six channels with the digital lines, long enough to fill the chart's
# five seconds before the grab.
if [ $run = 1 ]; then
  settle=7
  printf '%s\n' 'set 6 6' 'set 8 115200' 'set 9 1' 'set 10 2000' 'set 11 1' 'set 12 1' 'set 13 1' \
    'press start' 'wait 14' 'press quit' >"$work/run.txt"
  args=(--com 1=virtual)
else
  settle=1.5
  printf 'wait 8\npress quit\n' >"$work/run.txt"
  args=()
fi
(cd "$work" && exec "$bin" ${args[@]+"${args[@]}"} --script "$work/run.txt" -platform xcb >"$work/out.log" 2>&1) &
app_pid=$!

# Wait for the window, then give it a moment to settle its layout.
for _ in $(seq 100); do
  xwd -silent -name tarvo -out /dev/null 2>/dev/null && break
  kill -0 "$app_pid" 2>/dev/null || { cat "$work/out.log" >&2; exit 1; }
  sleep 0.1
done
sleep "$settle"

mkdir -p "$(dirname "$out")"
xwd -silent -name tarvo -out "$work/panel.xwd"
convert "xwd:$work/panel.xwd" "png:$out"

wait "$app_pid" || { echo "screenshot.sh: the program ended with status $?" >&2; cat "$work/out.log" >&2; exit 1; }
app_pid=""
echo "$out"
