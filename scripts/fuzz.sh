#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs one, or
# all of them, for SECONDS each:
#
#   scripts/fuzz.sh TARGET [SECONDS]   e.g. scripts/fuzz.sh control_words 600
#   scripts/fuzz.sh all [SECONDS]      every fuzz/<name>.cpp (default 60 s)
#   scripts/fuzz.sh build              builds every target, runs none
#
# A target fuzz/<name>.cpp starts from its seeds in fuzz/corpus/<name>/;
# what it finds goes to build-fuzz/corpus/<name>/, so the seeds in the
# repository stay as they are. A crash leaves its input in
# build-fuzz/crashes/<name>/ and makes the script fail. Extra arguments
# after SECONDS go to libFuzzer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target=${1:?usage: scripts/fuzz.sh TARGET|all|build [SECONDS] [libFuzzer options]}
seconds=${2:-60}
shift $(( $# < 2 ? $# : 2 ))

dir="$root/build-fuzz"
if [ "$target" = all ] || [ "$target" = build ]; then
    targets=()
    for src in "$root"/fuzz/*.cpp; do targets+=("$(basename "$src" .cpp)"); done
else
    targets=("$target")
fi

build_targets=""
for t in "${targets[@]}"; do build_targets+=" fuzz_$t"; done
CC=clang CXX=clang++ VELDRANE_TARGETS="$build_targets" \
    "$root/scripts/build.sh" "$dir" -DVELDRANE_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
[ "$target" = build ] && exit 0

# One target's run; its output goes to build-fuzz/fuzz_<name>.log.
run() {
    local t=$1
    shift
    mkdir -p "$dir/corpus/$t" "$dir/crashes/$t"
    "$dir/fuzz/fuzz_$t" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$dir/crashes/$t/" "$@" "$dir/corpus/$t" "$root/fuzz/corpus/$t" \
        >"$dir/fuzz_$t.log" 2>&1
}

# Each target is one process (-jobs would only split its core), and as
# many run at once as there are cores, so that each has one to itself for
# its SECONDS and all of them take no longer than the slowest batch.
cores=$(nproc)
status=0
for (( first = 0; first < ${#targets[@]}; first += cores )); do
    batch=("${targets[@]:first:cores}")
    pids=()
    for t in "${batch[@]}"; do
        echo "== fuzz_$t for $seconds s"
        run "$t" "$@" &
        pids+=($!)
    done
    for i in "${!batch[@]}"; do
        t=${batch[$i]}
        log="$dir/fuzz_$t.log"
        if ! wait "${pids[$i]}"; then
            tail -n 60 "$log"
            echo "fuzz.sh: fuzz_$t failed; the input is in $dir/crashes/$t/" >&2
            status=1
            continue
        fi
        echo "fuzz_$t:"
        grep -E "^#[0-9]+[[:space:]]+DONE|^stat::number_of_executed_units|^stat::peak_rss_mb" "$log" ||
            tail -n 5 "$log"
    done
done
exit "$status"
