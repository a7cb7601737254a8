"""The clean graph where a band skeleton's graph goes wrong on real drawings.

Each drawing shows one fault, drawn at radius 1, checked at radius /
feature-size ratios from 0.25 to 4 and at several rotations: an L whose
stroke overshoots the corner, junctions at acute meetings and crossings that
strokes start from, links that must never fold, strokes drawn twice or
reversed, and chains that must keep a source.
"""

from __future__ import annotations

import math

import numpy as np
import pytest

import strokegraph

RADIUS = 1.0
RATIOS = (0.25, 0.5, 1.0, 2.0, 4.0)
ROTATIONS = (0.0, 0.5, 1.3)  # radians
T30 = math.radians(30.0)


def rotate(points, angle):
    c, s = math.cos(angle), math.sin(angle)
    return [(x * c - y * s, x * s + y * c) for x, y in points]


def clean(strokes, ratio, angle):
    return strokegraph.centerlines([rotate(s, angle) for s in strokes], RADIUS, feature_size=RADIUS / ratio)


def shape_of(result):
    return len(result.chains), sorted(result.degree.tolist())


def largest_fold(result):
    """The largest turn (degrees) at a point of a chain between two junctions."""
    worst = 0.0
    for chain, (a, b) in zip(result.chains, result.edges):
        if a == b or result.degree[a] < 3 or result.degree[b] < 3:
            continue
        d = np.diff(chain, axis=0)
        d = d[np.hypot(*d.T) > 0]
        cos = (d[1:] * d[:-1]).sum(1) / np.hypot(*d[1:].T) / np.hypot(*d[:-1].T)
        worst = max([worst, *np.degrees(np.arccos(np.clip(cos, -1, 1)))])
    return worst


def stroke_start(start, angle_deg, length):
    t = math.radians(angle_deg)
    return [start, (start[0] + length * math.cos(t), start[1] + length * math.sin(t))]


def corner(stub):
    """An L whose bar runs `stub` past the upright's centerline."""
    return [[(0.0, 0.0), (20.0 + stub, 0.0)], [(20.0, 0.0), (20.0, 15.0)]]


@pytest.mark.parametrize("angle", ROTATIONS)
@pytest.mark.parametrize("ratio", RATIOS)
@pytest.mark.parametrize("stub", [0.0, 1.2, 1.65, 2.0, 2.6, 3.5])
def test_a_stroke_ending_within_two_radii_past_another_ends_on_it(stub, ratio, angle):
    result = clean(corner(stub), ratio, angle)
    at = np.array(rotate([(20.0, 0.0)], angle)[0])
    if stub <= 2.0:
        assert shape_of(result) == (1, [1, 1])
        assert np.min(np.hypot(*(result.chains[0] - at).T)) <= 0.5 * RADIUS
    else:  # a real short arm
        assert shape_of(result) == (3, [1, 1, 1, 3])
        assert np.hypot(*(result.nodes[result.junctions[0]] - at)) <= 0.5 * RADIUS


