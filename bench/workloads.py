"""Seeded generator of the benchmark workloads, each with its ground-truth graph.

Four workloads, the first three in units where the buffer radius is 1.0 (feature size 1.0):

- sketch: artist-like figures (loops, crossings, stars, houses, windows, waves),
  every stroke overdrawn 1-3 times with wobble and jitter, each drawing broken
  into pieces that touch end to end, ends over- and undershooting a little.
- traces: GPS-like traces driven along a random road network (a perturbed grid
  with curved streets, missing blocks and dead ends), with smooth drift and
  jitter; the truth is the part of the network that some trace covered.
- lettering: lines of multi-stroke block letters, slanted and scaled per glyph.
- dense: many noisy traces along the same streets of a grid (blocks of 40
  units, radius 1.5): a few hundred to thousands of traces of 4-10 blocks, a
  point every unit with Gaussian noise (sigma 0.35), about ten traces on every
  street; the truth is the streets some trace drove. Its sizes count points
  (small 50 k, medium 100 k, large 1 M), and its radius is 1.5.

The truth is built from clean "truth strokes" whose junctions are shared,
bit-identical vertices: every vertex is a graph node, consecutive vertices are
edges, junctions are vertices of degree >= 3 and free ends those of degree 1.

Only the standard library is used, so the generator runs in any interpreter.
Usage: python bench/workloads.py sketch medium out.json [--seed N]
"""

from __future__ import annotations

import argparse
import json
import math
import random
import struct
from typing import Dict, List, Sequence, Tuple

Point = Tuple[float, float]
BUFFER_DISTANCE = 1.0
FEATURE_SIZE = 1.0
WORKLOADS = ("sketch", "traces", "lettering")
# With the dense traces (not in the golden hashes of the exact layer).
ALL_WORKLOADS = WORKLOADS + ("dense",)
# Target stroke counts; large is about one million input points, xlarge
# (traces only, for the tiled pipeline) about ten million.
SIZES = {"small": 50, "medium": 1000, "large": 20000, "xlarge": 200000}
# Input points of the dense traces by size.
DENSE_POINTS = {"small": 50_000, "medium": 100_000, "large": 1_000_000, "xlarge": 10_000_000}
DENSE_RADIUS = 1.5
DENSE_BLOCK = 40.0


# ---------------------------------------------------------------- geometry helpers

def _length(pts: Sequence[Point]) -> float:
    return sum(math.dist(a, b) for a, b in zip(pts, pts[1:]))


def resample(pts: Sequence[Point], spacing: float) -> List[Point]:
    """Points every `spacing` of arc length, first and last point kept."""
    total = _length(pts)
    n = max(1, round(total / spacing))
    step = total / n
    out = [pts[0]]
    seg, acc = 0, 0.0
    seg_len = math.dist(pts[0], pts[1])
    for k in range(1, n):
        target = k * step
        while acc + seg_len < target and seg < len(pts) - 2:
            acc += seg_len
            seg += 1
            seg_len = math.dist(pts[seg], pts[seg + 1])
        t = 0.0 if seg_len == 0 else (target - acc) / seg_len
        (ax, ay), (bx, by) = pts[seg], pts[seg + 1]
        out.append((ax + (bx - ax) * t, ay + (by - ay) * t))
    out.append(pts[-1])
    return out


def _arc(cx, cy, rx, ry, a0, a1, n) -> List[Point]:
    return [(cx + rx * math.cos(a0 + (a1 - a0) * i / n), cy + ry * math.sin(a0 + (a1 - a0) * i / n))
            for i in range(n + 1)]


class _Noise:
    """Smooth 1-D noise: a few sinusoids with random phases."""

    def __init__(self, rng: random.Random, amplitude: float, wavelength: float):
        self.terms = [(amplitude * rng.uniform(0.3, 1.0) / (k + 1),
                       2 * math.pi * (k + 1) / (wavelength * rng.uniform(0.7, 1.3)),
                       rng.uniform(0, 2 * math.pi)) for k in range(3)]

    def __call__(self, s: float) -> float:
        return sum(a * math.sin(w * s + p) for a, w, p in self.terms)


