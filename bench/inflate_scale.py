"""Median of 5 (--runs) timings of inflate_curves on many random strokes of 50 points.

Usage: python bench/inflate_scale.py grid|canvas [--count N] [--radius R] [--single-union]
  grid:   one random-walk stroke per 10 x 10 cell of a 100 x 100 grid, steps of 0.2
  canvas: strokes started anywhere on a 1000 x 1000 canvas, steps of 0.5
Defaults: 10,000 strokes at radius 1. At radius 0 every stroke enters the union
as a closed polygon (`canvas --count 20000 --radius 0`); --single-union times
one union call over all bands (STROKEGRAPH_SINGLE_UNION=1) instead of one per
cluster.
"""
import argparse, math, os, random, statistics, time

def walk(rng, x, y, step, turn, m=50):
    a = rng.uniform(0, 2 * math.pi); c = []
    for _ in range(m):
        c.append((x, y)); a += rng.uniform(-turn, turn)
        x += step * math.cos(a); y += step * math.sin(a)
    return c

def layout(name, n):
    rng = random.Random(1)
    if name == "grid":    # one stroke per 10 x 10 cell of a 100 x 100 grid, steps of 0.2
        return [walk(rng, (i % 100) * 10.0, (i // 100) * 10.0, 0.2, 0.5) for i in range(n)]
    if name == "canvas":  # strokes started anywhere on a 1000 x 1000 canvas, steps of 0.5
        return [walk(rng, rng.uniform(0, 1000), rng.uniform(0, 1000), 0.5, 0.3) for _ in range(n)]

ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
ap.add_argument("layout", choices=["grid", "canvas"])
ap.add_argument("--count", type=int, default=10_000)
ap.add_argument("--radius", type=float, default=1.0)
ap.add_argument("--single-union", action="store_true")
ap.add_argument("--runs", type=int, default=5)
args = ap.parse_args()
if args.single_union:
    os.environ["STROKEGRAPH_SINGLE_UNION"] = "1"
from strokegraph import inflate_curves  # noqa: E402

curves = layout(args.layout, args.count)
times = []
for _ in range(args.runs):
    t = time.perf_counter(); result = inflate_curves(curves, args.radius, 1.0); times.append(time.perf_counter() - t)
print(args.layout, args.count, "strokes, radius", args.radius, "single union" if args.single_union else "per cluster",
      "polygons", len(result), "holes", sum(len(h) for _, h in result),
      "times", [round(x, 2) for x in times], "median %.2f s" % statistics.median(times))
