"""Prints the benchmark tables and the checklist of targets from the results
of bench/run.sh.

    summary.py RESULTS_DIR

RESULTS_DIR holds, for every frame and job, FRAME.JOB.json (hyperfine
--export-json, one command per contender), FRAME.JOB.rss (lines "name kib"
of peak resident memory) and, when something went wrong, FRAME.JOB.failed
(what; a job whose outputs do not match the astropy peer's is not timed).
"""
import json
import sys
from pathlib import Path

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
from frames import FRAMES  # noqa: E402  (the frames of the bench, for "every frame")

JOBS = ["split", "merge", "patch"]
XFS_JOB = "xfs-patch"  # boxpatch of a 100 x 600 box on XFS with reflink
PROGRAM = {"split": "quadsplit", "merge": "quadmerge", "patch": "boxpatch", XFS_JOB: "boxpatch"}
# The durable floor of each job: it flushes what it writes, as the programs do.
DURABLE = {"split": "cp-sync", "merge": "durable-replace", "patch": "durable-replace", XFS_JOB: "clone-floor"}
OTHERS = ["eatmydata", "durable floor", "cp-floor", "replace-floor", "cfitsio", "astropy", "imcopy"]

# The targets, on FLOOR_FRAME: within these factors of the durable floors,
# and under eatmydata (no flushes) within EATMYDATA_MAX of the figures the
# README gave before the programs flushed.
FLOOR_FRAME = "i16_8192"
DURABLE_FLOOR_MAX = {"split": 1.5, "merge": 1.1, "patch": 1.1, XFS_JOB: 1.5}
BEFORE_FLUSHING = {"split": 0.087, "merge": 0.083, "patch": 0.072}
EATMYDATA_MAX = 1.3
XFS_CFITSIO_SPEEDUP = 20.0
XFS_FLAT_MAX = 2.0  # XFS patch time, FLOOR_FRAME over XFS_SMALL_FRAME
XFS_SMALL_FRAME = "i16_2048"
# Speed-up over the CFITSIO peer (which does not flush) on the big frames.
BIG_WIDTHS = (8192, 4096)
CFITSIO_SPEEDUP = {"split": 3.0, "merge": 2.0, "patch": 1.5}
ASTROPY_SPEEDUP = 4.0
SPREAD_MAX = 1.5
RSS_MAX_MIB = 16.0
MIN_RUNS = 8


def width(frame):
    return int(frame.split("_")[1])


def load(results):
    """{(frame, job): {"runs": {name: result}, "rss": {name: MiB}, "failed": [reason]}}"""
    names = {p.name.split(".")[0] for p in results.iterdir() if p.suffix in (".json", ".failed", ".rss")}
    data = {}
    for frame in sorted(names, key=lambda f: (-width(f), f)):
        for job in JOBS + [XFS_JOB]:
            entry = {"runs": {}, "rss": {}, "failed": []}
            path = results / f"{frame}.{job}.json"
            if path.exists():
                entry["runs"] = {r["command"]: r for r in json.loads(path.read_text())["results"]}
            path = results / f"{frame}.{job}.rss"
            if path.exists():
                for line in path.read_text().splitlines():
                    if line.strip():
                        name, kib = line.split()
                        entry["rss"][name] = int(kib) / 1024
            path = results / f"{frame}.{job}.failed"
            if path.exists():
                entry["failed"] = [line for line in path.read_text().splitlines() if line.strip()]
            if entry["runs"] or entry["failed"]:
                data[(frame, job)] = entry
    return data


def median(entry, name):
    r = entry["runs"].get(name)
    return r["median"] if r else None


def fmt(value, form="{:.2f}"):
    return "-" if value is None else form.format(value)


def ratio(a, b):
    return a / b if a is not None and b is not None and b > 0 else None


def run_of(entry, job, name):
    return entry["runs"].get(DURABLE[job] if name == "durable floor" else name)


def times_table(data, jobs, columns, header):
    print(header)
    print("|---|---|" + "---:|" * (len(columns) + 1))
    for (frame, job), entry in data.items():
        if job not in jobs:
            continue
        def cell(name):
            r = run_of(entry, job, name)
            return "-" if r is None else f"{r['median']:.3f} ({r['min']:.3f}..{r['max']:.3f})"
        if not entry["runs"]:
            print(f"| {frame} | {PROGRAM[job]} | not timed (see the failures) |" + " |" * len(columns))
            continue
        cells = " | ".join(cell(name) for name in [PROGRAM[job]] + columns)
        print(f"| {frame} | {PROGRAM[job]} | {cells} |")


