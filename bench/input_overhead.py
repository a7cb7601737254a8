"""What the high-level layer adds to the pipeline for numpy input.

Times, on one workload given as numpy arrays, the input normalisation of
`centerlines` (checks and conversion to C-contiguous float64), the native
pipeline alone, and the wrapping of its result into a `Centerlines` object,
and prints the layer's share of the pipeline time.

Usage: python bench/input_overhead.py [sketch|traces|lettering] [small|medium|large] [--dtype float32]
"""

from __future__ import annotations

import argparse
import pathlib
import sys
import time

import numpy as np

sys.path.insert(0, str(pathlib.Path(__file__).parent))
import workloads  # noqa: E402

from strokegraph import _native, api  # noqa: E402
from strokegraph._inputs import normalise  # noqa: E402


def best_of(runs: int, f):
    times, value = [], None
    for _ in range(runs):
        start = time.perf_counter()
        value = f()
        times.append(time.perf_counter() - start)
    return min(times), value


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("workload", nargs="?", default="sketch")
    parser.add_argument("size", nargs="?", default="large")
    parser.add_argument("--dtype", default="float64")
    parser.add_argument("--fortran", action="store_true", help="column-major arrays (one more copy)")
    args = parser.parse_args()

    doc = workloads.generate(args.workload, args.size)
    order = "F" if args.fortran else "C"
    arrays = [np.array(s, dtype=args.dtype, order=order) for s in doc["strokes"]]
    radius = workloads.BUFFER_DISTANCE
    n_points = sum(len(a) for a in arrays)

    t_in, (curves, owners) = best_of(5, lambda: normalise(arrays))
    t_native, raw = best_of(1, lambda: _native.run_native(curves, radius, None, {}, None))

    def wrap():
        return api.Centerlines(
            np.frombuffer(raw[0], np.float64), np.frombuffer(raw[1], np.int64),
            np.frombuffer(raw[2], np.float64), np.frombuffer(raw[3], np.int64), None,
            *api.map_sources(np.frombuffer(raw[5], np.int64), np.frombuffer(raw[6], np.int64), owners),
            radius=radius, curves=curves, curve_items=owners,
        )

    t_wrap, result = best_of(5, wrap)
    print(f"{args.workload} {args.size}: {len(arrays)} strokes, {n_points} points ({args.dtype}, {order} order)")
    print(f"  input normalisation  {t_in * 1000:9.1f} ms")
    print(f"  native pipeline      {t_native * 1000:9.1f} ms   -> {result!r}")
    print(f"  result wrapping      {t_wrap * 1000:9.1f} ms")
    print(f"  layer overhead       {(t_in + t_wrap) / t_native * 100:9.2f} % of the pipeline")
    return 0


if __name__ == "__main__":
    sys.exit(main())
