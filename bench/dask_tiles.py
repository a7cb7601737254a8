"""One large drawing tile by tile on a local Dask cluster against the local call.

Usage: python bench/dask_tiles.py WORKLOAD.json [--workers N] [--tiles none|true|SIDE] [--repeat R]

WORKLOAD.json is a file of bench/workloads.py (radius and feature size 1).
Prints the wall time of `strokegraph.centerlines` (the worker pool) and of
`strokegraph.dask.centerlines_tiled` on a LocalCluster of N single-threaded
worker processes (default 2), the tiled route's phases (prepare on the
client, tiles on the cluster, assembly on the client), the tiles' own compute
time (every task run once more here, one after another) and from that the
cluster's overhead per tile: (tile phase x workers - compute) / tiles. Each
figure is the least of R runs (default 1), which on a shared machine is the
one least disturbed. Checks that both routes give the same result, bit for bit.
"""

from __future__ import annotations

import json
import sys
import time
from typing import Any

import numpy as np
from distributed import Client, LocalCluster

import strokegraph
import strokegraph.dask as sgd
from strokegraph import _core
from strokegraph.api import prepare_call


def same(a: Any, b: Any) -> bool:
    return bool(
        len(a.chains) == len(b.chains)
        and all(np.array_equal(p, q) for p, q in zip(a.chains, b.chains))
        and np.array_equal(a.nodes, b.nodes)
        and np.array_equal(a.edges, b.edges)
        and all(np.array_equal(p, q) for p, q in zip(a.sources, b.sources))
    )


def option(args: list[str], name: str, default: str) -> str:
    if name not in args:
        return default
    at = args.index(name)
    value = args[at + 1]
    del args[at : at + 2]
    return value


def main() -> int:
    args = sys.argv[1:]
    workers = int(option(args, "--workers", "2"))
    repeat = int(option(args, "--repeat", "1"))
    text = option(args, "--tiles", "none").lower()
    tiles: bool | float | None = None if text == "none" else True if text == "true" else float(text)
    with open(args[0]) as f:
        curves = [np.asarray(s, dtype=np.float64) for s in json.load(f)["strokes"]]
    points = sum(len(c) for c in curves)
    print(f"{args[0]}: {len(curves)} strokes, {points} points; tiles={tiles}, {workers} workers, "
          f"least of {repeat} runs", flush=True)

    best: dict[str, float] = {}

    def keep(name: str, seconds: float) -> None:
        best[name] = min(best.get(name, seconds), seconds)

    with LocalCluster(n_workers=workers, processes=True, threads_per_worker=1,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        for _ in range(repeat):
            t0 = time.perf_counter()
            local = strokegraph.centerlines(curves, 1.0, feature_size=1.0, tiles=tiles)
            keep("local", time.perf_counter() - t0)

            t0 = time.perf_counter()
            remote = sgd.centerlines_tiled(curves, 1.0, feature_size=1.0, tiles=tiles, client=client)
            keep("dask", time.perf_counter() - t0)
            if not same(local, remote):
                print("the Dask route differs from the local call")
                return 1

            # The same steps again, timed one by one.
            t0 = time.perf_counter()
            call = prepare_call(curves, 1.0, feature_size=1.0, tiles=tiles)
            shared, tasks = _core.tiles_prepare(call.curves, call.radius, call.feature_size, **call.options)
            keep("prepare", time.perf_counter() - t0)
            assert shared is not None, "this drawing is not tiled"
            count, task_bytes = len(tasks), sum(len(t) for t in tasks)
            t0 = time.perf_counter()
            results = sgd._run_on_cluster(client, list(tasks), 1)
            keep("tiles", time.perf_counter() - t0)
            t0 = time.perf_counter()
            _core.tiles_assemble(shared, results, call.curves, call.radius, call.feature_size, **call.options)
            keep("assemble", time.perf_counter() - t0)

            t0 = time.perf_counter()
            for task in tasks:
                _core.tile_run(task)
            keep("compute", time.perf_counter() - t0)
            del tasks, results

    print(f"local centerlines: {best['local']:.2f} s, {local!r}")
    print(f"dask centerlines_tiled: {best['dask']:.2f} s, identical")
    print(f"  prepare {best['prepare']:.2f} s ({count} tasks, {task_bytes / 2**20:.1f} MiB), "
          f"tiles on the cluster {best['tiles']:.2f} s, assemble {best['assemble']:.2f} s")
    overhead = (best["tiles"] * workers - best["compute"]) / count
    print(f"  tiles' compute, one after another here: {best['compute']:.2f} s "
          f"({best['compute'] / count * 1e3:.1f} ms per tile); "
          f"cluster overhead {overhead * 1e3:.1f} ms per tile")
    print(f"ratio dask / local: {best['dask'] / best['local']:.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
