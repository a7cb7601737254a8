"""The `_core` extension: the raw mode against `_internal.topologize`, the
float64 buffer fast path, argument errors, the batch and provenance."""

from __future__ import annotations

import os
import random
import warnings
import sys

import numpy as np
import pytest

from strokegraph import _core, _internal

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "bench"))
import workloads  # noqa: E402


def decode(result):
    points, offsets, nodes, edges, widths, source_index, source_offsets = result
    points = np.frombuffer(points, dtype=np.float64).reshape(-1, 2)
    offsets = np.frombuffer(offsets, dtype=np.int64)
    index = np.frombuffer(source_index, dtype=np.int64)
    starts = np.frombuffer(source_offsets, dtype=np.int64)
    return {
        "chains": [points[offsets[i]:offsets[i + 1]].tolist() for i in range(len(offsets) - 1)],
        "nodes": np.frombuffer(nodes, dtype=np.float64).reshape(-1, 2).tolist(),
        "edges": np.frombuffer(edges, dtype=np.int64).reshape(-1, 2).tolist(),
        "widths": None if widths is None else np.frombuffer(widths, dtype=np.float64),
        "sources": [index[starts[i]:starts[i + 1]].tolist() for i in range(len(starts) - 1)],
    }


def random_drawing(seed):
    rng = random.Random(seed)
    return [[(rng.uniform(0, 30), rng.uniform(0, 30)) for _ in range(rng.randint(2, 6))]
            for _ in range(rng.randint(1, 8))]


DRAWINGS = [random_drawing(s) for s in range(12)] + [
    [[tuple(p) for p in s] for s in workloads.generate(w, "small")["strokes"]]
    for w in ("sketch", "lettering", "traces")]
OPTIONS = [{}, {"min_tip_fraction": 0.5, "junction_merge_fraction": 0.0, "simplification": 0.0},
           {"subdivision_ratio": 0.3, "resample": 0.7, "merge_tolerance": 0.0}]


@pytest.mark.parametrize("options", OPTIONS)
def test_unclean_result_is_topologize_bit_for_bit(options):
    for i, curves in enumerate(DRAWINGS):
        radius, fs = (1.0, 1.0) if i >= 12 else (1.0 + 0.1 * i, 0.5 + 0.2 * i)
        chains, nodes, ids, widths = _internal.topologize(curves, radius, fs, compute_widths=True, **options)
        got = decode(_core.centerlines(curves, radius, fs, compute_widths=True, clean=False, **options))
        assert got["chains"] == [[list(p) for p in c] for c in chains]
        assert got["nodes"] == [list(p) for p in nodes]
        assert got["edges"] == [list(e) for e in ids]
        assert got["widths"].tolist() == [w for ws in widths for w in ws]
        assert len(got["sources"]) == len(chains)


def test_default_feature_size_is_the_radius():
    curves = DRAWINGS[3]
    assert _core.centerlines(curves, 1.5) == _core.centerlines(curves, 1.5, 1.5)


def test_float64_buffers_give_the_values_of_lists():
    curves = DRAWINGS[12][:40]
    widths = [[1.0 + 0.01 * k for k in range(len(c))] for c in curves]
    expected = _core.centerlines(curves, 1.0, per_curve_widths=widths)
    big = [np.array([[x, y, 0.0] for x, y in c]) for c in curves]
    for arrays in (
        [np.array(c) for c in curves],                                # C order
        [np.asfortranarray(np.array(c)) for c in curves],             # Fortran order
        [b[:, :2] for b in big],                                      # strided rows
        [np.array(c[::-1])[::-1] for c in curves],                    # negative strides
    ):
        mixed = [a if k % 2 else list(map(tuple, a.tolist())) for k, a in enumerate(arrays)]
        for given in (arrays, mixed, tuple(arrays)):
            assert _core.centerlines(given, 1.0, per_curve_widths=[np.array(w) for w in widths]) == expected


