"""The high-level layer: inputs, the Centerlines object, its exports."""

import json
import os
import pathlib
import subprocess
import sys
import xml.etree.ElementTree as ET

import numpy as np
import pytest

import strokegraph
from strokegraph import Centerlines, centerlines

shapely = pytest.importorskip("shapely")

# A T and a loose loop beside it: junction, ends and a closed chain.
DRAWING = [
    [(0.0, 0.0), (6.5, 0.25), (13.0, 0.0)],
    [(6.5, 0.25), (6.75, -5.0), (6.5, -10.0)],
    [(20.0, 0.0), (26.0, 0.0), (26.0, -6.0), (20.0, -6.0), (20.0, 0.0)],
]


def flat(result):
    """Everything the pipeline returned, as one tuple of arrays."""
    widths = None if result.width_values is None else result.width_values.tobytes()
    return (result.points.tobytes(), result.offsets.tobytes(), result.nodes.tobytes(), result.edges.tobytes(), widths)


def test_clean_false_is_exactly_topologize():
    chains, nodes, ids, widths = strokegraph.topologize(DRAWING, 1.0, 1.5, compute_widths=True)
    result = centerlines(DRAWING, 1.0, feature_size=1.5, clean=False, compute_widths=True)
    assert [c.tolist() for c in result.chains] == [[list(p) for p in c] for c in chains]
    assert result.nodes.tolist() == [list(p) for p in nodes]
    assert result.edges.tolist() == [list(e) for e in ids]
    assert [w.tolist() for w in result.widths] == widths
    assert result.radius == 1.0 and result.feature_size == 1.5


@pytest.mark.parametrize(
    "convert",
    [
        lambda c: np.array(c, np.float64),
        lambda c: np.array(c, np.float32),  # every coordinate is exact in float32
        lambda c: np.asfortranarray(np.array(c, np.float64)),
        lambda c: np.array(c, np.float64)[::-1][::-1],
        lambda c: np.repeat(np.array(c, np.float64), 2, axis=0)[::2],
        lambda c: np.array(c, np.float64).T.copy().T,
        lambda c: [list(p) for p in c],
    ],
    ids=["float64", "float32", "fortran", "reversed-view", "strided", "transposed", "lists"],
)
def test_numpy_and_list_points_give_the_same_bits(convert):
    expected = flat(centerlines(DRAWING, 1.0, compute_widths=True))
    assert flat(centerlines([convert(c) for c in DRAWING], 1.0, compute_widths=True)) == expected


@pytest.mark.parametrize("dtype", [np.int16, np.int64, np.uint32, np.float16, object])
def test_integer_and_other_dtypes_convert_like_python_numbers(dtype):
    ints = [[(0, 10), (12, 11), (24, 10)], [(12, 11), (12, 1)]]
    expected = flat(centerlines(ints, 1))
    assert flat(centerlines([np.array(c, dtype) for c in ints], 1)) == expected
    assert flat(centerlines(np.array(ints[:1], dtype), 1)) == flat(centerlines(ints[:1], 1))


def test_a_shapely_polygon_gives_its_holes_too():
    from strokegraph._inputs import normalise

    shell = [(0, 0), (30, 0), (30, 30), (0, 30), (0, 0)]
    hole = [(10, 10), (20, 10), (20, 20), (10, 20), (10, 10)]
    curves, owners = normalise([shapely.Polygon(shell, [hole])])
    assert [c.tolist() for c in curves] == [[list(p) for p in shell], [list(p) for p in hole]]
    assert owners.tolist() == [0, 0]
    # Traced, the hole is a ring of the graph of its own.
    g = centerlines(shapely.Polygon(shell, [hole]), 1.0)
    assert len(g.chains) == 2 and len(g.junctions) == 0


