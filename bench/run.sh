#!/usr/bin/env bash
# Benchmark: times quadsplit, quadmerge and boxpatch against the floor (the
# same bytes copied with cp), an astropy+numpy peer doing the same job, and
# CFITSIO's imcopy of every fourth column (one channel) for the split, on a
# set of generated frames.
#
#   bench/run.sh [FRAME ...]        e.g. bench/run.sh i16_8192
#
# Environment: BENCH_RUNS (timed runs per command, default 5), BENCH_DIR
# (work folder, default a new one under /tmp; about 1.5 GB), BENCH_KEEP=1
# keeps it. Every program's output is checked against the peer's before
# anything is timed; the table goes to standard output and to
# BENCH_DIR/results/table.md. This is a measurement, not a test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${BENCH_RUNS:-5}
python=/usr/bin/python3  # Debian's, for its numpy and astropy

"$root/scripts/need-packages.sh" hyperfine time python3-astropy python3-numpy
# imcopy is a comparison only: without it its column stays empty.
"$root/scripts/need-packages.sh" libcfitsio-bin || echo "bench: no imcopy, the split is not timed against it" >&2
imcopy_split=()

build="$root/build/release"
(cd "$root" && cmake --preset release >/dev/null && cmake --build --preset programs -j 2 >/dev/null)
quadsplit="$build/quadsplit/quadsplit"
quadmerge="$build/quadmerge/quadmerge"
boxpatch="$build/boxpatch/boxpatch"
peer="$python $root/bench/peer.py"

work=${BENCH_DIR:-$(mktemp -d /tmp/fitsquad-bench.XXXXXX)}
mkdir -p "$work/results"
[ "${BENCH_KEEP:-0}" = 1 ] || [ -n "${BENCH_DIR:-}" ] || trap 'rm -rf "$work"' EXIT
src="$work/src"
[ -f "$src/u8_1024.d.fits" ] || "$python" "$root/bench/frames.py" "$src"

frames=("$@")
[ ${#frames[@]} -gt 0 ] || frames=(i16_8192 f32_4096 i32_4096 i16_2048 u8_1024)

# A fresh folder `run` holding copies of the frame's inputs.
fresh() { # frame dir
    rm -rf "$2" && mkdir -p "$2" && cp "$src/$1".*fits "$2/"
}

# Fails loudly when two files do not hold the same image.
same() {
    $peer same "$1" "$2" || { echo "bench: output differs from the peer's: $1 $2" >&2; exit 1; }
}

naxis() { # file keyword
    head -c 2880 "$1" | fold -w 80 | sed -n "s/^$2 *= *\([0-9]*\).*/\1/p"
}

peak_rss() { # results-file name command...
    local out=$1 name=$2
    shift 2
    /usr/bin/time -f "$name %M" -a -o "$out" "$@" >/dev/null
}

timing() { # frame job prepare name=command...
    local frame=$1 job=$2 prepare=$3
    shift 3
    local args=()
    for named in "$@"; do args+=(-n "${named%%=*}" "${named#*=}"); done
    hyperfine --style basic --warmup 1 --runs "$runs" --prepare "$prepare" \
        --export-json "$work/results/$frame.$job.json" "${args[@]}" >/dev/null
}

for f in "${frames[@]}"; do
    echo "== $f" >&2
    img="$src/$f.fits"
    w=$(naxis "$img" NAXIS1)
    h=$(naxis "$img" NAXIS2)
    box=("$((w / 8))" "$((w / 8 + 31))" 1 "$((h / 2))")
    r="$work/run"
    p="$work/peer"

    # Check first: the program's output against the peer's.
    fresh "$f" "$r" && fresh "$f" "$p"
    "$quadsplit" "$r/$f.fits" >/dev/null && $peer split "$p/$f.fits"
    for c in a b c d; do same "$r/$f.$c.fits" "$p/$f.$c.fits"; done
    fresh "$f" "$r" && fresh "$f" "$p"
    "$quadmerge" "$r/$f.fits" >/dev/null && $peer merge "$p/$f.fits"
    same "$r/$f.fits" "$p/$f.fits"
    fresh "$f" "$r" && fresh "$f" "$p"
    "$boxpatch" -b "${box[@]}" "$r/$f.fits" >/dev/null && $peer patch "${box[@]}" "$p/$f.fits"
    same "$r/$f.fits" "$p/$f.fits"

    prep="rm -rf $r && mkdir $r && cp $src/$f.*fits $r/"
    command -v imcopy >/dev/null && imcopy_split=("imcopy=imcopy '$r/$f.fits[1:$w:4,*]' $r/imcopy.fits")
    timing "$f" split "$prep" \
        "quadsplit=$quadsplit $r/$f.fits" \
        "floor=cp $r/$f.fits $r/copy.fits" \
        "astropy=$peer split $r/$f.fits" \
        "${imcopy_split[@]}"
    timing "$f" merge "$prep" \
        "quadmerge=$quadmerge $r/$f.fits" \
        "floor=cat $r/$f.[abcd].fits >/dev/null && cp $r/$f.fits $r/copy.fits" \
        "astropy=$peer merge $r/$f.fits"
    timing "$f" patch "$prep" \
        "boxpatch=$boxpatch -b ${box[*]} $r/$f.fits" \
        "floor=cp $r/$f.fits $r/copy.fits" \
        "astropy=$peer patch ${box[*]} $r/$f.fits"

    for job in split merge patch; do
        rss="$work/results/$f.$job.rss"
        : >"$rss"
        fresh "$f" "$r"
        case $job in
        split) peak_rss "$rss" quadsplit "$quadsplit" "$r/$f.fits"
               peak_rss "$rss" astropy $peer split "$r/$f.fits" ;;
        merge) peak_rss "$rss" quadmerge "$quadmerge" "$r/$f.fits"
               peak_rss "$rss" astropy $peer merge "$r/$f.fits" ;;
        patch) peak_rss "$rss" boxpatch "$boxpatch" -b "${box[@]}" "$r/$f.fits"
               peak_rss "$rss" astropy $peer patch "${box[@]}" "$r/$f.fits" ;;
        esac
    done
done
rm -rf "$work/run" "$work/peer"

echo "hyperfine: $runs runs after 1 warm-up, fresh input copies per run; medians (min..max) in seconds;"
echo "ratios are program median / other median; peak resident memory in MiB"
"$python" "$root/bench/summary.py" "$work/results" | tee "$work/results/table.md"
