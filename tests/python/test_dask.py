import math
import random

import numpy as np
import pytest

pytest.importorskip("distributed")

import dask.bag as db  # noqa: E402
from distributed import Client, LocalCluster  # noqa: E402

import strokegraph  # noqa: E402
import strokegraph.dask as sgd  # noqa: E402
from strokegraph._trace import trace  # noqa: E402


@pytest.fixture(scope="module")
def client():
    with LocalCluster(n_workers=2, processes=True, threads_per_worker=1, dashboard_address=None) as cluster, \
            Client(cluster) as c:
        yield c


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
            and all(np.array_equal(p, q) for p, q in zip(a.sources, b.sources))
            and (a.widths is None) == (b.widths is None)
            and (a.widths is None or all(np.array_equal(p, q) for p, q in zip(a.widths, b.widths))))


def test_cluster_matches_local_run(client):
    work = drawings(40)
    radii = [0.8 + 0.1 * (i % 3) for i in range(len(work))]
    listed = sgd.centerlines(work, radii, client=client, chunk_size=7)
    bagged = sgd.centerlines(db.from_sequence(work, npartitions=4), 1.0).compute()
    assert len(listed) == len(bagged) == len(work)
    assert all(same(r, trace(d, rad)) for r, d, rad in zip(listed, work, radii))
    assert all(same(r, trace(d, 1.0)) for r, d in zip(bagged, work))


@pytest.mark.parametrize("options", [
    dict(tiles=12.0, compute_widths=True),
    dict(tiles=10.0, tiles_per_task=4, feature_size=0.7),
    dict(tiles=False),
])
def test_one_drawing_tile_by_tile_matches_local_run(client, options, monkeypatch):
    monkeypatch.setattr(sgd, "SCATTER_GROUPS", 3)  # tasks sent in several rounds
    # 371 points over about 56 x 43: 20 tiles of side 12, 30 of side 10.
    work = [stroke for drawing in drawings(8, seed=11) for stroke in drawing]
    local_options = {k: v for k, v in options.items() if k != "tiles_per_task"}
    expected = strokegraph.centerlines(work, 1.0, **local_options)
    assert len(expected.chains) > 10
    assert same(sgd.centerlines_tiled(work, 1.0, client=client, **options), expected)


def test_tiled_progress_reports_the_tasks_and_cancels(client):
    work = [stroke for drawing in drawings(8, seed=11) for stroke in drawing]
    heard = []
    result = sgd.centerlines_tiled(work, 1.0, client=client, tiles=12.0,
                                   progress=lambda s, f: heard.append((s, f)))
    assert same(result, strokegraph.centerlines(work, 1.0, tiles=12.0))
    # (The native stages report at most ten times a second: this call is too short.)
    assert heard[0] == ("start", 0.0) and heard[-1] == ("done", 1.0)
    fractions = [f for _, f in heard]
    assert fractions == sorted(fractions) and ("skeleton", 0.8) in heard

    def stop(stage, fraction):
        if stage == "skeleton":
            raise KeyboardInterrupt
    with pytest.raises(KeyboardInterrupt):
        sgd.centerlines_tiled(work, 1.0, client=client, tiles=12.0, progress=stop)
