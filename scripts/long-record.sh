#!/usr/bin/env bash
# A recording of FRAMES frames (default 54000: an hour of a 15 fps sender) through a receiving
# control, as fast as the disk takes them, then read back whole with ffprobe.
#   scripts/long-record.sh BUILD_DIR [FRAMES]
# The file (CIF, 304,128 bytes a frame) goes to $QV_LONG_RECORD_DIR (default BUILD_DIR/long-record)
# and is deleted afterwards unless QV_KEEP_RECORDING=1.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
frames=${2:-54000}
dir=${QV_LONG_RECORD_DIR:-$build/long-record}
mkdir -p "$dir"

need_kb=$(( frames * 304128 / 1024 * 102 / 100 + 1048576 ))
have_kb=$(df -Pk "$dir" | awk 'NR == 2 { print $4 }')
if [ "$have_kb" -lt "$need_kb" ]; then
  echo "long-record: skipped: $dir has $((have_kb / 1048576)) GiB free, the recording needs $((need_kb / 1048576)) GiB"
  exit 0
fi

start=$(date +%s)
"$build/hosts/quelvora-load/quelvora-load" --record-frames "$frames" --report 10 --out "$dir"
file="$dir/long-record.avi"
echo "long-record: reading $(du -h "$file" | cut -f1) back with ffprobe -count_frames ..."
read_back=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
  -of csv=p=0 "$file")
echo "long-record: ffprobe read $read_back frames of $frames written; $(( $(date +%s) - start )) s in all"
[ "${QV_KEEP_RECORDING:-0}" = 1 ] || rm -f "$file"
[ "$read_back" = "$frames" ] || { echo "long-record: FAILED: frames missing"; exit 1; }
