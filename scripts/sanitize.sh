#!/usr/bin/env bash
# Builds the tests with sanitizers and runs them; a single report fails the run.
#
#   bash scripts/sanitize.sh asan   # AddressSanitizer + UndefinedBehaviorSanitizer: every test
#   bash scripts/sanitize.sh tsan   # ThreadSanitizer: the tests where threads meet
#
# Builds in build-asan/ or build-tsan/ ($TARVO_SANITIZE_DIR to change). The
# programs the tests start (tarvo, tarvo-board) are instrumented too, and every
# process writes its reports to a file of its own in the build's
# sanitizer-logs/, so that no report in a child process goes unseen. Qt is not
# instrumented: scripts/sanitize/*.supp hold the few suppressions needed for
# Qt's and the system libraries' own internals, each with its reason.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

kind=${1:-}
case "$kind" in
  asan)
    sanitizers="address,undefined"
    build=${TARVO_SANITIZE_DIR:-build-asan}
    targets=(all)
    per_core=3  # tests at a time per core: they mostly wait
    skip=()
    exclude=''
    ;;
  tsan)
    sanitizers="thread"
    build=${TARVO_SANITIZE_DIR:-build-tsan}
    per_core=2  # ThreadSanitizer makes every test use more of the CPU
    # Start, sampling, Stop and Quit (in process and through the real
    # program), the serial layer and its thread pool, the panel's values set
    # from another thread.
    targets=(test_sample test_report test_close test_run test_serial test_panel)
    # The fuzz corpus replays run on one thread: the address run has them.
    # The install checks need every program, which this run does not build.
    skip=(-LE fuzz)
    exclude='|^Install\.'

    ;;
  *)
    echo "usage: scripts/sanitize.sh asan|tsan" >&2
    exit 2
    ;;
esac

bash scripts/setup.sh
# -O1 keeps the stacks readable and the build fast; -g1 is enough for file
# and line in every report.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" -DTARVO_SANITIZE="$sanitizers" >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

logs="$root/$build/sanitizer-logs"
rm -rf "$logs"
mkdir -p "$logs"
supp="$root/scripts/sanitize"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:log_path=$logs/asan"
export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$logs/ubsan"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$supp/tsan.supp:log_path=$logs/tsan"

runner=()
if [ "$kind" = tsan ] && setarch "$(uname -m)" -R true 2>/dev/null; then
  # ThreadSanitizer needs the classic address-space layout on kernels with
  # high mmap randomisation.
  runner=(setarch "$(uname -m)" -R)
fi

status=0
# Tests whose program was not built for this run are left out.
"${runner[@]}" ctest --test-dir "$build" --output-on-failure \
  -j"${TARVO_TEST_JOBS:-$((per_core * $(nproc)))}" --timeout 600 \
  -E "_NOT_BUILT$exclude" "${skip[@]}" || status=$?

reports=$(find "$logs" -type f | sort)
if [ -n "$reports" ]; then
  echo "sanitize.sh: $(echo "$reports" | wc -l) report(s):" >&2
  for f in $reports; do
    echo "=== $f" >&2
    cat "$f" >&2
  done
  status=1
fi
[ $status -eq 0 ] && echo "sanitize.sh: $kind: every test passed, no reports"
exit $status
