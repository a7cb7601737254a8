"""Dense hatching: 300 wavy strokes of 400 points over one strip, radius 1.5.

Times `centerlines` with the default tiles and untiled (median and minimum of
--runs calls, after one warm-up call) and prints the graph's counts.

    .venv/bin/python bench/hatching.py [--runs 5]
"""

from __future__ import annotations

import argparse
import math
import statistics
import time

import strokegraph as sg


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    curves = [[(i, 10 * math.sin(0.37 * i + k)) for i in range(400)] for k in range(300)]
    for tiles in (None, False):
        sg.centerlines(curves, radius=1.5, tiles=tiles)
        times = []
        for _ in range(args.runs):
            start = time.perf_counter()
            g = sg.centerlines(curves, radius=1.5, tiles=tiles)
            times.append(time.perf_counter() - start)
        print(f"hatching tiles={tiles!s:5}: median {statistics.median(times):.3f} s, "
              f"min {min(times):.3f} s ({len(g.chains)} chains, {len(g.nodes)} nodes)")


if __name__ == "__main__":
    main()
