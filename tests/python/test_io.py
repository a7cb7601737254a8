import importlib
import json
import math
import sys

import numpy as np
import pytest

pytest.importorskip("svgelements")

from strokegraph import io  # noqa: E402
from strokegraph._trace import trace  # noqa: E402

SVG = '<svg xmlns="http://www.w3.org/2000/svg" width="{w}" height="{h}" viewBox="{vb}">{body}</svg>'


def svg_file(tmp_path, body, w=100, h=100, vb="0 0 100 100", name="d.svg"):
    path = tmp_path / name
    path.write_text(SVG.format(w=w, h=h, vb=vb, body=body))
    return path


def test_svg_round_trip(tmp_path):
    # A T drawn as two strokes, 3 units wide, under a group transform.
    src = svg_file(tmp_path, '<g transform="translate(10 5)" stroke="#ff0000" stroke-width="3" fill="none">'
                             '<path id="bar" d="M0 20 L60 20"/><polyline id="stem" points="30,20 30,70"/></g>')
    drawing = io.read(src)
    assert drawing.suggested_radius() == (1.5, "half the median stroke width")
    assert [p["id"] for p in drawing.properties] == ["bar", "stem"]
    np.testing.assert_array_equal(drawing.curves[0], [[10, 25], [70, 25]])
    result = trace(drawing.curves, 1.5)
    io.write(result, tmp_path / "out.svg", drawing)
    again = io.read(tmp_path / "out.svg")
    # Chains come back (up to the rounding of the viewBox mapping), with the band width as
    # stroke width and the source colour.
    assert len(again.curves) == len(result.chains)
    for a, b in zip(again.curves, result.chains):
        np.testing.assert_allclose(a, b, rtol=1e-12, atol=1e-12)
    assert again.suggested_radius()[0] == 1.5
    assert {p["stroke"] for p in again.properties} == {"#ff0000"}
    assert not list(tmp_path.glob("*.tmp"))


def _dist_to_polyline(points, line):
    a, b = line[:-1], line[1:]
    d = b - a
    t = np.clip(((points[:, None] - a) * d).sum(-1) / np.maximum((d * d).sum(-1), 1e-300), 0, 1)
    return np.hypot(*(a + t[..., None] * d - points[:, None]).transpose(2, 0, 1)).min(axis=1)


def _cubic(p, t):
    p = np.array(p, dtype=float)
    s = 1 - t[:, None]
    t = t[:, None]
    return s ** 3 * p[0] + 3 * s * s * t * p[1] + 3 * s * t * t * p[2] + t ** 3 * p[3]


def _rot(deg, pts):
    c, s = math.cos(math.radians(deg)), math.sin(math.radians(deg))
    return pts @ np.array([[c, s], [-s, c]])


T = np.linspace(0, 1, 2001)
ANG = 2 * np.pi * T


@pytest.mark.parametrize("body, truth, closed", [
    # circle, translated and scaled: radius 10 around (30, 20)
    ('<circle cx="10" cy="10" r="5" transform="translate(10 0) scale(2)"/>',
     np.c_[30 + 10 * np.cos(ANG), 20 + 10 * np.sin(ANG)], True),
    # ellipse rotated by 30 degrees about the origin
    ('<ellipse cx="0" cy="0" rx="20" ry="8" transform="rotate(30)"/>',
     _rot(30, np.c_[20 * np.cos(ANG), 8 * np.sin(ANG)]), True),
    # cubic in a rotated, scaled group
    ('<g transform="rotate(90) scale(2)"><path d="M0 0 C 0 10 10 10 10 0"/></g>',
     _rot(90, 2 * _cubic([(0, 0), (0, 10), (10, 10), (10, 0)], T)), False),
    # a path's own stretching transform: the flattening tolerance holds after it
    ('<path transform="matrix(1 0 0 3 5 0)" d="M0 0 Q 10 10 20 0"/>',
     np.c_[5 + 20 * T, 3 * 2 * T * (1 - T) * 10], False),
    # quadratic in relative coordinates; the viewBox (scaled by 2 into the viewport) keeps user units
    ('<path d="m10 10 q 10 20 20 0"/>',
     np.c_[10 + 20 * T, 10 + 2 * T * (1 - T) * 20], False),
])
def test_transforms_and_flattening(tmp_path, body, truth, closed):
    src = svg_file(tmp_path, body.replace("/>", ' stroke="black" stroke-width="2"/>', 1)
                   if "<g" not in body else body.replace("<path", '<path stroke="black" stroke-width="2"'),
                   w=200, h=200, vb="0 0 100 100" if "q 10" in body else "0 0 200 200")
    tol = 0.05
    drawing = io.read_svg(src, tolerance=tol)
    assert len(drawing.curves) == 1
    curve = drawing.curves[0]
    # Every vertex lies on the curve, and every point of the curve within the tolerance of the chords.
    assert _dist_to_polyline(curve, truth).max() < 1e-4
    assert _dist_to_polyline(truth, curve).max() <= tol * 1.01
    assert np.array_equal(curve[0], curve[-1]) == closed
    # The default tolerance follows the stroke width (radius / 20): a coarser radius, fewer points.
    assert len(io.read_svg(src, radius=4.0).curves[0]) < len(curve)


