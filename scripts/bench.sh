#!/usr/bin/env bash
# Runs every benchmark suite of a build folder, one after another.
set -euo pipefail
dir=$1
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
for bin in "$dir"/bench/*/bench_*; do
  [ -x "$bin" ] && [ -f "$bin" ] || continue
  echo "== $(basename "$bin")"
  "$bin" --benchmark_min_time=0.2 --benchmark_counters_tabular=true
done
