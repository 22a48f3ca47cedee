# Sourced by the scripts that show a window on a private display.
#
#   start_xvfb NAME FIRST LAST SIZE LOG
#
# Starts Xvfb on the first display number from FIRST to LAST that nobody
# uses, with one screen of SIZE (e.g. 1600x1000x24) and its output in LOG;
# sets xvfb_pid and exports DISPLAY. Returns once a client can draw on it.
# NAME is the calling script's, for its messages; it exits the script when
# no display number is free or Xvfb ends.
start_xvfb() {
  local name=$1 first=$2 last=$3 size=$4 log=$5 display="" n
  for n in $(seq "$first" "$last"); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      display=":$n"
      break
    fi
  done
  [ -n "$display" ] || { echo "$name: no free X display number" >&2; exit 1; }
  Xvfb "$display" -screen 0 "$size" -nolisten tcp >"$log" 2>&1 &
  xvfb_pid=$!
  export DISPLAY="$display"
  # Ready when a client can draw from it (its socket appears a little earlier).
  for _ in $(seq 100); do
    xwd -root -silent -out /dev/null 2>/dev/null && break
    kill -0 "$xvfb_pid" 2>/dev/null || { cat "$log" >&2; exit 1; }
    sleep 0.1
  done
}
