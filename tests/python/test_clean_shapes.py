"""The clean graph of the centerlines pipeline on the shapes people draw.

Every shape is drawn at radius 1 and sized in radii, checked at radius /
feature-size ratios from 0.25 to 4 and at several rotations: the chain count,
the degree of every node, which chains are closed loops, and that every free
end lies within half a radius of the stroke's true end.
"""

from __future__ import annotations

import math

import numpy as np
import pytest

import strokegraph

RADIUS = 1.0
RATIOS = (0.25, 0.5, 1.0, 2.0, 4.0)
ROTATIONS = (0.0, 0.5, 1.3)  # radians


def arc(cx, cy, r, a0, a1, n):
    return [(cx + r * math.cos(a0 + (a1 - a0) * i / n), cy + r * math.sin(a0 + (a1 - a0) * i / n))
            for i in range(n + 1)]


def circle(cx, cy, r, n=64):
    pts = arc(cx, cy, r, 0.0, 2 * math.pi, n)
    pts[-1] = pts[0]
    return pts


def along(a, b, t):
    return (a[0] + (b[0] - a[0]) * t, a[1] + (b[1] - a[1]) * t)


STRAIGHT = [[(0.0, 0.0), (20.0, 0.0)]]
A_LEFT, A_TOP, A_RIGHT = (0.0, 0.0), (8.0, 24.0), (16.0, 0.0)
B_BOWL_TOP = [(0.0, 24.0)] + arc(0.0, 18.0, 6.0, math.pi / 2, -math.pi / 2, 16)[1:]
B_BOWL_LOW = arc(0.0, 6.0, 6.0, math.pi / 2, -math.pi / 2, 16)

# name: (strokes, chain count, sorted node degrees, closed chain count, true free ends)
SHAPES = {
    "straight": (STRAIGHT, 1, [1, 1], 0, [(0.0, 0.0), (20.0, 0.0)]),
    "arc": ([arc(0.0, 0.0, 10.0, 0.0, math.pi, 40)], 1, [1, 1], 0, [(10.0, 0.0), (-10.0, 0.0)]),
    "L": ([[(0.0, 0.0), (20.0, 0.0), (20.0, 15.0)]], 1, [1, 1], 0, [(0.0, 0.0), (20.0, 15.0)]),
    "zigzag": ([[(0.0, 0.0), (6.0, 8.0), (12.0, 0.0), (18.0, 8.0), (24.0, 0.0)]], 1, [1, 1], 0,
               [(0.0, 0.0), (24.0, 0.0)]),
    "circle": ([circle(0.0, 0.0, 10.0)], 1, [2], 1, []),
    "plus": ([[(-15.0, 0.0), (15.0, 0.0)], [(0.0, -15.0), (0.0, 15.0)]], 4, [1, 1, 1, 1, 4], 0,
             [(-15.0, 0.0), (15.0, 0.0), (0.0, -15.0), (0.0, 15.0)]),
    "X45": ([[(-15.0, 0.0), (15.0, 0.0)],
             [(-15 * math.cos(math.pi / 4), -15 * math.sin(math.pi / 4)),
              (15 * math.cos(math.pi / 4), 15 * math.sin(math.pi / 4))]], 4, [1, 1, 1, 1, 4], 0,
            [(-15.0, 0.0), (15.0, 0.0), (-10.6066, -10.6066), (10.6066, 10.6066)]),
    "T": ([[(-15.0, 0.0), (15.0, 0.0)], [(0.0, 0.0), (0.0, -15.0)]], 3, [1, 1, 1, 3], 0,
          [(-15.0, 0.0), (15.0, 0.0), (0.0, -15.0)]),
    "Y": ([[(0.0, 0.0), (0.0, -15.0)], [(0.0, 0.0), (-9.0, 12.0)], [(0.0, 0.0), (9.0, 12.0)]], 3,
          [1, 1, 1, 3], 0, [(0.0, -15.0), (-9.0, 12.0), (9.0, 12.0)]),
    "A": ([[A_LEFT, A_TOP], [A_TOP, A_RIGHT], [along(A_LEFT, A_TOP, 0.35), along(A_RIGHT, A_TOP, 0.35)]],
          4, [1, 1, 3, 3], 0, [A_LEFT, A_RIGHT]),
    "B": ([[(0.0, 0.0), (0.0, 12.0), (0.0, 24.0)], B_BOWL_TOP, B_BOWL_LOW], 2, [4], 2, []),
    "figure-eight": ([[(0.0, 0.0), (10.0, 10.0), (20.0, 0.0), (10.0, -10.0), (0.0, 0.0),
                       (-10.0, 10.0), (-20.0, 0.0), (-10.0, -10.0), (0.0, 0.0)]], 2, [4], 2, []),
    "drawn-twice": ([[(0.0, 0.0), (20.0, 0.0)], [(0.0, 0.3), (20.0, 0.3)]], 1, [1, 1], 0,
                    [(0.0, 0.15), (20.0, 0.15)]),
    "touching-pieces": ([[(0.0, 0.0), (7.0, 0.0)], [(7.0, 0.0), (13.0, 0.0)], [(13.0, 0.0), (20.0, 0.0)]],
                        1, [1, 1], 0, [(0.0, 0.0), (20.0, 0.0)]),
    "overlapping-pieces": ([[(0.0, 0.0), (8.0, 0.0)], [(6.0, 0.0), (14.0, 0.0)], [(12.0, 0.0), (20.0, 0.0)]],
                           1, [1, 1], 0, [(0.0, 0.0), (20.0, 0.0)]),
}


def rotate(points, angle):
    c, s = math.cos(angle), math.sin(angle)
    return [(x * c - y * s, x * s + y * c) for x, y in points]


@pytest.mark.parametrize("angle", ROTATIONS)
@pytest.mark.parametrize("ratio", RATIOS)
@pytest.mark.parametrize("name", sorted(SHAPES))
def test_clean_graph_of_drawn_shapes(name, ratio, angle):
    strokes, chain_count, node_degrees, closed, ends = SHAPES[name]
    curves = [rotate(s, angle) for s in strokes]
    result = strokegraph.centerlines(curves, RADIUS, feature_size=RADIUS / ratio)
    assert (len(result.chains), sorted(result.degree.tolist())) == (chain_count, node_degrees)
    assert len(result.loops) == closed
    free = result.nodes[result.ends]
    for end in rotate(ends, angle):
        assert np.min(np.hypot(*(free - end).T)) <= 0.5 * RADIUS, end
