#!/bin/sh
# Runs every fuzzer of a fuzz build for a bounded time, from its seeds in corpus/NAME.
# Fails when one finds a crash, a leak or undefined behaviour; the input that did it is
# kept as BUILD/fuzz-artifacts/NAME-crash-... (a regression test is then due).
# Usage: run_fuzzers.sh BUILD [SECONDS_EACH]
set -u
build=$1
seconds=${2:-60}
here=$(cd "$(dirname "$0")" && pwd)
fuzzers="config_fuzz host_text_fuzz datagram_fuzz wake_on_lan_fuzz engine_image_fuzz"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:allocator_may_return_null=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
mkdir -p "$build/fuzz-artifacts"
failed=0
for name in $fuzzers; do
    # New inputs go to a working copy in the build; the repository keeps only the seeds.
    work="$build/fuzz-corpus/$name"
    mkdir -p "$work"
    log="$build/fuzz-artifacts/$name.log"
    "$build/tests/fuzz/$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$name-" \
        "$work" "$here/corpus/$name" >"$log" 2>&1
    status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    if [ "$status" = 0 ]; then
        echo "$name: ${seconds} s, ${runs:-?} runs, ${rate:-?} runs/s, no crash, leak or UB"
    else
        failed=1
        echo "$name: FAILED (status $status), log $log" >&2
        grep -E 'ERROR|check failed|runtime error|SUMMARY' "$log" | head -20 >&2
    fi
done
exit "$failed"