@pytest.mark.parametrize("bad, message", [
    ([[(0.0, 0.0), (1.0, 0.0)], np.zeros((3, 2), dtype=np.int64)], "curve 1: expected a (k, 2) array of float64"),
    ([np.zeros((3, 3))], "curve 0: expected a (k, 2) array of float64, got a buffer of format 'd' and shape (3, 3)"),
    ([[(0.0, 0.0)], [(0.0, 0.0)], [(0.0, 0.0), 5]], "curve 2: "),
    ([b"ab"], "curve 0: expected a (k, 2) array"),
])
def test_bad_curves_are_named_by_index(bad, message):
    with pytest.raises(TypeError) as info:
        _core.centerlines(bad, 1.0)
    assert str(info.value).startswith("argument 'curves': " + message)


@pytest.mark.parametrize("radius, fs, message", [
    (0.0, None, "radius must be a positive finite number, got 0"),
    (float("nan"), 1.0, "radius must be a positive finite number, got NaN"),
    (1.0, -1.0, "feature_size must be a positive finite number, got -1"),
])
def test_scale_errors(radius, fs, message):
    with pytest.raises(ValueError, match=message):
        _core.centerlines([[(0.0, 0.0), (5.0, 0.0)]], radius, fs)


def test_keyword_only_options_and_width_errors():
    with pytest.raises(TypeError, match="takes from 2 to 3 positional arguments but 4 were given"):
        _core.centerlines([], 1.0, 1.0, 0.1)
    with pytest.raises(ValueError, match=r"per_curve_widths\[0\] has 1 entries but curve 0 has 2 points"):
        _core.centerlines([[(0.0, 0.0), (5.0, 0.0)]], 1.0, per_curve_widths=[np.array([1.0])])


def test_batch_runs_jobs_in_order_like_single_calls():
    jobs = [{"curves": DRAWINGS[k], "radius": 1.0 + 0.25 * k, "clean": k % 2 == 0} for k in range(8)]
    jobs.append((DRAWINGS[9], 2.0))
    jobs.append((DRAWINGS[10], 1.0, 0.5))
    expected = [_core.centerlines(**j) if isinstance(j, dict) else _core.centerlines(*j) for j in jobs]
    assert _core.centerlines_batch(jobs) == expected
    with pytest.raises(ValueError, match="centerlines_batch job 1 failed: radius must be"):
        _core.centerlines_batch([jobs[0], {"curves": [], "radius": -1.0}])
    with pytest.raises(TypeError, match="job 1: centerlines"):
        _core.centerlines_batch([jobs[0], {"curves": []}])


def test_sources_of_strokes_that_meet_at_a_junction():
    bar, stem = [(-15.0, 0.0), (15.0, 0.0)], [(0.0, 0.0), (0.0, -15.0)]
    again = [(-15.0, 0.3), (15.0, 0.3)]
    for clean in (True, False):
        got = decode(_core.centerlines([bar, stem, again, [(40.0, 0.0)]], 1.0, clean=clean))
        vertical = [abs(c[0][0] - c[-1][0]) < 1.0 for c in got["chains"]]
        bar_sources = {tuple(s) for s, v in zip(got["sources"], vertical) if not v}
        stem_sources = {tuple(s) for s, v in zip(got["sources"], vertical) if v}
        assert bar_sources == {(0, 2)} and stem_sources == {(1,)}


@pytest.mark.parametrize("seed", range(40))
def test_clean_graphs_of_random_drawings_are_consistent(seed):
    rng = random.Random(seed)
    curves = random_drawing(seed + 100)
    radius = rng.choice((0.3, 1.0, 2.5))
    fs = radius / rng.choice((0.25, 1.0, 4.0))
    result = _core.centerlines(curves, radius, fs, compute_widths=True)
    assert result == _core.centerlines(curves, radius, fs, compute_widths=True)
    got = decode(result)
    nodes = got["nodes"]
    seen = set()
    for chain, (a, b), sources in zip(got["chains"], got["edges"], got["sources"]):
        assert len(chain) >= 2
        assert chain[0] == nodes[a] and chain[-1] == nodes[b]
        seen.update((a, b))
        assert sources == sorted(set(sources)) and all(0 <= s < len(curves) for s in sources)
    assert seen == set(range(len(nodes)))
    assert len(got["widths"]) == sum(len(c) for c in got["chains"])


