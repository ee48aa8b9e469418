#!/usr/bin/env bash
# Builds the whole tree with sanitizers and runs the test suite under them.
#
#   bash packaging/sanitize.sh address   # ASan + UBSan in build-asan
#   bash packaging/sanitize.sh thread    # TSan in build-tsan
#
# Further arguments go to ctest (for example -R portwyn). SVCPROC_JOBS sets
# the parallelism of the build and of ctest (default 2).
#
# Every program is built with the same flags, so the processes the tests
# start (portwyn, telvane, spsim, wbemq) are sanitized as well. A report
# fails the process that makes it; the tests check their children's exit
# status, and as a second net the script fails when any report shows up in
# the output of a test, even one that passed.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
kind=${1:-}
[ $# -gt 0 ] && shift
jobs=${SVCPROC_JOBS:-2}

case "$kind" in
  address)
    build=$root/build-asan
    sanitize=address,undefined
    # Without this UBSan prints and carries on; a finding must fail the run.
    extra_flags="-fno-sanitize-recover=all"
    ;;
  thread)
    build=$root/build-tsan
    sanitize=thread
    extra_flags=""
    ;;
  *)
    echo "usage: $0 address|thread [ctest arguments...]" >&2
    exit 2
    ;;
esac

# gcc carries ASan, UBSan and TSan runtimes; clang is only needed for fuzzing.
cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_CXX_COMPILER=g++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSVCPROC_SANITIZE="$sanitize" \
  -DCMAKE_CXX_FLAGS="$extra_flags"

# Set before the build as well: test discovery runs the test programs.
# A report ends the process with 86 (TSan: 66), never with a code a program
# uses itself: several tests expect exit code 1 or 2 from a refusal.
export ASAN_OPTIONS="halt_on_error=1:print_stacktrace=1:exitcode=86:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:exitcode=86"
export LSAN_OPTIONS="exitcode=86"
tsan_options="halt_on_error=1:second_deadlock_stack=1:exitcode=66"
if [ -s "$root/packaging/tsan.supp" ]; then
  tsan_options="$tsan_options:suppressions=$root/packaging/tsan.supp"
fi
export TSAN_OPTIONS="$tsan_options"

cmake --build "$build" -j"$jobs"

status=0
ctest --test-dir "$build" --output-on-failure -j"$jobs" "$@" || status=$?

# A child whose report went to the test's output but whose exit status was
# not looked at still fails the run here, with the test named.
log=$build/Testing/Temporary/LastTest.log
pattern='ERROR: (Address|Leak)Sanitizer|runtime error:|WARNING: ThreadSanitizer|SUMMARY: (Address|Leak|Thread|UndefinedBehavior)Sanitizer'
if [ -f "$log" ] && grep -Eq "$pattern" "$log"; then
  echo "sanitizer reports in test output:" >&2
  awk -v pat="$pattern" '
    /^[0-9]+\/[0-9]+ Test: / { test = $0 }
    $0 ~ pat { if (test != last) { print test; last = test } print "  " $0 }
  ' "$log" >&2
  [ "$status" -eq 0 ] && status=1
fi
exit "$status"
