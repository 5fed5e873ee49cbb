#!/usr/bin/env bash
# Builds the project twice, plainly optimised and with the address and
# undefined-behaviour sanitizers, and runs every test in both builds.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc 2>/dev/null || echo 2)
run_build() {
    local dir=$1
    shift
    echo "== $dir"
    cmake -S . -B "build/$dir" -DFITSQUAD_TESTS=ON "$@" >/dev/null
    cmake --build "build/$dir" -j "$jobs"
    ctest --test-dir "build/$dir" --output-on-failure -j "$jobs"
}

run_build release -DCMAKE_BUILD_TYPE=Release

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_build sanitize -DCMAKE_BUILD_TYPE=Debug -DFITSQUAD_SANITIZE=ON
