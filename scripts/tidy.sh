#!/usr/bin/env bash
# Runs clang-tidy-14 (.clang-tidy) on the program's C++ sources that this
# branch changed since it left BASE (default: main), or, on BASE itself, in
# its last commit. A changed header is checked through its own source.
# Needs a configured build/ (scripts/build.sh) for compile_commands.json.
#
#   scripts/tidy.sh [BASE]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
base=${1:-main}
build=${VELDRANE_TIDY_BUILD:-$root/build}

from=$(git merge-base HEAD "$base" 2>/dev/null || git rev-parse HEAD~1)
if [ "$from" = "$(git rev-parse HEAD)" ]; then
    from=$(git rev-parse HEAD~1)
fi
# Sources changed, and the sources of changed headers.
mapfile -t changed < <(git diff --name-only --diff-filter=d "$from" -- audio server utils wrappers tools \
    | grep -E '\.(cpp|h)$' || true)
sources=()
for f in "${changed[@]}"; do
    if [ -f "${f%.*}.cpp" ]; then sources+=("${f%.*}.cpp"); fi
done
mapfile -t sources < <(printf '%s\n' "${sources[@]}" | sort -u | grep -v '^$' || true)
if [ "${#sources[@]}" -eq 0 ]; then
    echo "tidy.sh: no program source changed since $(git rev-parse --short "$from")"
    exit 0
fi
echo "tidy.sh: ${#sources[@]} sources changed since $(git rev-parse --short "$from")"
printf '%s\n' "${sources[@]}" | xargs -P"$(nproc)" -n2 clang-tidy-14 -p "$build" --quiet
