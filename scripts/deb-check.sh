#!/usr/bin/env bash
# Installs the Debian package on a clean Debian 12, runs it there and
# removes it again. The clean system is a copy, made afresh for each check, of
# a debootstrap'ed root ($TARVO_DEB_ROOT, made on first use; needs root and
# Debian's archive), so every check starts from the same minimal system:
#   - apt-get install of the .deb pulls in its dependencies;
#   - tarvo --version, and an unattended 5 s run on the virtual board
#     offscreen: data.txt and config.txt written;
#   - the menu entries: desktop-file-validate, the programs they start on
#     PATH, the icon; the recorder's Exec line run as a menu runs it (it
#     starts in ~/tarvo, made for it);
#   - apt-get remove: every file the package brought is gone.
# Every command and its output is printed (and written to $TARVO_DEB_LOG when
# set). Exit status 0 when every check passed.
#   bash scripts/deb-check.sh [PACKAGE.deb]    # default: scripts/package.sh builds it
set -euo pipefail
cd "$(dirname "$0")/.."
clean=${TARVO_DEB_ROOT:-/work/deb-root}
root=$clean-check
mirror=${TARVO_DEB_MIRROR:-http://deb.debian.org/debian}
log=${TARVO_DEB_LOG:-/dev/null}
[ "$(id -u)" -eq 0 ] || { echo "deb-check.sh: needs root (debootstrap, chroot)" >&2; exit 2; }

deb=${1:-}
[ -n "$deb" ] || deb=$(bash scripts/package.sh | tail -1)
[ -f "$deb" ] || { echo "deb-check.sh: no package $deb" >&2; exit 2; }
bash scripts/setup.sh package >&2

exec > >(tee "$log") 2>&1
failed=0
run() { # prints the command (words with blanks or shell signs quoted), then runs it
  local a line='$'
  for a in "$@"; do
    if [[ $a =~ [[:space:]\"\'\$\&\|\;\<\>\(\)~] ]]; then
      line+=" '${a//\'/\'\\\'\'}'"
    else
      line+=" $a"
    fi
  done
  echo "$line"
  "$@"
}
check() { # check DESCRIPTION COMMAND...: a check that passes or fails
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failed=1; fi
}
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }

if [ ! -x "$clean/usr/bin/apt-get" ]; then
  run debootstrap --variant=minbase bookworm "$clean" "$mirror"
fi
for m in proc dev/pts; do
  ! mountpoint -q "$root/$m" || umount "$root/$m"
done
rm -rf --one-file-system "$root"
run cp -a "$clean" "$root"
cp /etc/resolv.conf "$root/etc/resolv.conf"
mounted=()
cleanup() {
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount "${mounted[i]}" || true; done
}
trap cleanup EXIT
for m in proc dev/pts; do
  if ! mountpoint -q "$root/$m"; then
    case $m in
      proc) mount -t proc proc "$root/proc" ;;
      dev/pts) mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts" ;;
    esac
    mounted+=("$root/$m")
  fi
done

echo "# in_root: chroot $root env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8"
echo "=== the package"
run dpkg-deb -f "$deb" Package Version Architecture Depends Recommends
name=$(basename "$deb")
cp "$deb" "$root/tmp/$name"
# What the package brings: its files (not its folders), to be gone after removal.
mapfile -t files < <(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {sub(/^\./, "", $6); print $6}')

echo "=== install on a clean Debian 12"
run in_root cat /etc/debian_version
run in_root apt-get update -q
run in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "/tmp/$name"
for f in "${files[@]}"; do
  check "installed: $f" test -e "$root$f"
done

echo "=== the programs"
run in_root tarvo --version
check "tarvo --version names the package's version" \
  bash -c "in_root() { chroot '$root' env -i PATH=/usr/bin:/bin \"\$@\"; }; \
           in_root tarvo --version | grep -qx 'tarvo $(dpkg-deb -f "$deb" Version)'"
run in_root sh -c 'tarvo-board --help | head -3'
run in_root sh -c 'tarvo-export --help | head -3'
rm -rf "$root/root/run" && mkdir -p "$root/root/run"
cat >"$root/root/run/run.txt" <<'SCRIPT'
set 2 1
set 6 6
set 10 2000
press start
wait 5
press stop
SCRIPT
run cat "$root/root/run/run.txt"
rc=0
run in_root sh -c 'cd /root/run && tarvo -platform offscreen --com 1=virtual --script run.txt' || rc=$?
check "the unattended run ended with status 0 (was $rc)" test "$rc" -eq 0
run in_root sh -c 'cd /root/run && ls -l && wc -l data.txt && head -3 data.txt && cat config.txt && echo'
lines=$(wc -l <"$root/root/run/data.txt" || echo 0)
# 5 s at 2000 us: about 2500 records; a loaded machine starts late, never early.
check "data.txt holds the run's records ($lines lines)" test "$lines" -ge 1500 -a "$lines" -le 2600
check "config.txt written" test -s "$root/root/run/config.txt"

echo "=== the menu entries"
for d in tarvo tarvo-view; do
  desktop=$root/usr/share/applications/$d.desktop
  run grep -E '^(Exec|Icon|Categories)=' "$desktop"
  check "desktop-file-validate $d.desktop" desktop-file-validate "$desktop"
  check "$d is on the menu's PATH" in_root sh -c "command -v $d"
done
check "the icon, scalable and 16 px" test -s "$root/usr/share/icons/hicolor/scalable/apps/tarvo.svg" \
  -a -s "$root/usr/share/icons/hicolor/16x16/apps/tarvo.png"
# The recorder's Exec line as a menu runs it, in a new user's home: it starts
# (and waits for the user until the time-out ends it) in ~/tarvo.
exec_line=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/tarvo.desktop")
exec_cmd=$(printf '%s' "$exec_line" | sed 's/^sh -c "\(.*\)"$/\1/')
rm -rf "$root/tmp/menu-home" && mkdir -p "$root/tmp/menu-home"
rc=0
run in_root env HOME=/tmp/menu-home QT_QPA_PLATFORM=offscreen timeout 5 sh -c "$exec_cmd" || rc=$?
check "the menu's tarvo runs until stopped (status 124, was $rc)" test "$rc" -eq 124
check "the menu's tarvo starts in ~/tarvo" test -d "$root/tmp/menu-home/tarvo"

echo "=== remove"
run in_root env DEBIAN_FRONTEND=noninteractive apt-get remove -y -q tarvo
gone=1
for f in "${files[@]}"; do
  if [ -e "$root$f" ]; then echo "left behind: $f"; gone=0; fi
done
check "every file of the package is gone (${#files[@]} files)" test "$gone" -eq 1
run in_root sh -c 'ls /usr/share/tarvo /usr/bin/tarvo 2>&1; command -v tarvo || echo "tarvo: not on PATH"'
run in_root sh -c 'dpkg -s tarvo 2>&1 | head -2'

[ "$failed" -eq 0 ] && echo "=== deb-check: all checks passed" || echo "=== deb-check: a check failed"
exit "$failed"
