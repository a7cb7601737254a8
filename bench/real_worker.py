"""Runs one method over many drawings in one process, for bench/real_drawings.py.

Reads {"drawings": [{"strokes": ..., "r": ..., "fs": ...}, ...]} and prints one
JSON object a line: {"event": "ready"} after the imports and a warm-up call,
then per drawing {"i": k, "seconds": t, "nodes": [[x, y], ...], "edges": [[a, b],
...], "lines": [[[x, y], ...], ...], "fs": ..., "unsourced": chains without a source (ours only)} (or
{"i": k, "error": message}),
so that the caller can stop it at a time cap and keep what came.
Only the method's call is timed; the graph is read off its result afterwards.

Methods: "ours clean" (`strokegraph.centerlines(strokes, r)`, its defaults, as
a user calls it), "ours raw" (the same with clean=False), and the peers of
bench/methods.py by name, given fs (the feature size ours derived from r).
Peers that return bare lines get their nodes where line ends coincide.

Usage: python bench/real_worker.py METHOD INPUT.json
"""

from __future__ import annotations

import json
import os
import sys
import time
from typing import Dict, List, Tuple

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from methods import METHODS  # noqa: E402
from worker import WARMUP  # noqa: E402

OURS = ("ours clean", "ours raw")


def _ours(strokes, r, fs, clean: bool):
    import strokegraph
    return strokegraph.centerlines(strokes, r, clean=clean)


def _ours_graph(c) -> Dict:
    return {"nodes": c.nodes.tolist(), "edges": c.edges.tolist(), "lines": [p.tolist() for p in c.chains],
            "fs": c.feature_size, "unsourced": sum(len(s) == 0 for s in c.sources)}


def _lines_graph(res) -> Dict:
    """Nodes where line ends coincide (to 1e-7), as bench/methods.py counts degrees."""
    key_of: Dict[Tuple[int, int], int] = {}
    nodes: List[List[float]] = []
    edges, lines = [], []
    for line in res.lines:
        if len(line) < 2:
            continue
        ids = []
        for p in (line[0], line[-1]):
            k = (round(p[0] * 1e7), round(p[1] * 1e7))
            if k not in key_of:
                key_of[k] = len(nodes)
                nodes.append([float(p[0]), float(p[1])])
            ids.append(key_of[k])
        edges.append(ids)
        lines.append([[float(x), float(y)] for x, y in line])
    return {"nodes": nodes, "edges": edges, "lines": lines}


def _say(**kw) -> None:
    print(json.dumps(kw), flush=True)


def main() -> int:
    name, path = sys.argv[1], sys.argv[2]
    if name in OURS:
        clean = name == "ours clean"

        def run(s, r, fs):
            return _ours(s, r, fs, clean)
        graph = _ours_graph
    else:
        method = METHODS[name]
        run = method.run

        def graph(raw):
            return _lines_graph(method.convert(raw))
    with open(path) as f:
        drawings = json.load(f)["drawings"]
    graph(run(WARMUP, 1.0, 1.0))
    _say(event="ready")
    for i, d in enumerate(drawings):
        strokes = [[(float(x), float(y)) for x, y in s] for s in d["strokes"]]
        try:
            t0 = time.perf_counter()
            raw = run(strokes, d["r"], d.get("fs"))
            dt = time.perf_counter() - t0
            _say(i=i, seconds=dt, **graph(raw))
        except Exception as e:  # a failure on one drawing scores as wrong, the others still run
            _say(i=i, error=f"{type(e).__name__}: {e}")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
