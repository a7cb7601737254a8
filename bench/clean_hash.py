"""Hash of what `strokegraph.centerlines` returns (chains, nodes, edges, widths,
sources) on bench workloads, to check that a change leaves the clean call's
output bit for bit as it was.

Usage: python bench/clean_hash.py WORKLOAD.json[:TILES] ...
TILES: none (default), false, true or a tile side. Prints one line per file.
WORKLOAD.json is a file of bench/workloads.py (radius and feature size 1).
"""

from __future__ import annotations

import hashlib
import json
import sys

import numpy as np

import strokegraph


def digest(result: strokegraph.Centerlines) -> str:
    h = hashlib.sha256()
    h.update(np.int64(len(result.chains)).tobytes())
    for c in result.chains:
        h.update(np.int64(len(c)).tobytes())
        h.update(np.ascontiguousarray(c, dtype=np.float64).tobytes())
    h.update(np.ascontiguousarray(result.nodes).tobytes())
    h.update(np.ascontiguousarray(result.edges).tobytes())
    for w in result.widths if result.widths is not None else []:
        h.update(np.ascontiguousarray(w, dtype=np.float64).tobytes())
    for s in result.sources:
        h.update(np.int64(len(s)).tobytes())
        h.update(np.ascontiguousarray(s, dtype=np.int64).tobytes())
    return h.hexdigest()[:16]


def main() -> int:
    for arg in sys.argv[1:]:
        name, _, tiles_text = arg.partition(":")
        tiles_text = tiles_text or "none"
        named: dict[str, bool | None] = {"none": None, "false": False, "true": True}
        tiles = named[tiles_text] if tiles_text in named else float(tiles_text)
        with open(name) as f:
            doc = json.load(f)
        curves = [np.asarray(s, dtype=np.float64) for s in doc["strokes"]]
        out = [digest(strokegraph.centerlines(curves, 1.0, feature_size=1.0, tiles=tiles))]
        out.append(digest(strokegraph.centerlines(curves, 1.0, feature_size=1.0, tiles=tiles, compute_widths=True)))
        print(f"{arg}: {' '.join(out)}", flush=True)
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
