#!/usr/bin/env bash
# Installs every Debian package that building, running and testing tarvo
# needs. Non-interactive and idempotent: when everything is there already it
# changes nothing and does not touch the network.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-tools-dev libqt6opengl6-dev qt6-qpa-plugins  # Widgets, UiTools, Test; xcb + offscreen
  fonts-dejavu-core                                             # text in offscreen renderings
  libgtest-dev libbenchmark-dev
)
# Extra groups, by argument: "screenshot" (a real X server and a grabber),
# "windows" (the mingw-w64 cross compiler, wine, GoogleTest's sources),
# "style" (the formatter of scripts/format.sh), "package" (the Debian
# package's tools: scripts/package.sh, deb-check.sh).
for extra in "$@"; do
  case "$extra" in
    screenshot) packages+=(xvfb xauth x11-apps imagemagick) ;;
    fuzz) packages+=(clang libclang-rt-14-dev) ;;                 # libFuzzer (scripts/fuzz.sh)
    style) packages+=(clang-format-14) ;;
    package) packages+=(dpkg-dev file desktop-file-utils debootstrap) ;;
    windows) packages+=(g++-mingw-w64-x86-64-posix wine wine64 googletest) ;;
    *) echo "setup.sh: unknown group '$extra'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "setup.sh: installing ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