def test_tile_steps_refuse_malformed_bytes():
    curves = [[(i * 0.5, 5 * np.sin(0.3 * i + k)) for i in range(60)] for k in range(4)]
    shared, tasks = _core.tiles_prepare(curves, 1.0, tiles=8.0)
    assert shared is not None and len(tasks) > 1
    results = [_core.tile_run(t) for t in tasks]
    for bad in (b"", tasks[0][:-8], tasks[0] + b"\0" * 8, results[0], shared,
                tasks[0][:8] + b"\x07" + tasks[0][9:]):
        with pytest.raises(ValueError, match="malformed tile task"):
            _core.tile_run(bad)
    with pytest.raises(TypeError, match="bytes-like"):
        _core.tile_run("text")
    assemble = _core.tiles_assemble
    with pytest.raises(ValueError, match="result 1: malformed tile result"):
        assemble(shared, [results[0], tasks[1]] + results[2:], curves, 1.0, tiles=8.0)
    with pytest.raises(ValueError, match="malformed tile plan"):
        assemble(shared[:-8], results, curves, 1.0, tiles=8.0)
    with pytest.raises(ValueError, match="expected tile"):
        assemble(shared, results[::-1], curves, 1.0, tiles=8.0)
    with pytest.raises(ValueError, match="other curves or options"):
        assemble(shared, results, curves, 1.0, tiles=9.0)
    assert assemble(shared, results, curves, 1.0, tiles=8.0) == _core.centerlines(curves, 1.0, tiles=8.0)


# The union of these bands is a polygon the triangulator refuses; the exact
# layer drops it silently, the product layer says so.
UNTRIANGULATED = [[(5, 7), (7, 5)], [(4, 1), (5, 4)], [(2, 1), (2, 0)], [(4, 3), (4, 4)]]


def test_a_polygon_that_fails_to_triangulate_is_reported_not_hidden():
    exact = _internal.topologize(UNTRIANGULATED, 1.0, 1.0)
    with pytest.warns(RuntimeWarning, match=r"^1 band polygon could not be triangulated and is missing"):
        raw = decode(_core.centerlines(UNTRIANGULATED, 1.0, clean=False))
    assert raw["chains"] == [[list(p) for p in c] for c in exact[0]]
    with pytest.warns(RuntimeWarning, match=r"^job 1: 1 band polygon"):
        _core.centerlines_batch([((UNTRIANGULATED[:1]), 1.0), {"curves": UNTRIANGULATED, "radius": 1.0, "clean": False}])
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        clean = decode(_core.centerlines(UNTRIANGULATED, 1.0))
    assert len(clean["chains"]) > len(raw["chains"])


@pytest.mark.parametrize("clean", [True, False])
def test_small_calls_run_here_and_give_what_watched_calls_give(clean):
    # Without a progress callback a small drawing is traced on the calling
    # thread; with one, or in a batch, on another.
    calls = [(curves, 1.0 + 0.1 * (i % 5)) for i, curves in enumerate(DRAWINGS)]
    here = [_core.centerlines(c, r, clean=clean, compute_widths=True) for c, r in calls]
    heard = []
    watched = [_core.centerlines(c, r, clean=clean, compute_widths=True, progress=lambda *a: heard.append(a))
               for c, r in calls]
    batch = _core.centerlines_batch([{"curves": c, "radius": r, "clean": clean, "compute_widths": True}
                                     for c, r in calls])
    assert here == watched == batch