def draw_stroke(rng: random.Random, truth: Sequence[Point], spacing: float, wobble: float,
                jitter: float, overshoot: Tuple[float, float], offset: float) -> List[Point]:
    """One noisy drawing of a truth polyline: resampled, displaced along the
    normal by smooth noise plus a constant offset, jittered, and extended or
    shortened at both ends along the tangent."""
    pts = resample(truth, spacing)
    if len(pts) < 2:
        return list(pts)
    # Extend / shorten the ends.
    for end in (0, 1):
        d = rng.uniform(*overshoot)
        if end == 0:
            (ax, ay), (bx, by) = pts[0], pts[1]
        else:
            (ax, ay), (bx, by) = pts[-1], pts[-2]
        ln = math.hypot(ax - bx, ay - by) or 1.0
        p = (ax + (ax - bx) / ln * d, ay + (ay - by) / ln * d)
        if end == 0:
            pts[0] = p
        else:
            pts[-1] = p
    noise = _Noise(rng, wobble, rng.uniform(8, 20))
    out = []
    s = 0.0
    for i, (x, y) in enumerate(pts):
        a = pts[max(0, i - 1)]
        b = pts[min(len(pts) - 1, i + 1)]
        tx, ty = b[0] - a[0], b[1] - a[1]
        ln = math.hypot(tx, ty) or 1.0
        nx, ny = -ty / ln, tx / ln
        if i:
            s += math.dist(pts[i - 1], pts[i])
        n = noise(s) + offset
        out.append((x + nx * n + rng.gauss(0, jitter), y + ny * n + rng.gauss(0, jitter)))
    return out


def split_touching(rng: random.Random, pts: List[Point], pieces: int) -> List[List[Point]]:
    """Breaks a stroke into pieces; each piece starts at the last point of the previous one."""
    if pieces <= 1 or len(pts) < 4 * pieces:
        return [pts]
    cuts = sorted(rng.sample(range(2, len(pts) - 2), pieces - 1))
    out, start = [], 0
    for c in cuts + [len(pts) - 1]:
        if c - start >= 1:
            out.append(pts[start:c + 1])
            start = c
    return out


# ---------------------------------------------------------------- truth graph

def truth_graph(strokes: Sequence[Sequence[Point]]) -> Dict[str, list]:
    """Nodes are the (bit-identical) vertices, edges join consecutive ones."""
    edges = set()
    for s in strokes:
        for a, b in zip(s, s[1:]):
            if a != b:
                edges.add((a, b) if a < b else (b, a))
    degree: Dict[Point, int] = {}
    for a, b in edges:
        degree[a] = degree.get(a, 0) + 1
        degree[b] = degree.get(b, 0) + 1
    return {
        "segments": sorted([list(a), list(b)] for a, b in edges),
        "junctions": sorted(list(p) for p, d in degree.items() if d >= 3),
        "endpoints": sorted(list(p) for p, d in degree.items() if d == 1),
    }


# ---------------------------------------------------------------- sketch

def _sketch_figure(rng: random.Random, cx: float, cy: float, size: float) -> List[List[Point]]:
    """Truth strokes of one figure centred at (cx, cy) that fits in `size`."""
    h = size / 2
    kind = rng.randrange(7)
    if kind == 0:  # closed loop (ellipse), first vertex repeated at the end
        rx, ry = h * rng.uniform(0.6, 0.9), h * rng.uniform(0.4, 0.9)
        pts = _arc(cx, cy, rx, ry, 0, 2 * math.pi, 48)
        pts[-1] = pts[0]
        return [pts]
    if kind == 1:  # window: rectangle with a cross inside
        w, t = h * rng.uniform(0.6, 0.9), h * rng.uniform(0.6, 0.9)
        l, r, b, tp = cx - w, cx + w, cy - t, cy + t
        ml, mr, mb, mt = (l, cy), (r, cy), (cx, b), (cx, tp)
        outline = [(l, b), mb, (r, b), mr, (r, tp), mt, (l, tp), ml, (l, b)]
        return [outline, [ml, (cx, cy), mr], [mb, (cx, cy), mt]]
    if kind == 2:  # star: one centre, 3-5 arms
        k = rng.randint(3, 5)
        a0 = rng.uniform(0, 2 * math.pi)
        arms = []
        for i in range(k):
            a = a0 + 2 * math.pi * i / k + rng.uniform(-0.2, 0.2)
            ln = h * rng.uniform(0.6, 0.95)
            arms.append([(cx, cy), (cx + ln * math.cos(a), cy + ln * math.sin(a))])
        return arms
    if kind == 3:  # house: square body, roof, door
        w = h * 0.7
        l, r, b, m = cx - w, cx + w, cy - h * 0.8, cy + h * 0.2
        apex = (cx, cy + h * 0.9)
        d0, d1 = (cx - w * 0.3, b), (cx + w * 0.3, b)
        body = [(l, m), (l, b), d0, d1, (r, b), (r, m), (l, m)]
        return [body, [(l, m), apex, (r, m)], [d0, (cx - w * 0.3, b + h * 0.6), (cx + w * 0.3, b + h * 0.6), d1]]
    if kind == 4:  # lollipop: a loop with a tail
        rr = h * 0.45
        c = (cx, cy + h * 0.4)
        loop = _arc(c[0], c[1], rr, rr, -math.pi / 2, 1.5 * math.pi, 36)
        loop[-1] = loop[0]
        tail = [loop[0], (cx + rng.uniform(-0.3, 0.3) * h, cy - h * 0.9)]
        return [loop, tail]
    if kind == 5:  # wave: an open curve
        amp = h * rng.uniform(0.2, 0.4)
        n = 40
        return [[(cx - h * 0.9 + 1.8 * h * i / n, cy + amp * math.sin(3 * math.pi * i / n)) for i in range(n + 1)]]
    # T / Y crossing: three or four arms of one junction, the last one curved
    arms = []
    k = rng.choice((3, 4))
    for i in range(k):
        a = math.pi / 2 + 2 * math.pi * i / k
        ln = h * 0.9
        tip = (cx + ln * math.cos(a), cy + ln * math.sin(a))
        mid = (cx + ln * 0.5 * math.cos(a + 0.25), cy + ln * 0.5 * math.sin(a + 0.25))
        arms.append([(cx, cy), mid, tip])
    return arms


