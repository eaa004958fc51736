#!/usr/bin/env bash
# Checks or applies the C++ format (.clang-format) on every tracked C++
# file, with clang-format-14.
#
#   scripts/format.sh check   lists the files that differ; fails if any does
#   scripts/format.sh fix     rewrites them in place
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
mode=${1:-check}
format=clang-format-14

mapfile -t files < <(git ls-files '*.cpp' '*.h')
case "$mode" in
check)
    differ=0
    for f in "${files[@]}"; do
        if ! "$format" --style=file "$f" | cmp -s - "$f"; then
            echo "format.sh: $f is not formatted"
            differ=1
        fi
    done
    if [ "$differ" -ne 0 ]; then
        echo "format.sh: run scripts/format.sh fix" >&2
        exit 1
    fi
    ;;
fix) "$format" --style=file -i "${files[@]}" ;;
*)
    echo "usage: scripts/format.sh [check|fix]" >&2
    exit 2
    ;;
esac
