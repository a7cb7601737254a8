"""triangulate_curves: the triangles topologize builds its skeleton from."""

import math

import pytest

from strokegraph import inflate_curves, triangulate_curves


def test_empty_curves_give_no_triangles():
    assert triangulate_curves([], 1.0, 1.0) == []


@pytest.mark.parametrize(
    "feature_size, shown",
    [(0.0, "0"), (-0.0, "-0"), (-1.0, "-1"), (math.nan, "NaN"), (math.inf, "inf")],
)
def test_feature_size_is_checked_first(feature_size, shown):
    with pytest.raises(ValueError) as error:
        triangulate_curves([[(0.0, 0.0), (1.0, 0.0)]], 1.0, feature_size, per_curve_widths=[[1.0]])
    assert str(error.value) == f"feature_size must be a positive finite number, got {shown}"


def test_width_count_mismatch_fails_like_topologize():
    with pytest.raises(ValueError) as error:
        triangulate_curves([[(0.0, 0.0), (1.0, 0.0)]], 1.0, 1.0, per_curve_widths=[[1.0]])
    assert str(error.value) == (
        "per_curve_widths[0] has 1 entries but curve 0 has 2 points; they must match "
        "(or pass an empty list to use the uniform buffer)"
    )


def test_band_of_one_stroke_is_covered():
    curves = [[(0.0, 0.0), (10.0, 0.0)]]
    if not inflate_curves(curves, 1.0, 1.0):
        pytest.skip("inflation yields no polygons in this build")
    triangles = triangulate_curves(curves, 1.0, 1.0)
    assert triangles
    area = 0.0
    for triangle in triangles:
        assert len(triangle) == 3 and all(len(p) == 2 for p in triangle)
        (ax, ay), (bx, by), (cx, cy) = triangle
        area += abs((bx - ax) * (cy - ay) - (cx - ax) * (by - ay)) / 2
    # A square-capped band around a 10-long segment with radius 1 is 12 by 2.
    assert area == pytest.approx(24.0, rel=1e-6)
