#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, address and undefined-
# behaviour sanitizers) and fuzzes them two at a time, slowest first. Every
# target starts from its kept corpus (fuzz/corpus/<target>) and its
# regression inputs (fuzz/regressions/<target>), with its dictionary
# (fuzz/dict/):
#   fuzz/run.sh [SECONDS]     short run: every target SECONDS/2 (default 80,
#                             as the test run), about SECONDS of wall time
#   fuzz/run.sh --long [RUNS] long run: every target RUNS executions
#                             (default 12000000), at most 30 minutes each
#   fuzz/run.sh --merge       refresh the kept corpus: fuzz/corpus/<target>
#                             becomes the libFuzzer -merge=1 of the seeds
#                             (make_seeds), itself and what runs found
#
# Inputs found on the way collect in build/fuzz/corpus/<target>; the kept
# corpus is only read, until --merge. A crash, a hang (20 s for one input) or
# a broken property ends that target with status 1 and keeps the input as
# build/fuzz/artifacts/<target>-crash-... (or -timeout-...): copy it into
# fuzz/regressions/<target>/, where every test run replays it, and fix the
# fault. Logs: build/fuzz/logs/{short,long,merge}/<target>.log.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=short
case "${1:-}" in
--long) mode=long budget=(-runs="${2:-12000000}" -max_total_time=1800) ;;
--merge) mode=merge ;;
*) seconds=${1:-80} budget=(-max_total_time=$((seconds / 2 > 0 ? seconds / 2 : 1))) ;;
esac

scripts/need-packages.sh clang libclang-rt-14-dev
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j 2 >/dev/null

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p "build/fuzz/logs/$mode" build/fuzz/artifacts

# Slowest first, so that two at a time finish close together.
targets=(reader stream cards boxpatch_args)
# Longest input of each target, its dictionary and its seeds (by make_seeds).
max_len() { [ "$1" = boxpatch_args ] && echo 512 || echo 12000; }
dict() { case $1 in reader | stream) echo fuzz/dict/fits_file.dict ;; *) echo "fuzz/dict/$1.dict" ;; esac; }
seeds() { [ "$1" = stream ] && echo reader || echo "$1"; }

# fuzz_one TARGET: one run of the target; prints its figures.
fuzz_one() {
    local target=$1 log=build/fuzz/logs/$mode/$1.log status=0
    local inputs=("fuzz/corpus/$target")
    [ -d "fuzz/regressions/$target" ] && inputs+=("fuzz/regressions/$target")
    mkdir -p "build/fuzz/corpus/$target"
    local TIMEFORMAT="%U %S"
    { time build/fuzz/fuzz/"$target"_fuzzer "build/fuzz/corpus/$target" "${inputs[@]}" "${budget[@]}" \
        -dict="$(dict "$target")" -max_len="$(max_len "$target")" -timeout=20 -close_fd_mask=1 \
        -print_final_stats=1 -artifact_prefix="build/fuzz/artifacts/$target-" >"$log" 2>&1 || status=$?; } 2>"$log.cpu"
    local runs secs cpu last
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    secs=$(grep -oE '^Done [0-9]+ runs in [0-9]+ second' "$log" | grep -oE '[0-9]+ second' | grep -oE '[0-9]+' || true)
    cpu=$(awk '{ printf "%.0f", $1 + $2 }' "$log.cpu")
    last=$(grep -E '^#[0-9]+' "$log" | tail -n 1)
    if [ "$status" -ne 0 ]; then
        echo "fuzz: $target FAILED (status $status) after ${runs:-?} runs; see $log"
        grep -E "ERROR|SUMMARY|broken|Test unit written" "$log" | head -n 10
        return 1
    fi
    echo "fuzz: $target: $runs runs in ${secs:-?} s (${cpu} s of CPU)," \
         "$(grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+/[0-9]+[a-zA-Z]+' <<<"$last")," \
         "$(ls "build/fuzz/corpus/$target" | wc -l) inputs in build/fuzz/corpus/$target, no failure"
}

# merge_one TARGET: the kept corpus made anew from the seeds, itself and
# what runs found, minimised by libFuzzer.
merge_one() {
    local target=$1 merged=build/fuzz/merged/$1
    rm -rf "$merged"
    mkdir -p "$merged" "build/fuzz/corpus/$target" "fuzz/corpus/$target"
    build/fuzz/fuzz/"$target"_fuzzer -merge=1 -max_len="$(max_len "$target")" -timeout=20 -close_fd_mask=1 \
        "$merged" "build/fuzz/seeds/$(seeds "$target")" "fuzz/corpus/$target" "build/fuzz/corpus/$target" \
        >"build/fuzz/logs/merge/$target.log" 2>&1
    rm -rf "fuzz/corpus/$target"
    mv "$merged" "fuzz/corpus/$target"
    echo "fuzz: $target: kept corpus of $(ls "fuzz/corpus/$target" | wc -l) inputs," \
         "$(($(cat "fuzz/corpus/$target"/* | wc -c) / 1024)) KiB"
}

if [ "$mode" = merge ]; then
    rm -rf build/fuzz/seeds
    build/fuzz/fuzz/make_seeds build/fuzz/seeds
    for target in "${targets[@]}"; do merge_one "$target"; done
    exit 0
fi

# Two at a time: the next target starts when one ends.
failed=0 running=0
for target in "${targets[@]}"; do
    if [ "$running" -ge 2 ]; then
        wait -n || failed=1
        running=$((running - 1))
    fi
    fuzz_one "$target" &
    running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
    wait -n || failed=1
    running=$((running - 1))
done
exit "$failed"
