#!/usr/bin/env bash
# Checks of the demo, the installed tree and the programs' command lines.
# Usage: demo_tests.sh CASE SOURCE_DIR BUILD_DIR
set -uo pipefail

case_name=$1
source_dir=$2
build_dir=$3
demo=$source_dir/svcproc/tools/demo/svcproc-demo
bin=$build_dir/bin

scratch=$(mktemp -d "${TMPDIR:-/tmp}/svcproc-demo-test.XXXXXX")
child=""
cleanup() {
    if [ -n "$child" ]; then
        kill -KILL -- "-$child" 2>/dev/null
        wait "$child" 2>/dev/null
    fi
    # A failed check must not leave a stack behind either.
    for dir in $(grep -ho "runtime dir [^ ]*" "$scratch"/*.out 2>/dev/null | cut -d' ' -f3); do
        for pid in $(processes_of "$dir"); do kill -KILL "$pid" 2>/dev/null; done
        rm -rf -- "$dir"
    done
    rm -rf -- "$scratch"
}
trap cleanup EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
expect_in() { # FILE TEXT
    grep -qF -- "$2" "$1" || fail "'$2' missing from $(basename "$1")"
}

# Processes whose environment names this runtime dir.
processes_of() {
    grep -lzxF "SVCPROC_RUNTIME_DIR=$1" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3
}

runtime_dir_of() { # OUTPUT_FILE
    sed -n 's/^svcproc demo: .*runtime dir \(.*\)$/\1/p' "$1" | head -n 1
}

# Nothing of the run may survive it: no process, no socket, no runtime dir.
expect_nothing_left() { # OUTPUT_FILE
    local dir
    dir=$(runtime_dir_of "$1")
    [ -n "$dir" ] || { fail "the demo did not name its runtime dir"; return; }
    local left
    left=$(processes_of "$dir")
    [ -z "$left" ] || fail "processes of $dir left running: $(ps -o pid=,comm= -p ${left//$'\n'/,})"
    [ ! -e "$dir" ] || fail "runtime dir $dir left behind: $(find "$dir" | head)"
}

# Waits up to $2 seconds for TEXT $3 in FILE $1.
wait_for_text() {
    local i
    for ((i = 0; i < $2 * 10; i++)); do
        grep -qF -- "$3" "$1" && return 0
        sleep 0.1
    done
    return 1
}

# The demo from start to end: the tables, the alert and its recovery.
check_demo_output() { # OUTPUT_FILE
    local out=$1
    expect_in "$out" "== Sensors: wbemq enum VQX_SpNumericSensor"
    expect_in "$out" "VCC 3.3V(00010000)"
    expect_in "$out" "3.300 V"
    expect_in "$out" "rpm"
    expect_in "$out" "°C"
    expect_in "$out" "== LEDs: wbemq enum VQX_LedAlarmDevice"
    expect_in "$out" "Power LED(00040001)"
    grep -Eq "event: .*VCC 3.3V\(00010000\).*Critical" "$out" || fail "no Critical event line"
    grep -Eq "event: .*VCC 3.3V\(00010000\).*Ok" "$out" || fail "no Ok event line"
    # Critical before Ok, and the sensor's row after each: the table, Critical, Ok again.
    [ "$(grep -E "event: " "$out" | grep -oE "CurrentState=[A-Za-z]+" | tr '\n' ' ')" = \
        "CurrentState=Critical CurrentState=Ok " ] || fail "events not Critical then Ok"
    [ "$(grep -E '^VCC 3\.3V\(00010000\) +3\.300 V ' "$out" | awk '{print $5}' | tr '\n' ' ')" = \
        "Ok Critical Ok " ] || fail "the sensor's rows are not Ok, Critical, Ok"
    expect_in "$out" "== Stopped every process"
}

run_case() {
    local out=$scratch/run.out
    "$demo" --build-dir "$build_dir" --no-build >"$out" 2>&1
    local rc=$?
    [ "$rc" -eq 0 ] || fail "demo exited $rc"
    check_demo_output "$out"
    expect_nothing_left "$out"
    [ "$failures" -eq 0 ] || cat "$out"
}

interrupt_case() {
    local out=$scratch/interrupt.out
    # Its own process group with SIGINT at its default, as an interactive shell starts a
    # job (a plain background command of a script would ignore SIGINT).
    set -m
    "$demo" --build-dir "$build_dir" --no-build >"$out" 2>&1 &
    child=$!
    set +m
    wait_for_text "$out" 30 "== LEDs" || fail "the sensor table never came"
    kill -INT -- "-$child"
    local i
    for ((i = 0; i < 200; i++)); do
        kill -0 "$child" 2>/dev/null || break
        sleep 0.1
    done
    wait "$child"
    local rc=$?
    child=""
    [ "$rc" -eq 130 ] || fail "interrupted demo exited $rc, not 130"
    expect_in "$out" "interrupted, stopping"
    expect_nothing_left "$out"
    [ "$failures" -eq 0 ] || cat "$out"
}

keep_case() {
    local out=$scratch/keep.out
    "$demo" --build-dir "$build_dir" --no-build --keep >"$out" 2>&1 || fail "demo --keep failed"
    local dir
    dir=$(runtime_dir_of "$out")
    expect_in "$out" "The stack keeps running in $dir"
    [ -n "$(processes_of "$dir")" ] || fail "--keep left nothing running"
    SVCPROC_RUNTIME_DIR=$dir "$bin/wbemq" enum VQX_LedAlarmDevice >"$scratch/query.out" 2>&1 ||
        fail "the kept stack does not answer"
    expect_in "$scratch/query.out" "Power LED(00040001)"
    local stop
    stop=$(grep -o "[^ ]*svcproc-demo --stop .*" "$out")
    $stop >"$scratch/stop.out" 2>&1 || fail "'$stop' failed"
    expect_nothing_left "$out"
    [ "$failures" -eq 0 ] || cat "$out" "$scratch/stop.out"
}

install_case() {
    local prefix=$scratch/prefix
    cmake --install "$build_dir" --prefix "$prefix" >"$scratch/install.out" 2>&1 ||
        { cat "$scratch/install.out"; fail "cmake --install failed"; return; }
    local file
    for file in bin/telvane bin/wbemq bin/spsim bin/svcproc-demo sbin/portwyn \
        lib/libservice.so lib/liblog.so share/svcproc/vqx.mof lib/systemd/system/portwyn.service; do
        [ -e "$prefix/$file" ] || fail "$file not installed"
    done
    grep -qxF "ExecStart=$prefix/sbin/portwyn --ports=hw" "$prefix/lib/systemd/system/portwyn.service" ||
        fail "portwyn.service does not start the installed driver host on the real ports"
    # The installed programs load the installed libraries, not the build tree's.
    for file in bin/telvane bin/wbemq bin/spsim sbin/portwyn; do
        env -u NOTIFY_SOCKET -u SVCPROC_SCM "$prefix/$file" --help 2>&1 </dev/null |
            grep -q "Usage" || fail "$file --help shows no usage"
        if ldd "$prefix/$file" | grep -q "not found\|$build_dir"; then
            fail "$file resolves libraries outside the prefix: $(ldd "$prefix/$file" | grep "not found\|$build_dir")"
        fi
    done
    # A short stack run from the installed tree, moved elsewhere: libraries and schema are
    # found relative to the programs.
    mv "$prefix" "$scratch/moved"
    prefix=$scratch/moved
    local out=$scratch/installed.out
    "$prefix/bin/svcproc-demo" >"$out" 2>&1 || fail "the installed demo failed"
    expect_in "$out" "== Starting telvane"
    grep -q "Building\|Configuring" "$out" && fail "the installed demo built something"
    check_demo_output "$out"
    expect_nothing_left "$out"
    # The installed service registers itself with its installed path.
    mkdir -p "$scratch/units"
    SVCPROC_SCM_UNIT_DIR=$scratch/units "$prefix/bin/telvane" install >"$scratch/tv.out" 2>&1
    expect_in "$scratch/tv.out" "YARVOSPSvc Installed Successfully"
    grep -qF "ExecStart=\"$prefix/bin/telvane\"" "$scratch/units/YARVOSPSvc.service" ||
        fail "the registered unit does not start the installed telvane"
    SVCPROC_SCM_UNIT_DIR=$scratch/units SVCPROC_RUNTIME_DIR=$scratch "$prefix/bin/telvane" remove \
        >"$scratch/tv.out" 2>&1
    expect_in "$scratch/tv.out" "YARVOSPSvc removed successfully"
    [ "$failures" -eq 0 ] || cat "$out"
}

# --help answers with the usage; a bad argument with one line and a non-zero exit.
command_line_case() {
    local program
    for program in "$demo" "$bin/wbemq" "$bin/spsim" "$bin/portwyn"; do
        "$program" --help >"$scratch/help.out" 2>&1 || fail "$program --help exited non-zero"
        grep -qi "usage" "$scratch/help.out" || fail "$program --help shows no usage"
        "$program" --no-such-option >"$scratch/bad.out" 2>&1 && fail "$program accepted a bad option"
        [ -s "$scratch/bad.out" ] || fail "$program said nothing about a bad option"
    done
    for args in "--no-such-option" "--profile" "--build-dir" "--stop"; do
        "$demo" $args >"$scratch/bad.out" 2>&1 && fail "demo accepted '$args'"
        [ "$(wc -l <"$scratch/bad.out")" -eq 1 ] || fail "demo '$args': not one line: $(cat "$scratch/bad.out")"
    done
    for args in "--no-such-option" "enum" "watch X --count 0" "--impersonation none enum X"; do
        "$bin/wbemq" $args >"$scratch/bad.out" 2>&1 && fail "wbemq accepted '$args'"
        [ "$(wc -l <"$scratch/bad.out")" -eq 1 ] || fail "wbemq '$args': not one line: $(cat "$scratch/bad.out")"
    done
    for args in "--no-such-option" "--ports=floppy" "--port-base nowhere"; do
        "$bin/portwyn" $args >"$scratch/bad.out" 2>&1 && fail "portwyn accepted '$args'"
        [ "$(wc -l <"$scratch/bad.out")" -eq 1 ] || fail "portwyn '$args': not one line: $(cat "$scratch/bad.out")"
    done
    for args in "--no-such-option" "bogus" "set voltage"; do
        "$bin/spsim" $args >"$scratch/bad.out" 2>&1 && fail "spsim accepted '$args'"
        [ "$(wc -l <"$scratch/bad.out")" -eq 1 ] || fail "spsim '$args': not one line: $(cat "$scratch/bad.out")"
    done
    # telvane's words are fixed (install, remove, else the service); by hand --help answers.
    env -u NOTIFY_SOCKET -u SVCPROC_SCM "$bin/telvane" --help >"$scratch/help.out" 2>&1 ||
        fail "telvane --help exited non-zero"
    grep -q "^Usage: telvane \[install | remove\]" "$scratch/help.out" ||
        fail "telvane --help: $(cat "$scratch/help.out")"
    # An unknown board is refused before anything starts.
    "$demo" --build-dir "$build_dir" --no-build --profile no-such-board >"$scratch/bad.out" 2>&1 &&
        fail "demo accepted an unknown profile"
    expect_in "$scratch/bad.out" "no SMBIOS table for profile 'no-such-board'"
    expect_nothing_left "$scratch/bad.out"
}

case "$case_name" in
run) run_case ;;
interrupt) interrupt_case ;;
keep) keep_case ;;
install) install_case ;;
command_line) command_line_case ;;
*) echo "unknown case $case_name" >&2; exit 2 ;;
esac
[ "$failures" -eq 0 ] && echo "PASS: $case_name"
[ "$failures" -eq 0 ]
