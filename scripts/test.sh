#!/usr/bin/env bash
# Builds the project twice, plainly optimised and with the address and
# undefined-behaviour sanitizers, and runs every test in both builds.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

# fitspreview writes PNG through libpng; the interop tests check our files
# with FITS software written elsewhere; /usr/bin/time measures the peak
# memory of the programs on an 8192 x 8192 frame; the file-system tests make
# XFS file systems and make system calls fail under the programs with strace.
scripts/need-packages.sh libpng-dev python3-astropy fitsverify time xfsprogs strace

jobs=$(nproc 2>/dev/null || echo 2)
# Each build is a preset of CMakePresets.json, its folder build/<preset>.
run_build() {
    local preset=$1
    echo "== $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs"
}

# The release build's tests include the install and the packages (label
# package): tests/package/check.sh.
run_build release

# The README's demo must keep working from its one command.
echo "== demo"
scripts/demo.sh build/demo-check >/dev/null

# As root every file is writable, so the refusal of a file the user may not
# write is only seen by running the library tests as an ordinary user.
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
    as_nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    if "${as_nobody[@]}" test -x build/release/tests/fits_tests; then
        echo "== library tests as an ordinary user"
        (cd /tmp && TMPDIR=/tmp "${as_nobody[@]}" "$root/build/release/tests/fits_tests" --gtest_brief=1)
    else
        echo "note: build folder not readable by user nobody; ordinary-user tests skipped"
    fi
fi

# A short fuzz run of every fuzz target (built with clang), each from its
# kept corpus with its dictionary; fuzz/run.sh --long is the long run.
echo "== fuzz"
fuzz/run.sh 80

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# The programs' leak reports keep allocation stacks two frames deep and are
# not symbolized, which cost 0.2 s per program run; to see a full,
# symbolized report, run the program again by hand without these options.
export FITSQUAD_PROGRAM_LSAN_OPTIONS="symbolize=0:malloc_context_size=2"
run_build sanitize
