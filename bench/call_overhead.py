"""What one call costs on small drawings, around the pipeline.

Times, per drawing of one workload of the real drawings (default "glyphs
messy": glyph-sized, tens of points), the whole `strokegraph.centerlines`
call on strokes given as lists of (x, y) tuples (as a user passes them), the
native `_core.centerlines` call alone on the normalised curves, and the
Python steps around it: input normalisation and result wrapping. Each figure
is the best of --runs passes over all drawings, divided by their count, in
wall time and in processor time of all the process's threads (the steadier
figure on a shared machine).

Usage:
  bench/.venv/bin/python bench/real_hash.py write DRAWINGS.json   (once: the drawings)
  .venv/bin/python bench/call_overhead.py DRAWINGS.json [--workload NAME] [--runs N]
"""

from __future__ import annotations

import argparse
import json
import sys
import time

import strokegraph
from strokegraph import _core, _native, api
from strokegraph._inputs import normalise


def per_drawing(runs: int, count: int, f) -> tuple[float, float]:
    """Best wall and best processor seconds (all threads) of a pass, per drawing."""
    wall = cpu = float("inf")
    for _ in range(runs):
        start, start_cpu = time.perf_counter(), time.process_time()
        f()
        cpu = min(cpu, time.process_time() - start_cpu)
        wall = min(wall, time.perf_counter() - start)
    return wall / count, cpu / count


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("drawings", help="the drawings, as written by bench/real_hash.py write")
    parser.add_argument("--workload", default="glyphs messy")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()

    with open(args.drawings) as f:
        doc = {w["name"]: w["drawings"] for w in json.load(f)}
    drawings = [([[(float(x), float(y)) for x, y in s] for s in d["strokes"]], d["r"])
                for d in doc[args.workload]]
    prepared = [(normalise(strokes), r) for strokes, r in drawings]
    raws = [_core.centerlines(curves, r, None) for (curves, _), r in prepared]
    n = len(drawings)
    points = sum(len(s) for strokes, _ in drawings for s in strokes)
    strokes = sum(len(strokes) for strokes, _ in drawings)

    def whole():
        for s, r in drawings:
            strokegraph.centerlines(s, r)

    def core():
        for (curves, _), r in prepared:
            _core.centerlines(curves, r, None)

    def inputs():
        for s, _ in drawings:
            normalise(s)

    def wrapping():
        for raw, ((curves, owners), r) in zip(raws, prepared):
            api.wrap(raw, curves, owners, r, None)

    whole()  # warm up: threads, caches
    print(f"{args.workload}: {n} drawings, {points / n:.1f} points and {strokes / n:.2f} strokes a drawing")
    for name, f in (("centerlines (API)", whole), ("_core.centerlines", core),
                    ("input normalisation", inputs), ("result wrapping", wrapping)):
        wall, cpu = per_drawing(args.runs, n, f)
        print(f"  {name:22s} {wall * 1e3:8.3f} ms a drawing ({cpu * 1e3:.3f} ms processor time)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
