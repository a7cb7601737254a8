"""inflate_curves: the buffer polygons every pipeline builds its skeleton from."""

import math
import random

import pytest

from strokegraph import inflate_curves, topologize


def area(ring):
    n = len(ring)
    return 0.5 * sum(
        ring[k][0] * ring[(k + 1) % n][1] - ring[(k + 1) % n][0] * ring[k][1] for k in range(n)
    )


def bounds(ring):
    xs = [p[0] for p in ring]
    ys = [p[1] for p in ring]
    return min(xs), min(ys), max(xs), max(ys)


def square_loop(lo, hi):
    return [(lo, lo), (hi, lo), (hi, hi), (lo, hi), (lo, lo)]


@pytest.mark.parametrize("length,radius", [(10.0, 1.0), (3.0, 0.25), (0.5, 2.0)])
def test_two_point_stroke_is_a_capped_rectangle(length, radius):
    [(outer, holes)] = inflate_curves([[(1.0, 2.0), (1.0 + length, 2.0)]], radius, 1.0)
    assert holes == []
    assert len(outer) == 4
    assert bounds(outer) == pytest.approx(
        (1.0 - radius, 2.0 - radius, 1.0 + length + radius, 2.0 + radius), abs=1e-6
    )
    assert area(outer) == pytest.approx((length + 2 * radius) * 2 * radius, abs=1e-4)


@pytest.mark.parametrize("curves", [[], [[]], [[(1.0, 1.0)]], [[], [(2.0, 2.0)]]])
def test_nothing_to_inflate(curves):
    assert inflate_curves(curves, 1.0, 1.0) == []


def test_crossing_strokes_give_one_polygon():
    result = inflate_curves([[(0, 0), (10, 0)], [(5, -5), (5, 5)]], 1.0, 1.0)
    assert len(result) == 1
    assert result[0][1] == []
    assert area(result[0][0]) == pytest.approx(44.0)


@pytest.mark.parametrize(
    "hi,feature_size,hole_count",
    [(10.0, 1.0, 1), (2.3, 1.0, 0), (2.3, 0.9, 1)],  # the 2.3 loop leaves a 0.09 gap
)
def test_closed_loop_has_a_hole_unless_it_is_small(hi, feature_size, hole_count):
    [(outer, holes)] = inflate_curves([square_loop(0.0, hi)], 1.0, feature_size)
    assert area(outer) > 0
    assert len(holes) == hole_count
    for hole in holes:
        assert area(hole) < 0


def test_island_is_its_own_polygon():
    result = inflate_curves([square_loop(0.0, 20.0), square_loop(6.0, 14.0)], 1.0, 1.0)
    assert len(result) == 2
    (island, island_holes), (frame, frame_holes) = result
    assert bounds(island)[0] == pytest.approx(5.0)
    assert bounds(frame)[0] == pytest.approx(-1.0)
    assert [area(h) for h in island_holes] == pytest.approx([-36.0])
    assert [area(h) for h in frame_holes] == pytest.approx([-324.0])


def test_hole_of_a_wiggly_ring_inside_a_frame_stays_with_it():
    wiggly = []
    for k in range(200):
        t = 2 * math.pi * k / 200
        r = 10 + 3 * math.sin(20 * t)
        wiggly.append((r * math.cos(t), r * math.sin(t)))
    wiggly.append(wiggly[0])
    (frame, frame_holes), (ring, ring_holes) = inflate_curves(
        [square_loop(-20.0, 20.0), wiggly], 0.5, 1.0
    )
    assert bounds(frame)[2] == pytest.approx(20.5)
    assert len(frame_holes) == 1 and bounds(frame_holes[0])[2] == pytest.approx(19.5)
    assert len(ring_holes) == 1


def test_widening_widths_give_a_widening_band():
    [(outer, holes)] = inflate_curves(
        [[(0, 0), (5, 0), (10, 0)]], 9.0, 1.0, per_curve_widths=[[1.0, 2.0, 3.0]]
    )
    assert holes == []
    assert sorted(outer) == pytest.approx(
        sorted([(-1.0, 1.0), (-1.0, -1.0), (5.0, 2.0), (5.0, -2.0), (13.0, 3.0), (13.0, -3.0)])
    )


def test_widths_for_some_curves_only():
    curves = [[(0, 0), (10, 0)], [(0, 20), (10, 20)], [(0, 40), (10, 40)]]
    result = inflate_curves(curves, 0.5, 1.0, per_curve_widths=[[2.0, 2.0], []])
    assert sorted(round(area(outer), 6) for outer, _ in result) == [11.0, 11.0, 56.0]


