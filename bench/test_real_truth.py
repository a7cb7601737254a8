"""Checks of the real-drawing bench's truths and scores on small drawings
whose graph is known. Run by `make bench-real` (bench/.venv's pytest):
  bench/.venv/bin/python -m pytest -q bench/test_real_truth.py
"""

from __future__ import annotations

import math

import numpy as np
import pytest

import real_drawings
import real_truth


def turned(strokes, deg):
    c, s = math.cos(math.radians(deg)), math.sin(math.radians(deg))
    return [[(x * c - y * s, x * s + y * c) for x, y in st] for st in strokes]


T = [[(-6.0, 10.0), (6.0, 10.0)], [(0.0, 0.0), (0.0, 9.7)]]  # stem stops 0.3 short of the bar
PLUS = [[(-6.0, 0.0), (6.0, 0.0)], [(0.0, -6.0), (0.0, 6.0)]]
CORNER = [[(0.0, 0.0), (10.0, 0.0)], [(10.0, 0.0), (10.0, 10.0)]]
RING = [[(0.0, 0.0), (10.0, 0.0), (10.0, 10.0), (0.0, 10.0), (0.0, 0.0)]]
A = [[(0.0, 12.0), (-8.0, -9.0)], [(0.0, 12.0), (8.0, -9.0)], [(-5.0, -2.0), (5.0, -2.0)]]  # bar 1/3 short
B = [[(-7.0, 12.0), (-7.0, -9.0)], [(-7.0, 12.0), (2.0, 12.0), (7.0, 7.0), (2.0, 2.0)],
     [(-7.0, 2.0), (2.0, 2.0), (7.0, -3.0), (2.0, -9.0), (-7.0, -9.0)]]


@pytest.mark.parametrize("deg", [0, 33, 90, 200])
@pytest.mark.parametrize("twice", ["once", "twice", "reversed"])
@pytest.mark.parametrize("name, strokes, junctions, ends, loops", [
    ("T", T, [3], 3, 0), ("plus", PLUS, [4], 4, 0), ("corner", CORNER, [], 2, 0), ("ring", RING, [], 0, 1),
    ("A", A, [3, 3], 2, 1), ("B", B, [3, 3], 0, 2),
])
def test_stroke_truth(name, strokes, junctions, ends, loops, deg, twice):
    s = turned(strokes, deg)
    if twice == "twice":
        s = s + s
    elif twice == "reversed":
        s = s + [st[::-1] for st in s]
    t = real_truth.stroke_truth(s)
    assert sorted(t["junction_degrees"]) == junctions
    assert len(t["endpoints"]) == ends
    assert t["loops"] == loops


def test_short_pieces_contracted_and_arms_dropped_unless_kept():
    # Two T's 0.4 apart on one bar are one crossing; a 0.4 stub is no arm.
    t = real_truth.stroke_truth([[(-5.0, 0.0), (5.0, 0.0)], [(0.0, 0.0), (0.0, 5.0)], [(0.4, 0.0), (0.4, -5.0)],
                                 [(3.0, -0.4), (3.0, 0.0)]])
    assert t["junction_degrees"] == [4] and len(t["endpoints"]) == 4
    pieces = [np.array([(0.0, 0.0), (10.0, 0.0)]), np.array([(10.0, 0.0), (10.0, 2.0)]),
              np.array([(10.0, 0.0), (20.0, 0.0)])]
    assert len(real_truth.graph_of_pieces(pieces, 3.0)["endpoints"]) == 2
    assert len(real_truth.graph_of_pieces(pieces, 3.0, keep_arms=True)["endpoints"]) == 3


@pytest.mark.parametrize("strokes, r, why", [
    (T, 1.0, None),
    (T, 2.5, "arm"),  # arms of 6 just over 2 r
    ([[(0.0, 0.0), (10.0, 0.0)], [(0.0, 3.0), (10.0, 3.0)]], 1.5, "gap"),  # parallel strokes 2 r apart
    ([[(0.0, 0.0), (10.0, 0.0)], [(0.0, 5.0), (10.0, 5.0)]], 1.5, None),
    (RING, 3.0, None),
    (RING, 4.0, "hole"),  # a disc of 5 fits, not one of 6
    ([[(0.0, 0.0), (20.0, 0.0)], [(9.0, 0.0), (9.0, 9.0)], [(11.0, 0.0), (11.0, -9.0)]], 1.5, "junctions"),
    ([[(0.0, 0.0), (20.0, 0.0)], [(8.0, 0.0), (8.0, 9.0)], [(12.0, 0.0), (12.0, -9.0)]], 1.5, None),
])
def test_ambiguity(strokes, r, why):
    assert real_truth.at_radius(real_truth.stroke_truth(strokes), r)[1] == why


