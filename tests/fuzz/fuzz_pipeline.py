"""Random-input soak of the four entry points: nothing may crash or hang.

Usage: python tests/fuzz/fuzz_pipeline.py [--seconds 120] [--seed N] [--readers]

Each round draws curves (random walks, repeated points, collinear runs,
near-coincident strokes, huge, tiny and non-finite coordinates) and parameters
(zero, negative, NaN, infinite and ordinary values), runs every entry point in
a child process, and reports any round whose child died from a signal or
raised anything but the documented exceptions. Long runs belong here, not in
the default test suite.

With --readers each round mutates a drawing file instead (SVG with nested
`use` references, JSON strokes, GeoJSON; bytes flipped, cut, repeated and
spliced) and reads it with `strokegraph.io.read`, which may only raise
`DrawingError`; a file that reads is traced.
"""

import argparse
import math
import multiprocessing
import random
import sys
import time
import traceback

SPECIAL = [0.0, -0.0, -1.0, math.nan, math.inf, -math.inf, 1e-300, 5e-324, 1e300, 1e12, 1e-9]


def number(rng, typical):
    r = rng.random()
    if r < 0.15:
        return rng.choice(SPECIAL)
    if r < 0.3:
        return None
    return typical * math.exp(rng.uniform(-3, 3))


def curve(rng):
    kind = rng.randrange(7)
    n = rng.choice([0, 1, 2, 3, 5, 20, 200])
    x, y = rng.uniform(-50, 50), rng.uniform(-50, 50)
    pts = []
    for i in range(n):
        if kind == 0:  # random walk
            x += rng.gauss(0, 1)
            y += rng.gauss(0, 1)
        elif kind == 1:  # repeated points
            pass
        elif kind == 2:  # collinear back and forth
            x += rng.choice([-1, 1]) * rng.random()
        elif kind == 3:  # grid-snapped (exact degeneracies)
            x, y = float(rng.randrange(-5, 5)), float(rng.randrange(-5, 5))
        elif kind == 4:  # special values sprinkled in
            x, y = (rng.choice(SPECIAL) if rng.random() < 0.1 else rng.uniform(-10, 10) for _ in range(2))
        elif kind == 5:  # tiny scale
            x, y = rng.uniform(-1e-7, 1e-7), rng.uniform(-1e-7, 1e-7)
        else:  # closed loop
            a = 2 * math.pi * i / max(n - 1, 1)
            x, y = 10 * math.cos(a), 10 * math.sin(a)
        pts.append((x, y))
    return pts


def case(rng):
    curves = [curve(rng) for _ in range(rng.choice([0, 1, 2, 5, 12]))]
    if curves and rng.random() < 0.3:  # near-coincident overdraw
        base = rng.choice(curves)
        curves.append([(px + rng.gauss(0, 1e-7), py) for px, py in base if math.isfinite(px)])
    bd = rng.choice([1.0, 0.5, 2.0, 0.0, -1.0, 1e-6, 50.0])
    fs = rng.choice([1.0, 0.3, 3.0, 1e-3, 0.0, math.nan])
    widths = None
    if rng.random() < 0.2:
        widths = [[abs(rng.gauss(1, 0.5)) for _ in c] if rng.random() < 0.7 else [] for c in curves]
    opts = dict(
        simplification=number(rng, 0.1),
        min_tip_fraction=number(rng, 2.0),
        junction_merge_fraction=number(rng, 1.5),
        subdivision_ratio=number(rng, 0.5),
        resample=number(rng, 0.5) if rng.random() < 0.3 else None,
        boundary_simplification=number(rng, 0.05),
        merge_tolerance=number(rng, 0.01),
    )
    return curves, bd, fs, widths, opts


EXPECTED = (ValueError, MemoryError)

SEED_FILES = [
    ("svg", b'<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink" '
            b'viewBox="0 0 80 80"><defs><path id="a" d="M10 20 C 30 0 50 40 70 20" stroke="black" '
            b'stroke-width="3"/><g id="b"><use xlink:href="#a"/><use xlink:href="#a" '
            b'transform="rotate(30 40 40)"/></g></defs><use href="#b"/><use href="#b" '
            b'transform="scale(0.5)"/><polyline points="1,1 5,9 9,1" stroke="red"/>'
            b'<circle cx="40" cy="40" r="9" stroke="black"/><rect x="2" y="2" width="5" height="5" '
            b'rx="1" stroke="black"/></svg>'),
    ("json", b'{"strokes": [[[0, 0], [10, 0], [10, 10]], [[5, -5], [5, 5]]], "radius": 1.5, '
             b'"feature_size": 2}'),
    ("geojson", b'{"type": "FeatureCollection", "features": [{"type": "Feature", "properties": '
                b'{"ref": "A1"}, "geometry": {"type": "MultiPolygon", "coordinates": [[[[0, 0], [30, 0], '
                b'[30, 30], [0, 0]], [[5, 5], [9, 5], [9, 9], [5, 5]]]]}}, {"type": "Feature", "geometry": '
                b'{"type": "GeometryCollection", "geometries": [{"type": "LineString", "coordinates": '
                b'[[0, 0], [1, 2, 3]]}]}}]}'),
]
TOKENS = [b"<use href=\"#b\"/>", b"<g>", b"</g>", b"1e308", b"-0", b"NaN", b"[", b"]", b"{", b"}", b",",
          b"5e-324", b"1e-4", b'"type": "GeometryCollection"', b"transform=\"scale(1e300)\"", b"\x00"]


