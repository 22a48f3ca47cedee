#!/usr/bin/env bash
# The main job: tarvo recording from the built-in virtual board.
#   With a display: the window, on the virtual board, ready to press Start.
#   Without one:    an unattended run of about ten seconds, then the run
#                   report and the first lines of the data file.
# The files go to run/ in the repository (or $TARVO_RUN_DIR).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/setup.sh"
bash "$top/scripts/build.sh"
tarvo="$top/${TARVO_BUILD_DIR:-build}/bin/tarvo"
out=${TARVO_RUN_DIR:-$top/run}
mkdir -p "$out"
cd "$out"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${TARVO_UNATTENDED:-}" ]; then
  exec "$tarvo" --com 1=virtual "$@"
fi

script=$(mktemp)
trap 'rm -f "$script"' EXIT
cat > "$script" <<'EOS'
# port 1 (the virtual board), 6 channels, 115200 baud, status byte,
# 2000 us, digital lines and counter, integer columns
set 2 1
set 6 6
set 8 115200
set 9 1
set 10 2000
set 11 1
set 12 1
set 13 1
press start
wait 10
press stop
EOS
echo "tarvo: unattended run on the virtual board for about ten seconds, in $out"
"$tarvo" -platform offscreen --com 1=virtual --script "$script" "$@"
echo
echo "--- config.txt"
cat config.txt
echo
echo "--- data.txt: $(wc -l < data.txt) records; the first ten:"
head -n 10 data.txt
