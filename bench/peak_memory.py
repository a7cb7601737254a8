"""Peak resident memory and wall time of one `strokegraph.centerlines` call on a
workload file of bench/workloads.py (the .bin beside the JSON, read straight
into numpy arrays), as a user's process would see them.

Usage: python bench/peak_memory.py WORKLOAD.bin [TILES]
TILES: none (default), false, true or a tile side.
Prints the peak resident set before the call (the loaded strokes) and after it.
"""

from __future__ import annotations

import resource
import struct
import sys
import time

import numpy as np

import strokegraph


def read_workload(path: str) -> tuple[list[np.ndarray], float, float]:
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"SGWL":
        raise ValueError(f"{path} is not a workload file")
    version, radius, feature_size, count = struct.unpack_from("<IddQ", data, 4)
    at = 4 + struct.calcsize("<IddQ")
    curves = []
    for _ in range(count):
        (n,) = struct.unpack_from("<Q", data, at)
        at += 8
        curves.append(np.frombuffer(data, dtype="<f8", count=2 * n, offset=at).reshape(n, 2).copy())
        at += 16 * n
    return curves, radius, feature_size


def main() -> int:
    path = sys.argv[1]
    text = sys.argv[2].lower() if len(sys.argv) > 2 else "none"
    named: dict[str, bool | None] = {"none": None, "false": False, "true": True}
    tiles = named[text] if text in named else float(text)
    curves, radius, feature_size = read_workload(path)
    points = sum(len(c) for c in curves)
    loaded = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0
    t0 = time.perf_counter()
    result = strokegraph.centerlines(curves, radius, feature_size=feature_size, tiles=tiles)
    wall = time.perf_counter() - t0
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0
    print(f"{path}: {points} points, tiles={text}: {wall:.1f} s, {len(result)} chains, "
          f"peak resident {peak:.0f} MiB (strokes loaded: {loaded:.0f} MiB)")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
