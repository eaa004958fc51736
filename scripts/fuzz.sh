#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs one, or
# all of them one after the other, for SECONDS each:
#
#   scripts/fuzz.sh TARGET [SECONDS]   e.g. scripts/fuzz.sh control_words 600
#   scripts/fuzz.sh all [SECONDS]      every fuzz/<name>.cpp (default 60 s)
#
# A target fuzz/<name>.cpp starts from its seeds in fuzz/corpus/<name>/;
# what it finds goes to build-fuzz/corpus/<name>/, so the seeds in the
# repository stay as they are. A crash leaves its input in
# build-fuzz/crashes/<name>/ and makes the script fail. Extra arguments
# after SECONDS go to libFuzzer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target=${1:?usage: scripts/fuzz.sh TARGET|all [SECONDS] [libFuzzer options]}
seconds=${2:-60}
shift $(( $# < 2 ? $# : 2 ))

dir="$root/build-fuzz"
if [ "$target" = all ]; then
    targets=()
    for src in "$root"/fuzz/*.cpp; do targets+=("$(basename "$src" .cpp)"); done
else
    targets=("$target")
fi

build_targets=""
for t in "${targets[@]}"; do build_targets+=" fuzz_$t"; done
CC=clang CXX=clang++ VELDRANE_TARGETS="$build_targets" \
    "$root/scripts/build.sh" "$dir" -DVELDRANE_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo

for t in "${targets[@]}"; do
    corpus="$dir/corpus/$t"
    crashes="$dir/crashes/$t"
    mkdir -p "$corpus" "$crashes"
    echo "== fuzz_$t for $seconds s"
    log="$dir/fuzz_$t.log"
    # -jobs would share the two cores with the tests; one process is enough.
    if ! "$dir/fuzz/fuzz_$t" -max_total_time="$seconds" -print_final_stats=1 \
            -artifact_prefix="$crashes/" "$@" "$corpus" "$root/fuzz/corpus/$t" >"$log" 2>&1; then
        tail -n 60 "$log"
        echo "fuzz.sh: fuzz_$t failed; the input is in $crashes/" >&2
        exit 1
    fi
    grep -E "^#[0-9]+[[:space:]]+DONE|^stat::number_of_executed_units|^stat::peak_rss_mb" "$log" || tail -n 5 "$log"
done
