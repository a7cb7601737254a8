"""Wall time of `strokegraph.centerlines` with the automatic tiling choice and
with tiling off (or given tile sides), on one drawing.

Usage: python bench/tiles_choice.py WORKLOAD.json|hatching [TILES ...] [--save PREFIX] [--repeat N]
TILES: none (default), false, true or a tile side; default "none false".
--save writes each result as PREFIX-tiles=TILES.json in the bench's output
format (lines, junctions, endpoints), for bench/quality.py.
--repeat N runs the choices in turn N times (A B C A B C ...: pairs taken
close together, so a load that drifts moves them alike), after one call not
timed, and prints each choice's median, least and greatest time and its
median ratio to the first.
WORKLOAD.json is a file of bench/workloads.py (its radius and feature size);
"hatching" is 300 wavy strokes of 400 points in one 400 x 20 strip (radius 1.5,
feature size 0.5).
"""

from __future__ import annotations

import json
import math
import statistics
import sys
import time

import numpy as np

import strokegraph


def drawing(name: str) -> tuple[list[np.ndarray], float, float]:
    if name == "hatching":
        curves = [np.array([(i, 10 * math.sin(0.37 * i + k)) for i in range(400)]) for k in range(300)]
        return curves, 1.5, 0.5
    with open(name) as f:
        doc = json.load(f)
    curves = [np.asarray(s, dtype=np.float64) for s in doc["strokes"]]
    return curves, float(doc.get("buffer_distance", 1.0)), float(doc.get("feature_size", 1.0))


def choice(text: str) -> bool | float | None:
    named: dict[str, bool | None] = {"none": None, "false": False, "true": True}
    return named[text.lower()] if text.lower() in named else float(text)


def main() -> int:
    args = sys.argv[1:]
    save = None
    if "--save" in args:
        at = args.index("--save")
        save = args[at + 1]
        del args[at : at + 2]
    repeat = 1
    if "--repeat" in args:
        at = args.index("--repeat")
        repeat = max(1, int(args[at + 1]))
        del args[at : at + 2]
    curves, radius, feature_size = drawing(args[0])
    points = sum(len(c) for c in curves)
    print(f"{args[0]}: {len(curves)} strokes, {points} points, radius {radius}, feature size {feature_size}")
    texts = args[1:] or ["none", "false"]
    walls: dict[str, list[float]] = {text: [] for text in texts}
    if repeat > 1:  # the first call also starts the worker pool
        strokegraph.centerlines(curves, radius, feature_size=feature_size, tiles=choice(texts[0]))
    for round_ in range(repeat):
        for text in texts:
            t0 = time.perf_counter()
            result = strokegraph.centerlines(curves, radius, feature_size=feature_size, tiles=choice(text))
            wall = time.perf_counter() - t0
            walls[text].append(wall)
            print(f"tiles={text}: {wall:.2f} s, {result!r}", flush=True)
            if save and round_ == 0:
                doc = {
                    "lines": [c.tolist() for c in result.chains],
                    "junctions": result.nodes[result.junctions].tolist(),
                    "endpoints": result.nodes[result.ends].tolist(),
                }
                with open(f"{save}-tiles={text}.json", "w") as f:
                    json.dump(doc, f)
    if repeat > 1:
        first = walls[texts[0]]
        for text in texts:
            ratios = [w / f for w, f in zip(walls[text], first)]
            print(f"tiles={text}: median {statistics.median(walls[text]):.3f} s "
                  f"(min {min(walls[text]):.3f}, max {max(walls[text]):.3f}), "
                  f"median ratio to tiles={texts[0]} {statistics.median(ratios):.2f}")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
