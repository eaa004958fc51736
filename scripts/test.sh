#!/usr/bin/env bash
# Builds and runs every test: the normal build, then the same suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, then a short run of
# every fuzz target, with clang-tidy on every program source beside them;
# then checks the format. ThreadSanitizer is a mode of its own: with it
# the command would take longer than CI's 20 minutes.
#
#   scripts/test.sh           all of that but thread (what CI runs)
#   scripts/test.sh normal    the normal build only
#   scripts/test.sh address   AddressSanitizer and UndefinedBehaviorSanitizer only
#   scripts/test.sh thread    ThreadSanitizer only
#   scripts/test.sh fuzz      each fuzz target for 60 s (scripts/fuzz.sh)
#   scripts/test.sh style     the format check and clang-tidy only
#
# Tests play to and record from a PulseAudio null sink of their own, which
# this script starts and stops.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mode=${1:-all}

"$root/scripts/deps.sh"

pulse_dir=$(mktemp -d /tmp/veldrane-test-pulse.XXXXXX)
cleanup() { "$root/scripts/pulse.sh" stop "$pulse_dir"; rm -rf "$pulse_dir"; }
trap cleanup EXIT
"$root/scripts/pulse.sh" start "$pulse_dir"
eval "$("$root/scripts/pulse.sh" env "$pulse_dir")"

# Outside libraries' own leaks and races are not ours to report.
export LSAN_OPTIONS="suppressions=$root/scripts/sanitizers/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export TSAN_OPTIONS="suppressions=$root/scripts/sanitizers/tsan.supp${TSAN_OPTIONS:+:$TSAN_OPTIONS}"

suite() {
    local dir=$1
    shift
    echo "== $(basename "$dir")"
    "$root/scripts/build.sh" "$dir" "$@"
    ctest --test-dir "$dir" -j2 --output-on-failure ${skip:+-E "$skip"}
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

# Each fuzz target runs as one process, in turn, so clang-tidy takes the
# other core meanwhile; its report follows the fuzzers'.
fuzz_and_tidy() {
    local log="$pulse_dir/tidy.log" status=0
    VELDRANE_TIDY_JOBS=1 tidy >"$log" 2>&1 &
    local tidy_pid=$!
    "$root/scripts/fuzz.sh" all 60 || status=$?
    wait "$tidy_pid" || status=$?
    cat "$log"
    return "$status"
}

case "$mode" in
all)
    suite "$root/build"
    # Under the sanitizers, and so that the whole stays within CI's time,
    # the long real-time runs of following the sender's clock and of a live
    # encoder are left out: the simulated-time tests and the other
    # whole-program tests run the same code there. So is the package check,
    # which builds a release package of its own. The benchmarks, which the
    # normal build has compiled, are not built again.
    skip='ClockFollowing|EverySender.ALiveEncoder|Package.Debians' \
        suite "$root/build-asan" -DVELDRANE_SANITIZE=address -DVELDRANE_BENCH=OFF
    fuzz_and_tidy
    echo "== format"
    "$root/scripts/format.sh" check
    ;;
normal) suite "$root/build" ;;
address) suite "$root/build-asan" -DVELDRANE_SANITIZE=address -DVELDRANE_BENCH=OFF ;;
thread) suite "$root/build-tsan" -DVELDRANE_SANITIZE=thread ;;
fuzz) "$root/scripts/fuzz.sh" all 60 ;;
style) style ;;
*)
    echo "usage: scripts/test.sh [all|normal|address|thread|fuzz|style]" >&2
    exit 2
    ;;
esac
