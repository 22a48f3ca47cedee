#!/usr/bin/env bash
# Builds the Debian package: a Release build of its own in build-package/
# (or $TARVO_PACKAGE_DIR), installed under /usr, packed by CPack into
# tarvo_VERSION_ARCH.deb there. Prints the package's path last.
#   bash scripts/package.sh [--list|--check] [--from BUILD]
# --list: also its control fields and files; --check: those, and checks that
# the files a user needs are in it and the Qt libraries among its
# dependencies (CI's quick check, which installs nothing: deb-check.sh does).
# --from BUILD packs an existing build tree as it is (CI packs the tests'
# build rather than build everything a second time); its programs look for
# tarvo.uir in ../share/tarvo first, so the package works all the same.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${TARVO_PACKAGE_DIR:-build-package}
mode=
from=
while [ $# -gt 0 ]; do
  case "$1" in
    --list | --check) mode=$1 ;;
    --from)
      [ $# -ge 2 ] || { echo "package.sh: --from needs a build folder" >&2; exit 2; }
      from=$2
      shift
      ;;
    *) echo "package.sh: unknown option $1 (--list, --check, --from BUILD)" >&2; exit 2 ;;
  esac
  shift
done
bash scripts/setup.sh package >&2
if [ -n "$from" ]; then
  [ -f "$from/CPackConfig.cmake" ] || { echo "package.sh: $from is not a configured build" >&2; exit 2; }
  build=$from
else
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DTARVO_BUILD_TESTS=OFF -DTARVO_BUILD_BENCH=OFF >&2
  cmake --build "$build" -j"${TARVO_JOBS:-$(nproc)}" >&2
fi
rm -f "$build"/tarvo_*.deb
(cd "$build" && cpack -G DEB -D CPACK_PACKAGING_INSTALL_PREFIX=/usr >&2)
deb=$(ls "$build"/tarvo_*.deb)
case "$mode" in
  --list | --check)
    dpkg-deb -I "$deb"
    dpkg-deb -c "$deb"
    ;;
esac
if [ "$mode" = "--check" ]; then
  version=$(sed -n 's/^project(tarvo VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
  arch=$(dpkg --print-architecture)
  bad=0
  [ "$(basename "$deb")" = "tarvo_${version}_${arch}.deb" ] ||
    { echo "package.sh: $deb is not tarvo_${version}_${arch}.deb" >&2; bad=1; }
  contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
  for f in bin/tarvo bin/tarvo-view bin/tarvo-export bin/tarvo-board share/tarvo/tarvo.uir \
    share/applications/tarvo.desktop share/applications/tarvo-view.desktop \
    share/icons/hicolor/scalable/apps/tarvo.svg share/icons/hicolor/16x16/apps/tarvo.png \
    share/icons/hicolor/48x48/apps/tarvo.png; do
    grep -qx "\./usr/$f" <<<"$contents" || { echo "package.sh: /usr/$f is missing" >&2; bad=1; }
  done
  depends=$(dpkg-deb -f "$deb" Depends)
  for d in libqt6core6 libqt6gui6 libqt6widgets6 libqt6uitools6 qt6-qpa-plugins; do
    grep -q "\b$d\b" <<<"$depends" || { echo "package.sh: Depends lacks $d: $depends" >&2; bad=1; }
  done
  [ "$bad" -eq 0 ] && echo "package.sh: the package holds what it should" >&2
  echo "$deb"
  exit "$bad"
fi
echo "$deb"
