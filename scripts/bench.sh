#!/usr/bin/env bash
# Runs one benchmark: scripts/bench.sh NAME [ARGS], e.g.
#   scripts/bench.sh receiver_path 120 20
# Installs what the benchmarks need, builds what is missing and starts a
# sound server with a null sink when none is running. Benchmarks on the
# fixed ports 8888/6666 need no receiver of yours running; run those in a
# network namespace of their own,
#   unshare -n sh -c 'ip link set lo up; scripts/bench.sh receiver_cost'
# so that nothing else on the machine holds the ports.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
name=${1:?usage: scripts/bench.sh NAME [ARGS]; see bench/}
shift

"$root/scripts/deps.sh" bench
VELDRANE_TARGETS="veldrane veldrane-send bench_$name" "$root/scripts/build.sh" "$root/build"

pulse_dir=""
if ! pactl info >/dev/null 2>&1; then
    pulse_dir=$(mktemp -d /tmp/veldrane-bench-pulse.XXXXXX)
    trap '"$root/scripts/pulse.sh" stop "$pulse_dir"; rm -rf "$pulse_dir"' EXIT
    "$root/scripts/pulse.sh" start "$pulse_dir"
    eval "$("$root/scripts/pulse.sh" env "$pulse_dir")"
fi
"$root/build/bench/bench_$name" "$@"
