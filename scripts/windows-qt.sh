#!/usr/bin/env bash
# Cross-builds the Qt modules the Windows program needs (Core, Gui, Widgets,
# the windows platform plugin) from Debian's qtbase source with mingw-w64,
# once, into a cache folder outside the tree. When the cache is there it
# does nothing: scripts/windows-package.sh and scripts/windows-window-check.sh
# use it as it stands.
#
#   bash scripts/windows-qt.sh            # about half an hour on 2 cores, at low priority
#   bash scripts/windows-qt.sh --check    # prints the cache folder; status 0 when Qt is built there
#
# TARVO_QT_WINDOWS  the cache (default /var/cache/tarvo/qt6-mingw-6.4.2)
# TARVO_QT_WORK     the source and build folder (default /var/tmp/tarvo-qt6-mingw);
#                   removed once the cache is installed, unless TARVO_QT_KEEP_WORK=1
#
# Debian's own Qt 6.4.2 is the host Qt (moc, rcc, uic run from /usr), so the
# version of the source must be the same: `apt-get source qt6-base` gives it.
set -euo pipefail
cd "$(dirname "$0")/.."
version=6.4.2
cache=${TARVO_QT_WINDOWS:-/var/cache/tarvo/qt6-mingw-$version}
work=${TARVO_QT_WORK:-/var/tmp/tarvo-qt6-mingw}
jobs=${TARVO_QT_JOBS:-$(nproc)}

# The stamp is written last: a cache without it is an interrupted install.
if [ "${1:-}" = "--check" ]; then
  echo "$cache"
  [ -f "$cache/.tarvo-qt-complete" ]
  exit
fi
if [ -f "$cache/.tarvo-qt-complete" ]; then
  echo "windows-qt: Qt $version for Windows is in $cache"
  exit 0
fi

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

bash scripts/setup.sh windows
# dpkg-source unpacks what apt-get source fetches; the host Qt's own tools
# (moc, rcc, uic) and its CMake files come with the -dev packages.
need=()
for p in dpkg-dev qt6-base-dev qt6-base-dev-tools; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${need[@]}"
fi
host=$(dpkg-query -W -f='${Version}' qt6-base-dev)
case "$host" in
  "$version"+*) ;;
  *) echo "windows-qt: the host Qt is $host; this script builds $version and needs the same host version" >&2
     exit 1 ;;
esac

# Debian's source packages: a deb-src entry for bookworm's main archive.
if ! grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  echo "windows-qt: adding a deb-src entry (/etc/apt/sources.list.d/tarvo-deb-src.sources)"
  $sudo tee /etc/apt/sources.list.d/tarvo-deb-src.sources >/dev/null <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  $sudo apt-get update -q
fi

mkdir -p "$work"
src=$(find "$work" -maxdepth 1 -type d -name "qt6-base-$version*" | head -n1)
if [ -z "$src" ] || [ ! -f "$src/CMakeLists.txt" ]; then
  echo "windows-qt: fetching qt6-base's source into $work"
  (cd "$work" && apt-get source -q qt6-base)
  src=$(find "$work" -maxdepth 1 -type d -name "qt6-base-$version*" | head -n1)
fi
[ -f "$src/CMakeLists.txt" ] || { echo "windows-qt: no qtbase source in $work" >&2; exit 1; }

# The toolchain goes into the cache with Qt: Qt's own qt.toolchain.cmake
# names it, and it must outlive the work folder. The C and C++ run-time
# libraries stay DLLs (libstdc++-6, libgcc_s_seh-1, libwinpthread-1): Qt's
# DLLs and the program then share one C++ run-time.
mkdir -p "$cache"
cat >"$cache/mingw-w64-x86_64.cmake" <<'EOF'
# x86_64-w64-mingw32 with the posix thread model (std::thread in libstdc++).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF

# Only what the window needs. Off, and why: OpenGL (the panel paints with
# QPainter; with OpenGL off, 6.4.2's windows plugin builds only with
# dynamicgl off too), tablets (Debian's source leaves out wintab), ICU,
# the image formats tarvo does not read, and the modules it does not use.
# The third-party libraries are the ones in qtbase's own tree, built in.
build=$work/build
t0=$SECONDS
cmake -S "$src" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$cache/mingw-w64-x86_64.cmake" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_INSTALL_PREFIX="$cache" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
  -DFEATURE_pkg_config=OFF \
  -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_opengl=OFF -DFEATURE_dbus=OFF \
  -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_testlib=OFF \
  -DFEATURE_vulkan=OFF -DFEATURE_icu=OFF -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF \
  -DFEATURE_tabletevent=OFF -DFEATURE_dynamicgl=OFF \
  -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_freetype=OFF \
  -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_png=OFF
# Low priority: the machine is shared, and this is the longest thing it does.
nice -n 19 cmake --build "$build" -j"$jobs"
cmake --install "$build" >/dev/null
minutes=$(( (SECONDS - t0 + 30) / 60 ))
echo "$version built in $((SECONDS - t0)) s with $jobs jobs on $(nproc) cores, $(date -u +%F)" >"$cache/.tarvo-qt-complete"
echo "windows-qt: Qt $version for Windows installed in $cache (configure and build: about $minutes min)"
[ "${TARVO_QT_KEEP_WORK:-0}" = 1 ] || rm -rf "$work"