def test_shapes_and_subpaths(tmp_path):
    src = svg_file(tmp_path, '<g stroke="black"><rect x="10" y="10" width="20" height="10"/>'
                             '<line x1="0" y1="0" x2="5" y2="5"/><polygon points="50,50 60,50 55,60"/>'
                             '<path d="M0 90 h10 v5 Z M20 90 l5 0"/><text x="1" y="1">x</text></g>')
    d = io.read(src)
    np.testing.assert_array_equal(d.curves[0], [[10, 10], [30, 10], [30, 20], [10, 20], [10, 10]])
    np.testing.assert_array_equal(d.curves[2], [[50, 50], [60, 50], [55, 60], [50, 50]])
    np.testing.assert_array_equal(d.curves[3], [[0, 90], [10, 90], [10, 95], [0, 90]])
    np.testing.assert_array_equal(d.curves[4], [[20, 90], [25, 90]])
    assert d.items.tolist() == [0, 1, 2, 3, 3] and d.skipped == {"text": 1}


def test_geojson_properties_round_trip(tmp_path):
    doc = {"type": "FeatureCollection", "features": [
        {"type": "Feature", "id": 7, "properties": {"name": "bar"},
         "geometry": {"type": "LineString", "coordinates": [[0, 20], [60, 20]]}},
        {"type": "Feature", "properties": {"name": "stem"},
         "geometry": {"type": "MultiLineString", "coordinates": [[[30, 20], [30, 45]], [[30, 45], [30, 70]]]}},
        {"type": "Feature", "properties": {"name": "ring"},
         "geometry": {"type": "Polygon", "coordinates": [[[100, 0], [140, 0], [140, 40], [100, 40], [100, 0]]]}},
        {"type": "Feature", "properties": {"name": "pin"}, "geometry": {"type": "Point", "coordinates": [0, 0]}},
    ]}
    (tmp_path / "in.geojson").write_text(json.dumps(doc))
    drawing = io.read(tmp_path / "in.geojson")
    assert drawing.items.tolist() == [0, 1, 1, 2]
    assert drawing.properties[0] == {"name": "bar", "id": 7}
    result = trace(drawing.curves, 1.5, compute_widths=True)
    io.write(result, tmp_path / "out.geojson", drawing)
    out = json.loads((tmp_path / "out.geojson").read_text())
    chains = [f for f in out["features"] if f["properties"]["kind"] == "chain"]
    nodes = [f for f in out["features"] if f["properties"]["kind"] != "chain"]
    assert len(chains) == len(result.chains) and len(nodes) == len(result.nodes)
    names = [{p["name"] for p in f["properties"]["source_properties"]} for f in chains]
    assert {"ring"} in names and set().union(*names) == {"bar", "stem", "ring"}
    assert all(f["properties"]["width"] > 0 and f["properties"]["length"] > 0 for f in chains)
    assert any(f["properties"]["kind"] == "junction" and f["properties"]["degree"] == 3 for f in nodes)
    # Read back: the chains are the curves, exactly; nodes (points) are skipped.
    again = io.read(tmp_path / "out.geojson")
    for a, b in zip(again.curves, result.chains):
        np.testing.assert_array_equal(a, b)
    assert len(again.curves) == len(result.chains)


@pytest.mark.parametrize("text, reason", [
    ("<svg><path d=", "not a valid SVG file"),
    ('<svg xmlns="http://www.w3.org/2000/svg"><text>hi</text></svg>', "no curves in the file (only 1 text)"),
    ('{"type": "FeatureCollection", "features": []}', "no curves in the file"),
    ('{"strokes": [[[0, 0], [1, "x"]]]}', "stroke 0: bad coordinates"),
    ('{"buffer_distance": -1, "strokes": [[[0, 0], [1, 1]]]}', '"buffer_distance" must be a positive number'),
    ("[[[0, 0], [NaN, 1]]]", "not a finite number"),
    ('{"a": 1', "not valid JSON"),
])
def test_bad_files(tmp_path, text, reason):
    path = tmp_path / ("f.svg" if text.startswith("<") else "f.json")
    path.write_text(text)
    with pytest.raises(io.DrawingError, match=None) as err:
        io.read(path)
    assert reason in str(err.value)


def test_missing_extras_name_themselves(monkeypatch, tmp_path):
    monkeypatch.setitem(sys.modules, "svgelements", None)
    with pytest.raises(ImportError, match=r"strokegraph\[svg\]"):
        io.read(svg_file(tmp_path, '<path d="M0 0 L1 1"/>'))
    monkeypatch.setitem(sys.modules, "dask.bag", None)
    monkeypatch.delitem(sys.modules, "strokegraph.dask", raising=False)
    with pytest.raises(ImportError, match=r"strokegraph\[dask\]"):
        importlib.import_module("strokegraph.dask")