def spread(entry, name):
    r = entry["runs"].get(name)
    return ratio(r["max"], r["min"]) if r else None


def ratios_table(data):
    print("| frame | program | ours/durable floor | eatmydata/cp floor | CFITSIO/ours | astropy/ours "
          "| ours max/min | peak MiB ours | peak MiB CFITSIO |")
    print("|---|---|---:|---:|---:|---:|---:|---:|---:|")
    for (frame, job), entry in data.items():
        if not entry["runs"]:
            continue
        ours = median(entry, PROGRAM[job])
        rss = entry["rss"]
        name = PROGRAM[job] + (" (XFS)" if job == XFS_JOB else "")
        print(f"| {frame} | {name} | {fmt(ratio(ours, median(entry, DURABLE[job])))} "
              f"| {fmt(ratio(median(entry, 'eatmydata'), median(entry, 'cp-floor')))} "
              f"| {fmt(ratio(median(entry, 'cfitsio'), ours))} | {fmt(ratio(median(entry, 'astropy'), ours))} "
              f"| {fmt(spread(entry, PROGRAM[job]))} | {fmt(rss.get(PROGRAM[job]), '{:.1f}')} "
              f"| {fmt(rss.get('cfitsio'), '{:.1f}')} |")


def target(label, cases, figure, good, unit="x", worst=max):
    """One checklist line. cases: (frame, job, entry or None) for what the
    target covers; figure(entry, job) gives the measured value, good(value)
    whether it is met. Prints the worst figure and where it was measured."""
    measured, missing, failed = [], [], []
    for frame, job, entry in cases:
        value = figure(entry, job) if entry and not entry["failed"] else None
        if entry and entry["failed"]:
            failed.append(f"{frame} {PROGRAM[job]}")  # output wrong, or no figure
        elif value is None:
            if frame not in missing:
                missing.append(frame)
        else:
            measured.append((value, frame, job))
    bad = [m for m in measured if not good(m[0])]
    if bad or failed:
        status = "NOT met"
    elif missing:
        status = "not fully measured"
    else:
        status = "met"
    parts = []
    if len(measured) == 1:
        value, frame, job = measured[0]
        parts.append(f"{value:.2f}{unit} ({frame} {PROGRAM[job]})")
    elif measured:
        value, frame, job = worst(measured, key=lambda m: m[0])
        parts.append(f"worst {value:.2f}{unit} ({frame} {PROGRAM[job]})")
        parts.append(f"{len(measured) - len(bad)} of {len(measured)} measured met")
        if bad:
            parts.append("missed by " + ", ".join(f"{f} {PROGRAM[j]} {v:.2f}{unit}" for v, f, j in bad))
    if failed:
        parts.append("failed: " + ", ".join(failed))
    if missing:
        parts.append("frames not run: " + ", ".join(missing))
    print(f"- [{'x' if status == 'met' else ' '}] {label}: {status}; " + "; ".join(parts))