def _sketch(rng: random.Random, target: int):
    cell = 30.0
    figures = []
    strokes: List[List[Point]] = []
    truth: List[List[Point]] = []
    while len(strokes) < target:
        figures.append(None)
        i = len(figures) - 1
        # Figures fill a square grid in the order 0..n, row by row in blocks of 64.
        col, row = i % 64, i // 64
        cx, cy = col * cell + rng.uniform(-2, 2), row * cell + rng.uniform(-2, 2)
        for t in _sketch_figure(rng, cx, cy, cell * 0.75):
            truth.append(t)
            for _ in range(rng.choice((1, 2, 2, 3))):
                drawn = draw_stroke(rng, t, rng.uniform(0.2, 0.3), wobble=0.25, jitter=0.04,
                                    overshoot=(-0.3, 0.6), offset=rng.uniform(-0.25, 0.25))
                strokes.extend(split_touching(rng, drawn, rng.choice((1, 1, 2, 3))))
    return strokes, truth


# ---------------------------------------------------------------- traces

def _traces(rng: random.Random, target: int):
    # A grid of n x n intersections, perturbed, some streets missing.
    n = max(4, int(math.sqrt(target) * 1.0))
    block = 14.0
    nodes = {(i, j): (i * block + rng.uniform(-2.5, 2.5), j * block + rng.uniform(-2.5, 2.5))
             for i in range(n) for j in range(n)}
    streets = {}
    for i in range(n):
        for j in range(n):
            for di, dj in ((1, 0), (0, 1)):
                k = (i + di, j + dj)
                if k in nodes and rng.random() > 0.18:
                    a, b = nodes[(i, j)], nodes[k]
                    # A gently curved street.
                    bend = rng.uniform(-2.0, 2.0)
                    dx, dy = b[0] - a[0], b[1] - a[1]
                    ln = math.hypot(dx, dy)
                    nx, ny = -dy / ln, dx / ln
                    pts = [a] + [(a[0] + dx * t + nx * bend * math.sin(math.pi * t),
                                  a[1] + dy * t + ny * bend * math.sin(math.pi * t))
                                 for t in (0.25, 0.5, 0.75)] + [b]
                    streets[((i, j), k)] = pts
    adjacency: Dict[tuple, list] = {}
    for (a, b) in sorted(streets):
        adjacency.setdefault(a, []).append(b)
        adjacency.setdefault(b, []).append(a)
    starts = sorted(adjacency)
    covered = set()
    strokes: List[List[Point]] = []
    while len(strokes) < target:
        cur = rng.choice(starts)
        prev = None
        path: List[Point] = [nodes[cur]]
        for _ in range(rng.randint(2, 4)):
            options = [x for x in adjacency[cur] if x != prev] or adjacency[cur]
            nxt = rng.choice(options)
            key = (cur, nxt) if (cur, nxt) in streets else (nxt, cur)
            pts = streets[key] if key[0] == cur else streets[key][::-1]
            covered.add(key)
            path.extend(pts[1:])
            prev, cur = cur, nxt
        strokes.append(draw_stroke(rng, path, rng.uniform(0.6, 0.9), wobble=0.35, jitter=0.12,
                                   overshoot=(-0.2, 0.2), offset=rng.uniform(-0.3, 0.3)))
    truth = [streets[k] for k in sorted(covered)]
    return strokes, truth


