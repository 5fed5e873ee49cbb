#!/usr/bin/env bash
# Picture bench: fitspreview beside fitspng (Debian's FITS-to-PNG converter)
# making the same picture of the 8192 x 8192 bench frame, and the peak
# memory of fitsframe making an 8192 x 8192 frame.
#
#   full -z        fitspreview -z F out.png             fitspng -o out.png F
#   thumbnail -z   fitspreview -s 8 -z F out.png        fitspng -s 8 -o out.png F
#   full -p        fitspreview -p 0.5 99.5 F out.png    fitspng -o out.png F
#   thumbnail -p   fitspreview -s 8 -p 0.5 99.5 F out.png
#   full asinh     fitspreview -z -f asinh F out.png    fitspng -f asinh -o out.png F
#
# Each job is timed in one hyperfine run (BENCH_RUNS, default 8, after a
# warm-up); before every run the frame is copied afresh into an empty folder
# and the copy synced to disk. Peak resident memory comes from /usr/bin/time,
# one run each on a fresh copy. Prints medians (min..max), the ratios, the
# peak memory and a checklist of the targets; exit status 1 when a command
# failed. This is a measurement, not a test.
#
#   bench/pictures.sh [FRAME]       FRAME defaults to i16_8192 (bench/frames.py)
#
# Environment: BENCH_RUNS; BENCH_SRC, a folder holding FRAME.fits
# (bench/run.sh passes its own; otherwise the frames are generated into
# BENCH_DIR/src); BENCH_DIR (work folder, default a new one under /tmp),
# BENCH_KEEP=1 keeps it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${BENCH_RUNS:-8}
frame=${1:-i16_8192}
python=/usr/bin/python3  # Debian's, for its numpy

"$root/scripts/need-packages.sh" hyperfine time fitspng python3-numpy

build="$root/build/release"
(cd "$root" && cmake --preset release >/dev/null && cmake --build --preset programs -j 2 >/dev/null)
fitspreview="$build/fitspreview/fitspreview"
fitsframe="$build/fitsframe/fitsframe"

work=${BENCH_DIR:-$(mktemp -d /tmp/fitsquad-pictures.XXXXXX)}
[ "${BENCH_KEEP:-0}" = 1 ] || [ -n "${BENCH_DIR:-}" ] || trap 'rm -rf "$work"' EXIT
src=${BENCH_SRC:-$work/src}
[ -f "$src/$frame.fits" ] || "$python" "$root/bench/frames.py" "$src"
[ -f "$src/$frame.fits" ] || { echo "bench: no frame $frame in $src" >&2; exit 1; }
results="$work/pictures"
rm -rf "$results" && mkdir -p "$results"
r="$work/picture-run"
prep="rm -rf $r && mkdir $r && cp $src/$frame.fits $r/f.fits && sync"
failed=0

# job name, our command, fitspng's command (or nothing)
jobs=(
    "full_z|$fitspreview -z $r/f.fits $r/out.png|fitspng -o $r/out.png $r/f.fits"
    "thumbnail_z|$fitspreview -s 8 -z $r/f.fits $r/out.png|fitspng -s 8 -o $r/out.png $r/f.fits"
    "full_p|$fitspreview -p 0.5 99.5 $r/f.fits $r/out.png|fitspng -o $r/out.png $r/f.fits"
    "thumbnail_p|$fitspreview -s 8 -p 0.5 99.5 $r/f.fits $r/out.png|"
    "full_asinh|$fitspreview -z -f asinh $r/f.fits $r/out.png|fitspng -f asinh -o $r/out.png $r/f.fits"
)
for line in "${jobs[@]}"; do
    IFS='|' read -r job ours theirs <<<"$line"
    echo "== $frame $job" >&2
    args=(-n fitspreview "$ours")
    [ -n "$theirs" ] && args+=(-n fitspng "$theirs")
    if ! hyperfine --style basic --warmup 1 --runs "$runs" --prepare "$prep" \
        --export-json "$results/$job.json" "${args[@]}" >/dev/null; then
        echo "bench: $job failed" >&2
        failed=1
        continue
    fi
    for who in fitspreview fitspng; do
        cmd=$ours
        [ $who = fitspng ] && cmd=$theirs
        [ -n "$cmd" ] || continue
        eval "$prep"
        /usr/bin/time -f "$job $who %M" -a -o "$results/rss.txt" sh -c "exec $cmd" >/dev/null 2>&1 ||
            { echo "bench: $job $who failed while its memory was measured" >&2; failed=1; }
    done
