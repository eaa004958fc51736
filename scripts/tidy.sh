#!/usr/bin/env bash
# Runs clang-tidy-14 (.clang-tidy) on the program's C++ sources: every one
# of audio/, server/, utils/, wrappers/ and tools/ (a header is checked
# through the sources that include it), or only those given, or only those
# this branch changed since it left BASE (default: main). Needs a
# configured build/ (scripts/build.sh) for compile_commands.json.
#
#   scripts/tidy.sh                   every program source (CI)
#   scripts/tidy.sh FILE.cpp ...      those sources
#   scripts/tidy.sh --changed [BASE]  the sources changed, and those of changed headers
#
# VELDRANE_TIDY_JOBS sets how many run at once (default: one per core).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${VELDRANE_TIDY_BUILD:-$root/build}
jobs=${VELDRANE_TIDY_JOBS:-$(nproc)}
folders=(audio server utils wrappers tools)

changed_sources() {
    local base=${1:-main} from
    from=$(git merge-base HEAD "$base" 2>/dev/null || git rev-parse HEAD~1)
    if [ "$from" = "$(git rev-parse HEAD)" ]; then
        from=$(git rev-parse HEAD~1)
    fi
    git diff --name-only --diff-filter=d "$from" -- "${folders[@]}" | grep -E '\.(cpp|h)$' \
        | while read -r f; do [ -f "${f%.*}.cpp" ] && echo "${f%.*}.cpp"; done | sort -u || true
}

if [ "${1:-}" = --changed ]; then
    mapfile -t sources < <(changed_sources "${2:-main}")
elif [ $# -gt 0 ]; then
    sources=("$@")
else
    mapfile -t sources < <(git ls-files -- "${folders[@]}" | grep -E '\.cpp$')
fi
if [ "${#sources[@]}" -eq 0 ]; then
    echo "tidy.sh: no program source to check"
    exit 0
fi
echo "tidy.sh: ${#sources[@]} sources"
printf '%s\n' "${sources[@]}" | xargs -P"$jobs" -n2 clang-tidy-14 -p "$build" --quiet
