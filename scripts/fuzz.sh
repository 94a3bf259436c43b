#!/usr/bin/env bash
# Runs the libFuzzer targets for a bounded time each, one after the other, from their corpora in
# build-fuzz/corpus/ (kept between runs, so a long run goes on from what earlier runs found).
#   scripts/fuzz.sh RECEIVE_SECONDS CODEC_SECONDS [INPUT_SECONDS]
# INPUT_SECONDS (default 20) is the time of each target over the host's and the control's own inputs
# (the script host's argument conversion, the INI reader, the size names) and of the AVI writer.
# Prints libFuzzer's latest status line (runs, coverage, execs/s, memory) once a minute, and at the
# end each target's executions and peak memory. A crash stops the script with the input kept as
# build-fuzz/crash-*; the full output of each target is in build-fuzz/<target>.log.
set -euo pipefail
cd "$(dirname "$0")/.."
receive_seconds=${1:-60}
codec_seconds=${2:-30}
input_seconds=${3:-20}
build=build-fuzz
# Undefined behaviour stops a target and keeps its input, as a memory error does (the build's checks
# would otherwise report and go on, and the run would end as if nothing had been found).
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"

CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -G Ninja -DQV_FUZZ=ON -DQV_BENCH=OFF > /dev/null
cmake --build "$build" -j 2 --target fuzz_receive_datagrams fuzz_codec_decode fuzz_script_arguments \
  fuzz_ini_reader fuzz_size_names fuzz_avi_writer

run() {  # target seconds max_len
  local target=$1 seconds=$2 max_len=$3 corpus="$build/corpus/${1#fuzz_}" log="$build/$1.log"
  mkdir -p "$corpus"
  echo "fuzz: $target for $seconds s (corpus $corpus)"
  QV_FUZZ_WRITE_SEEDS="$corpus" "$build/fuzz/$target"  # seeds cut from a real stream
  "$build/fuzz/$target" -max_total_time="$seconds" -max_len="$max_len" -print_final_stats=1 \
    -artifact_prefix="$build/crash-$target-" "$corpus" > "$log" 2>&1 &
  local pid=$! elapsed=0
  while kill -0 "$pid" 2> /dev/null; do
    sleep 5
    elapsed=$((elapsed + 5))
    if [ $((elapsed % 60)) -eq 0 ]; then
      echo "fuzz: $target ${elapsed}/${seconds} s: $(grep -a -E '^#[0-9]' "$log" | tail -n 1)"
    fi
  done
  local status=0
  wait "$pid" || status=$?
  grep -a -E 'Done [0-9]+ runs|stat::number_of_executed_units|stat::peak_rss_mb|ERROR|SUMMARY' "$log" || true
  [ "$status" -eq 0 ] || { echo "fuzz: $target failed (exit $status), see $log"; exit "$status"; }
}

[ "$receive_seconds" -gt 0 ] && run fuzz_receive_datagrams "$receive_seconds" 200000
[ "$codec_seconds" -gt 0 ] && run fuzz_codec_decode "$codec_seconds" 100000
[ "$input_seconds" -gt 0 ] && run fuzz_script_arguments "$input_seconds" 4096
[ "$input_seconds" -gt 0 ] && run fuzz_ini_reader "$input_seconds" 4096
[ "$input_seconds" -gt 0 ] && run fuzz_size_names "$input_seconds" 64
[ "$input_seconds" -gt 0 ] && run fuzz_avi_writer "$input_seconds" 4096
echo "fuzz: done"
