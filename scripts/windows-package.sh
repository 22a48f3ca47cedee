#!/usr/bin/env bash
# Builds the Windows programs (tarvo.exe, and tarvo-export.exe and
# tarvo-view.exe where the tree has them) against the Qt for Windows that
# scripts/windows-qt.sh builds, and packs them with tarvo.uir and every DLL
# they need into a zip that runs on Windows as it is unpacked:
#
#   bash scripts/windows-package.sh
#
# Prints the zip's path: build-windows/qt/tarvo-VERSION-windows-x64.zip
# (the build folder is $TARVO_WINDOWS_QT_BUILD_DIR; the Qt, $TARVO_QT_WINDOWS).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${TARVO_WINDOWS_QT_BUILD_DIR:-build-windows/qt}
case "$build" in /*) ;; *) build=$root/$build ;; esac

if ! qt=$(bash scripts/windows-qt.sh --check); then
  echo "windows-package: no Qt for Windows in $qt: build it with bash scripts/windows-qt.sh" >&2
  exit 1
fi

# Qt's own wrapper: its toolchain file chains to the mingw-w64 one that
# built Qt, finds the Qt for Windows and the host's moc, rcc and uic. Qt
# UiTools is not there, so the panel is compiled in (TARVO_PANEL_COMPILED_IN).
"$qt/bin/qt-cmake" -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DTARVO_BUILD_TESTS=OFF --no-warn-unused-cli >/dev/null
cmake --build "$build" -j"$(nproc)"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
name=tarvo-$version-windows-x64
stage=$build/package/$name
rm -rf "$build/package"
mkdir -p "$stage/platforms"

programs=()
for exe in tarvo tarvo-export tarvo-view; do
  [ -f "$build/bin/$exe.exe" ] && programs+=("$build/bin/$exe.exe")
done
cp "${programs[@]}" "$stage/"
cp resources/tarvo.uir "$stage/"
cp "$qt/plugins/platforms/qwindows.dll" "$stage/platforms/"
# The native look of Windows 10 and 11 (without it Qt draws its Fusion style).
if [ -f "$qt/plugins/styles/qwindowsvistastyle.dll" ]; then
  mkdir -p "$stage/styles"
  cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$stage/styles/"
fi

# Every DLL the programs and plugins import, and the DLLs those import, from
# the Qt build and the cross compiler's run-time libraries; what is found in
# none of them is Windows' own (KERNEL32, USER32, ...).
gcc_dir=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
search=("$qt/bin" "$gcc_dir" /usr/x86_64-w64-mingw32/lib)
imports() { x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^\s*DLL Name: //p'; }
queue=("$stage"/*.exe "$stage"/platforms/*.dll "$stage"/styles/*.dll)
declare -A seen=()
while [ ${#queue[@]} -gt 0 ]; do
  file=${queue[0]}
  queue=("${queue[@]:1}")
  [ -f "$file" ] || continue
  for dll in $(imports "$file"); do
    key=${dll,,}
    [ -n "${seen[$key]:-}" ] && continue
    seen[$key]=1
    for dir in "${search[@]}"; do
      found=$(find "$dir" -maxdepth 1 -iname "$dll" -print -quit 2>/dev/null)
      if [ -n "$found" ]; then
        cp "$found" "$stage/"
        queue+=("$stage/$(basename "$found")")
        break
      fi
    done
  done
done
for need in Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
  [ -f "$stage/$need" ] || { echo "windows-package: $need was not found for the package" >&2; exit 1; }
done
# The symbols are of no use on a user's machine and double the size.
x86_64-w64-mingw32-strip --strip-unneeded "$stage"/*.exe "$stage"/*.dll "$stage"/*/*.dll

zip="$build/$name.zip"
rm -f "$zip"
(cd "$build/package" && zip -q -r -9 "$zip" "$name")
echo "$zip"