# name: (strokes, chain count and sorted degrees, true junctions)
JUNCTIONS = {
    "acute-20": ([[(0.0, 0.0), (30.0, 0.0)], stroke_start((10.0, 0.0), 20, 20.0)], (3, [1, 1, 1, 3]), [(10.0, 0.0)]),
    "acute-30": ([[(0.0, 0.0), (30.0, 0.0)], stroke_start((10.0, 0.0), 30, 20.0)], (3, [1, 1, 1, 3]), [(10.0, 0.0)]),
    "tree": ([[(0.0, 0.0), (0.0, 20.0)], stroke_start((0.0, 12.0), 240, 12.0), stroke_start((0.0, 12.0), 300, 12.0)],
             (4, [1, 1, 1, 1, 4]), [(0.0, 12.0)]),
    "tree-two-levels": ([[(0.0, 0.0), (0.0, 20.0)], stroke_start((0.0, 14.0), 240, 12.0),
                         stroke_start((0.0, 8.0), 300, 12.0)], (5, [1, 1, 1, 1, 3, 3]), [(0.0, 14.0), (0.0, 8.0)]),
    "acute-12": ([[(0.0, 0.0), (40.0, 0.0)], stroke_start((10.0, 0.0), 12, 30.0)], (3, [1, 1, 1, 3]), [(10.0, 0.0)]),
    # One stroke: down a stem, round a bowl, and back onto the stem at 18 degrees.
    "six": ([[(0.0, 30.0), (0.0, 0.0), (2.0, -10.0), (10.0, -14.0), (18.0, -10.0), (20.0, -2.0), (16.0, 6.0),
              (8.0, 12.0), (4.0, 12.0), (0.0, 0.0)]], (2, [1, 3]), [(0.0, 0.0)]),
    "hook-on-corner": ([[(0.0, 0.0), (0.0, 20.0), (12.0, 20.0)], [(0.0, 20.0), (6.0, 12.0)]], (3, [1, 1, 1, 3]),
                       [(0.0, 20.0)]),
    "start-at-crossing": ([[(-15.0, 0.0), (15.0, 0.0)], [(0.0, -15.0), (0.0, 15.0)], stroke_start((0.0, 0.0), 45, 14.0)],
                          (5, [1, 1, 1, 1, 1, 5]), [(0.0, 0.0)]),
    "start-at-crossing-acute": ([[(-15.0, 0.0), (15.0, 0.0)], [(0.0, -15.0), (0.0, 15.0)],
                                 stroke_start((0.0, 0.0), 20, 14.0)], (5, [1, 1, 1, 1, 1, 5]), [(0.0, 0.0)]),
    "two-stems-3-apart": ([[(-15.0, 0.0), (15.0, 0.0)], [(0.0, 0.0), (0.0, -15.0)], [(3.0, 0.0), (3.0, -15.0)]],
                          (5, [1, 1, 1, 1, 3, 3]), [(0.0, 0.0), (3.0, 0.0)]),
    "stems-either-side-3-apart": ([[(-15.0, 0.0), (15.0, 0.0)], [(0.0, 0.0), (0.0, -15.0)], [(3.0, 0.0), (3.0, 15.0)]],
                                  (5, [1, 1, 1, 1, 3, 3]), [(0.0, 0.0), (3.0, 0.0)]),
}


@pytest.mark.parametrize("angle", ROTATIONS)
@pytest.mark.parametrize("ratio", RATIOS)
@pytest.mark.parametrize("name", sorted(JUNCTIONS))
def test_junctions_sit_where_the_strokes_meet_and_links_never_fold(name, ratio, angle):
    strokes, shape, where = JUNCTIONS[name]
    result = clean(strokes, ratio, angle)
    assert shape_of(result) == shape
    junctions = result.nodes[result.junctions]
    for p in rotate(where, angle):
        assert np.min(np.hypot(*(junctions - p).T)) <= 0.5 * RADIUS, p
    assert largest_fold(result) <= 150.0


TWICE = {
    "T": [[(-15.0, 0.0), (15.0, 0.0)], [(0.0, 0.0), (0.0, -4.0)]],
    "T-long-stem": [[(-15.0, 0.0), (15.0, 0.0)], [(0.0, 0.0), (0.0, -7.0)]],
    "H": [[(0.0, -10.0), (0.0, 10.0)], [(6.0, -10.0), (6.0, 10.0)], [(0.0, 0.0), (6.0, 0.0)]],
    "L": [[(0.0, 0.0), (20.0, 0.0), (20.0, 15.0)]],
    "arc": [[(10 * math.cos(math.pi * k / 20), 10 * math.sin(math.pi * k / 20)) for k in range(21)]],
    # One stroke crossing itself: its repeat's equal segments lie as near.
    "alpha": [[(8 * (t * t - 1), 8 * t * (t * t - 1)) for t in np.linspace(-1.6, 1.6, 47)]],
}


def farthest(points, chains):
    """The largest distance from a point to the nearest segment of the chains."""
    a = np.concatenate([c[:-1] for c in chains])
    d = np.concatenate([c[1:] for c in chains]) - a
    t = np.clip(((points[:, None, :] - a) * d).sum(2) / np.maximum((d * d).sum(1), 1e-300), 0, 1)
    return np.hypot(*np.moveaxis(a + t[..., None] * d - points[:, None, :], 2, 0)).min(1).max()


@pytest.mark.parametrize("angle", ROTATIONS)
@pytest.mark.parametrize("ratio", RATIOS)
@pytest.mark.parametrize("again", ["same", "reversed"])
@pytest.mark.parametrize("name", sorted(TWICE))
def test_a_drawing_drawn_twice_gives_the_graph_drawn_once(name, again, ratio, angle):
    strokes = TWICE[name]
    repeat = strokes if again == "same" else [s[::-1] for s in strokes]
    once, twice = clean(strokes, ratio, angle), clean(strokes + repeat, ratio, angle)
    assert shape_of(twice) == shape_of(once)
    assert farthest(np.concatenate(twice.chains), once.chains) <= 0.1 * RADIUS
    assert farthest(np.concatenate(once.chains), twice.chains) <= 0.1 * RADIUS
    # Both copies are sources of what they drew.
    n = len(strokes)
    for sources in twice.sources:
        assert set(sources.tolist()) == set(sources.tolist()) | {s + n for s in sources if s < n} | {
            s - n for s in sources if s >= n}


