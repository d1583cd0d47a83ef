#!/bin/sh
# Runs every libFuzzer target of a fuzz build for a while, one after the
# other, and prints the executions of each.
#   scripts/fuzz.sh <fuzz build dir> <seconds per target> [target names...]
# Each target starts from its seed corpus (fuzz/corpus/<name>) and its
# regression inputs (fuzz/regressions/<name>) and keeps what it learns in
# fuzz/out/<name>/corpus, which later runs start from as well. A crash or a
# sanitizer report leaves the input in fuzz/out/<name>/ and makes the
# script fail; copy it to fuzz/regressions/<name>/ under a telling name once
# the library is fixed.
set -u

build=${1:?fuzz build directory}
seconds=${2:-60}
shift 2 || shift $#
root=$(cd "$(dirname "$0")/.." && pwd)
bindir="$build/fuzz"

if [ $# -gt 0 ]; then
    names="$*"
else
    names=$(cd "$bindir" && ls fuzz_* 2>/dev/null | sed 's/^fuzz_//')
fi
[ -n "$names" ] || { echo "fuzz: no targets in $bindir" >&2; exit 1; }

failed=""
printf '%-12s %12s %10s  %s\n' target executions exec/s result
for name in $names; do
    out="$root/fuzz/out/$name"
    mkdir -p "$out/corpus"
    log="$out/last.log"
    # Inputs that carry whole frames or blocks need room beyond libFuzzer's
    # default 4096 bytes: a largest frame, then what follows it.
    case $name in
        frame|exchange|card_reply|ctrl_reply|demod) max_len=-max_len=16384 ;;
        # A 4K card's JSON dump is some 33 KB.
        dumpfile) max_len=-max_len=40000 ;;
        *) max_len= ;;
    esac
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:symbolize=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$bindir/fuzz_$name" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 $max_len \
        -print_final_stats=1 -artifact_prefix="$out/" \
        "$out/corpus" "$root/fuzz/corpus/$name" "$root/fuzz/regressions/$name" \
        >"$log" 2>&1
    rc=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    if [ $rc -eq 0 ]; then
        result=ok
    else
        result="FAILED (see $log)"
        failed="$failed $name"
    fi
    printf '%-12s %12s %10s  %s\n' "$name" "${execs:-?}" "${rate:-?}" "$result"
done

if [ -n "$failed" ]; then
    echo "fuzz: findings in:$failed" >&2
    for name in $failed; do
        echo "---- $name" >&2
        grep -E "ERROR|SUMMARY|violated|Test unit written|runtime error" "$root/fuzz/out/$name/last.log" | head -20 >&2
    done
    exit 1
fi
