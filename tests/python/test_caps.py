"""Caps of the clean pipeline's bands: round by default, as the drawing's own
strokes end, so that an end short of another stroke stays apart; SVG files
give each stroke its own `stroke-linecap`."""

from __future__ import annotations

import math

import numpy as np
import pytest

import strokegraph
from strokegraph import _internal

RADIUS = 1.0
BAR = [(-20.0, 0.0), (20.0, 0.0)]


def approach(distance, angle, length=15.0):
    """A stroke ending `distance` radii from BAR's centerline, arriving at `angle` to it."""
    tip = (0.0, -distance * RADIUS)
    return [(tip[0] - length * math.cos(angle), tip[1] - length * math.sin(angle)), tip]


def rotate(points, angle):
    c, s = math.cos(angle), math.sin(angle)
    return [(x * c - y * s, x * s + y * c) for x, y in points]


def joined(curves, **options):
    result = strokegraph.centerlines(curves, RADIUS, **options)
    return len(result.junctions) > 0


@pytest.mark.parametrize("turn", [0.0, 0.7])
@pytest.mark.parametrize("ratio", [0.5, 1.0, 2.0])
@pytest.mark.parametrize("angle", [math.pi / 4, math.pi / 3, math.pi / 2])
@pytest.mark.parametrize("distance", [2.1, 2.2, 2.35])
def test_round_caps_leave_a_gap_open(distance, angle, ratio, turn):
    curves = [rotate(BAR, turn), rotate(approach(distance, angle), turn)]
    assert not joined(curves, feature_size=RADIUS / ratio)
    assert not joined(curves, feature_size=RADIUS / ratio, caps="butt")


@pytest.mark.parametrize("distance", [2.1, 2.2, 2.35])
def test_square_caps_bridge_a_gap_their_corner_reaches(distance):
    curves = [BAR, approach(distance, math.pi / 4)]
    assert joined(curves, caps="square")


@pytest.mark.parametrize("turn", [0.0, 0.7])
@pytest.mark.parametrize("angle", [math.pi / 4, math.pi / 2])
@pytest.mark.parametrize(("caps", "distance"), [
    (caps, d) for caps in (None, "round", "butt", "square") for d in (0.0, 0.5, 0.9)
] + [(caps, d) for caps in (None, "square") for d in (1.3, 1.8)])
def test_a_true_touch_still_joins(distance, angle, caps, turn):
    """Bands that overlap join: a butt end reaches the other band within a
    radius of its centerline, a round or square one within about two."""
    curves = [rotate(BAR, turn), rotate(approach(distance, angle), turn)]
    result = strokegraph.centerlines(curves, RADIUS, caps=caps)
    assert sorted(result.degree.tolist()) == [1, 1, 1, 3]


@pytest.mark.parametrize("caps", ["round", "butt", "square", ["butt", "round"]])
def test_clean_false_keeps_the_exact_bands(caps):
    curves = [BAR, approach(2.2, math.pi / 4), [(5.0, 3.0), (9.0, 9.0), (15.0, 2.0)]]
    if isinstance(caps, list):
        caps = caps + ["square"]
    a = strokegraph.centerlines(curves, RADIUS, clean=False, caps=caps)
    b = _internal.topologize(curves, RADIUS, RADIUS)
    assert len(a.chains) == len(b[0])
    for mine, theirs in zip(a.chains, b[0]):
        np.testing.assert_array_equal(np.asarray(mine), np.asarray(theirs))


def test_caps_per_item_and_their_errors():
    curves = [BAR, approach(2.2, math.pi / 4)]
    # The second stroke's cap decides; the bar's own ends are far from anything.
    assert joined(curves, caps=["round", "square"])
    assert not joined(curves, caps=["square", "round"])
    with pytest.raises(ValueError, match="caps must be 'round', 'square' or 'butt', got 'flat'"):
        strokegraph.centerlines(curves, RADIUS, caps="flat")
    with pytest.raises(ValueError, match="caps has 3 entries but the drawing has 2 items"):
        strokegraph.centerlines(curves, RADIUS, caps=["round"] * 3)
    with pytest.raises(TypeError, match="caps must be a str or a sequence of str"):
        strokegraph.centerlines(curves, RADIUS, caps=[1, 2])
    # The native layer checks as much on its own.
    from strokegraph import _core
    with pytest.raises(ValueError, match="caps has 3 entries but 2 curves were given"):
        _core.centerlines([np.array(c) for c in curves], RADIUS, caps=["round"] * 3)
    with pytest.raises(ValueError, match="got 'flat'"):
        _core.centerlines([np.array(c) for c in curves], RADIUS, caps=["round", "flat"])


def test_a_multi_curve_item_gives_its_cap_to_every_curve():
    shapely = pytest.importorskip("shapely")
    far = [(-20.0, 30.0), (20.0, 30.0)]
    item = shapely.MultiLineString([far, approach(2.2, math.pi / 4)])
    assert joined([BAR, item], caps=["round", "square"])
    assert not joined([BAR, item], caps=["square", "round"])


@pytest.mark.parametrize("caps", ["round", "butt"])
def test_closed_strokes_stay_rings(caps):
    square = [(0.0, 0.0), (20.0, 0.0), (20.0, 20.0), (0.0, 20.0), (0.0, 0.0)]
    result = strokegraph.centerlines([square], RADIUS, caps=caps)
    assert len(result.loops) == 1 and len(result.ends) == 0


SVG = """<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 60 40">
<path d="M 5 20 L 55 20" stroke="#000" stroke-width="2"/>
<g stroke-linecap="round"><path d="M 20 2 L 29.7 17.8" stroke="#000" stroke-width="2"/></g>
<path style="stroke-linecap:square" d="M 40 2 L 45.5 7.5" stroke="#000" stroke-width="2"/>
<line x1="5" y1="35" x2="55" y2="35" stroke="#000" stroke-width="2" stroke-linecap="inherit"/>
</svg>"""


def test_read_svg_passes_each_stroke_cap(tmp_path):
    pytest.importorskip("svgelements")
    path = tmp_path / "caps.svg"
    path.write_text(SVG)
    from strokegraph import io

    drawing = io.read(str(path))
    assert drawing.caps == ["butt", "round", "square", "butt"]
    # The round-capped stroke ends 2.2 radii from the bar's centerline, at 58 degrees.
    near = strokegraph.centerlines(drawing.curves, 1.0, caps=drawing.caps)
    assert len(near.junctions) == 0
    assert len(strokegraph.centerlines(drawing.curves, 1.0, caps="square").junctions) == 1
