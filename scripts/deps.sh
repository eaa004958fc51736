#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need,
# when any is missing; `deps.sh bench` also those that only the benchmarks
# use. Quick when nothing is.
set -euo pipefail

packages=(
    build-essential cmake pkg-config libgtest-dev
    libsdl1.2-dev libsdl-net1.2-dev libvorbis-dev libogg-dev librtaudio-dev libsoxr-dev
    # the repair data's erasure code
    libisal-dev
    # the sender: decoding every audio format, capturing the sound server
    libavformat-dev libavcodec-dev libavutil-dev libswresample-dev libpulse-dev
    pulseaudio pulseaudio-utils
    clang-format-14 clang-tidy-14
    # the fuzz targets
    clang libclang-rt-14-dev
    # the PipeWire test, the manual pages' test, the package
    pipewire pipewire-pulse wireplumber dbus-daemon man-db dpkg-dev
    # the sender's tests make their MP3, FLAC and M4A files; the package's check
    ffmpeg lintian
    # the tests over a lossy network of their own
    iproute2 nftables
    # a media framework that must play our sender's stream, repair data and all
    gstreamer1.0-tools gstreamer1.0-plugins-base
)
# The GStreamer pipeline that bench/receiver_cost plays the same stream
# through, as the baseline of its playing figures.
bench_packages=(
    gstreamer1.0-plugins-good gstreamer1.0-pulseaudio
)
if [ "${1:-}" = bench ]; then
    packages+=("${bench_packages[@]}")
fi

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
    [ "$status" = installed ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "deps.sh: run as root to install ${missing[*]}" >&2; exit 1; }
    sudo=sudo
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
