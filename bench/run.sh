#!/usr/bin/env bash
# Runs every benchmark beside the peer it is compared with: the Google Benchmark programs built
# from bench/*.cpp, then the comparison scripts bench/*.sh (each takes the build folder).
set -euo pipefail
build="${1:-build}"
here="$(cd "$(dirname "$0")" && pwd)"
for exe in "$build"/bench/bench_*; do
  [ -x "$exe" ] || continue
  echo "== $(basename "$exe")"
  "$exe" --benchmark_counters_tabular=true
done
for script in "$here"/*.sh; do
  [ "$(basename "$script")" = "run.sh" ] && continue
  echo "== $(basename "$script")"
  bash "$script" "$build"
done