def test_shapely_and_geojson_inputs_and_sources_per_item():
    bar, stem, loop = (np.array(c) for c in DRAWING)
    far = [(60.0, 0.0), (70.0, 0.0)]
    box = shapely.box(40, -10, 50, 0).buffer(-3, join_style="mitre")  # a polygon with no hole
    items = [shapely.MultiLineString([bar, stem]), shapely.LinearRing(loop[:-1]), box, shapely.LineString(far)]
    as_lists = [bar, stem, loop, shapely.get_coordinates(box.exterior), far]
    result = centerlines(items, 1.0)
    assert flat(result) == flat(centerlines(as_lists, 1.0))
    assert result.curve_items.tolist() == [0, 0, 1, 2, 3]
    by_place = {}
    for chain, sources in zip(result.chains, result.sources):
        by_place.setdefault(int(chain[:, 0].mean() // 20), set()).add(tuple(sources.tolist()))
    assert by_place == {0: {(0,)}, 1: {(1,)}, 2: {(2,)}, 3: {(3,)}}

    collection = shapely.GeometryCollection(items)
    geojson = json.loads(shapely.to_geojson(collection))
    features = {"type": "FeatureCollection", "features": [{"type": "Feature", "geometry": g, "properties": {}}
                                                          for g in geojson["geometries"]]}
    for drawing in (collection, geojson, features, geojson["geometries"]):
        again = centerlines(drawing, 1.0)
        assert flat(again) == flat(result)
        assert [s.tolist() for s in again.sources] == [s.tolist() for s in result.sources]


@pytest.mark.parametrize(
    "curves, error, message",
    [
        ([[(0, 0), (1, 1)], [(0, 0), (1, 1, 2)]], ValueError, "curve 1: points must all be"),
        ([np.zeros((4, 3))], ValueError, r"curve 0: expected points of shape \(n, 2\), got an array of shape \(4, 3\)"),
        (np.zeros((4, 2)), ValueError, r"curve 0: .* shape \(2,\); put a single curve in a list"),
        ([[(0, 0)], [(0, "a")]], TypeError, "curve 1: coordinates must be real numbers, got dtype <U"),
        ([[(0, 0), (1, None)]], TypeError, "curve 0: coordinates must be real numbers, got NoneType"),
        ([np.zeros((3, 2), complex)], TypeError, "curve 0: coordinates must be real numbers, got dtype complex"),
        ([[(0, 0)], 5], TypeError, "curve 1: expected a sequence of .x, y. points, got int"),
        ("abc", TypeError, "curves must be a sequence of curves"),
        ({"type": "Topology"}, TypeError, "curves: a dict must be a GeoJSON geometry"),
        ([{"type": "Point", "coordinates": [0, 0]}], ValueError, "curve 0: a Point is not a curve"),
        ([[(0, 0)], shapely.Point(1, 1)], ValueError, "curve 1: a Point is not a curve"),
    ],
)
def test_bad_input_names_the_curve(curves, error, message):
    with pytest.raises(error, match=message):
        centerlines(curves, 1.0)


def test_bad_radius_and_nan_coordinates():
    with pytest.raises(ValueError, match="radius must be a positive finite number, got -0"):
        centerlines([], -0.0)
    with pytest.raises(TypeError, match="radius must be a number, got str"):
        centerlines([], "1")
    nan = [[(0.0, 0.0), (float("nan"), 1.0), (10.0, 0.0)]]
    assert flat(centerlines([np.array(nan[0])], 1.0)) == flat(centerlines(nan, 1.0))


def test_graph_summary_of_a_hand_built_result():
    nodes = [(0, 0), (3, 0), (3, 4), (6, 0)]
    chains = [[(0, 0), (3, 0)], [(3, 0), (3, 4)], [(3, 0), (6, 0)], [(3, 0), (4, 1), (3, 0)]]
    offsets = np.cumsum([0] + [len(c) for c in chains])
    result = Centerlines(np.concatenate(chains), offsets, nodes, [(0, 1), (1, 2), (1, 3), (1, 1)], radius=1)
    assert repr(result) == "Centerlines(4 chains, 4 nodes: 1 junction, 3 ends, 1 loop)"
    assert len(result) == 4
    assert result.degree.tolist() == [1, 5, 1, 1]
    assert result.junctions.tolist() == [1] and result.ends.tolist() == [0, 2, 3] and result.loops.tolist() == [3]
    np.testing.assert_allclose(result.lengths, [3, 4, 3, 2 * np.sqrt(2)])
    assert repr(centerlines([], 1.0)) == "Centerlines(0 chains, 0 nodes: 0 junctions, 0 ends, 0 loops)"
    with pytest.raises(ValueError):
        result.chains[0][0, 0] = 1.0  # read-only


def test_derived_arrays_are_read_only_kept_and_replaceable():
    result = centerlines(DRAWING, 1.0, compute_widths=True)
    for name, dtype in [("degree", np.int64), ("junctions", np.int64), ("ends", np.int64), ("loops", np.int64),
                        ("lengths", np.float64), ("mean_widths", np.float64)]:
        value = getattr(result, name)
        assert value.dtype == dtype and not value.flags.writeable, name
        assert getattr(result, name) is value, name
    for name, flat_values in [("chains", result.points), ("widths", result.width_values),
                              ("sources", result.source_index)]:
        parts = getattr(result, name)
        assert isinstance(parts, list) and all(not p.flags.writeable for p in parts), name
        assert np.concatenate(parts).tolist() == flat_values.tolist(), name
    np.testing.assert_allclose(result.mean_widths, [w.mean() for w in result.widths])
    assert centerlines(DRAWING, 1.0).widths is None and centerlines(DRAWING, 1.0).mean_widths is None
    result.lengths = np.zeros(len(result))  # as a projected result takes the lengths measured where traced
    assert result.lengths.tolist() == [0.0] * len(result)


def test_round_trips_through_networkx_shapely_and_geojson():
    nx = pytest.importorskip("networkx")
    result = centerlines(DRAWING, 1.0, compute_widths=True)
    assert len(result) >= 4 and len(result.loops) == 1

    graph = result.to_networkx()
    assert isinstance(graph, nx.MultiGraph) and graph.graph["radius"] == 1.0
    assert [graph.nodes[i]["pos"] for i in range(len(result.nodes))] == [tuple(p) for p in result.nodes.tolist()]
    edges = sorted(graph.edges(keys=True, data=True), key=lambda e: e[2])
    assert [sorted((u, v)) for u, v, _, _ in edges] == [sorted(e) for e in result.edges.tolist()]
    for (_, _, i, data), chain in zip(edges, result.chains):
        assert data["points"] is result.chains[i]
        assert data["length"] == result.lengths[i] and data["width"] == result.mean_widths[i]
        assert data["sources"] == result.sources[i].tolist()
    assert dict(graph.degree()) == dict(enumerate(result.degree.tolist()))

    lines = result.to_shapely()
    assert [np.array(line.coords).tobytes() for line in lines] == [c.tobytes() for c in result.chains]

    text = json.dumps(result.to_geojson(), allow_nan=False)
    back = shapely.from_geojson(text)
    assert [np.array(g.coords).tobytes() for g in back.geoms] == [c.tobytes() for c in result.chains]
    props = [f["properties"] for f in json.loads(text)["features"]]
    assert [[p["start"], p["end"]] for p in props] == result.edges.tolist()
    assert flat(centerlines(json.loads(text), 1.0, clean=False)) == flat(centerlines(result.chains, 1.0, clean=False))


def test_svg_and_plot(tmp_path):
    matplotlib = pytest.importorskip("matplotlib")
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    result = centerlines(DRAWING, 1.0)
    svg = ET.fromstring(result.to_svg())
    assert svg.tag == "{http://www.w3.org/2000/svg}svg" and len(svg.get("viewBox").split()) == 4
    assert len(svg.findall(".//{http://www.w3.org/2000/svg}path")) == len(result)
    circles = svg.findall(".//{http://www.w3.org/2000/svg}circle")
    assert len(circles) == len(result.junctions) + len(result.ends)

    fig, ax = plt.subplots()
    assert result.plot(ax, show_input=True, show_bands=True, legend=True) is ax
    assert len(ax.collections) == 4 and len(ax.patches) == 2  # input, chains, junctions, ends; two bands
    fig.savefig(tmp_path / "plot.png")
    plt.close(fig)


@pytest.mark.parametrize(
    "module, call, extra",
    [
        ("networkx", lambda r: r.to_networkx(), "networkx"),
        ("shapely", lambda r: r.to_shapely(), "shapely"),
        ("matplotlib.pyplot", lambda r: r.plot(), "plot"),
    ],
)
def test_missing_extra_says_what_to_install(monkeypatch, module, call, extra):
    result = centerlines(DRAWING, 1.0)
    monkeypatch.setitem(sys.modules, module, None)
    with pytest.raises(ImportError, match=rf"needs {module.split('.')[0]}: pip install 'strokegraph\[{extra}\]'"):
        call(result)


def test_plot_without_shapely_skips_the_bands(monkeypatch):
    pytest.importorskip("matplotlib").use("Agg")
    import matplotlib.pyplot as plt

    monkeypatch.setitem(sys.modules, "shapely", None)
    fig, ax = plt.subplots()
    with pytest.warns(UserWarning, match=r"strokegraph\[shapely\].*bands are not drawn"):
        centerlines(DRAWING, 1.0).plot(ax, show_bands=True)
    assert not ax.patches
    plt.close(fig)


def busy_drawing():
    """Random walks that keep the pipeline busy for several progress reports."""
    rng = np.random.default_rng(5)
    return [np.cumsum(rng.normal(0, 1, (60, 2)), axis=0) + rng.uniform(0, 300, 2) for _ in range(1500)]


def test_progress_reports_native_stages_in_order():
    seen = []
    centerlines(busy_drawing(), 1.0, progress=lambda stage, fraction: seen.append((stage, fraction)))
    assert seen[0] == ("start", 0.0) and seen[-1] == ("done", 1.0)
    stages = {stage for stage, _ in seen[1:-1]}
    assert stages and stages <= {"inflate", "preprocess", "skeleton", "graph", "cleanup", "chains"}
    assert [f for _, f in seen] == sorted(f for _, f in seen)


def test_an_exception_from_progress_cancels_the_call():
    class Stop(Exception):
        pass

    calls = []

    def progress(stage, fraction):
        calls.append(stage)
        if stage != "start":
            raise Stop

    with pytest.raises(Stop):
        centerlines(busy_drawing(), 1.0, progress=progress)
    assert calls[-1] != "done"  # stopped from inside the native call
    assert len(centerlines(DRAWING, 1.0)) > 0


def test_types_check_with_mypy():
    pytest.importorskip("mypy")
    root = pathlib.Path(__file__).resolve().parents[2]
    package = root / "python" / "strokegraph"  # the sources of the installed package
    out = subprocess.run(
        [sys.executable, "-m", "mypy", "--config-file", str(root / "pyproject.toml"), str(package),
         str(pathlib.Path(__file__).with_name("typing_usage.py"))],
        capture_output=True, text=True, cwd=root,
    )
    assert out.returncode == 0, out.stdout + out.stderr


def random_drawing(seed, strokes=120, size=60.0):
    """Wandering strokes that cross and overlap all over a square."""
    rng = np.random.default_rng(seed)
    curves = []
    for _ in range(strokes):
        turns = np.cumsum(rng.uniform(-0.4, 0.4, rng.integers(5, 30))) + rng.uniform(0, 2 * np.pi)
        steps = np.column_stack([np.cos(turns), np.sin(turns)])
        curves.append(rng.uniform(0, size, 2) + np.vstack([[0, 0], np.cumsum(steps, axis=0)]))
    return curves


def distances_to(points, chains):
    """Distance from every point to the nearest segment of the chains."""
    a = np.concatenate([c[:-1] for c in chains])
    d = np.concatenate([c[1:] for c in chains]) - a
    length2 = np.maximum((d * d).sum(1), 1e-300)
    t = np.clip(((points[:, None, :] - a) * d).sum(2) / length2, 0, 1)
    return np.hypot(*np.moveaxis(a + t[..., None] * d - points[:, None, :], 2, 0)).min(1)


@pytest.mark.parametrize("seed", [0, 3, 5, 6, 15])
def test_tiles_give_the_untiled_graph(seed):
    # 12-unit tiles on a 60-unit drawing: 25 tiles, junctions and ends on seams.
    curves, r = random_drawing(seed), 0.5
    whole = centerlines(curves, r, tiles=False)
    tiled = centerlines(curves, r, tiles=12.0)
    assert (len(tiled.chains), len(tiled.junctions), len(tiled.ends)) == (
        len(whole.chains),
        len(whole.junctions),
        len(whole.ends),
    )
    for a, b in [(tiled, whole), (whole, tiled)]:
        d = distances_to(np.concatenate(a.chains), b.chains)
        assert np.mean(d <= 0.05 * r) >= 0.99 and d.max() <= 0.5 * r
    assert flat(centerlines(curves, r, tiles=12.0)) == flat(tiled)
    # The automatic choice leaves a drawing this small whole; clean=False never tiles.
    assert flat(centerlines(curves, r)) == flat(whole)
    assert flat(centerlines(curves, r, clean=False, tiles=12.0)) == flat(centerlines(curves, r, clean=False))


@pytest.mark.parametrize("seed, r", [(2, 0.5), (5, 1.0)])
def test_rings_that_plain_simplification_would_cross_are_kept_apart(seed, r):
    # Simplified as one polyline per ring, two rings of one large polygon of
    # these drawings crossed, its triangulation was refused and the drawing
    # came back whole as a handful of chains.
    curves = random_drawing(seed)
    whole, tiled = centerlines(curves, r, tiles=False), centerlines(curves, r, tiles=True)
    assert len(whole) > 150  # lost, it came back as a handful of chains
    assert (len(whole.chains), len(whole.junctions), len(whole.ends)) == (
        len(tiled.chains),
        len(tiled.junctions),
        len(tiled.ends),
    )


@pytest.mark.parametrize("tiles", [0, -3.0, float("nan"), float("inf")])
def test_tiles_must_be_a_positive_size(tiles):
    with pytest.raises(ValueError, match="^tiles must be a positive finite number"):
        centerlines(DRAWING, 1.0, tiles=tiles)
    with pytest.raises(ValueError, match="job 0 failed: tiles must be"):
        strokegraph._core.centerlines_batch([dict(curves=DRAWING, radius=1.0, tiles=tiles)])


# A lattice of 2 x 44 crossing strokes: more skeleton nodes and chains than
# one task of the parallel clean-up stages takes, so they run in several.
LATTICE = """[[(x, k * 6.0 + 0.3 * math.sin(0.2 * x + k)) for x in range(0, 264)] for k in range(44)] + \\
             [[(k * 6.0 + 0.3 * math.cos(0.2 * y + k), y) for y in range(0, 264)] for k in range(44)]"""


# Separate figures of very different sizes (clusters of one to 40 strokes,
# every fourth stroke turning back along itself), over 4096 points in all:
# the bands, their clusters and the stroke ends all go to the pool untiled.
FIGURES = """[[(200.0 * (f % 6) + 3.0 * s + (0.5 + 0.1 * (s % 3)) * j, 200.0 * (f // 6) + 7.0 * math.sin(0.3 * j + s))
              for j in list(range(40)) + (list(range(38, 20, -1)) if s % 4 == 0 else [])]
             for f in range(18) for s in range(1 + (f * 7) % 40)]"""


@pytest.mark.parametrize("drawing, tiles, least_chains", [(LATTICE, True, 2049), (FIGURES, False, 101)])
def test_clean_call_is_identical_for_every_worker_count(drawing, tiles, least_chains):
    script = ("import hashlib, math, numpy as np, strokegraph\n"
              f"g = strokegraph.centerlines({drawing}, 1.0, tiles={tiles})\n"
              "h = hashlib.sha256(np.concatenate(g.chains).tobytes() + g.nodes.tobytes() + g.edges.tobytes())\n"
              "print(len(g.chains), len(g.nodes), h.hexdigest())")
    outputs = {
        subprocess.run([sys.executable, "-c", script], env=dict(os.environ, RAYON_NUM_THREADS=n),
                       capture_output=True, text=True, check=True, timeout=120).stdout
        for n in ("1", "2", "3")
    }
    assert len(outputs) == 1
    assert int(outputs.pop().split()[0]) >= least_chains


@pytest.mark.parametrize("clean", [True, False])
def test_sources_of_widths_far_above_the_radius(clean):
    # Measured on the radius, sources took 1e8 samples on these chains (and
    # much longer on longer ones), and gave both strokes to every chain.
    code = ("import strokegraph\n"
            "g = strokegraph.centerlines([[(0, 0), (50, 0)], [(25, -20), (25, 20)]], 1e-6, feature_size=1.0,\n"
            f"    per_curve_widths=[[1.0, 1.0], [1.5, 1.5]], clean={clean})\n"
            "import numpy as np\n"
            "print(sorted((round(float(np.ptp(c[:, 1]))), s.tolist()) for c, s in zip(g.chains, g.sources)))\n")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip() == "[(0, [0]), (0, [0]), (20, [1]), (20, [1])]"