@pytest.mark.parametrize("angle", ROTATIONS)
@pytest.mark.parametrize("ratio", RATIOS)
@pytest.mark.parametrize("bar", [3.9, 4.0, 4.2, 4.4, 4.5, 6.0])
def test_every_chain_of_an_h_has_a_source(bar, ratio, angle):
    result = clean([[(0.0, -10.0), (0.0, 10.0)], [(bar, -10.0), (bar, 10.0)], [(0.0, 0.0), (bar, 0.0)]], ratio, angle)
    assert shape_of(result) == (5, [1, 1, 1, 1, 3, 3])
    assert all(len(s) > 0 for s in result.sources)
    bar_chain = [i for i, (a, b) in enumerate(result.edges) if result.degree[a] == 3 and result.degree[b] == 3]
    assert [result.sources[i].tolist() for i in bar_chain] == [[2]]


@pytest.mark.parametrize("angle", ROTATIONS)
@pytest.mark.parametrize("ratio", RATIOS)
@pytest.mark.parametrize("leg", [5.0, 8.0, 12.0])
@pytest.mark.parametrize("apart", [11, 15, 20, 30])
def test_two_strokes_drawn_to_an_acute_corner_leave_no_stub(apart, leg, ratio, angle):
    # The junction moves to where the strokes meet, by the tip of the
    # skeleton's short branch into the corner: nothing of that branch stays.
    result = clean([[(0.0, 21.3), (0.0, 0.0)], stroke_start((0.0, 0.0), 90 - apart, leg)], ratio, angle)
    assert shape_of(result) == (1, [1, 1])


def drawn(strokes, again):
    """The strokes drawn once, twice, or once more reversed."""
    return strokes + {"once": [], "twice": strokes, "reversed": [s[::-1] for s in strokes]}[again]


def roundabout(rho, phase, arms=4, sides=48, arm=12.0):
    """A ring of radius `rho` drawn as one closed stroke from angle 0, and
    `arms` streets leaving it straight out from angles phase + k 2 pi / arms;
    with the points where they leave."""
    ring = [(rho * math.cos(2 * math.pi * k / sides), rho * math.sin(2 * math.pi * k / sides)) for k in range(sides)]
    ring.append(ring[0])
    out, at = [ring], []
    for k in range(arms):
        t = phase + 2 * math.pi * k / arms
        at.append((rho * math.cos(t), rho * math.sin(t)))
        out.append([at[-1], ((rho + arm) * math.cos(t), (rho + arm) * math.sin(t))])
    return out, at


@pytest.mark.parametrize("angle", ROTATIONS)
@pytest.mark.parametrize("ratio", RATIOS)
@pytest.mark.parametrize("again", ["once", "twice", "reversed"])
@pytest.mark.parametrize("rho, phase", [(2.5, 0.3), (3.0, 0.8), (4.0, 0.1), (6.0, 0.3)])
def test_a_small_roundabout_keeps_its_junctions_on_the_ring(rho, phase, again, ratio, angle):
    # A street leaving near the ring's seam once went to where the ring's
    # two ends meet, or off the ring along the street.
    strokes, at = roundabout(rho, phase)
    result = clean(drawn(strokes, again), ratio, angle)
    assert shape_of(result) == (8, [1, 1, 1, 1, 3, 3, 3, 3])
    junctions = result.nodes[result.junctions]
    for p in rotate(at, angle):
        assert np.min(np.hypot(*(junctions - p).T)) <= 0.05 * RADIUS, p
    # No chords: the chains stay on the strokes.
    assert farthest(np.concatenate(result.chains), [np.array(rotate(s, angle)) for s in strokes]) <= 0.25 * RADIUS


def h_shape(apart):
    return [[(0.0, -10.0), (0.0, 10.0)], [(apart, -10.0), (apart, 10.0)], [(0.0, 0.0), (apart, 0.0)]]


