"""Random-input soak of the four entry points: nothing may crash or hang.

Usage: python tests/fuzz/fuzz_pipeline.py [--seconds 120] [--seed N]

Each round draws curves (random walks, repeated points, collinear runs,
near-coincident strokes, huge, tiny and non-finite coordinates) and parameters
(zero, negative, NaN, infinite and ordinary values), runs every entry point in
a child process, and reports any round whose child died from a signal or
raised anything but the documented exceptions. Long runs belong here, not in
the default test suite.
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


def child(seed, queue):
    try:
        run(seed)
        queue.put(None)
    except BaseException:  # noqa: BLE001 - report everything, PanicException included
        queue.put(traceback.format_exc())


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=120)
    parser.add_argument("--seed", type=int, default=0)
    parser.add_argument("--timeout", type=float, default=180)
    args = parser.parse_args()
    ctx = multiprocessing.get_context("spawn")
    deadline = time.monotonic() + args.seconds
    seed, failures = args.seed, 0
    while time.monotonic() < deadline:
        queue = ctx.Queue()
        p = ctx.Process(target=child, args=(seed, queue))
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