@pytest.mark.parametrize("scale", [1.0, 4.0])
@pytest.mark.parametrize("r, junctions, ends", [(1.0, [4], 4), (2.0, [3], 3), (3.5, [], 2)])
def test_overshoots_end_on_the_stroke_they_cross(scale, r, junctions, ends):
    # A cross with arms of 6, 6, 7.5 and 3 (at scale 1): those up to 2 r go.
    t, _ = real_truth.at_radius(real_truth.stroke_truth([[(-6.0, 0.0), (6.0, 0.0)], [(0.0, -3.0), (0.0, 7.5)]]),
                                r * scale, scale)
    assert t["junction_degrees"] == junctions and len(t["endpoints"]) == ends
    assert all(abs(x) <= 6.0 * scale and abs(y) <= 7.5 * scale for s in t["segments"] for x, y in s)


def test_messy_is_seeded_and_keeps_rings_closed():
    a, b = real_truth.messy(B + RING, 2.0, 7), real_truth.messy(B + RING, 2.0, 7)
    assert a == b and a != real_truth.messy(B + RING, 2.0, 8)
    closed = [s for s in a if math.dist(s[0], s[-1]) == 0.0]
    assert closed  # the ring (or its copy) is still closed


def test_streets_once_drops_the_other_direction_only():
    road = np.array([(0.0, 0.0), (50.0, 0.0), (100.0, 10.0)])
    lines = [road, road[::-1] + (0.0, 3.0), road + (0.0, 12.0)]
    once = real_truth.streets_once(lines)
    assert len(once) == 2 and once[0] is road


def graph_of(truth, degrees=None):
    """An output graph with the truth's nodes: junctions joined to a centre
    node far away, ends to their own far node."""
    nodes = [list(p) for p in truth["junctions"]] + [list(p) for p in truth["endpoints"]]
    edges = []
    degrees = degrees or truth["junction_degrees"]
    for i, d in enumerate(degrees):
        for _ in range(d):
            nodes.append([1e6 + len(nodes), 0.0])
            edges.append([i, len(nodes) - 1])
    for k in range(len(truth["endpoints"])):
        nodes.append([2e6 + k, 0.0])
        edges.append([len(truth["junctions"]) + k, len(nodes) - 1])
    return {"nodes": nodes, "edges": edges, "lines": truth["segments"], "seconds": 0.0}


def test_scores_exact_only_when_every_degree_and_loop_is_right():
    t = real_truth.stroke_truth(PLUS)
    t = dict(t, loops=0)
    out = graph_of(t)
    # The far ends of the made-up edges are ends too: give the truth those.
    truth = dict(t, endpoints=[tuple(out["nodes"][b]) for _, b in out["edges"]] + t["endpoints"])
    s = real_drawings.score_drawing(out, truth, 1.0)
    assert s["exact"] and s["deg"] == 1
    wrong = graph_of(t, degrees=[3])
    s = real_drawings.score_drawing(wrong, truth, 1.0)
    assert not s["exact"] and s["deg"] == 0
    assert not real_drawings.score_drawing(None, truth, 1.0)["exact"]
    assert real_drawings.same_graph(out, out, 1.0) and not real_drawings.same_graph(out, wrong, 1.0)


@pytest.mark.parametrize("tip, far, folds", [((2.0, 0.3), (0.1, 0.0), 1), ((3.0, 1.0), (6.0, 0.0), 0),
                                             ((3.0, 3.0), (0.0, 4.0), 0)])
def test_folded_links_between_junctions(tip, far, folds):
    # Nodes 0 and 1 are junctions (three links each); the link 0-1 goes by
    # `tip`: folded when it turns there by more than 150 degrees.
    nodes = [[0.0, 0.0], list(far), [-5.0, 5.0], [-5.0, -5.0], [9.0, 9.0], [9.0, -9.0]]
    edges = [[0, 1], [0, 2], [0, 3], [1, 4], [1, 5]]
    lines = [[(0.0, 0.0), tip, far]] + [[tuple(nodes[a]), tuple(nodes[b])] for a, b in edges[1:]]
    out = {"nodes": nodes, "edges": edges, "lines": lines}
    assert real_drawings.folded_links(out, real_drawings.graph_nodes(out)[1]) == folds
    free = {"nodes": nodes, "edges": edges[:1], "lines": lines[:1]}  # the same link between free ends
    assert real_drawings.folded_links(free, real_drawings.graph_nodes(free)[1]) == 0
