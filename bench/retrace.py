"""Time of the clean call on one stroke drawn back and forth over itself.

Usage: python bench/retrace.py [POINTS ...]   (default 2400 9600)

The stroke runs between x = 0 and x = 10 at every point, with noise of 0.01
(radius 1): one offset call's outline would cross itself at almost every pair
of edges. Prints points, seconds (best of three) and the graph's counts.
"""

from __future__ import annotations

import sys
import time

import numpy as np

import strokegraph


def stroke(n: int) -> np.ndarray:
    rng = np.random.default_rng(2)
    return np.column_stack([np.arange(n) % 2 * 10.0, np.zeros(n)]) + rng.normal(0, 0.01, (n, 2))


def main() -> int:
    for n in [int(a) for a in sys.argv[1:]] or [2400, 9600]:
        curve = stroke(n)
        best = float("inf")
        for _ in range(3):
            t0 = time.perf_counter()
            g = strokegraph.centerlines([curve], 1.0)
            best = min(best, time.perf_counter() - t0)
        print(f"{n} points: {best:.3f} s, {len(g.chains)} chains, {len(g.ends)} ends")
    return 0


if __name__ == "__main__":
    sys.exit(main())