@pytest.mark.parametrize("angle", ROTATIONS)
@pytest.mark.parametrize("ratio", RATIOS[1:])
@pytest.mark.parametrize("again", ["once", "twice", "reversed"])
@pytest.mark.parametrize("apart", [2.5, 3.0, 4.0])
def test_an_h_with_close_uprights_keeps_both_junctions_on_the_strokes(apart, again, ratio, angle):
    # The uprights' bands are apart from 2 radii on. (A feature size of 4
    # radii leaves the band's outline too coarse for a bar this short.)
    result = clean(drawn(h_shape(apart), again), ratio, angle)
    assert shape_of(result) == (5, [1, 1, 1, 1, 3, 3])
    junctions = result.nodes[result.junctions]
    for p in rotate([(0.0, 0.0), (apart, 0.0)], angle):
        assert np.min(np.hypot(*(junctions - p).T)) <= 0.05 * RADIUS, p


def side_by_side(gap, cross, noded, count=3, length=15.0):
    """`count` strokes `gap` apart, closer than their bands, crossed by one
    at `cross` degrees through their middle, each stroke split where it
    meets another when `noded` (as street data stores them); with where the
    crossing one meets the outer two."""
    t = math.radians(cross)
    mid = (count - 1) * gap / 2
    at = [((k * gap - mid) / math.tan(t), k * gap) for k in range(count)]
    ends = [(-length * math.cos(t), mid - length * math.sin(t)), (length * math.cos(t), mid + length * math.sin(t))]
    if not noded:
        return [[(-length, y), (length, y)] for _, y in at] + [ends], [at[0], at[-1]]
    out = [s for x, y in at for s in ([(-length, y), (x, y)], [(x, y), (length, y)])]
    crossing = [ends[0], *at, ends[1]]
    out += [[crossing[k], crossing[k + 1]] for k in range(len(crossing) - 1)]
    return out, [at[0], at[-1]]


@pytest.mark.parametrize("angle", ROTATIONS)
@pytest.mark.parametrize("ratio", RATIOS)
@pytest.mark.parametrize("noded", [False, True])
@pytest.mark.parametrize("cross", [90, 60])
@pytest.mark.parametrize("gap", [1.2, 1.5, 1.8])
def test_a_stroke_crossing_strokes_side_by_side_keeps_a_junction_at_each_outer_meeting(gap, cross, noded, ratio, angle):
    # Streets closer than their bands make one blot where a street crosses
    # them; its junctions stay at distinct meetings, not one in the middle,
    # and so they do with every stroke drawn again, or again reversed.
    strokes, outer = side_by_side(gap, cross, noded)
    for again in ("once", "twice", "reversed"):
        result = clean(drawn(strokes, again), ratio, angle)
        junctions = result.nodes[result.junctions]
        assert len(junctions) == 2, again
        for p in rotate(outer, angle):
            assert np.min(np.hypot(*(junctions - p).T)) <= 0.05 * RADIUS, (again, p)
        assert largest_fold(result) <= 150.0


# A stroke drawn sketchily forth and back over itself: the two ends lie side
# by side, the second with a small hook, and the skeleton runs out to the
# band's end and turns back along another spoke of the cap.
FORTH = [(-4.09, -3.91), (-3.53, -4.17), (-3.18, -4.59), (-2.81, -4.78), (-2.38, -5.05), (-1.87, -5.26),
         (-1.37, -5.3), (-1.24, -5.45), (-0.48, -5.53), (0.1, -5.51)]
BACK = [(-0.21, -5.38), (-0.37, -5.59), (-1.13, -5.49), (-1.54, -5.32), (-1.7, -5.17), (-2.27, -5.04),
        (-2.68, -4.91), (-3.28, -4.44), (-3.56, -4.25), (-3.85, -4.14)]


@pytest.mark.parametrize("angle", ROTATIONS + (2.5,))
@pytest.mark.parametrize("ratio", RATIOS)
@pytest.mark.parametrize("order", ["forth-back", "back-forth"])
def test_a_free_end_stays_where_a_stroke_drawn_back_over_itself_ends(order, ratio, angle):
    strokes = [FORTH, BACK] if order == "forth-back" else [BACK, FORTH]
    result = clean(strokes, ratio, angle)
    assert shape_of(result) == (1, [1, 1])
    ends = result.nodes[result.degree == 1]
    for p in rotate([(-0.05, -5.45), (-3.97, -4.03)], angle):
        assert np.min(np.hypot(*(ends - p).T)) <= 0.5 * RADIUS, p