# ---------------------------------------------------------------- dense traces

def _dense(rng: random.Random, target: int):
    """Traces of 4-10 blocks along a street grid, about ten on every street,
    a point every unit, jittered by N(0, 0.35) in x and y."""
    mean_blocks, per_street = 7.0, 10.0
    traces = max(1, round(target / (mean_blocks * DENSE_BLOCK)))
    # 2 n (n - 1) streets, each driven per_street times.
    n = max(3, round(math.sqrt(traces * mean_blocks / (2 * per_street))) + 1)
    node = {(i, j): (i * DENSE_BLOCK, j * DENSE_BLOCK) for i in range(n) for j in range(n)}
    covered = set()
    strokes: List[List[Point]] = []
    points = 0
    while points < target:
        cur = (rng.randrange(n), rng.randrange(n))
        prev = None
        corners = [node[cur]]
        for _ in range(rng.randint(4, 10)):
            options = [(cur[0] + di, cur[1] + dj) for di, dj in ((1, 0), (-1, 0), (0, 1), (0, -1))]
            options = [k for k in options if k in node and k != prev]
            nxt = rng.choice(options)
            covered.add((cur, nxt) if cur < nxt else (nxt, cur))
            corners.append(node[nxt])
            prev, cur = cur, nxt
        stroke = [(x + rng.gauss(0, 0.35), y + rng.gauss(0, 0.35)) for x, y in resample(corners, 1.0)]
        strokes.append(stroke)
        points += len(stroke)
    truth = [[node[a], node[b]] for a, b in sorted(covered)]
    return strokes, truth


# ---------------------------------------------------------------- lettering

def _glyphs() -> Dict[str, List[List[Point]]]:
    """Block letters in a 0..0.6 x 0..1 box; junction vertices are shared."""
    bowl = _arc(0.3, 0.75, 0.25, 0.25, math.pi / 2, -math.pi / 2, 12)
    o = _arc(0.3, 0.5, 0.3, 0.5, 0, 2 * math.pi, 32)
    o[-1] = o[0]
    c = _arc(0.35, 0.5, 0.32, 0.5, 0.35 * math.pi, 1.65 * math.pi, 20)
    u = [(0.0, 1.0), (0.0, 0.3)] + _arc(0.3, 0.3, 0.3, 0.3, math.pi, 2 * math.pi, 12)[1:] + [(0.6, 1.0)]
    d = [(0.0, 1.0), (0.2, 1.0)] + _arc(0.2, 0.5, 0.4, 0.5, math.pi / 2, -math.pi / 2, 16)[1:] + [(0.0, 0.0)]
    return {
        "A": [[(0.0, 0.0), (0.15, 0.45), (0.3, 1.0)], [(0.3, 1.0), (0.45, 0.45), (0.6, 0.0)],
              [(0.15, 0.45), (0.45, 0.45)]],
        "E": [[(0.6, 1.0), (0.0, 1.0), (0.0, 0.5), (0.0, 0.0), (0.6, 0.0)], [(0.0, 0.5), (0.45, 0.5)]],
        "F": [[(0.6, 1.0), (0.0, 1.0), (0.0, 0.5), (0.0, 0.0)], [(0.0, 0.5), (0.45, 0.5)]],
        "H": [[(0.0, 1.0), (0.0, 0.5), (0.0, 0.0)], [(0.6, 1.0), (0.6, 0.5), (0.6, 0.0)],
              [(0.0, 0.5), (0.6, 0.5)]],
        "L": [[(0.0, 1.0), (0.0, 0.0), (0.55, 0.0)]],
        "T": [[(0.0, 1.0), (0.3, 1.0), (0.6, 1.0)], [(0.3, 1.0), (0.3, 0.0)]],
        "X": [[(0.0, 1.0), (0.3, 0.5), (0.6, 0.0)], [(0.6, 1.0), (0.3, 0.5), (0.0, 0.0)]],
        "Y": [[(0.0, 1.0), (0.3, 0.5)], [(0.6, 1.0), (0.3, 0.5), (0.3, 0.0)]],
        "N": [[(0.0, 0.0), (0.0, 1.0), (0.6, 0.0), (0.6, 1.0)]],
        "Z": [[(0.0, 1.0), (0.6, 1.0), (0.0, 0.0), (0.6, 0.0)]],
        "V": [[(0.0, 1.0), (0.3, 0.0), (0.6, 1.0)]],
        "K": [[(0.0, 1.0), (0.0, 0.45), (0.0, 0.0)], [(0.55, 1.0), (0.0, 0.45), (0.6, 0.0)]],
        "P": [[(0.0, 0.0), (0.0, 0.5), (0.0, 1.0)], [(0.0, 1.0), (0.3, 1.0)] + bowl[1:-1] + [(0.3, 0.5), (0.0, 0.5)]],
        "O": [o],
        "C": [c],
        "U": [u],
        "D": [[(0.0, 0.0), (0.0, 1.0)], d],
    }


