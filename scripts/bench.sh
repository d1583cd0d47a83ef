#!/bin/sh
# Runs every benchmark program of the build.
set -eu
BUILD=${1:-build}
found=0
for b in "$BUILD"/bench/bench_*; do
    [ -x "$b" ] || continue
    found=1
    echo "== $(basename "$b")"
    case $(basename "$b") in
        # USB devices are emulated: the program runs under umockdev's preload.
        bench_usb) LD_PRELOAD=libumockdev-preload.so.0 "$b" --benchmark_counters_tabular=true ;;
        *) "$b" --benchmark_counters_tabular=true ;;
    esac
done
[ "$found" = 1 ] || echo "no benchmarks built (is Google Benchmark installed?)"
