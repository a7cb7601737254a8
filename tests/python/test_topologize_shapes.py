"""Topology of topologize on real drawn shapes.

The assertions are about topology (chain, node and degree counts, closed
chains) rather than coordinates, so they hold for any reasonable skeleton.
"""

from collections import Counter
from concurrent.futures import ThreadPoolExecutor

import pytest

import strokegraph

pytestmark = pytest.mark.skipif(
    strokegraph.topologize([[(0.0, 0.0), (10.0, 0.0)]], 1.0, 1.0)[0] == [],
    reason="pipeline stages not built yet",
)

BUFFER = 1.0
FEATURE = 1.0


def run(curves, **kwargs):
    result = strokegraph.topologize(curves, BUFFER, FEATURE, **kwargs)
    check_invariants(*result, compute_widths=kwargs.get("compute_widths", False))
    return result


def check_invariants(chains, nodes, ids, widths, compute_widths):
    assert len(chains) == len(ids)
    assert all(len(chain) >= 2 for chain in chains)
    seen = []
    for chain, (start, end) in zip(chains, ids):
        for node, point in ((start, chain[0]), (end, chain[-1])):
            if node not in seen:
                # Ids are numbered in order of first appearance, at that chain's end point.
                assert node == len(seen)
                assert nodes[node] == point
                seen.append(node)
    assert len(seen) == len(nodes)
    if compute_widths:
        assert [len(w) for w in widths] == [len(c) for c in chains]
    else:
        assert widths == []


def degrees(ids):
    """Chain ends per node; a closed chain counts twice at its node."""
    count = Counter()
    for start, end in ids:
        count[start] += 1
        count[end] += 1
    return sorted(count.values())


STRAIGHT = [[(0.0, 0.0), (20.0, 0.0)]]
L_SHAPE = [[(0.0, 0.0), (20.0, 0.0), (20.0, 20.0)]]
PLUS = [[(-20.0, 0.0), (20.0, 0.0)], [(0.0, -20.0), (0.0, 20.0)]]
T_SHAPE = [[(-20.0, 0.0), (20.0, 0.0)], [(0.0, 0.0), (0.0, -20.0)]]
Y_SHAPE = [[(0.0, 0.0), (0.0, -20.0)], [(0.0, 0.0), (-14.0, 14.0)], [(0.0, 0.0), (14.0, 14.0)]]
SQUARE = [[(0.0, 0.0), (20.0, 0.0), (20.0, 20.0), (0.0, 20.0), (0.0, 0.0)]]
FIGURE_EIGHT = [
    [(0.0, 0.0), (10.0, 10.0), (20.0, 0.0), (10.0, -10.0), (0.0, 0.0),
     (-10.0, 10.0), (-20.0, 0.0), (-10.0, -10.0), (0.0, 0.0)]
]


@pytest.mark.parametrize(
    "curves, chain_count, node_degrees",
    [
        pytest.param(STRAIGHT, 1, [1, 1], id="straight"),
        pytest.param(L_SHAPE, 1, [1, 1], id="L"),
        pytest.param(PLUS, 4, [1, 1, 1, 1, 4], id="plus"),
        pytest.param(T_SHAPE, 3, [1, 1, 1, 3], id="T"),
        pytest.param(Y_SHAPE, 3, [1, 1, 1, 3], id="Y"),
        pytest.param(SQUARE, 1, [2], id="square-loop"),
        pytest.param(FIGURE_EIGHT, 2, [4], id="figure-eight"),
    ],
)
def test_shape_topology(curves, chain_count, node_degrees):
    chains, nodes, ids, _ = run(curves)
    assert len(chains) == chain_count
    assert degrees(ids) == node_degrees
    assert len(nodes) == len(node_degrees)


@pytest.mark.parametrize("curves", [SQUARE, FIGURE_EIGHT], ids=["square-loop", "figure-eight"])
def test_loops_start_and_end_at_the_same_node(curves):
    chains, _, ids, _ = run(curves)
    for chain, (start, end) in zip(chains, ids):
        assert start == end
        assert chain[0] == chain[-1]


@pytest.mark.parametrize(
    "pieces, whole",
    [
        pytest.param([[(0.0, 0.0), (7.0, 0.0)], [(7.0, 0.0), (14.0, 0.0)], [(14.0, 0.0), (20.0, 0.0)]],
                     STRAIGHT, id="straight-in-three"),
        pytest.param([[(0.0, 0.0), (20.0, 0.0)], [(20.0, 20.0), (20.0, 0.0)]], L_SHAPE, id="L-in-two"),
        pytest.param([[(-20.0, 0.0), (0.0, 0.0)], [(0.0, 0.0), (20.0, 0.0)], [(0.0, -20.0), (0.0, 20.0)]],
                     PLUS, id="plus-in-three"),
        pytest.param([[(0.0, 0.0), (20.0, 0.0), (20.0, 20.0)], [(20.0, 20.0), (0.0, 20.0), (0.0, 0.0)]],
                     SQUARE, id="square-in-two"),
    ],
)
def test_strokes_in_touching_pieces_give_the_same_topology(pieces, whole):
    chains, nodes, ids, _ = run(pieces)
    whole_chains, whole_nodes, whole_ids, _ = run(whole)
    assert len(chains) == len(whole_chains)
    assert len(nodes) == len(whole_nodes)
    assert degrees(ids) == degrees(whole_ids)


@pytest.mark.parametrize("buffer", [2.0, 3.0])
def test_widths_of_a_straight_band_are_twice_the_buffer(buffer):
    # Spurs up to 5 x buffer are pruned: the square caps leave short ones
    # towards the band's corners.
    chains, _, _, widths = strokegraph.topologize(
        [[(0.0, 0.0), (40.0, 0.0)]], buffer, FEATURE, simplification=0.0,
        min_tip_fraction=5 * buffer / FEATURE, compute_widths=True,
    )
    assert len(chains) == 1
    middle = [w for p, w in zip(chains[0], widths[0]) if 10.0 <= p[0] <= 30.0]
    assert middle
    # Distances go to boundary vertices, at most 1.5 x feature size apart,
    # so a little farther than the boundary itself.
    for w in middle:
        assert 2.0 * buffer * 0.97 <= w <= 2.0 * buffer * 1.1


DRAWING = PLUS + [
    [(30.0, 0.0), (50.0, 0.0), (50.0, 20.0), (30.0, 20.0), (30.0, 0.0)],
    [(60.0, 0.0), (63.0, 4.0), (67.0, 5.0), (70.0, 9.0), (72.0, 15.0), (69.0, 22.0)],
    [(66.0, 5.5), (75.0, -3.0)],
]


def drawing_result():
    return strokegraph.topologize(DRAWING, BUFFER, FEATURE, compute_widths=True)


def test_output_is_bit_identical_across_repeated_calls():
    first = repr(drawing_result())
    for _ in range(100):
        assert repr(drawing_result()) == first


def test_output_is_bit_identical_across_threads():
    first = repr(drawing_result())
    with ThreadPoolExecutor(max_workers=4) as pool:
        results = list(pool.map(lambda _: repr(drawing_result()), range(40)))
    assert all(r == first for r in results)
