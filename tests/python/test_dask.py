import math
import random

import numpy as np
import pytest

pytest.importorskip("distributed")

import dask.bag as db  # noqa: E402
from distributed import Client, LocalCluster  # noqa: E402

import strokegraph.dask as sgd  # noqa: E402
from strokegraph._trace import trace  # noqa: E402


def drawings(count, seed=3):
    rng = random.Random(seed)
    out = []
    for _ in range(count):
        strokes = []
        for _ in range(rng.randint(1, 5)):
            x, y, heading = rng.uniform(0, 30), rng.uniform(0, 30), rng.uniform(0, 2 * math.pi)
            stroke = []
            for _ in range(rng.randint(5, 25)):
                heading += rng.gauss(0, 0.2)
                x, y = x + math.cos(heading), y + math.sin(heading)
                stroke.append((x, y))
            strokes.append(stroke)
        out.append(strokes)
    return out


def same(a, b):
    return (len(a.chains) == len(b.chains) and all(np.array_equal(p, q) for p, q in zip(a.chains, b.chains))
            and np.array_equal(a.nodes, b.nodes) and np.array_equal(a.edges, b.edges)
            and all(np.array_equal(p, q) for p, q in zip(a.sources, b.sources)))


def test_cluster_matches_local_run():
    work = drawings(40)
    radii = [0.8 + 0.1 * (i % 3) for i in range(len(work))]
    with LocalCluster(n_workers=2, processes=True, threads_per_worker=1, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        listed = sgd.centerlines(work, radii, client=client, chunk_size=7)
        bagged = sgd.centerlines(db.from_sequence(work, npartitions=4), 1.0).compute()
    assert len(listed) == len(bagged) == len(work)
    assert all(same(r, trace(d, rad)) for r, d, rad in zip(listed, work, radii))
    assert all(same(r, trace(d, 1.0)) for r, d in zip(bagged, work))