def densified(points, step=0.5):
    out = [points[0]]
    for a, b in zip(points, points[1:]):
        n = max(1, math.ceil(math.dist(a, b) / step))
        out += [(a[0] + (b[0] - a[0]) * k / n, a[1] + (b[1] - a[1]) * k / n) for k in range(1, n + 1)]
    return out


@pytest.mark.parametrize("angle", ROTATIONS)
@pytest.mark.parametrize("ratio", RATIOS)
@pytest.mark.parametrize("reversed_", [False, True])
@pytest.mark.parametrize("points", ["few", "dense"])
@pytest.mark.parametrize("cusp_deg", [12, 18, 25])
def test_a_stroke_turning_back_on_a_bar_meets_it_at_the_turn(cusp_deg, points, reversed_, ratio, angle):
    # Down a stem to a bar and back up at an acute angle: one node of degree
    # 4 at the turn, however far up the stem the skeleton forks.
    hook = [(0.0, 20.0), (0.0, 0.0), (-14.0 * math.tan(math.radians(cusp_deg)), 14.0)]
    strokes = [hook[::-1] if reversed_ else hook, [(-15.0, 0.0), (15.0, 0.0)]]
    if points == "dense":
        strokes = [densified(s) for s in strokes]
    result = clean(strokes, ratio, angle)
    assert shape_of(result) == (4, [1, 1, 1, 1, 4])
    assert np.hypot(*(result.nodes[result.junctions[0]] - rotate([(0.0, 0.0)], angle)[0])) <= 0.5 * RADIUS


def foot(turn_deg, length):
    """A stroke 14 long turning by `turn_deg` into a foot `length` long at the origin."""
    down = (math.sin(math.radians(turn_deg - 90)), -math.cos(math.radians(turn_deg - 90)))
    t = math.radians(turn_deg)
    out = (down[0] * math.cos(t) - down[1] * math.sin(t), down[0] * math.sin(t) + down[1] * math.cos(t))
    return [(-14.0 * down[0], -14.0 * down[1]), (0.0, 0.0), (length * out[0], length * out[1])]


@pytest.mark.parametrize("angle", ROTATIONS)
@pytest.mark.parametrize("ratio", RATIOS)
@pytest.mark.parametrize("drawn", ["once", "overdrawn"])
@pytest.mark.parametrize("length", [2.5, 3.0])
@pytest.mark.parametrize("turn", [90, 117])
def test_a_short_foot_past_a_sharp_corner_stays(turn, length, drawn, ratio, angle):
    # The band's corner and the foot's end are two short tips of one fork:
    # the corner's goes, the foot's stays.
    stroke = foot(turn, length)
    strokes = [stroke]
    if drawn == "overdrawn":  # drawn back a little aside, widening the corner
        strokes.append([(x + 0.48, y + 0.8) for x, y in stroke][::-1])
    result = clean(strokes, ratio, angle)
    assert shape_of(result) == (1, [1, 1])
    ends = result.nodes[result.degree == 1]
    for p in rotate([stroke[0], stroke[-1]], angle):
        assert np.min(np.hypot(*(ends - p).T)) <= 1.0 * RADIUS, p


def staggered(apart, cross):
    """A bar crossed by two strokes leaving it on opposite sides at `cross`
    degrees, their meetings `apart` along it."""
    t = math.radians(cross)
    dx, dy = 10.0 * math.cos(t), 10.0 * math.sin(t)
    return [[(-12.0, 0.0), (12.0, 0.0)], [(0.0, 0.0), (dx, dy)], [(apart, 0.0), (apart - dx, -dy)]], [(0.0, 0.0), (apart, 0.0)]


@pytest.mark.parametrize("angle", ROTATIONS)
@pytest.mark.parametrize("ratio", RATIOS)
@pytest.mark.parametrize("again", ["once", "twice", "reversed"])
@pytest.mark.parametrize("cross", [90, 60, 45])
def test_two_meetings_apart_along_a_stroke_stay_two_junctions(cross, again, ratio, angle):
    # Their junctions' discs overlap, but the strokes meet at two places
    # 2.5 radii apart: two junctions, each where its strokes meet, however
    # little room either has (such junctions once became one in the middle).
    strokes, at = staggered(2.5, cross)
    result = clean(drawn(strokes, again), ratio, angle)
    assert shape_of(result) == (5, [1, 1, 1, 1, 3, 3])
    junctions = result.nodes[result.junctions]
    for p in rotate(at, angle):
        assert np.min(np.hypot(*(junctions - p).T)) <= 0.05 * RADIUS, p
    assert largest_fold(result) <= 150.0


