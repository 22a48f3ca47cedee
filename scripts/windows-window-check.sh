#!/usr/bin/env bash
# The Windows program as a user gets it: the zip of scripts/windows-package.sh,
# unpacked, run under wine in a new wine prefix with Qt's windows platform on
# a private Xvfb display:
#
#   - the window appears, with the panel drawn (grabbed as a PNG);
#   - a run on the built-in virtual board writes data.txt and config.txt;
#   - a run against tarvo-board (native, on a pseudo-terminal that the
#     prefix shows as COM5) records every record the board sent, byte for byte;
#   - the compiled-in panel holds to tarvo.uir: a changed file and a missing
#     one stop the program at start-up with exit status 255.
#
#   bash scripts/windows-window-check.sh [--screenshot FILE.png]
#
# Needs the Qt for Windows of scripts/windows-qt.sh ($TARVO_QT_WINDOWS). Works
# in build-windows/qt/check/ ($TARVO_WINDOWS_QT_BUILD_DIR/check). The last
# line is the summary: "windows window: N passed, M failed".
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${TARVO_WINDOWS_QT_BUILD_DIR:-build-windows/qt}
case "$build" in /*) ;; *) build=$root/$build ;; esac
shot=""
while [ $# -gt 0 ]; do
  case "$1" in
    --screenshot) shot=${2:?--screenshot needs a file}; shift 2 ;;
    *) echo "usage: windows-window-check.sh [--screenshot FILE.png]" >&2; exit 2 ;;
  esac
done
[ -z "$shot" ] || case "$shot" in /*) ;; *) shot=$PWD/$shot ;; esac

bash scripts/setup.sh windows screenshot
zip=$(bash scripts/windows-package.sh | tail -n1)
# The far end of the COM port: the board model, built for this machine.
cmake -S . -B "$build/native" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVO_WITH_QT=OFF \
  -DTARVO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build/native" --target tarvo-board >/dev/null
board=$build/native/bin/tarvo-board

check=$build/check
rm -rf "$check"
mkdir -p "$check"
unzip -q "$zip" -d "$check"
app=$(find "$check" -mindepth 1 -maxdepth 1 -type d -name 'tarvo-*-windows-x64')
echo "windows window: $(basename "$zip"), $(du -k "$zip" | cut -f1) KiB, unpacked in $app"

passed=0 failed=0
pass() { echo "ok - $1"; passed=$((passed + 1)); }
fail() { echo "FAIL - $1"; failed=$((failed + 1)); }

xvfb_pid="" board_pid="" app_pid=""
cleanup() {
  for pid in $app_pid $board_pid; do kill "$pid" 2>/dev/null || true; done
  WINEPREFIX=$check/wineprefix wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup EXIT

. "$root/scripts/xvfb.sh"
start_xvfb windows-window-check 150 199 1600x1000x24 "$check/xvfb.log"

# A new prefix: nothing but what wine itself brings, as on a machine that
# never had Qt or mingw. No Mono or Gecko installer dialogs.
export WINEPREFIX=$check/wineprefix WINEDEBUG=-all WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml="
unset WAYLAND_DISPLAY WINEPATH
t0=$SECONDS
wineboot -i >/dev/null 2>&1
wineserver -w
wineserver --persistent </dev/null >/dev/null 2>&1 || true
echo "windows window: wine prefix made in $((SECONDS - t0)) s"

# Runs tarvo.exe in folder $1 with the remaining arguments; stdout and
# stderr go to out.txt and err.txt there. Sets $status (124 after 180 s).
run_tarvo() {
  local dir=$1
  shift
  mkdir -p "$dir"
  (cd "$dir" && exec wine "$app/tarvo.exe" "$@" >out.txt 2>err.txt) &
  app_pid=$!
  wait_app 180
}
wait_app() {
  local limit=$1 t=0
  while kill -0 "$app_pid" 2>/dev/null && [ "$t" -lt $((limit * 10)) ]; do
    sleep 0.1
    t=$((t + 1))
  done
  if kill -0 "$app_pid" 2>/dev/null; then
    kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
    status=124
  else
    status=0
    wait "$app_pid" || status=$?
  fi
  app_pid=""
}
show() { sed 's/^/    /' "$1" | tr -d '\r' | tail -n "${2:-6}"; }

# refused WHAT VERDICT DIR PATTERN: tarvo on the virtual board, run in DIR,
# must stop at start-up (status 255) with PATTERN in its error output.
refused() {
  run_tarvo "$3" --com 1=virtual
  if [ "$status" -eq 255 ] && grep -q "$4" "$3/err.txt"; then
    pass "$1 $2: $(tr -d '\r' <"$3/err.txt" | head -n1 | cut -c1-150)"
  else
    fail "$1: status $status"
    show "$3/err.txt"
  fi
}
lines() { tr -d '\r' <"$1" | grep -c . || true; }

# ---- the version line: the program starts and its stdout reaches us.
run_tarvo "$check/version" --version
if [ "$status" -eq 0 ] && grep -q '^tarvo ' "$check/version/out.txt"; then
  pass "tarvo.exe --version: $(tr -d '\r' <"$check/version/out.txt" | head -n1)"
else
  fail "tarvo.exe --version: status $status"
  show "$check/version/err.txt"
fi

# ---- the window, during a run on the virtual board: six channels with the
# digital lines and the counter, integer columns, about ten seconds.
dir=$check/virtual
mkdir -p "$dir"
printf '%s\n' 'set 6 6' 'set 9 1' 'set 10 2000' 'set 11 1' 'set 12 1' 'set 13 1' \
  'press start' 'wait 12' 'press stop' >"$dir/run.txt"
# Qt's FreeType font engine for the window: wine 8 draws the text of labels
# and buttons through Qt's default (DirectWrite, GDI) engines but leaves
# line edits, spin boxes and editable combo boxes blank.
(cd "$dir" && exec wine "$app/tarvo.exe" --com 1=virtual --script run.txt \
  -platform windows:fontengine=freetype >out.txt 2>err.txt) &
app_pid=$!
seen=0
for _ in $(seq 600); do
  if xwd -silent -name tarvo -out /dev/null 2>/dev/null; then
    seen=1
    break
  fi
  kill -0 "$app_pid" 2>/dev/null || break
  sleep 0.1
done
if [ $seen = 1 ]; then
  # The chart fills its five seconds before the grab.
  sleep 8
  xwd -silent -name tarvo -out "$check/window.xwd" 2>/dev/null || true
  convert "xwd:$check/window.xwd" "png:$check/window.png" 2>/dev/null || true
fi
wait_app 120
if [ $seen = 1 ] && [ -s "$check/window.png" ]; then
  geometry=$(identify -format '%wx%h' "$check/window.png")
  colours=$(identify -format '%k' "$check/window.png")
  w=${geometry%x*} h=${geometry#*x}
  # A drawn panel: its controls, text and traces, not a blank frame.
  if [ "$w" -ge 400 ] && [ "$h" -ge 300 ] && [ "$colours" -ge 64 ]; then
    pass "the window appears: $geometry, $colours colours ($check/window.png)"
    [ -z "$shot" ] || { mkdir -p "$(dirname "$shot")"; cp "$check/window.png" "$shot"; }
  else
    fail "the window appears, but blank: $geometry, $colours colours"
  fi
else
  fail "no window named tarvo appeared"
  show "$dir/err.txt"
fi

records=$(lines "$dir/data.txt" 2>/dev/null || echo 0)
reported=$(tr -d '\r' <"$dir/config.txt" 2>/dev/null | sed -n 's/^The number of samples for every channel is:  *//p')
# Six channels, the four digital lines and the counter: 11 columns a line.
widths=$(tr -d '\r' <"$dir/data.txt" 2>/dev/null | awk -F, '{print NF}' | sort -u | tr '\n' ' ')
if [ "$status" -eq 0 ] && [ "$records" -gt 1000 ] && [ "$widths" = "11 " ] && [ "$reported" = "$records" ] &&
   grep -q '^message: Sampling\.\.\.' "$dir/out.txt"; then
  pass "virtual board run: status 0, data.txt $records records of 11 columns, config.txt says $reported"
