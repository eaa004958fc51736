#!/usr/bin/env bash
# The demo: sets up and builds what is missing, starts the receiver
# (`veldrane`) and plays FILE, or a tune the project generates, through
# `veldrane-send`, with the receiver's console trace on the terminal.
#
#   scripts/run.sh [FILE.ogg]     the demo
#   scripts/run.sh --receiver     the receiver alone, in the foreground
#
# With no sound server running, it starts one with a null sink and says so.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build

"$root/scripts/deps.sh"
VELDRANE_TARGETS="veldrane veldrane-send veldrane-demo-tune" "$root/scripts/build.sh" "$build"

started_pulse=""
pulse_dir=/tmp/veldrane-demo-pulse
veldrane_pid=""
cleanup() {
    if [ -n "$veldrane_pid" ]; then
        kill "$veldrane_pid" 2>/dev/null || true
        wait "$veldrane_pid" 2>/dev/null || true
    fi
    if [ -n "$started_pulse" ]; then
        "$root/scripts/pulse.sh" stop "$pulse_dir"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if ! pactl info >/dev/null 2>&1; then
    "$root/scripts/pulse.sh" start "$pulse_dir"
    eval "$("$root/scripts/pulse.sh" env "$pulse_dir")"
    started_pulse=yes
    echo "No sound server was running: started PulseAudio with a null sink ($VELDRANE_SINK)."
    echo "Nothing reaches a speaker; to hear or keep what plays, record its monitor:"
    echo "  PULSE_SERVER=$PULSE_SERVER parec --device=$VELDRANE_SINK.monitor > played.raw"
fi

if [ "${1:-}" = "--receiver" ]; then
    "$build/veldrane" &
    veldrane_pid=$!
    wait "$veldrane_pid"
    exit $?
fi

file=${1:-}
if [ -z "$file" ]; then
    file=$build/demo-tune.ogg
    "$build/tools/veldrane-demo-tune" "$file"
    echo "Playing the demo tune ($file)."
fi

log=$(mktemp /tmp/veldrane-demo.XXXXXX)
"$build/veldrane" > >(tee "$log") 2>&1 &
veldrane_pid=$!
for _ in $(seq 100); do
    grep -q "lytter på port" "$log" && break
    sleep 0.1
done
rm -f "$log"

status=0
"$build/tools/veldrane-send" 127.0.0.1 "$file" || status=$?
# Let the receiver's trace show the end of the run before it is stopped.
sleep 1.5
exit $status
