#!/usr/bin/env bash
# Sets up, builds and runs every test. The panel tests run on Qt's offscreen
# platform, so no display is needed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
export QT_QPA_PLATFORM=offscreen
# The tests spend most of their time waiting on lines, boards and processes,
# not on the CPU: three at a time per core ($TARVO_TEST_JOBS to change).
ctest --test-dir "${TARVO_BUILD_DIR:-build}" --output-on-failure \
  -j"${TARVO_TEST_JOBS:-$((3 * $(nproc)))}" --timeout 300
