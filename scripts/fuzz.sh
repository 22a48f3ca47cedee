#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer (and AddressSanitizer +
# UndefinedBehaviorSanitizer) and runs each for SECONDS (default 60).
#
#   bash scripts/fuzz.sh [SECONDS] [TARGET...]
#
# Targets: fuzz_record fuzz_board fuzz_panel fuzz_script fuzz_options fuzz_columns
# fuzz_raw fuzz_report fuzz_runjson fuzz_remembered.
# Each starts from its committed seeds in fuzz/corpus/TARGET and grows a
# working corpus in build-fuzz/corpus/TARGET (kept between runs). A crash
# leaves its input in build-fuzz/crashes/TARGET/; once fixed, copy that file
# into fuzz/corpus/TARGET so that the replay test (ctest -L fuzz) keeps it.
# Prints one line per target: executions, corpus size, crashes.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_record fuzz_board fuzz_panel fuzz_script fuzz_options
  fuzz_columns fuzz_raw fuzz_report fuzz_runjson fuzz_remembered)

bash scripts/setup.sh fuzz
build=${TARVO_FUZZ_DIR:-build-fuzz}
# Every library the targets link is instrumented for coverage and memory
# errors; the targets themselves link libFuzzer's main.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DTARVO_FUZZ=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

export QT_QPA_PLATFORM=offscreen
# The same suppressions as the sanitizer runs: libraries, never our code.
export LSAN_OPTIONS="suppressions=$root/scripts/sanitize/lsan.supp:print_suppressions=0"
status=0
printf '%-14s %10s %12s %8s %8s\n' target seconds executions corpus crashes
for t in "${targets[@]}"; do
  corpus="$root/$build/corpus/$t"
  crashes="$root/$build/crashes/$t"
  mkdir -p "$corpus" "$crashes"
  extra=()
  # The panel loader reports every refused file on stderr: keep the log short.
  [ "$t" = fuzz_panel ] && extra=(-close_fd_mask=2)
  log="$root/$build/$t.log"
  "$root/$build/bin/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=4096 -print_final_stats=1 -artifact_prefix="$crashes/" "${extra[@]}" \
    "$corpus" "$root/fuzz/corpus/$t" >"$log" 2>&1 || status=1
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  found=$(find "$crashes" -type f | wc -l)
  [ "$found" -gt 0 ] && status=1
  printf '%-14s %10s %12s %8s %8s\n' "$t" "$seconds" "${execs:-?}" \
    "$(find "$corpus" -type f | wc -l)" "$found"
done
[ $status -ne 0 ] && echo "fuzz.sh: a target crashed or failed; see $build/*.log and $build/crashes/" >&2
exit $status