else
  fail "virtual board run: status $status, data.txt $records records (columns: ${widths:-none}), config.txt says ${reported:-nothing}"
  show "$dir/out.txt"
  show "$dir/err.txt"
fi

# ---- against tarvo-board through COM5: the board sends 3000 records and
# falls silent; the raw-bytes data.txt must be exactly what it sent.
dir=$check/board
mkdir -p "$dir"
sent=3000
"$board" --link "$WINEPREFIX/dosdevices/com5" --dump "$dir/sent.bin" --records $sent --once \
  >"$dir/board.txt" 2>&1 &
board_pid=$!
for _ in $(seq 100); do
  [ -L "$WINEPREFIX/dosdevices/com5" ] && break
  sleep 0.1
done
printf '%s\n' 'set 6 6' 'set 9 1' 'set 10 2000' 'set 11 1' 'set 12 1' 'set 13 0' \
  'press start' 'wait 12' 'press stop' >"$dir/run.txt"
run_tarvo "$dir" --com 1=COM5 --script run.txt
bytes=$(stat -c %s "$dir/sent.bin" 2>/dev/null || echo 0)
kept=$(stat -c %s "$dir/data.txt" 2>/dev/null || echo 0)
if [ "$status" -eq 0 ] && [ "$bytes" -gt 0 ] && [ $((bytes % sent)) -eq 0 ] && cmp -s "$dir/sent.bin" "$dir/data.txt"; then
  pass "tarvo-board run on COM5: status 0, data.txt is the board's $sent records ($bytes bytes, $((bytes / sent)) a record) byte for byte"
else
  fail "tarvo-board run on COM5: status $status, the board sent $bytes bytes, data.txt holds $kept"
  show "$dir/out.txt"
  show "$dir/err.txt"
  show "$dir/board.txt"
fi
kill "$board_pid" 2>/dev/null || true
wait "$board_pid" 2>/dev/null || true
board_pid=""

# ---- the panel file: the compiled-in panel refuses a changed tarvo.uir,
# and the program needs one beside it as before.
cp "$app/tarvo.uir" "$check/tarvo.uir.shipped"
sed -i 's/<string>tarvo<\/string>/<string>tarvo (changed)<\/string>/' "$app/tarvo.uir"
refused "a changed tarvo.uir" "is refused" "$check/changed" "panel is compiled in"
rm "$app/tarvo.uir"
refused "a missing tarvo.uir" "stops the program" "$check/missing" "cannot open panel file"
cp "$check/tarvo.uir.shipped" "$app/tarvo.uir"

echo "windows window: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
