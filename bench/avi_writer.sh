#!/usr/bin/env bash
# The AVI writer beside ffmpeg's AVI muxer: the same raw bgr24 frames are piped into each, in one
# run, and written to a file on this disk. Prints frames per second (best of three) and the
# bytes each adds per frame.   bench/avi_writer.sh [build folder]
set -euo pipefail
build="${1:-build}"
ours="$build/bench/bench_avi_writer"
dir="${QV_BENCH_DIR:-/var/tmp}/qv-avi-bench-$$"
mkdir -p "$dir"
trap 'rm -rf "$dir"' EXIT

now() { date +%s.%N; }

best_of_three() {  # command... ; prints the shortest wall time in seconds
  local best=""
  for _ in 1 2 3; do
    local t0 t1
    t0=$(now)
    "$@"
    t1=$(now)
    best=$(echo "$t1 $t0 ${best:-999999}" | awk '{d=$1-$2; print (d<$3)?d:$3}')
  done
  echo "$best"
}

printf '%-9s %7s %-26s %10s %16s\n' size frames writer frames/s overhead_B/frame
for run in 352x288:600 704x576:300; do
  size=${run%%:*}
  frames=${run##*:}
  w=${size%x*}
  h=${size#*x}
  raw="$dir/frames-$size.raw"
  ffmpeg -v error -f lavfi -i "testsrc=size=$size:rate=7" -frames:v "$frames" -pix_fmt bgr24 -f rawvideo -y "$raw"
  payload=$((w * h * 3 * frames))

  t=$(best_of_three sh -c "'$ours' --stdin $w $h '$dir/ours.avi' < '$raw'")
  bytes=$(stat -c %s "$dir/ours.avi")
  got=$(ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$dir/ours.avi")
  [ "$got" = "$frames" ] || { echo "ours: ffprobe reads $got of $frames frames" >&2; exit 1; }
  printf '%-9s %7d %-26s %10.0f %16.1f\n' "$size" "$frames" "AVIStreamWrite" \
    "$(echo "$frames $t" | awk '{print $1/$2}')" "$(echo "$bytes $payload $frames" | awk '{print ($1-$2)/$3}')"

  t=$(best_of_three sh -c "ffmpeg -v error -f rawvideo -pix_fmt bgr24 -s $size -r 7 -i - -c:v rawvideo -f avi -y '$dir/ffmpeg.avi' < '$raw'")
  bytes=$(stat -c %s "$dir/ffmpeg.avi")
  printf '%-9s %7d %-26s %10.0f %16.1f\n' "$size" "$frames" "ffmpeg -c:v rawvideo -f avi" \
    "$(echo "$frames $t" | awk '{print $1/$2}')" "$(echo "$bytes $payload $frames" | awk '{print ($1-$2)/$3}')"
done
