"""Topologize a drawing stored as JSON and print a short summary.

Usage: python examples/demo.py examples/sample_drawing.json

The file holds {"buffer_distance": ..., "feature_size": ..., "strokes": [[[x, y], ...], ...]}.
"""

import collections
import json
import math
import sys
import time

import strokegraph


def main(path: str) -> int:
    with open(path) as f:
        doc = json.load(f)
    strokes = [[(float(x), float(y)) for x, y in stroke] for stroke in doc["strokes"]]
    buffer_distance = doc["buffer_distance"]
    feature_size = doc["feature_size"]

    start = time.perf_counter()
    chains, nodes, ids, widths = strokegraph.topologize(
        strokes, buffer_distance, feature_size, compute_widths=True
    )
    elapsed = time.perf_counter() - start

    degree = collections.Counter()
    for a, b in ids:
        degree[a] += 1
        degree[b] += 1
    length = sum(math.dist(p, q) for chain in chains for p, q in zip(chain, chain[1:]))
    inner = [w for ws in widths for w in ws[1:-1]]

    print(f"input:      {len(strokes)} strokes, {sum(map(len, strokes))} points "
          f"(buffer {buffer_distance}, feature size {feature_size})")
    print(f"chains:     {len(chains)} with {sum(map(len, chains))} points, "
          f"total length {length:.1f}")
    print(f"nodes:      {len(nodes)} ({sum(d >= 3 for d in degree.values())} junctions, "
          f"{sum(d == 1 for d in degree.values())} free ends, "
          f"{sum(a == b for a, b in ids)} closed loops)")
    if inner:
        print(f"band width: median {sorted(inner)[len(inner) // 2]:.2f} "
              f"(2 x buffer = {2 * buffer_distance})")
    print(f"time:       {elapsed * 1000:.1f} ms")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "examples/sample_drawing.json"))
