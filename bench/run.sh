#!/usr/bin/env bash
# Benchmark: times quadsplit, quadmerge and boxpatch on a set of generated
# frames, side by side in one hyperfine run per frame and job with
#   eatmydata        the program under Debian's eatmydata, which turns its
#                    flushes to stable storage into nothing
#   cp-floor         cp of the image to a new file (merge: after reading the
#                    four channel files with cat)
#   cp-sync          the same, then sync of the copy: the durable cp floor
#                    (split)
#   replace-floor    cp of the image to DIR/.tmp, then mv over an existing
#                    file: the image for merge and patch (what an atomic
#                    rewrite must at least do), channel a for split
#   durable-replace  cp to DIR/.tmp, sync of it, mv over the image, sync of
#                    the folder: the durable replace floor (merge, patch)
#   cfitsio          bench/cfitsio_peer.c, the job written plainly on CFITSIO
#   astropy          bench/peer.py, the job in astropy+numpy
#   imcopy           CFITSIO's imcopy of one channel (split only, if present)
# and measures the peak resident memory of the program and the CFITSIO
# peer. Only the program and the durable floors flush what they write; the
# other floors and peers leave it in the page cache. As root, it then makes
# a loop-mounted XFS with reflink and times boxpatch of a 100 x 600 box
# there on the 16-bit frames beside the durable clone floor (cp
# --reflink=always to DIR/.tmp, sync of it, mv over the image, sync of the
# folder) and the CFITSIO peer. bench/summary.py prints the tables and the
# checklist of targets.
#
#   bench/run.sh [FRAME ...]        e.g. bench/run.sh i16_8192
#
# Environment: BENCH_RUNS (timed runs per command, default 8, after one
# warm-up; every run gets fresh copies of the inputs, synced to the disk
# before it starts, as a user's frame is), BENCH_DIR (work folder, default a
# new one under /tmp; about 2 GB), BENCH_KEEP=1 keeps it.
# Before a job is timed, the program's and the CFITSIO peer's outputs are
# checked item for item against the astropy peer's; a job whose check fails
# is reported, not timed, and the run goes on with the next job. The table
# goes to standard output and to BENCH_DIR/results/table.md; the exit status
# is 1 when a check failed. This is a measurement, not a test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${BENCH_RUNS:-8}
python=/usr/bin/python3  # Debian's, for its numpy and astropy

"$root/scripts/need-packages.sh" hyperfine time python3-astropy python3-numpy libcfitsio-dev eatmydata xfsprogs
# imcopy is a comparison only: without it its column stays empty.
"$root/scripts/need-packages.sh" libcfitsio-bin || echo "bench: no imcopy, the split is not timed against it" >&2

build="$root/build/release"
(cd "$root" && cmake --preset release >/dev/null && cmake --build --preset programs -j 2 >/dev/null)
quadsplit="$build/quadsplit/quadsplit"
quadmerge="$build/quadmerge/quadmerge"
boxpatch="$build/boxpatch/boxpatch"
peer="$python $root/bench/peer.py"
cfitsio="$build/cfitsio_peer"
cc -std=c11 -O2 -ffp-contract=off -Wall -Wextra -o "$cfitsio" "$root/bench/cfitsio_peer.c" -lcfitsio

work=${BENCH_DIR:-$(mktemp -d /tmp/fitsquad-bench.XXXXXX)}
mkdir -p "$work/results"
rm -f "$work/results"/*.json "$work/results"/*.rss "$work/results"/*.failed
[ "${BENCH_KEEP:-0}" = 1 ] || [ -n "${BENCH_DIR:-}" ] || trap 'rm -rf "$work"' EXIT
src="$work/src"
[ -f "$src/f64_4096.d.fits" ] || "$python" "$root/bench/frames.py" "$src"

frames=("$@")
[ ${#frames[@]} -gt 0 ] || frames=(i16_8192 f32_4096 i32_4096 f64_4096 i16_2048 u8_1024)
failed=0

# A fresh folder holding copies of the frame's inputs, on the disk.
fresh() { # frame dir
    rm -rf "$2" && mkdir -p "$2" && cp "$src/$1".*fits "$2/" && sync
}

naxis() { # file keyword
    head -c 2880 "$1" | fold -w 80 | sed -n "s/^$2 *= *\([0-9]*\).*/\1/p"
}