def ring_arc(a0, a1, rho, centre=(0.0, 0.0), step=10.0):
    """Points of a circle of radius `rho` from angle a0 to a1 (degrees)."""
    n = max(2, int(abs(a1 - a0) / step) + 1)
    return [(centre[0] + rho * math.cos(math.radians(a)), centre[1] + rho * math.sin(math.radians(a)))
            for a in np.linspace(a0, a1, n)]


@pytest.mark.parametrize("angle", ROTATIONS)
@pytest.mark.parametrize("ratio", RATIOS)
@pytest.mark.parametrize("order", ["forward", "reversed"])
@pytest.mark.parametrize("redrawn", [False, True])
@pytest.mark.parametrize("top", [2.5, 4.0])
@pytest.mark.parametrize("rho", [5.0, 6.0, 8.0])
def test_a_stem_crossing_a_broken_loop_meets_it_where_the_strokes_cross(rho, top, redrawn, order, ratio, angle):
    # A stem through a loop (as a phi): the loop drawn in two pieces touching
    # end to end, one of them just past the stem at the top, and its right
    # side and bottom drawn over again by a piece ending short of the top.
    # The top junction sits where the stem crosses the loop, not where the
    # loop's arms' lines meet above it; the piece drawn over again is no
    # arm's stroke there.
    strokes = [[(0.0, -rho - 4.0), (0.0, rho + top)], ring_arc(180, 470, rho), ring_arc(470, 540, rho)]
    if redrawn:
        strokes.append(ring_arc(60, -130, rho))
    if order == "reversed":
        strokes = [s[::-1] for s in strokes[::-1]]
    result = clean(strokes, ratio, angle)
    assert shape_of(result) == (5, [1, 1, 4, 4])
    junctions = result.nodes[result.junctions]
    high, low = rotate([(0.0, rho), (0.0, -rho)], angle)
    assert np.min(np.hypot(*(junctions - high).T)) <= 0.5 * RADIUS
    assert np.min(np.hypot(*(junctions - low).T)) <= 1.0 * RADIUS
    assert largest_fold(result) <= 150.0


def shallow_x(crossing_deg, bend, both_curved):
    """Two strokes crossing at the origin at `crossing_deg`, bending away from
    each other (as a script X): long inside each other's band near the crossing."""
    xs = np.linspace(-12.0, 12.0, 49)
    if both_curved:
        t = math.tan(math.radians(crossing_deg) / 2.0)
        return [[(x, s * (x * t + bend * x**3)) for x in xs] for s in (1.0, -1.0)]
    t = math.tan(math.radians(crossing_deg))
    return [[(-12.0, 0.0), (12.0, 0.0)], [(x, x * t + 2.0 * bend * x**3) for x in xs]]


def bowl_on_stem(height):
    """A b: a bowl of `height` meeting its stem twice."""
    arc = [(height / 2 * math.sin(t), height / 2 * (1.0 - math.cos(t))) for t in np.linspace(0.0, math.pi, 33)]
    return [[(0.0, -8.0), (0.0, 20.0)], arc]


@pytest.mark.parametrize("angle", ROTATIONS)
@pytest.mark.parametrize("ratio", RATIOS)
@pytest.mark.parametrize("again", ["once", "twice", "reversed"])
@pytest.mark.parametrize("crossing, bend, both_curved",
                         [(5, 0.002, False), (7.5, 0.005, False), (10, 0.01, False), (12.5, 0.005, False),
                          (10, 0.002, True), (15, 0.005, True), (25, 0.01, True)])
def test_a_shallow_crossing_of_curved_strokes_is_one_node(crossing, bend, both_curved, again, ratio, angle):
    result = clean(drawn(shallow_x(crossing, bend, both_curved), again), ratio, angle)
    assert sorted(d for d in result.degree.tolist() if d >= 3) == [4]
    node = result.nodes[result.degree == 4][0]
    assert math.hypot(*node) < 1.5 * RADIUS


@pytest.mark.parametrize("angle", ROTATIONS)
@pytest.mark.parametrize("ratio", RATIOS)
@pytest.mark.parametrize("again", ["once", "twice", "reversed"])
@pytest.mark.parametrize("height", [6.0, 8.0])
def test_a_bowl_meeting_its_stem_twice_keeps_two_junctions(height, again, ratio, angle):
    result = clean(drawn(bowl_on_stem(height), again), ratio, angle)
    assert sorted(d for d in result.degree.tolist() if d >= 3) == [3, 3]


