#!/usr/bin/env bash
# Builds every libFuzzer target (clang, ASan and UBSan) and runs each for a
# while on a scratch copy of its committed seeds; the committed corpus
# directories are never written. Prints one line per target and exits
# non-zero when a target crashed, hung, leaked, failed to build or is missing.
#
#   fuzz/run-all.sh [-t SECONDS] [-b BUILD_DIR] [-k] [TARGET...]
#
#   -t SECONDS   run time of each target (default 60)
#   -b BUILD_DIR build directory (default build-fuzz under the repository)
#   -k           keep the scratch directory (logs, grown corpora, crash inputs)
#   TARGET       a subset of the names below (default: all)
set -u

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=60
build="$root/build-fuzz"
keep=0
while getopts "t:b:k" opt; do
    case $opt in
    t) seconds=$OPTARG ;;
    b) build=$OPTARG ;;
    k) keep=1 ;;
    *) sed -n '7,13p' "$0" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))

# name|binary|seed directory|libFuzzer options
targets=(
    "smbios|smbios_fuzz|fuzz/smbios/seeds|-max_len=32768"
    "responses|fuzz_responses|fuzz/responses/corpus|-max_len=80"
    "ioctl|fuzz_ioctl|fuzz/ioctl/corpus|-max_len=128"
    "devchannel|fuzz_devchannel|fuzz/devchannel/corpus|-max_len=4096"
    "endpoint|fuzz_endpoint|fuzz/endpoint/corpus|-max_len=4096"
)
# Real firmware tables join the SMBIOS seeds where the shared directory exists.
smbios_extra="$root/../shared/smbios-corpus"

selected=()
for entry in "${targets[@]}"; do
    name=${entry%%|*}
    if [ $# -eq 0 ] || [[ " $* " == *" $name "* ]]; then
        selected+=("$entry")
    fi
done
if [ ${#selected[@]} -eq 0 ]; then
    echo "run-all: no such target: $*" >&2
    exit 2
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DSVCPROC_FUZZ=ON \
        -DSVCPROC_SANITIZE=address,undefined -DSVCPROC_BENCH=OFF >/dev/null || exit 1
fi

work=$(mktemp -d /tmp/svcproc-fuzz.XXXXXX)
if [ $keep -eq 0 ]; then
    trap 'rm -rf "$work"' EXIT
fi

export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export ASAN_OPTIONS=abort_on_error=0:detect_leaks=1
# Targets that log go quiet; the SMBIOS target sets its own level.
export SVCPROC_LOG_LEVEL=0

failed=0
printf '%-11s %-8s %10s %8s %7s %7s %s\n' target result runs exec/s cov ft detail
for entry in "${selected[@]}"; do
    IFS='|' read -r name binary seeds options <<<"$entry"
    dir="$work/$name"
    mkdir -p "$dir/corpus"
    if [ ! -d "$root/$seeds" ]; then
        printf '%-11s %-8s %s\n' "$name" missing "no $seeds"
        failed=1
        continue
    fi
    if ! cmake --build "$build" --target "$binary" -j2 >"$dir/build.log" 2>&1; then
        if grep -q "unknown target" "$dir/build.log"; then
            printf '%-11s %-8s %s\n' "$name" missing "no target $binary"
        else
            printf '%-11s %-8s %s\n' "$name" no-build "see $dir/build.log"
        fi
        failed=1
        continue
    fi
    cp -r "$root/$seeds/." "$dir/corpus/"
    if [ "$name" = smbios ] && [ -d "$smbios_extra" ]; then
        cp "$smbios_extra"/*.bin "$dir/corpus/" 2>/dev/null
    fi
    # shellcheck disable=SC2086
    "$build/bin/$binary" -max_total_time="$seconds" -timeout=25 -print_final_stats=1 \
        -artifact_prefix="$dir/" $options "$dir/corpus" >"$dir/log" 2>&1
    rc=$?
    final_stat() { sed -n "s/^stat::$1: *//p" "$dir/log" | tail -1; }
    runs=$(final_stat number_of_executed_units)
    speed=$(final_stat average_exec_per_sec)
    last=$(grep -E '^#[0-9]+' "$dir/log" | tail -1)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
    if [ $rc -eq 0 ]; then
        result=clean
        detail="corpus $(ls "$dir/corpus" | wc -l) inputs"
    else
        result=FAILED
        failed=1
        artifact=$(ls "$dir"/crash-* "$dir"/timeout-* "$dir"/leak-* "$dir"/oom-* 2>/dev/null | head -1)
        reason=$(grep -m1 -E 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error|deadly signal' "$dir/log")
        detail="rc=$rc ${reason:-see log} ${artifact:+input $artifact}"
        keep=1
        trap - EXIT
    fi
    printf '%-11s %-8s %10s %8s %7s %7s %s\n' "$name" "$result" "${runs:--}" "${speed:--}" \
        "${cov:--}" "${ft:--}" "$detail"
done
if [ $keep -eq 1 ]; then
    echo "logs and inputs in $work"
fi
exit $failed
