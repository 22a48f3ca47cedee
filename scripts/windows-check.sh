#!/usr/bin/env bash
# Cross-builds tarvo's core for 64-bit Windows (everything but the Qt panel)
# with mingw-w64 and runs its tests under wine, the serial ones against
# tarvo-board running natively on pseudo-terminals that wine shows as COM
# ports. Works from a fresh Debian 12 machine: installs what it needs first.
#
#   bash scripts/windows-check.sh
#
# Builds in build-windows/ (or $TARVO_WINDOWS_BUILD_DIR): native/ holds
# tarvo-board and tarvo-lines for this machine, cross/ the Windows programs
# and the wine prefix. The last line is the summary.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${TARVO_WINDOWS_BUILD_DIR:-build-windows}
jobs=$(nproc)

bash scripts/setup.sh windows

# The far ends of the serial lines run natively: tarvo-board and the server
# that puts it (or a bare pseudo-terminal) behind a COM port.
cmake -S . -B "$build/native" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVO_WITH_QT=OFF >/dev/null
cmake --build "$build/native" -j"$jobs" --target tarvo-board tarvo-lines

cmake -S . -B "$build/cross" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DTARVO_WITH_QT=OFF \
  -DTARVO_NATIVE_BIN_DIR="$root/$build/native/bin" >/dev/null
cmake --build "$build/cross" -j"$jobs"

# Wine without a display or diagnostics, in a prefix of its own. One server
# for the whole run, started and warmed up here (its first program starts
# wine's services, a few seconds): each test program then starts in a
# fraction of a second.
export WINEPREFIX="$root/$build/cross/wineprefix" WINEDEBUG=-all WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
unset WAYLAND_DISPLAY
if [ ! -d "$WINEPREFIX/dosdevices" ]; then
  echo "windows-check: creating the wine prefix"
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
wineserver --persistent </dev/null >/dev/null 2>&1 || true
trap 'wineserver -k 2>/dev/null || true' EXIT
wine cmd /c exit >/dev/null 2>&1 || true

log="$build/cross/ctest.log"
set +e
ctest --test-dir "$build/cross" -j"$jobs" --timeout 300 --output-on-failure >"$log" 2>&1
status=$?
# A test program that could not even list its tests under wine (no output,
# status 1: wine itself failed to start it, seen on a fresh prefix while the
# machine is busy with CI's other builds) stops ctest before any test runs.
# That is wine's start, not a test: once more, after the wine server has
# settled, and said so.
if grep -q 'Error running test executable' "$log" && ! grep -q 'tests failed out of' "$log"; then
  echo "windows-check: wine could not start a test program to list its tests; once more" >&2
  grep -A3 'Error running test executable' "$log" | head -n 4 >&2
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  wineserver --persistent </dev/null >/dev/null 2>&1 || true
  wine cmd /c exit >/dev/null 2>&1 || true
  ctest --test-dir "$build/cross" -j"$jobs" --timeout 300 --output-on-failure >"$log" 2>&1
  status=$?
fi
set -e
# The test programs' own output, without wine's object dumps.
grep -v -E '^(0x[0-9a-f]+:|    [0-9a-f]{4}: )' "$log" | tail -n 40

total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n1)
failed=$(sed -n 's/.* \([0-9]*\) tests failed out of.*/\1/p' "$log" | tail -n1)
skipped=$(sed -n '/The following tests did not run:/,/^$/p' "$log" | grep -c '(Skipped)' || true)
total=${total:-0} failed=${failed:-0}
if [ "$total" -eq 0 ]; then
  echo "windows-check: no test ran" >&2
  exit 1
fi
echo "windows: $((total - failed - skipped)) passed, $failed failed, $skipped skipped"
exit "$status"
