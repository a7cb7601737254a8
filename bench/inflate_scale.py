"""Median of 5 timings of inflate_curves on 10,000 strokes x 50 points.

Usage: python bench/inflate_scale.py grid|canvas
  grid:   one random-walk stroke per 10 x 10 cell of a 100 x 100 grid, steps of 0.2
  canvas: strokes started anywhere on a 1000 x 1000 canvas, steps of 0.5
"""
import math, random, statistics, sys, time
from strokegraph import inflate_curves

def walk(rng, x, y, step, turn, m=50):
    a = rng.uniform(0, 2 * math.pi); c = []
    for _ in range(m):
        c.append((x, y)); a += rng.uniform(-turn, turn)
        x += step * math.cos(a); y += step * math.sin(a)
    return c

def layout(name, n=10_000):
    rng = random.Random(1)
    if name == "grid":    # one stroke per 10 x 10 cell of a 100 x 100 grid, steps of 0.2
        return [walk(rng, (i % 100) * 10.0, (i // 100) * 10.0, 0.2, 0.5) for i in range(n)]
    if name == "canvas":  # strokes started anywhere on a 1000 x 1000 canvas, steps of 0.5
        return [walk(rng, rng.uniform(0, 1000), rng.uniform(0, 1000), 0.5, 0.3) for _ in range(n)]

curves = layout(sys.argv[1])
times = []
for _ in range(5):
    t = time.perf_counter(); result = inflate_curves(curves, 1.0, 1.0); times.append(time.perf_counter() - t)
print(sys.argv[1], "polygons", len(result), "holes", sum(len(h) for _, h in result),
      "times", [round(x, 2) for x in times], "median %.2f s" % statistics.median(times))
