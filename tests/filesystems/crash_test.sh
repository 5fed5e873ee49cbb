#!/usr/bin/env bash
# Power cuts on a real file system: a loop-mounted XFS (with reflink, so
# that boxpatch patches in a clone) or ext4 of the test's own is shut down
# without flushing its log (xfs_io -x -c shutdown, as the file-system test
# suites simulate a power cut), unmounted and mounted again.
#  1. After a program has exited 0 and another file on the file system has
#     been flushed (which writes the log up to it): every file the program
#     reported is the new one, byte for byte.
#  2. Shut down at moments during a run: every target is the old file or the
#     new one, byte for byte, never shorter, zero-filled or missing, and the
#     new one when the run had ended with status 0.
#   crash_test.sh xfs|ext4 QUADSPLIT QUADMERGE BOXPATCH FITSPREVIEW FITSFRAME
# As root only; exits 77 (skipped) otherwise.
set -euo pipefail
type=$1 quadsplit=$2 quadmerge=$3 boxpatch=$4 fitspreview=$5 fitsframe=$6
[ "$(id -u)" = 0 ] || { echo "skipped: mounting a $type file system needs root"; exit 77; }
for tool in xfs_io "mkfs.$type"; do
    command -v "$tool" >/dev/null || { echo "skipped: no $tool (Debian: xfsprogs, e2fsprogs)"; exit 77; }
done

work=$(mktemp -d /tmp/fitsquad-crash.XXXXXX)
mnt=$work/mnt
loop_fs=$(cd "$(dirname "$0")" && pwd)/loop_fs.sh
trap '"$loop_fs" unmount "$mnt" >/dev/null 2>&1; rm -rf "$work"' EXIT
"$loop_fs" mount "$type" "$mnt"
mountpoint -q "$mnt" || { echo "skipped: no $type file system could be mounted"; exit 77; }
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

trap 'echo "error: line $LINENO: $BASH_COMMAND failed"' ERR

remount() { "$loop_fs" remount "$mnt"; }

shut_down() {
    xfs_io -x -c shutdown "$mnt"
    remount
}

# Inputs: frame.fits, and channel files of another frame (one of them
# patched), so that every program changes every file it writes.
make_inputs() { # size
    rm -rf "$work/in" "$work/other" && mkdir "$work/in" "$work/other"
    (cd "$work/other" && "$fitsframe" -s "$1" "$1" --seed 2 frame.fits >/dev/null && "$quadsplit" frame.fits >/dev/null &&
        "$boxpatch" -b 10 20 10 "$1" frame.b.fits) >/dev/null
    "$fitsframe" -s "$1" "$1" --seed 1 "$work/in/frame.fits" >/dev/null
    cp "$work/other"/frame.?.fits "$work/in/"
}

declare -A command targets
command[split]="$quadsplit frame.fits"
targets[split]="frame.a.fits frame.b.fits frame.c.fits frame.d.fits"
command[patch]="$boxpatch -b 100 160 50 900 frame.fits"
targets[patch]="frame.fits"
command[merge]="$quadmerge frame.fits"
targets[merge]="frame.fits"
command[picture]="$fitspreview frame.fits frame.png"
targets[picture]="frame.png"

# What an undisturbed run writes, in ref/JOB.
make_references() {
    for job in "${!command[@]}"; do
        rm -rf "$work/ref/$job" && mkdir -p "$work/ref/$job" && cp "$work/in"/* "$work/ref/$job/"
        (cd "$work/ref/$job" && ${command[$job]} >/dev/null) || { echo "error: $job failed on the inputs"; exit 1; }
    done
}

fresh_copies() {
    rm -rf "${mnt:?}"/*
    cp "$work/in"/* "$mnt/"
    sync
}

# 1. Reported files survive the power cut.
make_inputs 1024
make_references
for job in split patch merge picture; do
    fresh_copies
    (cd "$mnt" && ${command[$job]} >/dev/null) || { fail "$job ended with status $?"; continue; }
    echo x >"$mnt/other" && xfs_io -c fsync "$mnt/other"
    shut_down
    for t in ${targets[$job]}; do
        cmp -s "$mnt/$t" "$work/ref/$job/$t" || fail "$type: $job reported $t, which is not the new file after the power cut ($(stat -c %s "$mnt/$t" 2>/dev/null || echo no) bytes)"
    done
done
echo "$type: reported files checked after a power cut"

# 2. Power cuts during runs on a larger frame (32 MiB).
make_inputs 4096
make_references
cut_mid_run=0 runs=0
for job in split patch merge; do
    for delay in 0 0.005 0.01 0.02 0.04 0.08 0.16; do
        fresh_copies
        (cd "$mnt" && exec ${command[$job]} >/dev/null 2>&1) &
        pid=$!
        sleep "$delay"
        xfs_io -x -c shutdown "$mnt"
        status=0
        wait "$pid" || status=$?
        remount
        runs=$((runs + 1))
        [ "$status" = 0 ] || cut_mid_run=$((cut_mid_run + 1))
        for t in ${targets[$job]}; do
            if cmp -s "$mnt/$t" "$work/ref/$job/$t"; then
                continue
            elif cmp -s "$mnt/$t" "$work/in/$t"; then
                [ "$status" != 0 ] || fail "$type: $job ended with status 0 but $t is the old file after the power cut"
            else
                fail "$type: $job cut after ${delay}s: $t is neither the old nor the new file ($(stat -c %s "$mnt/$t" 2>/dev/null || echo no) bytes)"
            fi
        done
    done
done
echo "$type: $runs power cuts during runs, $cut_mid_run of them before the run ended"
[ "$cut_mid_run" -gt 0 ] || fail "no power cut came before a run ended"
[ "$failures" = 0 ]
