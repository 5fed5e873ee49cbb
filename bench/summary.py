"""Prints the benchmark table from hyperfine's JSON exports.

    summary.py RESULTS_DIR

RESULTS_DIR holds FRAME.JOB.json (hyperfine --export-json) and FRAME.JOB.rss
(lines "name kib" of peak resident memory) for every frame and job.
"""
import json
import sys
from pathlib import Path

JOBS = ["split", "merge", "patch"]
PROGRAM = {"split": "quadsplit", "merge": "quadmerge", "patch": "boxpatch"}


def main():
    results = Path(sys.argv[1])
    frames = sorted({p.name.split(".")[0] for p in results.glob("*.json")},
                    key=lambda f: (-int(f.split("_")[1]), f))
    print("| frame | job | program s | floor s | astropy s | imcopy s | /floor | /astropy | /imcopy | program MiB | astropy MiB |")
    print("|---|---|---|---|---|---|---|---|---|---|---|")
    for frame in frames:
        for job in JOBS:
            path = results / f"{frame}.{job}.json"
            if not path.exists():
                continue
            runs = {r["command"]: r for r in json.loads(path.read_text())["results"]}
            rss = {}
            rss_path = results / f"{frame}.{job}.rss"
            if rss_path.exists():
                for line in rss_path.read_text().split("\n"):
                    if line.strip():
                        name, kib = line.split()
                        rss[name] = int(kib) / 1024

            def cell(name):
                r = runs.get(name)
                if r is None:
                    return "-"
                return f"{r['median']:.3f} ({r['min']:.3f}..{r['max']:.3f})"

            def ratio(name):
                r = runs.get(name)
                return f"{runs[PROGRAM[job]]['median'] / r['median']:.2f}" if r else "-"

            mib = lambda name: f"{rss[name]:.0f}" if name in rss else "-"
            print(f"| {frame} | {PROGRAM[job]} | {cell(PROGRAM[job])} | {cell('floor')} | {cell('astropy')} "
                  f"| {cell('imcopy')} | {ratio('floor')} | {ratio('astropy')} | {ratio('imcopy')} | {mib(PROGRAM[job])} "
                  f"| {mib('astropy')} |")


if __name__ == "__main__":
    main()
