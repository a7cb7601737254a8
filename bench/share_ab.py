"""The clean-up's and provenance's share of the call for two builds of
build/bench/cleanup_share, in paired rounds (A then B, ROUNDS times), so that
load on the machine that drifts during the comparison touches both alike.

Usage: python bench/share_ab.py EXE_A EXE_B [--rounds 3] [--runs 5] WORKLOAD[:RATIO,...] ...
WORKLOAD is a file or folder cleanup_share reads (a folder: bench/real_share.py's
drawings, summed); RATIO (radius / feature size) 1 unless told.
Prints per workload and ratio the median share of each build, with the median
call, clean-up and provenance seconds.
"""

from __future__ import annotations

import argparse
import json
import os
import statistics
import subprocess


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("exe_a")
    ap.add_argument("exe_b")
    ap.add_argument("workloads", nargs="+")
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--runs", type=int, default=5)
    args = ap.parse_args()
    exes = {"A": args.exe_a, "B": args.exe_b}
    for spec in args.workloads:
        path, _, ratio_text = spec.partition(":")
        ratios = ratio_text.split(",") if ratio_text else ["1"]
        seen = {k: {r: [] for r in ratios} for k in exes}
        for _ in range(args.rounds):
            for k, exe in exes.items():
                out = subprocess.run([exe, path, str(args.runs)] + ratios, capture_output=True, text=True,
                                     check=True).stdout
                doc = json.loads(out)
                for r in ratios:
                    seen[k][r].append(doc[r])
        for r in ratios:
            line = f"{os.path.basename(path.rstrip('/')):24s} r/fs {r:>4s}"
            for k in exes:
                rows = seen[k][r]
                share = statistics.median((x["cleanup"] + x["sources"]) / x["total"] for x in rows)
                line += (f"  {k} {100 * share:5.1f}% (call {statistics.median(x['total'] for x in rows):.3f}s,"
                         f" clean-up {statistics.median(x['cleanup'] for x in rows):.3f}s,"
                         f" sources {statistics.median(x['sources'] for x in rows):.3f}s)")
            print(line, flush=True)
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