def _lettering(rng: random.Random, target: int):
    glyphs = _glyphs()
    names = sorted(glyphs)
    strokes: List[List[Point]] = []
    truth: List[List[Point]] = []
    per_line = 40
    k = 0
    while len(strokes) < target:
        g = glyphs[rng.choice(names)]
        height = rng.uniform(11.0, 14.0)
        slant = rng.uniform(-0.15, 0.25)
        ox, oy = (k % per_line) * 17.0, -(k // per_line) * 22.0
        k += 1

        def tf(p: Point) -> Point:
            return (ox + (p[0] + slant * p[1]) * height, oy + p[1] * height)

        for s in g:
            t = [tf(p) for p in s]
            truth.append(t)
            for _ in range(rng.choice((1, 1, 1, 2))):
                drawn = draw_stroke(rng, t, rng.uniform(0.2, 0.3), wobble=0.15, jitter=0.03,
                                    overshoot=(-0.2, 0.4), offset=rng.uniform(-0.15, 0.15))
                strokes.extend(split_touching(rng, drawn, rng.choice((1, 1, 1, 2))))
    return strokes, truth


# ---------------------------------------------------------------- entry points

def generate(workload: str, size: str, seed: int = 0) -> dict:
    """Returns {"workload", "size", "seed", "buffer_distance", "feature_size",
    "strokes": [[[x, y], ...], ...], "truth": {"segments", "junctions", "endpoints"}}."""
    target = DENSE_POINTS[size] if workload == "dense" else SIZES[size]
    rng = random.Random(f"{workload}/{size}/{seed}")
    strokes, truth = {"sketch": _sketch, "traces": _traces, "lettering": _lettering,
                      "dense": _dense}[workload](rng, target)
    radius = DENSE_RADIUS if workload == "dense" else BUFFER_DISTANCE
    return {
        "workload": workload, "size": size, "seed": seed,
        "buffer_distance": radius, "feature_size": radius if workload == "dense" else FEATURE_SIZE,
        "strokes": [[[x, y] for x, y in s] for s in strokes],
        "truth": truth_graph(truth),
    }


def write_binary(doc: dict, path: str) -> None:
    """The strokes for the C++ stage benchmark: little-endian "SGWL", u32 version 1,
    f64 buffer_distance, f64 feature_size, u64 curve count, then per curve u64
    point count and x, y f64 pairs."""
    with open(path, "wb") as f:
        f.write(b"SGWL" + struct.pack("<Idd", 1, doc["buffer_distance"], doc["feature_size"]))
        f.write(struct.pack("<Q", len(doc["strokes"])))
        for s in doc["strokes"]:
            f.write(struct.pack("<Q", len(s)))
            f.write(struct.pack(f"<{2 * len(s)}d", *(c for p in s for c in p)))


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("workload", choices=ALL_WORKLOADS)
    ap.add_argument("size", choices=sorted(SIZES))
    ap.add_argument("out", help="JSON file to write (a .bin beside it for the C++ benchmark)")
    ap.add_argument("--seed", type=int, default=0)
    args = ap.parse_args()
    doc = generate(args.workload, args.size, args.seed)
    with open(args.out, "w") as f:
        json.dump(doc, f)
    write_binary(doc, args.out.rsplit(".", 1)[0] + ".bin")
    pts = sum(map(len, doc["strokes"]))
    print(f"{args.workload}/{args.size}: {len(doc['strokes'])} strokes, {pts} points, "
          f"{len(doc['truth']['junctions'])} junctions, {len(doc['truth']['endpoints'])} endpoints")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
