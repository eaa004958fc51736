#!/usr/bin/env bash
# Configures and builds into DIR (default: build/) with any extra CMake
# arguments, e.g. scripts/build.sh build-asan -DVELDRANE_SANITIZE=address
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build}
shift || true
cmake -S "$root" -B "$dir" -DVELDRANE_WERROR=ON "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