def checklist(data):
    # Every frame of the bench, whether this run measured it or not.
    frames = sorted({frame for frame, _ in data} | {f[0] for f in FRAMES}, key=lambda f: (-width(f), f))

    def cases(frame_filter, jobs):
        # boxpatch runs on XFS on the 16-bit frames only
        return [(f, j, data.get((f, j))) for f in frames if frame_filter(f) for j in jobs
                if j != XFS_JOB or f.startswith("i16_")]

    def over(name):
        return lambda entry, job: ratio(median(entry, PROGRAM[job]), median(entry, name))

    def speedup(name):
        return lambda entry, job: ratio(median(entry, name), median(entry, PROGRAM[job]))

    fewest = min((len(r["times"]) for entry in data.values() for r in entry["runs"].values()), default=None)
    print("Targets:" if fewest is None or fewest >= MIN_RUNS else
          f"Targets (from {fewest} runs per command; the targets are for medians of at least {MIN_RUNS}):")
    for job, limit in DURABLE_FLOOR_MAX.items():
        where = " on XFS with reflink" if job == XFS_JOB else ""
        target(f"{PROGRAM[job]}{where} within {limit}x of the durable floor ({DURABLE[job]}) on {FLOOR_FRAME}",
               cases(lambda f: f == FLOOR_FRAME, [job]), over(DURABLE[job]), lambda v, l=limit: v <= l)
    for job, before in BEFORE_FLUSHING.items():
        target(f"{PROGRAM[job]} under eatmydata within {EATMYDATA_MAX}x of the {before} s it took on {FLOOR_FRAME} "
               "before it flushed", cases(lambda f: f == FLOOR_FRAME, [job]),
               lambda entry, job, b=before: ratio(median(entry, "eatmydata"), b), lambda v: v <= EATMYDATA_MAX)
    target(f"boxpatch on XFS with reflink at least {XFS_CFITSIO_SPEEDUP:g}x faster than the CFITSIO peer on {FLOOR_FRAME}",
           cases(lambda f: f == FLOOR_FRAME, [XFS_JOB]), speedup("cfitsio"), lambda v: v >= XFS_CFITSIO_SPEEDUP)
    small, large = data.get((XFS_SMALL_FRAME, XFS_JOB)), data.get((FLOOR_FRAME, XFS_JOB))
    target(f"boxpatch on XFS with reflink flat from {XFS_SMALL_FRAME} to {FLOOR_FRAME} (within {XFS_FLAT_MAX:g}x)",
           [(FLOOR_FRAME, XFS_JOB, large if small else None)],
           lambda entry, job: ratio(median(entry, "boxpatch"), median(small, "boxpatch")),
           lambda v: v <= XFS_FLAT_MAX)
    for job, limit in CFITSIO_SPEEDUP.items():
        target(f"{PROGRAM[job]} at least {limit}x faster than the CFITSIO peer (which does not flush) on the "
               "8192 and 4096 frames", cases(lambda f: width(f) in BIG_WIDTHS, [job]), speedup("cfitsio"),
               lambda v, l=limit: v >= l, worst=min)
    target("never slower than the CFITSIO peer, every frame and program",
           cases(lambda f: True, JOBS), speedup("cfitsio"), lambda v: v >= 1.0, worst=min)
    target(f"at least {ASTROPY_SPEEDUP:g}x faster than astropy, every frame and program",
           cases(lambda f: True, JOBS), speedup("astropy"), lambda v: v >= ASTROPY_SPEEDUP, worst=min)
    target(f"max/min of the program's runs under {SPREAD_MAX}, every frame and program",
           cases(lambda f: True, JOBS), lambda entry, job: spread(entry, PROGRAM[job]),
           lambda v: v < SPREAD_MAX)
    target(f"peak resident memory under {RSS_MAX_MIB:g} MiB, every frame and program",
           cases(lambda f: True, JOBS + [XFS_JOB]), lambda entry, job: entry["rss"].get(PROGRAM[job]),
           lambda v: v < RSS_MAX_MIB, unit=" MiB")


def main():
    data = load(Path(sys.argv[1]))
    print("Medians (min..max) in seconds. The program and the durable floor (cp-sync for the split, "
          "durable-replace for merge and patch) flush what they write; the other floors and peers do not:")
    print()
    times_table(data, JOBS, OTHERS,
                "| frame | program | ours | eatmydata | durable floor | cp floor | replace floor | CFITSIO "
                "| astropy | imcopy |")
    if any(job == XFS_JOB for _, job in data):
        print()
        print("boxpatch of a 100 x 600 box on XFS with reflink (a loop mount), medians (min..max) in seconds; "
              "the clone floor flushes, CFITSIO does not:")
        print()
        times_table(data, [XFS_JOB], ["clone-floor", "cfitsio"], "| frame | program | ours | clone floor | CFITSIO |")
    print()
    print("Ratios of medians (CFITSIO/ours and astropy/ours: how many times faster ours is); "
          "peak resident memory in MiB:")
    print()
    ratios_table(data)
    failures = [line for entry in data.values() for line in entry["failed"]]
    if failures:
        print()
        print("Failures:")
        for line in failures:
            print(f"- {line}")
    print()
    checklist(data)


if __name__ == "__main__":
    main()
