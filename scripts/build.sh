#!/usr/bin/env bash
# Configures and builds into DIR (default: build/) with any extra CMake
# arguments, e.g. scripts/build.sh build-asan -DVELDRANE_SANITIZE=address.
# VELDRANE_TARGETS="a b" builds only those targets; VELDRANE_JOBS=N runs N
# compilers at once (default: one per core). The compiler's output is
# shown only when the build fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build}
shift || true

targets=()
for t in ${VELDRANE_TARGETS:-}; do targets+=(--target "$t"); done

log=$(mktemp /tmp/veldrane-build.XXXXXX)
trap 'rm -f "$log"' EXIT
echo "Building in $dir ..."
if ! { cmake -S "$root" -B "$dir" -DVELDRANE_WERROR=ON "$@" &&
       cmake --build "$dir" -j"${VELDRANE_JOBS:-$(nproc)}" "${targets[@]}"; } >"$log" 2>&1; then
    grep -E -A5 "error|Error" "$log" | head -n 80 || tail -n 80 "$log"
    echo "build.sh: the build in $dir failed" >&2
    exit 1
fi
