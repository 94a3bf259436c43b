#!/usr/bin/env bash
# Installs every Debian package the build, the demo, the tests and the benchmarks need.
# Does nothing when all of them are present.
set -euo pipefail

PACKAGES=(
  cmake g++ ninja-build pkg-config make
  qt6-base-dev qt6-declarative-dev
  libxvidcore-dev libv4l-dev libfontconfig-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-liberation fonts-arphic-ukai
  ffmpeg libavcodec-dev libavutil-dev libswscale-dev tshark socat iproute2 nftables xvfb
  clang-14 libclang-rt-14-dev
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-libav
  # bench_call: ximagesink for GStreamer's side shown on the same virtual display (xvfb) as ours.
  gstreamer1.0-x
  libgstreamer1.0-dev
  # The plugin (gst/) and its tests: gst/video and gst/app, the MPEG-4 header parser, and
  # mpeg4videoparse for recording to MP4.
  libgstreamer-plugins-base1.0-dev libgstreamer-plugins-bad1.0-dev gstreamer1.0-plugins-bad
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
# tshark asks whether non-root users may capture; the default answer is fine.
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
