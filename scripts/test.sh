#!/usr/bin/env bash
# Builds and runs every test: the normal build, then the same suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, then a short run of
# every fuzz target; clang-tidy on every program source and the format
# check. ThreadSanitizer is a mode of its own: with it the command would
# take longer than CI's 20 minutes.
#
#   scripts/test.sh           all of that but thread (what CI runs)
#   scripts/test.sh normal    the normal build only
#   scripts/test.sh address   AddressSanitizer and UndefinedBehaviorSanitizer only
#   scripts/test.sh thread    ThreadSanitizer only
#   scripts/test.sh fuzz      each fuzz target for 60 s (scripts/fuzz.sh)
#   scripts/test.sh style     the format check and clang-tidy only
#
# What the default runs where, on two cores, so that it stays within CI's
# time (it took 25 minutes on a fresh machine when these steps ran one
# after the other):
#   1. the normal build, on both cores;
#   2. the normal suite, every test; meanwhile the sanitizer build, one
#      compiler at a time at idle priority (SCHED_IDLE and the idle I/O
#      class: it gets only the time the tests leave, so it cannot starve
#      the real-time tests). Most of the suite's time is
#      whole-program tests that play in real time and leave the cores
#      mostly idle, so the build costs little time of its own;
#   3. the sanitizer suite, without the long real-time runs listed at
#      `skip` below (step 2 runs them); meanwhile, at idle priority, the
#      fuzz targets' build and clang-tidy on every program source;
#   4. the fuzz targets for 30 s each, all at once, one core each
#      (`scripts/test.sh fuzz` gives them 60 s);
#   5. clang-tidy's report and the format check.
#
# Tests play to and record from a PulseAudio null sink of their own, which
# this script starts and stops.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mode=${1:-all}

"$root/scripts/deps.sh"

pulse_dir=$(mktemp -d /tmp/veldrane-test-pulse.XXXXXX)
background=()
cleanup() {
    local pid
    for pid in ${background[@]+"${background[@]}"}; do
        kill -- "-$pid" 2>/dev/null || true
    done
    "$root/scripts/pulse.sh" stop "$pulse_dir"
    rm -rf "$pulse_dir"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
"$root/scripts/pulse.sh" start "$pulse_dir"
eval "$("$root/scripts/pulse.sh" env "$pulse_dir")"

# Outside libraries' own leaks and races are not ours to report.
export LSAN_OPTIONS="suppressions=$root/scripts/sanitizers/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export TSAN_OPTIONS="suppressions=$root/scripts/sanitizers/tsan.supp${TSAN_OPTIONS:+:$TSAN_OPTIONS}"

asan_args=(-DVELDRANE_SANITIZE=address -DVELDRANE_BENCH=OFF)

suite() {
    local dir=$1
    shift
    echo "== $(basename "$dir")"
    "$root/scripts/build.sh" "$dir" "$@"
    run_tests "$dir"
}

run_tests() {
    ctest --test-dir "$1" -j2 --output-on-failure ${skip:+-E "$skip"}
}

tidy() {
    echo "== clang-tidy"
    [ -f "$root/build/compile_commands.json" ] || "$root/scripts/build.sh" "$root/build"
    "$root/scripts/tidy.sh"
}

# After the suites, so that a format slip does not hide a failing test.
style() {
    echo "== format"
    "$root/scripts/format.sh" check
    tidy
}

# Starts "$@" at idle priority, for the cores and the disk, its output
# into the file LOG, in a process group of its own so that the exit trap
# ends it with its children; its process id is the last of `background`.
# Not in a session of its own: the scheduler shares the cores among
# sessions first, and a build there got half of them whatever its
# priority.
idle() {
    local log=$1
    shift
    set -m
    ionice -c 3 chrt --idle 0 "$@" >"$log" 2>&1 &
    set +m
    background+=("$!")
}

# Waits for the idle job PID, then shows its output.
finish() {
    local pid=$1 log=$2 status=0
    wait "$pid" || status=$?
    cat "$log"
    return "$status"
}

all() {
    local asan_log="$pulse_dir/asan-build.log" fuzz_log="$pulse_dir/fuzz-build.log"
    local tidy_log="$pulse_dir/tidy.log" asan_pid fuzz_pid tidy_pid status=0
    echo "== build"
    "$root/scripts/build.sh" "$root/build"
    # One compiler: a core stays free for the real-time tests whatever
    # the scheduler makes of the build's priority.
    idle "$asan_log" env VELDRANE_JOBS=1 "$root/scripts/build.sh" "$root/build-asan" "${asan_args[@]}"
    asan_pid=$!
    run_tests "$root/build"

    echo "== build-asan"
    finish "$asan_pid" "$asan_log"
    idle "$fuzz_log" "$root/scripts/fuzz.sh" build
    fuzz_pid=$!
    idle "$tidy_log" "$root/scripts/tidy.sh"
    tidy_pid=$!
    # Under the sanitizers, the long real-time runs are left out: following
    # the sender's clock, the senders and networks that are not ours, the
    # sender's own playback and formats, its repair data over a lossy
    # network, and the clean runs after runs that ended every way. The
    # simulated-time tests (the repair's among them), the decoder's tests
    # and the other whole-program tests run the same code there, and each
    # way a run ends has a test of its own. So is the package check, which
    # builds a release package of its own.
    skip='ClockFollowing|EverySender|ReceiverProgram.CleanRuns|SendPlayback|SendAnyAudio|OverALossyNetwork|Package.Debians' \
        run_tests "$root/build-asan"

    echo "== fuzz"
    finish "$fuzz_pid" "$fuzz_log"
    "$root/scripts/fuzz.sh" all 30 || status=$?
    echo "== clang-tidy"
    finish "$tidy_pid" "$tidy_log" || status=$?
    echo "== format"
    "$root/scripts/format.sh" check || status=$?
    return "$status"
}

case "$mode" in
all) all ;;
normal) suite "$root/build" ;;
address) suite "$root/build-asan" "${asan_args[@]}" ;;
thread) suite "$root/build-tsan" -DVELDRANE_SANITIZE=thread ;;
fuzz) "$root/scripts/fuzz.sh" all 60 ;;
style) style ;;
*)
    echo "usage: scripts/test.sh [all|normal|address|thread|fuzz|style]" >&2
    exit 2
    ;;
esac
