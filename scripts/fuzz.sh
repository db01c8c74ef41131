#!/usr/bin/env bash
# Runs every built fuzz target for a bounded time; fails on any crash report.
set -euo pipefail
dir=$1; seconds=$2
found=0
for bin in "$dir"/fuzz/*/fuzz_*; do
  [ -x "$bin" ] && [ -f "$bin" ] || continue
  found=1
  name=$(basename "$bin")
  corpus="$dir/corpus/$name"; mkdir -p "$corpus"
  echo "fuzz: $name for ${seconds}s"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "$bin" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=0 "$corpus" \
    >"$dir/$name.log" 2>&1 || { tail -n 60 "$dir/$name.log"; echo "fuzz: $name FAILED"; exit 1; }
  grep -E '^(#[0-9]+ *DONE|Done)' "$dir/$name.log" | tail -n 1 || true
done
[ "$found" = 1 ] || echo "fuzz: no targets built"
