#!/usr/bin/env bash
# A PulseAudio daemon of our own with one null sink, for machines with no
# sound card and for tests, which record the sink's monitor.
#
#   scripts/pulse.sh start DIR   start a daemon whose socket is DIR/native
#   scripts/pulse.sh stop DIR    stop it
#   scripts/pulse.sh env DIR     print the exports that point clients at it
#
# The sink stores float32 at 44100 Hz stereo, so that a recording of its
# monitor is bit-exact, and does not rewind, so that streams start at once.
set -euo pipefail

SINK=${VELDRANE_SINK:-veldrane_null}
cmd=${1:?usage: pulse.sh start|stop|env DIR}
dir=$(mkdir -p "${2:?usage: pulse.sh start|stop|env DIR}" && cd "$2" && pwd)

case "$cmd" in
start)
    if PULSE_SERVER="unix:$dir/native" pactl info >/dev/null 2>&1; then
        exit 0
    fi
    mkdir -p "$dir/runtime" "$dir/state"
    rm -f "$dir/native"
    PULSE_RUNTIME_PATH="$dir/runtime" PULSE_STATE_PATH="$dir/state" HOME="$dir" \
    setsid pulseaudio --daemonize=no -n --exit-idle-time=-1 --use-pid-file=no \
        --disable-shm=yes --log-target=stderr \
        -L "module-native-protocol-unix auth-anonymous=1 socket=$dir/native" \
        -L "module-null-sink sink_name=$SINK rate=44100 channels=2 format=float32le norewinds=1 sink_properties=device.description=$SINK" \
        >"$dir/pulseaudio.log" 2>&1 </dev/null &
    echo $! >"$dir/pulseaudio.pid"
    for _ in $(seq 100); do
        if PULSE_SERVER="unix:$dir/native" pactl info >/dev/null 2>&1; then
            PULSE_SERVER="unix:$dir/native" pactl set-default-sink "$SINK"
            exit 0
        fi
        sleep 0.1
    done
    echo "pulse.sh: the sound server did not start; see $dir/pulseaudio.log" >&2
    exit 1
    ;;
stop)
    if [ -f "$dir/pulseaudio.pid" ]; then
        pid=$(cat "$dir/pulseaudio.pid")
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null || true
        rm -f "$dir/pulseaudio.pid"
    fi
    ;;
env)
    echo "export PULSE_SERVER=unix:$dir/native VELDRANE_SINK=$SINK"
    ;;
*)
    echo "usage: pulse.sh start|stop|env DIR" >&2
    exit 2
    ;;
esac