# The shell command with which a contender does the job in folder DIR, on
# frame f with the box `box` and width w of the loop below.
command_for() { # job contender dir
    local job=$1 who=$2 d=$3
    local img="$d/$f.fits" read_channels=""
    [ "$job" = merge ] && read_channels="cat $d/$f.[abcd].fits >/dev/null && "
    local args="$img"
    [ "$job" = patch ] && args="${box[*]} $img"
    case $who in
    ours)
        case $job in
        split) echo "$quadsplit $img" ;;
        merge) echo "$quadmerge $img" ;;
        patch) echo "$boxpatch -b $args" ;;
        esac ;;
    eatmydata) echo "eatmydata $(command_for "$job" ours "$d")" ;;
    cfitsio) echo "$cfitsio $job $args" ;;
    astropy) echo "$peer $job $args" ;;
    cp-floor) echo "${read_channels}cp $img $d/copy.fits" ;;
    cp-sync) echo "${read_channels}cp $img $d/copy.fits && sync $d/copy.fits" ;;
    replace-floor)
        local target=$img
        [ "$job" = split ] && target="$d/$f.a.fits"
        echo "${read_channels}cp $img $d/.tmp && mv $d/.tmp $target" ;;
    durable-replace) echo "${read_channels}cp $img $d/.tmp && sync $d/.tmp && mv $d/.tmp $img && sync $d" ;;
    clone-floor) echo "cp --reflink=always $img $d/.tmp && sync $d/.tmp && mv $d/.tmp $img && sync $d" ;;
    imcopy) echo "imcopy '${img}[1:$w:4,*]' $d/imcopy.fits" ;;
    esac
}

# The contender's name in the results: the program's own for ours.
label() { # job contender
    case $2 in
    ours) case $1 in split) echo quadsplit ;; merge) echo quadmerge ;; patch) echo boxpatch ;; esac ;;
    *) echo "$2" ;;
    esac
}

# Records and reports what went wrong with a job.
fail() { # job message
    echo "$f $1: $2" >>"$work/results/$f.$1.failed"
    echo "bench: FAILED $f $1: $2" >&2
    failed=1
}

# Runs the job with the astropy peer, the program and the CFITSIO peer on
# fresh copies and compares their outputs item for item. Status 0 when the
# program and the CFITSIO peer both write what the astropy peer writes.
check() { # job [folder of the program's and the CFITSIO peer's runs] [result name]
    local job=$1 base=${2:-$work/check} result=${3:-$1} who name out status outputs ok=0 ran=() d
    outputs=("$f.fits")
    [ "$job" = split ] && outputs=("$f".{a,b,c,d}.fits)
    for who in astropy ours cfitsio; do
        name=$(label "$job" "$who")
        d="$base/$who"
        [ "$who" = astropy ] && d="$work/check/$who"
        fresh "$f" "$d"
        status=0
        out=$(eval "$(command_for "$job" "$who" "$d")" 2>&1) || status=$?
        if [ $status = 0 ]; then
            ran+=("$who")
        else
            fail "$result" "$name ended with status $status, not timed: $(printf '%s\n' "$out" | head -n 3 | sed 's/.*/"&"/' | paste -sd ' ')"
            ok=1
        fi
    done
    [ "${ran[0]:-}" = astropy ] || return 1
    for who in "${ran[@]:1}"; do
        name=$(label "$job" "$who")
        for o in "${outputs[@]}"; do
            if ! out=$($peer same "$base/$who/$o" "$work/check/astropy/$o" 2>&1); then
                fail "$result" "$name's output differs from the astropy peer's, not timed: $out"
                ok=1
                break
            fi
        done
    done
    return $ok
}

