"""Wall time of `strokegraph.centerlines` with the automatic tiling choice and
with tiling off, on one drawing; single runs.

Usage: python bench/tiles_choice.py WORKLOAD.json|hatching [TILES ...] [--save PREFIX]
TILES: none (default), false, true or a tile side; default "none false".
--save writes each result as PREFIX-tiles=TILES.json in the bench's output
format (lines, junctions, endpoints), for bench/quality.py.
WORKLOAD.json is a file of bench/workloads.py (radius and feature size 1);
"hatching" is 300 wavy strokes of 400 points in one 400 x 20 strip (radius 1.5,
feature size 0.5).
"""

from __future__ import annotations

import json
import math
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
    return [np.asarray(s, dtype=np.float64) for s in doc["strokes"]], 1.0, 1.0


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
    curves, radius, feature_size = drawing(args[0])
    points = sum(len(c) for c in curves)
    print(f"{args[0]}: {len(curves)} strokes, {points} points, radius {radius}, feature size {feature_size}")
    for text in args[1:] or ["none", "false"]:
        t0 = time.perf_counter()
        result = strokegraph.centerlines(curves, radius, feature_size=feature_size, tiles=choice(text))
        wall = time.perf_counter() - t0
        print(f"tiles={text}: {wall:.2f} s, {result!r}", flush=True)
        if save:
            doc = {
                "lines": [c.tolist() for c in result.chains],
                "junctions": result.nodes[result.junctions].tolist(),
                "endpoints": result.nodes[result.ends].tolist(),
            }
            with open(f"{save}-tiles={text}.json", "w") as f:
                json.dump(doc, f)
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