def cursive_n(over, leave_deg):
    """A stem up to 20 that runs `over` on above where an arch leaves it,
    going back down at `leave_deg` to the stem and curving away (as a
    cursive n's)."""
    t = math.radians(leave_deg)
    arch = [(0.0, 20.0)]
    for k in range(1, 13):  # down along the stem's side, turning away ever more
        a = t + math.radians(4.0 * k)
        x, y = arch[-1]
        arch.append((x + math.sin(a), y - math.cos(a)))
    return [[(0.0, 0.0), (0.0, 20.0 + over)], arch]


def points_away_from_nodes(result, reach):
    """The chains' points farther than `reach` from every node (free ends
    and junctions stay where the band puts them)."""
    pts = np.concatenate([np.array(densified(c.tolist(), 0.25)) for c in result.chains])
    near = np.hypot(*(pts[:, None, :] - result.nodes[None]).transpose(2, 0, 1)).min(1)
    return pts[near > reach]


@pytest.mark.parametrize("angle", ROTATIONS)
@pytest.mark.parametrize("ratio", RATIOS)
@pytest.mark.parametrize("again", ["once", "twice", "reversed"])
@pytest.mark.parametrize("leave", [25, 40, 60])
@pytest.mark.parametrize("over", [1.2, 1.6, 2.0, 3.5])
def test_a_stem_running_a_little_past_where_an_arch_leaves_it_ends_there(over, leave, again, ratio, angle):
    # However sharply the arch leaves (the sharper, the farther down the
    # bands part), a stem ending within two radii above it ends on it; a
    # longer one is an arm, kept.
    stem, arch = cursive_n(over, leave)
    result = clean(drawn([stem, arch], again), ratio, angle)
    ends = result.nodes[result.degree == 1]
    if over <= 2.0:
        assert shape_of(result) == (1, [1, 1])
    else:
        assert shape_of(result) == (3, [1, 1, 1, 3])
    for p in rotate([stem[0], arch[-1]] + ([stem[-1]] if over > 2.0 else []), angle):
        assert np.min(np.hypot(*(ends - p).T)) <= 1.0 * RADIUS, p


@pytest.mark.parametrize("angle", ROTATIONS)
@pytest.mark.parametrize("ratio", RATIOS)
@pytest.mark.parametrize("pieces", ["overlapping", "redrawn"])
@pytest.mark.parametrize("arm", [4.0, 6.0])
def test_an_arm_broken_or_redrawn_near_its_end_keeps_it(arm, pieces, ratio, angle):
    # The piece ending at the tip runs on too little past the other's end,
    # and a stroke drawn again over the arm never leaves it: no branch there.
    bar = [(-10.0, 0.0), (10.0, 0.0)]
    if pieces == "overlapping":
        strokes = [bar, [(0.0, 0.0), (0.0, arm - 1.6)], [(0.0, arm - 2.6), (0.0, arm)]]
    else:
        strokes = [bar, [(0.0, 0.0), (0.0, arm)], [(0.0, arm), (0.0, arm - 1.5)]]
    result = clean(strokes, ratio, angle)
    assert shape_of(result) == (3, [1, 1, 1, 3])
    tip = np.array(rotate([(0.0, arm)], angle)[0])
    assert np.min(np.hypot(*(result.nodes[result.degree == 1] - tip).T)) <= 1.0 * RADIUS


def sketchy_v(apart_deg, leg, seed):
    """Two strokes drawn up to the foot of a V, `apart_deg` apart, a little
    shaky (a point every half radius, moved by 0.1 radius), ending 0.3 radius
    from each other there: two strokes, not one."""
    rng = np.random.default_rng(seed)
    t = math.radians(apart_deg / 2.0)
    out = []
    for side in (-1.0, 1.0):
        a, b = np.array([side * leg * math.sin(t), leg * math.cos(t)]), np.array([side * 0.15, 0.0])
        n = int(math.ceil(leg / 0.5)) + 1
        p = a + (b - a) * np.linspace(0.0, 1.0, n)[:, None] + rng.normal(0.0, 0.1, (n, 2))
        out.append([(float(x), float(y)) for x, y in p])
    return out


