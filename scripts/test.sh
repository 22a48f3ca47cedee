#!/usr/bin/env bash
# Sets up, builds and runs every test. The panel tests run on Qt's offscreen
# platform, so no display is needed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "${TARVO_BUILD_DIR:-build}" --output-on-failure -j"$(nproc)" --timeout 300