def test_touching_strokes_are_merged():
    # Joined, the corner gets a square join instead of two overlapping caps.
    parts = [[(0, 0), (10, 0)], [(10, 0), (10, 10)]]
    whole = [[(0, 0), (10, 0), (10, 10)]]
    assert inflate_curves(parts, 1.0, 1.0) == inflate_curves(whole, 1.0, 1.0)
    assert inflate_curves(parts, 1.0, 1.0, merge_tolerance=0.5) == inflate_curves(whole, 1.0, 1.0)
    for off in (0.0, -1.0, float("nan")):
        assert inflate_curves(parts, 1.0, 1.0, merge_tolerance=off) != inflate_curves(whole, 1.0, 1.0)


def test_empty_width_list_skips_decimation_with_and_without_merging():
    # (0.1, 0) lies within the 0.15 decimation spacing of the first point.
    curve = [(0.0, 0.0), (0.1, 0.0), (0.1, 5.0)]
    thinned = [(0.0, 0.0), (0.1, 5.0)]
    kept = inflate_curves([curve], 1.0, 1.0, per_curve_widths=[[1.0, 1.0, 1.0]])
    assert inflate_curves([curve], 1.0, 1.0) == inflate_curves([thinned], 1.0, 1.0)
    assert inflate_curves([curve], 1.0, 1.0, per_curve_widths=[]) == kept
    assert inflate_curves([curve], 1.0, 1.0, per_curve_widths=[], merge_tolerance=0) != (
        inflate_curves([thinned], 1.0, 1.0, merge_tolerance=0)
    )


@pytest.mark.parametrize(
    "feature_size,shown", [(0.0, "0"), (-0.0, "-0"), (-1.0, "-1"), (math.nan, "NaN"), (math.inf, "inf")]
)
def test_feature_size_must_be_positive_and_finite(feature_size, shown):
    with pytest.raises(ValueError) as info:
        inflate_curves([[(0, 0), (1, 0)]], 1.0, feature_size, per_curve_widths=[[1.0]])
    assert str(info.value) == f"feature_size must be a positive finite number, got {shown}"


@pytest.mark.parametrize(
    "curves,widths,message",
    [
        ([], [[1.0, 1.0]], "per_curve_widths has an entry for curve 0 but only 0 curve(s) were given"),
        (
            [[(0, 0), (1, 0)]],
            [[1.0]],
            "per_curve_widths[0] has 1 entries but curve 0 has 2 points; they must match "
            "(or pass an empty list to use the uniform buffer)",
        ),
        (
            [[(0, 0), (1, 0)], [(0, 5), (1, 5), (2, 5)]],
            [[], [1.0, 2.0], [3.0]],
            "per_curve_widths[1] has 2 entries but curve 1 has 3 points; they must match "
            "(or pass an empty list to use the uniform buffer)",
        ),
    ],
)
def test_width_validation(curves, widths, message):
    with pytest.raises(ValueError) as info:
        inflate_curves(curves, 1.0, 1.0, per_curve_widths=widths)
    assert str(info.value) == message


def test_empty_width_entries_are_never_checked():
    assert len(inflate_curves([[(0, 0), (1, 0)]], 1.0, 1.0, per_curve_widths=[[], [], []])) == 1


def test_non_finite_coordinates_do_not_fail():
    # A NaN end survives decimation (an interior one would be thinned away).
    curves = [[(0, 0), (2, 0), (math.nan, 1)], [(math.inf, 0), (1, 0)], [(0, 9), (5, 9)]]
    result = inflate_curves(curves, 1.0, 1.0, merge_tolerance=0)
    assert [bounds(outer) for outer, _ in result] == [pytest.approx((-1.0, 8.0, 6.0, 10.0))]


def test_ten_thousand_strokes_of_fifty_points():
    # Strokes in a 100 x 100 grid of 10-unit cells, random walks of 0.2 steps.
    rng = random.Random(3)
    curves = []
    for i in range(10_000):
        x, y, a = (i % 100) * 10.0, (i // 100) * 10.0, rng.uniform(0, 2 * math.pi)
        curve = []
        for _ in range(50):
            curve.append((x, y))
            a += rng.uniform(-0.5, 0.5)
            x += 0.2 * math.cos(a)
            y += 0.2 * math.sin(a)
        curves.append(curve)
    result = inflate_curves(curves, 1.0, 1.0)
    assert len(result) > 1000
    for outer, holes in result:
        assert len(outer) >= 3 and area(outer) > 0
        assert all(area(h) <= -0.1 for h in holes)


@pytest.mark.parametrize("buffer_distance", [0.0, -0.0, 1e-7, -4e-7])
def test_a_radius_below_the_grid_fills_the_stroke_as_a_polygon(buffer_distance):
    # The offsetter returns such a stroke unchanged and the union treats its
    # vertex list as a closed polygon: an outline at radius 0 is a filled shape.
    stroke = [[(0.0, 0.0), (10.0, 0.0), (10.0, 10.0)]]
    [(outer, holes)] = inflate_curves(stroke, buffer_distance, 1.0)
    assert holes == [] and area(outer) == pytest.approx(50.0, abs=1e-9)
    chains, nodes, _, _ = topologize(stroke, buffer_distance, 1.0)
    assert chains and nodes