@pytest.mark.parametrize("angle", ROTATIONS)
@pytest.mark.parametrize("ratio", RATIOS)
@pytest.mark.parametrize("again", ["once", "twice", "reversed"])
@pytest.mark.parametrize("drawing", ["parallel 1.4", "parallel 1.8", "curve by a line"])
def test_chains_lie_on_the_strokes_they_follow(drawing, again, ratio, angle):
    # Strokes closer than their bands have one skeleton line midway between
    # them (or bending from one to the other): the chains are laid on the
    # strokes instead, whichever one they follow, and drawn again they lie
    # on the same points.
    if drawing.startswith("parallel"):
        gap = float(drawing.split()[1])
        strokes = [[(-15.0, 0.0), (15.0, 0.0)], [(-12.0, gap), (12.0, gap)], [(0.0, -10.0), (0.0, -2.0)]]
    else:
        strokes = [ring_arc(200, 340, 20.0, centre=(0.0, 21.5), step=4.0), [(-12.0, 0.0), (12.0, 0.0)]]
    result = clean(drawn(strokes, again), ratio, angle)
    lines = [np.array(rotate(s, angle)) for s in strokes]
    assert farthest(points_away_from_nodes(result, 1.0 * RADIUS), lines) <= 0.1 * RADIUS
    once = clean(strokes, ratio, angle)
    assert shape_of(result) == shape_of(once)
    assert farthest(np.concatenate(result.chains), once.chains) <= 0.1 * RADIUS
    assert largest_fold(result) <= 150.0


@pytest.mark.parametrize("angle", ROTATIONS)
@pytest.mark.parametrize("ratio", RATIOS)
@pytest.mark.parametrize("again", ["once", "twice", "reversed"])
@pytest.mark.parametrize("seed", range(6))
@pytest.mark.parametrize("apart", [16, 18])
def test_two_strokes_ending_together_at_a_sharp_corner_leave_no_stub(apart, seed, again, ratio, angle):
    # Their bands run together far up from the corner, and shaky strokes
    # hardly tell their directions apart at its tip: the skeleton's branch
    # into it is the corner, not an arm, though both strokes end there.
    result = clean(drawn(sketchy_v(apart, 16.0, seed), again), ratio, angle)
    assert shape_of(result) == (1, [1, 1])


@pytest.mark.parametrize("angle", ROTATIONS)
@pytest.mark.parametrize("ratio", RATIOS)
@pytest.mark.parametrize("again", ["once", "twice", "reversed"])
@pytest.mark.parametrize("noded", [False, True])
@pytest.mark.parametrize("gap", [1.2, 1.5, 1.8])
def test_every_stroke_side_by_side_has_a_line_of_its_own(gap, noded, again, ratio, angle):
    # Three streets closer than their bands, crossed by a fourth: the band's
    # skeleton has one line for them, and the outer two get their own, which
    # cross the fourth where the strokes do.
    strokes, _ = side_by_side(gap, 60, noded)
    result = clean(drawn(strokes, again), ratio, angle)
    outer = [s for s in strokes if s[0][1] == s[-1][1] and s[0][1] in (0.0, 2 * gap)]
    samples = np.concatenate([np.array(densified(rotate(s, angle), 0.25)) for s in outer])
    assert farthest(samples, result.chains) <= 0.25 * RADIUS
    assert largest_fold(result) <= 150.0
    junctions = result.nodes[result.junctions]
    for p in rotate(side_by_side(gap, 60, False)[1], angle):  # the outer meetings
        assert np.min(np.hypot(*(junctions - p).T)) <= 0.05 * RADIUS, p
    assert all(len(s) > 0 for s in result.sources)


@pytest.mark.parametrize("angle", ROTATIONS)
@pytest.mark.parametrize("ratio", RATIOS)
@pytest.mark.parametrize("apart", [0.2, 0.3, 0.45])
def test_a_stroke_drawn_over_keeps_its_line_amid_the_copies(apart, ratio, angle):
    # Two copies a little apart are one line drawn twice (a sketch's
    # overdrawn stroke, two traces of one street): its chain runs amid them,
    # not along either copy.
    copies = [[(-12.0, 0.0), (12.0, 0.0)], [(12.0, apart * RADIUS), (-12.0, apart * RADIUS)]]
    result = clean(copies, ratio, angle)
    midline = np.array(densified(rotate([(-13.0, apart * RADIUS / 2), (13.0, apart * RADIUS / 2)], angle), 0.25))
    assert shape_of(result) == (1, [1, 1])
    assert farthest(points_away_from_nodes(result, 1.5 * RADIUS), [midline]) <= 0.08 * RADIUS
