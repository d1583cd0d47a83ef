#!/bin/sh
# Runs every benchmark program of the build.
set -eu
BUILD=${1:-build}
found=0
for b in "$BUILD"/bench/bench_*; do
    [ -x "$b" ] || continue
    found=1
    echo "== $(basename "$b")"
    "$b" --benchmark_counters_tabular=true
done
[ "$found" = 1 ] || echo "no benchmarks built (is Google Benchmark installed?)"
