#!/usr/bin/env bash
# Renders the menu icon's PNG sizes into resources/icons/ (kept in the tree,
# so that a build needs no SVG renderer). 16 and 24 px come from the icon
# drawn for small sizes (resources/tarvo-16.svg), the larger ones from
# resources/tarvo.svg, whose grid and second trace blur together below 32 px.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v rsvg-convert >/dev/null || apt-get install -y --no-install-recommends librsvg2-bin
mkdir -p resources/icons
for size in 16 24 32 48 64 128 256; do
  src=resources/tarvo.svg
  [ "$size" -le 24 ] && src=resources/tarvo-16.svg
  rsvg-convert -w "$size" -h "$size" "$src" -o "resources/icons/tarvo-$size.png"
done
ls -l resources/icons