# Times the contenders of a job in folder DIR in one hyperfine run, then
# the peak resident memory of the program and the CFITSIO peer, one run
# each on fresh copies. RESULT names the results, FRAME.RESULT.json/.rss.
time_job() { # result job dir prepare contender...
    local result=$1 job=$2 d=$3 prepare=$4 who name args=()
    shift 4
    for who in "$@"; do
        args+=(-n "$(label "$job" "$who")" "$(command_for "$job" "$who" "$d")")
    done
    echo "   $result: $*" >&2
    if ! hyperfine --style basic --warmup 1 --runs "$runs" --prepare "$prepare" \
        --export-json "$work/results/$f.$result.json" "${args[@]}" >/dev/null; then
        fail "$result" "hyperfine failed, not timed"
        return
    fi
    local rss="$work/results/$f.$result.rss"
    : >"$rss"
    for who in ours cfitsio; do
        name=$(label "$job" "$who")
        eval "$prepare"
        /usr/bin/time -f "$name %M" -a -o "$rss" sh -c "exec $(command_for "$job" "$who" "$d")" >/dev/null ||
            fail "$result" "$name failed while its memory was measured"
    done
}

for f in "${frames[@]}"; do
    echo "== $f" >&2
    img="$src/$f.fits"
    [ -f "$img" ] || { echo "bench: no frame $f" >&2; exit 1; }
    w=$(naxis "$img" NAXIS1)
    h=$(naxis "$img" NAXIS2)
    box=("$((w / 8))" "$((w / 8 + 31))" 1 "$((h / 2))")
    r="$work/run"
    prep="rm -rf $r && mkdir $r && cp $src/$f.*fits $r/ && sync"

    for job in split merge patch; do
        if ! check "$job"; then
            continue
        fi
        contenders=(ours eatmydata cp-floor cp-sync replace-floor cfitsio astropy)
        [ "$job" = split ] && command -v imcopy >/dev/null && contenders+=(imcopy)
        [ "$job" = split ] || contenders=(ours eatmydata cp-floor replace-floor durable-replace cfitsio astropy)
        time_job "$job" "$job" "$r" "$prep" "${contenders[@]}"
    done
    rm -rf "$work/check"
done
rm -rf "$work/run" "$work/check"

# boxpatch of a 100 x 600 box on XFS with reflink, where it patches in a
# clone of the frame: the 16-bit frames of the run, as root.
xfs_frames=()
for f in "${frames[@]}"; do [[ $f == i16_* ]] && xfs_frames+=("$f"); done
if [ ${#xfs_frames[@]} -gt 0 ] && [ "$(id -u)" = 0 ]; then
    x="$work/xfs"
    LOOP_FS_SIZE=4G "$root/tests/filesystems/loop_fs.sh" mount xfs "$x" >&2
    trap '"$root/tests/filesystems/loop_fs.sh" unmount "$x"; [ "${BENCH_KEEP:-0}" = 1 ] || [ -n "${BENCH_DIR:-}" ] || rm -rf "$work"' EXIT
    for f in "${xfs_frames[@]}"; do
        echo "== $f on XFS" >&2
        img="$src/$f.fits"
        w=$(naxis "$img" NAXIS1)
        h=$(naxis "$img" NAXIS2)
        box=("$((w / 8))" "$((w / 8 + 99))" "$((h / 4))" "$((h / 4 + 599))")
        prep="rm -rf $x/run && mkdir $x/run && cp $img $x/run/ && sync"
        check patch "$x/check" xfs-patch && time_job xfs-patch patch "$x/run" "$prep" ours clone-floor cfitsio
        rm -rf "$work/check" "$x/check"
    done
    "$root/tests/filesystems/loop_fs.sh" unmount "$x"
elif [ ${#xfs_frames[@]} -gt 0 ]; then
    echo "bench: not root, boxpatch on XFS with reflink is not timed" >&2
fi

echo "hyperfine: $runs runs after 1 warm-up, fresh input copies synced to the disk before every run; seconds"
"$python" "$root/bench/summary.py" "$work/results" | tee "$work/results/table.md"

# The picture bench (bench/pictures.sh) on the same 8192 frame, when it is
# among the frames or BENCH_PICTURES=1 asks for it.
if [[ " ${frames[*]} " == *" i16_8192 "* || ${BENCH_PICTURES:-0} = 1 ]]; then
    BENCH_SRC="$src" BENCH_DIR="$work" BENCH_RUNS="$runs" "$root/bench/pictures.sh" || failed=1
fi
exit $failed
