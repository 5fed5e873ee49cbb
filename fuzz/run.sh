#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, address and undefined-
# behaviour sanitizers) and fuzzes them for a bounded time, two at a time:
#   fuzz/run.sh [SECONDS]      (default 80; the test run uses 80)
# The reader and then the streaming reader and writer run for SECONDS/2 each
# on one core while the card target and then boxpatch's arguments run for
# SECONDS/2 each on the other, so the run takes about SECONDS of wall time
# after the build.
#
# The checked-in seeds (fuzz/corpus/<target>, fuzz/regressions/<target>) are
# only read; inputs found on the way collect in build/fuzz/corpus/<target>.
# A crash, a hang (20 s for one input) or a broken property ends that target
# with status 1 and keeps the input as build/fuzz/artifacts/<target>-crash-...
# (or -timeout-...): copy it into fuzz/regressions/<target>/, where every test
# run replays it, and fix the fault. Logs: build/fuzz/logs/<target>.log.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-80}
half=$(( seconds / 2 > 0 ? seconds / 2 : 1 ))

scripts/need-packages.sh clang libclang-rt-14-dev
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j 2 >/dev/null

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p build/fuzz/logs build/fuzz/artifacts

# fuzz_one TARGET SECONDS MAX_LEN [SEEDS]: one target, seeded from
# fuzz/corpus/SEEDS (default: its own); prints its figures.
fuzz_one() {
    local target=$1 secs=$2 max_len=$3 log=build/fuzz/logs/$1.log status=0
    mkdir -p "build/fuzz/corpus/$target"
    local seeds=("fuzz/corpus/${4:-$target}")
    [ -d "fuzz/regressions/$target" ] && seeds+=("fuzz/regressions/$target")
    build/fuzz/fuzz/"${target}"_fuzzer "build/fuzz/corpus/$target" "${seeds[@]}" \
        -max_total_time="$secs" -max_len="$max_len" -timeout=20 -close_fd_mask=1 \
        -print_final_stats=1 -artifact_prefix="build/fuzz/artifacts/$target-" >"$log" 2>&1 || status=$?
    local runs
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    if [ "$status" -ne 0 ]; then
        echo "fuzz: $target FAILED (status $status) after ${runs:-?} runs; see $log"
        grep -E "ERROR|SUMMARY|broken|Test unit written" "$log" | head -n 10
        return 1
    fi
    echo "fuzz: $target: $runs runs in $secs s, corpus $(ls "build/fuzz/corpus/$target" | wc -l) inputs, no failure"
}

{ fuzz_one reader "$half" 12000 && fuzz_one stream "$half" 12000 reader; } & reader_job=$!
{ fuzz_one cards "$half" 12000 && fuzz_one boxpatch_args "$half" 512; } & other_job=$!
failed=0
wait "$reader_job" || failed=1
wait "$other_job" || failed=1
exit "$failed"
