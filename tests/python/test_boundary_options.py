"""The boundary options reach preprocessing as given and are never rejected."""

import math

import pytest

import strokegraph

CURVES = [[(0.0, 0.0), (10.0, 0.0)], [(5.0, -5.0), (5.0, 5.0)]]


@pytest.mark.parametrize("value", [None, 0.0, -1.0, math.nan, 0.001, 0.5, 3.0])
@pytest.mark.parametrize("name", ["subdivision_ratio", "resample", "boundary_simplification"])
def test_boundary_options_are_accepted(name, value):
    triangles = strokegraph.triangulate_curves(CURVES, 1.0, 1.0, **{name: value})
    assert isinstance(triangles, list)
    result = strokegraph.topologize(CURVES, 1.0, 1.0, **{name: value})
    assert len(result) == 4


def test_buffer_distance_is_not_validated():
    for buffer_distance in (0.0, -1.0, math.nan):
        assert isinstance(strokegraph.triangulate_curves(CURVES, buffer_distance, 1.0), list)


@pytest.mark.parametrize(
    "options, blamed",
    [({"resample": 1e-9}, "resample=0.000000001"), ({}, "feature_size=0.000000001")],
)
def test_absurd_density_raises_memory_error(options, blamed):
    feature_size = 1e-9 if not options else 1.0
    if not strokegraph.inflate_curves(CURVES, 1.0, feature_size):
        pytest.skip("inflation produces no polygons in this build")
    for call in (strokegraph.triangulate_curves, strokegraph.topologize):
        with pytest.raises(MemoryError, match=blamed):
            call(CURVES, 1.0, feature_size, boundary_simplification=0.0, **options)


def boundary_vertices(triangles):
    return {p for t in triangles for p in t}


def test_boundary_simplification_thins_a_wiggly_boundary():
    wiggle = [[(x * 0.25, 0.03 * (-1) ** x) for x in range(200)]]
    # No subdivision, so only simplification changes the vertex count.
    plain = boundary_vertices(
        strokegraph.triangulate_curves(wiggle, 1.0, 1.0, boundary_simplification=0.0, subdivision_ratio=1e9)
    )
    simplified = boundary_vertices(
        strokegraph.triangulate_curves(wiggle, 1.0, 1.0, boundary_simplification=0.5, subdivision_ratio=1e9)
    )
    assert simplified and len(simplified) < len(plain)
    # The default tolerance (0.05 x feature size) lies between the two.
    default = boundary_vertices(strokegraph.triangulate_curves(wiggle, 1.0, 1.0, subdivision_ratio=1e9))
    assert len(simplified) <= len(default) <= len(plain)