def mutate(rng, data):
    data = bytearray(data)
    for _ in range(rng.randrange(1, 6)):
        k = rng.randrange(len(data) + 1)
        r = rng.random()
        if r < 0.25 and data:
            data[min(k, len(data) - 1)] = rng.randrange(256)
        elif r < 0.45:
            data[k:k] = rng.choice(TOKENS)
        elif r < 0.6:
            del data[k:k + rng.randrange(1, 16)]
        elif r < 0.8:
            j = rng.randrange(len(data) + 1)
            a, b = sorted((k, j))
            data[a:a] = data[a:b] * rng.randrange(1, 4)
        else:
            digits = b"0123456789"
            data[k:k] = bytes(rng.choice(digits) for _ in range(rng.randrange(1, 30)))
    return bytes(data)


def run_reader(seed):
    import os
    import tempfile

    import strokegraph
    from strokegraph import io

    rng = random.Random(seed)
    suffix, base = rng.choice(SEED_FILES)
    data = mutate(rng, base)
    with tempfile.TemporaryDirectory() as d:
        path = os.path.join(d, "drawing." + suffix)
        with open(path, "wb") as f:
            f.write(data)
        try:
            drawing = io.read(path)
        except io.DrawingError:
            return
        radius = drawing.suggested_radius()[0]
        try:
            strokegraph.centerlines(drawing.curves, radius, feature_size=drawing.feature_size)
        except EXPECTED:
            pass


def run(seed):
    import strokegraph

    rng = random.Random(seed)
    curves, bd, fs, widths, o = case(rng)
    calls = [
        lambda: strokegraph.topologize(curves, bd, fs, per_curve_widths=widths, compute_widths=True, **o),
        lambda: strokegraph.inflate_curves(curves, bd, fs, widths, o["merge_tolerance"]),
        lambda: strokegraph.triangulate_curves(
            curves, bd, fs, widths, o["subdivision_ratio"], o["resample"], o["boundary_simplification"], o["merge_tolerance"]
        ),
        lambda: strokegraph.topologize_batch(
            [(curves, bd, fs, o["simplification"], o["min_tip_fraction"], o["junction_merge_fraction"], None,
              o["subdivision_ratio"], o["resample"], o["boundary_simplification"], o["merge_tolerance"])] * 2
        ),
    ]
    # Without a feature size the radius sets it: with widths far above a tiny
    # radius the rings would be sampled at that radius, slow by request.
    if rng.random() < 0.5 and (math.isfinite(fs) and fs > 0 or not widths):
        # A side fixed far below the margin (6 radii) makes every tile hold the
        # whole drawing: slow by request, so sides stay at a few margins.
        widest = max([abs(bd)] + [abs(v) for w in widths or [] for v in w if math.isfinite(v)])
        tiles = rng.choice([None, False, True, 30.0 * widest + 1.0])
        calls.append(lambda: strokegraph.centerlines(
            curves, bd, feature_size=fs if math.isfinite(fs) and fs > 0 else None, per_curve_widths=widths,
            tiles=tiles, boundary_simplification=o["boundary_simplification"]))
    for call in calls:
        try:
            call()
        except EXPECTED:
            pass


def child(seed, queue, readers=False):
    try:
        (run_reader if readers else run)(seed)
        queue.put(None)
    except BaseException:  # noqa: BLE001 - report everything, PanicException included
        queue.put(traceback.format_exc())


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=120)
    parser.add_argument("--seed", type=int, default=0)
    parser.add_argument("--timeout", type=float, default=180)
    parser.add_argument("--readers", action="store_true", help="mutated drawing files through io.read")
    args = parser.parse_args()
    ctx = multiprocessing.get_context("spawn")
    deadline = time.monotonic() + args.seconds
    seed, failures = args.seed, 0
    while time.monotonic() < deadline:
        queue = ctx.Queue()
        p = ctx.Process(target=child, args=(seed, queue, args.readers))
        p.start()
        p.join(args.timeout)
        if p.is_alive():
            p.kill()
            p.join()
            print(f"seed {seed}: hang (> {args.timeout} s)")
            failures += 1
        elif p.exitcode != 0:
            print(f"seed {seed}: child died with exit code {p.exitcode}")
            failures += 1
        else:
            err = queue.get()
            if err:
                print(f"seed {seed}: {err}")
                failures += 1
        seed += 1
    print(f"{seed - args.seed} rounds, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
