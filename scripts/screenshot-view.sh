#!/usr/bin/env bash
# The README's picture of tarvo-view: a run recorded by the real tarvo from
# tarvo-board (on a pseudo-terminal), which leaves out every 600th record and
# falls silent after its 1400th, then drawn by tarvo-view --screenshot.
#
#   scripts/screenshot-view.sh [OUTPUT.png]   (default docs/view.png)
#
# Uses the programs of the build tree (build/, or $TARVO_BUILD_DIR).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/docs/view.png}
case "$out" in /*) ;; *) out="$PWD/$out" ;; esac
bin=$root/${TARVO_BUILD_DIR:-build}/bin
for p in tarvo tarvo-board tarvo-view; do
  [ -x "$bin/$p" ] || { echo "screenshot-view.sh: no $bin/$p (build it with scripts/build.sh)" >&2; exit 1; }
done

work=$(mktemp -d)
board_pid=""
cleanup() {
  [ -n "$board_pid" ] && kill "$board_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$bin/tarvo-board" --lose-record-every 600 --silence-after 1400 --link "$work/board" >"$work/board.out" 2>&1 &
board_pid=$!
for _ in $(seq 100); do [ -e "$work/board" ] && break; sleep 0.05; done

# Six channels with the digital lines and the counter, 2 ms a record; Stop
# after 4 s, once tarvo has seen the silence.
mkdir "$work/run"
printf '%s\n' 'set 2 1' 'set 6 6' 'set 8 115200' 'set 9 1' 'set 10 2000' 'set 11 1' 'set 12 1' 'set 13 1' \
  'press start' 'wait 4' 'press stop' >"$work/run.txt"
(cd "$work/run" && "$bin/tarvo" -platform offscreen --com "1=$work/board" --script "$work/run.txt" >"$work/tarvo.log" 2>&1) \
  || { cat "$work/tarvo.log" >&2; exit 1; }

mkdir -p "$(dirname "$out")"
"$bin/tarvo-view" "$work/run" --screenshot "$out"
echo "$out"
