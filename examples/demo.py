"""Find the centerline graph of a drawing stored as JSON, print a summary, draw it.

Usage: python examples/demo.py [examples/sample_drawing.json] [--png docs/demo.png]

The file holds {"buffer_distance": ..., "feature_size": ..., "strokes": [[[x, y], ...], ...]};
`buffer_distance` is the band radius. The picture needs matplotlib (and shapely
for the bands): pip install 'strokegraph[all]'.
"""

import argparse
import json
import sys
import time

import numpy as np

import strokegraph


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("drawing", nargs="?", default="examples/sample_drawing.json")
    parser.add_argument("--png", help="also draw the graph over the strokes into this PNG file")
    args = parser.parse_args()

    with open(args.drawing) as f:
        doc = json.load(f)
    strokes = [np.array(stroke, np.float64) for stroke in doc["strokes"]]
    radius = doc["buffer_distance"]

    start = time.perf_counter()
    result = strokegraph.centerlines(strokes, radius, compute_widths=True)
    elapsed = time.perf_counter() - start

    inner = np.concatenate([w[1:-1] for w in result.widths] or [np.zeros(0)])
    print(f"input:      {len(strokes)} strokes, {sum(map(len, strokes))} points (radius {radius})")
    print(f"graph:      {result!r}")
    print(f"chains:     {sum(map(len, result.chains))} points, total length {result.lengths.sum():.1f}")
    if inner.size:
        print(f"band width: median {np.median(inner):.2f} (2 x radius = {2 * radius})")
    print(f"time:       {elapsed * 1000:.1f} ms")

    tuples = [list(map(tuple, s.tolist())) for s in strokes]
    chains, nodes, _, _ = strokegraph.topologize(tuples, radius, doc["feature_size"])
    print(f"low level:  topologize(..., feature_size={doc['feature_size']}) gives "
          f"{len(chains)} chains, {len(nodes)} nodes")

    if args.png:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt

        fig, ax = plt.subplots(figsize=(8, 4.6))
        result.plot(ax, show_input=True, show_bands=True, legend=True)
        ax.set_axis_off()
        fig.savefig(args.png, dpi=110, bbox_inches="tight", metadata={"Software": None})
        plt.close(fig)
        print(f"picture:    {args.png}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
