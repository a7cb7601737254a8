"""Seed corpus for the native fuzz targets, made from the bench workloads.

Usage: python tests/fuzz/native/make_seeds.py OUT_DIR

Writes OUT_DIR/<target>/<name> in the byte layout of decode.h: curves of the
sketch, traces and lettering workloads (in windows of 8 lines of at most 64
points, so that one run under the sanitizers stays short), their buffer
polygons (from `inflate_curves`) for the boundary and triangulation targets,
and their centerline chains (from `topologize`) as segment soups for the
graph target; tile tasks, results and plans of a small drawing for the tiles
target.
"""

import math
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "..", "bench"))
import workloads  # noqa: E402

from strokegraph import _core, _internal  # noqa: E402

TARGETS = ("pipeline", "clean", "conditioning", "inflate", "boundary", "triangulate", "graph", "tiles")

# Scales that once made the clean pipeline loop, overflow or grow without
# bound (radius, feature size, simplification, tip, junction, subdivision,
# resample, ring simplification, merge tolerance, tile side).
CLEAN_FINDINGS = {
    "ring-simplification-1e-7": [1.0, 1.0, 0.1, 2.0, 1.5, 0.5, 0.4, 1e-7, 0.01, float("nan")],
    "ring-simplification-1e-9": [1.0, 1.0, 0.1, 2.0, 1.5, 0.5, 0.4, 1e-9, 0.01, float("nan")],
    "tiles-1e-300": [1.0, 1.0, 0.1, 2.0, 1.5, 0.5, 0.4, 0.05, 0.01, 1e-300],
    "tiles-0.1": [1.0, 1.0, 0.1, 2.0, 1.5, 0.5, 0.4, 0.05, 0.01, 0.1],
    "tiles-subnormal": [1.0, 1.0, 0.1, 2.0, 1.5, 0.5, 0.4, 0.05, 0.01, 5e-324],
    "small-radius": [0.002, 0.002, 5e-324, 2.0, 1.5, 0.5, 0.4, 5e-324, 1e300, float("inf")],
}


def encode(params, mask, lines, holes=(), widths=None):
    """lines: lists of (x, y); holes: indices of lines that are holes."""
    flat = [abs(c) for line in lines for p in line for c in p] or [1.0]
    scale = max(flat) / 32000.0 or 1.0
    out = bytearray([mask])
    out += struct.pack("<10d", *params)
    out += struct.pack("<d", scale)
    for i, line in enumerate(lines[:64]):
        line = line[:255]
        flags = (1 if widths else 0) | (2 if i in holes else 0)
        out += bytes([len(line), flags])
        for x, y in line:
            out += struct.pack("<hh", round(x / scale), round(y / scale))
        if widths:
            out += bytes(min(255, max(0, round(w / (scale * 64.0) * 16))) for w in widths[i][:255])
    return bytes(out)


def windows(lines, size=8):
    for start in range(0, len(lines), size):
        yield lines[start:start + size]


def main():
    out_dir = sys.argv[1]
    for t in TARGETS:
        os.makedirs(os.path.join(out_dir, t), exist_ok=True)
    count = 0

    def put(target, name, data):
        nonlocal count
        with open(os.path.join(out_dir, target, name), "wb") as f:
            f.write(data)
        count += 1

    # bd, fs, simplification, tip, junction, subdivision, resample, boundary simp, merge tol, max nodes
    params = [1.0, 1.0, 0.1, 2.0, 1.5, 0.5, 0.4, 0.05, 0.01, 1000.0]
    for workload in workloads.WORKLOADS:
        for seed in range(2):
            doc = workloads.generate(workload, "small", seed)
            strokes = [[tuple(p) for p in s] for s in doc["strokes"]]
            for k, lines in enumerate(windows(strokes)):
                if k >= 6:
                    break
                name = f"{workload}-{seed}-{k}"
                lines = [line[:64] for line in lines]
                widths = [[0.5 + 0.25 * math.sin(j) for j in range(len(line))] for line in lines]
                for mask in (0x00, 0xFF, 0x1C):
                    put("pipeline", f"{name}-{mask:02x}", encode(params, mask, lines, widths=widths if mask & 2 else None))
                    put("clean", f"{name}-{mask:02x}", encode(params[:9] + [12.0], mask | 2, lines,
                                                               widths=widths if mask & 2 else None))
                put("conditioning", name, encode([0.1, 0.15, 0.01, 1.0] + params[4:], 0, lines, widths=widths))
                put("inflate", name, encode(params, 0, lines))
                put("inflate", name + "-w", encode(params, 0, lines, widths=widths))
                rings, holes = [], set()
                for outer, hole_list in _internal.inflate_curves(lines, 1.0, 1.0):
                    rings.append(outer)
                    for h in hole_list:
                        holes.add(len(rings))
                        rings.append(h)
                if rings:
                    bparams = [1.0, 1.0, 0.5, 0.4, 0.05, 1.5] + params[6:]
                    put("boundary", name, encode(bparams, 0, rings, holes))
                    put("boundary", name + "-r", encode(bparams, 0x08, rings, holes))
                    put("triangulate", name, encode(params, 0, rings, holes))
                chains = _internal.topologize(lines, 1.0, 1.0)[0]
                if chains:
                    put("graph", name, encode([0.05, 2.0, 1.5, 0.5, -0.53, 0.1] + params[6:], 0x03, chains))
                    segs = [[a, b] for c in _internal.topologize(lines, 1.0, 1.0, simplification=0)[0]
                            for a, b in zip(c, c[1:])]
                    put("graph", name + "-soup", encode([0.05, 2.0, 1.5, 0.5, -0.53, 0.1] + params[6:], 0x03, segs))
    two = [[(0.0, 0.0), (10.0, 0.0)], [(0.0, 5.0), (10.0, 5.0)]]
    for name, values in CLEAN_FINDINGS.items():
        put("clean", name, encode(values, 0xFF, two))
    # Tile tasks, results and plans of a small drawing in small tiles.
    strokes = [[(i * 0.5, 3 * math.sin(0.3 * i + k)) for i in range(24)] for k in range(3)]
    for widths in (False, True):
        shared, tasks = _core.tiles_prepare(strokes, 1.0, tiles=4.0, compute_widths=widths)
        put("tiles", f"plan-{widths:d}", shared)
        for k, task in enumerate(tasks[:6]):
            if len(task) <= 4096:
                put("tiles", f"task-{widths:d}-{k}", task)
                put("tiles", f"result-{widths:d}-{k}", _core.tile_run(task))
    # Inputs that once took too long or failed, kept as seeds of their target.
    regressions = os.path.join(os.path.dirname(os.path.abspath(__file__)), "regressions")
    for target in sorted(os.listdir(regressions)):
        for name in sorted(os.listdir(os.path.join(regressions, target))):
            with open(os.path.join(regressions, target, name), "rb") as f:
                put(target, "regression-" + name, f.read())
    print(f"{count} seeds in {out_dir}")


if __name__ == "__main__":
    main()
