#!/usr/bin/env bash
# Makes the README's pictures of the live chart in docs/ (about a minute and a half):
#
#   docs/chart-paused.png  paused, with the readout under the mouse
#   docs/chart-10min.png   the 10-minute window, a minute into a run
#   docs/chart-hidden.png  Ch 2 hidden by a click on its legend entry
#   docs/chart-dark.png    a dark style
#
#   scripts/readme-shots.sh [OUTDIR]
#
# Each picture comes from the real window recording from the virtual board on
# a private Xvfb display, its chart worked with the mouse and the keys by
# build/bin/tarvo-readme-shots (tests/view/readme_shots.cpp; $TARVO_BUILD_DIR
# for another build). Missing tools are installed through scripts/setup.sh.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/docs}
case "$out" in /*) ;; *) out="$PWD/$out" ;; esac
bin=$root/${TARVO_BUILD_DIR:-build}/bin/tarvo-readme-shots
if [ ! -x "$bin" ]; then
  echo "readme-shots.sh: no program at $bin (build it with scripts/build.sh)" >&2
  exit 1
fi
if ! command -v Xvfb >/dev/null || ! command -v xwd >/dev/null \
   || ! ls /usr/lib/*/qt6/plugins/platforms/libqxcb.so >/dev/null 2>&1; then
  "$root/scripts/setup.sh" screenshot
fi

work=$(mktemp -d)
xvfb_pid=""
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

. "$root/scripts/xvfb.sh"
start_xvfb readme-shots.sh 90 140 1920x1080x24 "$work/xvfb.log"
mkdir -p "$out"
# The two runs one after the other: the virtual board keeps its own pace.
"$bin" "$out" -platform xcb
"$bin" "$out" --dark -platform xcb
