#!/usr/bin/env bash
# Puts the C++ sources in the house style (.clang-format). With --check it
# changes nothing, lists each place that differs and fails: CI's style stage.
set -euo pipefail
cd "$(dirname "$0")/.."
# One version of the formatter for everyone: another one lays out a few
# constructs differently.
fmt=$(command -v clang-format-14) || {
  echo "format.sh: clang-format-14 is not installed (bash scripts/setup.sh style)" >&2
  exit 2
}
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = --check ]; then
  "$fmt" --dry-run --Werror "${files[@]}"
  echo "format.sh: ${#files[@]} files in the house style"
else
  "$fmt" -i "${files[@]}"
fi