done

# fitsframe: its peak memory (and its time, once) for an 8192 x 8192 frame.
echo "== fitsframe 8192 x 8192" >&2
rm -rf "$r" && mkdir "$r"
/usr/bin/time -f "fitsframe fitsframe %M %e" -a -o "$results/rss.txt" \
    "$fitsframe" -s 8192 8192 "$r/frame.fits" >/dev/null || failed=1
rm -rf "$r"

echo "hyperfine: $runs runs after 1 warm-up, a fresh synced copy of $frame before every run; seconds"
"$python" - "$results" <<'EOF' | tee "$results/table.md"
import json
import sys
from pathlib import Path

results = Path(sys.argv[1])
JOBS = {"full_z": "full size, -z", "thumbnail_z": "-s 8 -z", "full_p": "full size, -p 0.5 99.5",
        "thumbnail_p": "-s 8 -p 0.5 99.5", "full_asinh": "full size, -z -f asinh"}
runs = {}
for job in JOBS:
    path = results / f"{job}.json"
    if path.exists():
        runs[job] = {r["command"]: r for r in json.loads(path.read_text())["results"]}
rss, frame_seconds = {}, None
for line in (results / "rss.txt").read_text().splitlines() if (results / "rss.txt").exists() else []:
    job, who, kib, *rest = line.split()
    rss[(job, who)] = int(kib) / 1024
    if job == "fitsframe":
        frame_seconds = float(rest[0])


def cell(job, who):
    r = runs.get(job, {}).get(who)
    return "-" if r is None else f"{r['median']:.3f} ({r['min']:.3f}..{r['max']:.3f})"


def median(job, who):
    r = runs.get(job, {}).get(who)
    return None if r is None else r["median"]


def fmt(v, form="{:.2f}"):
    return "-" if v is None else form.format(v)


print()
print("| picture | fitspreview | fitspng | fitspng/fitspreview | peak MiB fitspreview | peak MiB fitspng |")
print("|---|---:|---:|---:|---:|---:|")
for job, title in JOBS.items():
    ours, theirs = median(job, "fitspreview"), median(job, "fitspng")
    ratio = theirs / ours if ours and theirs else None
    print(f"| {title} | {cell(job, 'fitspreview')} | {cell(job, 'fitspng')} | {fmt(ratio)} "
          f"| {fmt(rss.get((job, 'fitspreview')), '{:.1f}')} | {fmt(rss.get((job, 'fitspng')), '{:.1f}')} |")
print(f"| fitsframe -s 8192 8192 (one run) | {fmt(frame_seconds, '{:.2f}')} | | "
      f"| {fmt(rss.get(('fitsframe', 'fitsframe')), '{:.1f}')} | |")
print()


def check(label, value, good, unit):
    status = "not measured" if value is None else "met" if good(value) else "NOT met"
    print(f"- [{'x' if status == 'met' else ' '}] {label}: {status}" +
          ("" if value is None else f"; {value:.2f}{unit}"))


def speedup(job):
    ours, theirs = median(job, "fitspreview"), median(job, "fitspng")
    return theirs / ours if ours and theirs else None


print("Targets:")
check("full size with -z at most 1.0 s", median("full_z", "fitspreview"), lambda v: v <= 1.0, " s")
check("full size with -z at least 4x faster than fitspng", speedup("full_z"), lambda v: v >= 4.0, "x")
check("-s 8 -z at most 0.25 s", median("thumbnail_z", "fitspreview"), lambda v: v <= 0.25, " s")
check("-s 8 -z at least 4x faster than fitspng -s 8", speedup("thumbnail_z"), lambda v: v >= 4.0, "x")
check("-p 0.5 99.5 full size at most 1.5 s", median("full_p", "fitspreview"), lambda v: v <= 1.5, " s")
ours_rss = [v for (job, who), v in rss.items() if who == "fitspreview"]
check("fitspreview peak resident memory under 32 MiB in every job", max(ours_rss) if ours_rss else None,
      lambda v: v < 32, " MiB (largest)")
check("fitsframe 8192 x 8192 peak resident memory under 32 MiB", rss.get(("fitsframe", "fitsframe")),
      lambda v: v < 32, " MiB")
EOF
exit $failed
