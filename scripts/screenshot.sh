#!/usr/bin/env bash
# Takes a PNG of tarvo's window as an X server draws it.
#
#   scripts/screenshot.sh [OUTPUT.png]      (default docs/panel.png)
#
# Runs the program from the build tree ($TARVO_BIN, else build/bin/tarvo, or
# $TARVO_BUILD_DIR/bin/tarvo) on a private Xvfb display, with an unattended
# script that waits and then presses Quit, grabs the window with xwd and turns
# it into PNG. Missing tools (Xvfb, xwd, ImageMagick, Qt's xcb platform) are
# installed through scripts/setup.sh.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/docs/panel.png}
case "$out" in /*) ;; *) out="$PWD/$out" ;; esac
bin=${TARVO_BIN:-$root/${TARVO_BUILD_DIR:-build}/bin/tarvo}
size=${TARVO_SCREEN:-1280x800x24}

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

# A display number nobody uses.
display=""
for n in $(seq 90 140); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
    display=":$n"
    break
  fi
done
[ -n "$display" ] || { echo "screenshot.sh: no free X display number" >&2; exit 1; }

Xvfb "$display" -screen 0 "$size" -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY="$display"
# Ready when a client can draw from it (its socket appears a little earlier).
for _ in $(seq 100); do
  xwd -root -silent -out /dev/null 2>/dev/null && break
  kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; exit 1; }
  sleep 0.1
done

# The program quits by itself, so nothing is left running if a step fails.
printf 'wait 8\npress quit\n' >"$work/run.txt"
(cd "$work" && exec "$bin" --script "$work/run.txt" -platform xcb >"$work/out.log" 2>&1) &
app_pid=$!

# Wait for the window, then give it a moment to settle its layout.
for _ in $(seq 100); do
  xwd -silent -name tarvo -out /dev/null 2>/dev/null && break
  kill -0 "$app_pid" 2>/dev/null || { cat "$work/out.log" >&2; exit 1; }
  sleep 0.1
done
sleep 1.5

mkdir -p "$(dirname "$out")"
xwd -silent -name tarvo -out "$work/panel.xwd"
convert "xwd:$work/panel.xwd" "png:$out"

wait "$app_pid" || { echo "screenshot.sh: the program ended with status $?" >&2; cat "$work/out.log" >&2; exit 1; }
app_pid=""
echo "$out"
