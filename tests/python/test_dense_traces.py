"""Many noisy traces along the same streets: the clean pipeline's bands are cut
into pieces without holes and united in neighbourly groups; tiled or whole,
at any worker count, the graph is the streets'."""

from __future__ import annotations

import os
import subprocess
import sys

import numpy as np
import pytest

import strokegraph

BLOCK, RADIUS = 40.0, 1.5

# Street grids of n x n crossings, ten traces of 4-10 blocks per street, a
# point every unit with N(0, 0.35) noise (as bench/workloads.py dense).
GRID = """
def grid(n, seed, block={block}):
    rng = np.random.default_rng(seed)
    covered, curves = set(), []
    while len(curves) < 10 * 2 * n * (n - 1) // 7:
        cur, prev, corners = (int(rng.integers(n)), int(rng.integers(n))), None, []
        corners.append(cur)
        for _ in range(int(rng.integers(4, 11))):
            options = [(cur[0] + a, cur[1] + b) for a, b in ((1, 0), (-1, 0), (0, 1), (0, -1))]
            options = [k for k in options if 0 <= k[0] < n and 0 <= k[1] < n and k != prev]
            nxt = options[int(rng.integers(len(options)))]
            covered.add(tuple(sorted((cur, nxt))))
            prev, cur = cur, nxt
            corners.append(cur)
        pts = [np.linspace(np.array(a) * block, np.array(b) * block, int(block) + 1)[:-1]
               for a, b in zip(corners, corners[1:])] + [np.array([corners[-1]]) * block]
        curves.append(np.concatenate(pts) + rng.normal(0, 0.35, (sum(map(len, pts)), 2)))
    return curves, covered
""".format(block=BLOCK)
namespace: dict = {"np": np}
exec(GRID, namespace)
grid = namespace["grid"]


def truth_counts(n, covered):
    degree: dict = {}
    for a, b in covered:
        degree[a] = degree.get(a, 0) + 1
        degree[b] = degree.get(b, 0) + 1
    return (sum(d >= 3 for d in degree.values()), sum(d == 1 for d in degree.values()))


def counts(g):
    return len(g.chains), len(g.junctions), len(g.ends)


@pytest.mark.parametrize("n, seed", [(4, 0), (5, 1), (5, 2)])
def test_the_streets_whole_and_tiled(n, seed):
    curves, covered = grid(n, seed)
    whole = strokegraph.centerlines(curves, RADIUS, tiles=False)
    assert (len(whole.junctions), len(whole.ends)) == truth_counts(n, covered)
    # Tiles of one block, of an odd size, and of the automatic side: the
    # untiled graph (no spurs fanning into the blocks).
    for tiles in (BLOCK, 37.3, True, None):
        tiled = strokegraph.centerlines(curves, RADIUS, tiles=tiles)
        assert counts(tiled) == counts(whole), tiles
    # Square caps band the same streets.
    assert counts(strokegraph.centerlines(curves, RADIUS, tiles=False, caps="square")) == counts(whole)


def test_a_loop_drawn_in_one_stroke_keeps_its_hole():
    # One trace round a block and on: its band has a hole, which the pieces
    # must leave open, tiled or not.
    rng = np.random.default_rng(4)
    corners = np.array([(0, 0), (40, 0), (40, 40), (0, 40), (0, 0), (40, 0), (80, 0)], float)
    pts = np.concatenate([np.linspace(a, b, 41)[:-1] for a, b in zip(corners, corners[1:])] + [corners[-1:]])
    curve = pts + rng.normal(0, 0.2, pts.shape)
    for tiles in (False, 20.0):
        g = strokegraph.centerlines([curve], RADIUS, tiles=tiles)
        # The block's loop from the junction at (40, 0) and the tail on.
        assert (len(g.chains), len(g.junctions), len(g.ends), len(g.loops)) == (2, 1, 1, 1)


def test_identical_for_every_worker_count():
    script = ("import hashlib, numpy as np, strokegraph\n" + GRID +
              "curves, _ = grid(6, 3)\n"
              "for tiles in (False, None, True):\n"
              "    g = strokegraph.centerlines(curves, 1.5, tiles=tiles)\n"
              "    h = hashlib.sha256(np.concatenate(g.chains).tobytes() + g.nodes.tobytes() + g.edges.tobytes())\n"
              "    print(len(g.chains), h.hexdigest())\n")
    outputs = {
        subprocess.run([sys.executable, "-c", script], env=dict(os.environ, RAYON_NUM_THREADS=n),
                       capture_output=True, text=True, check=True, timeout=300).stdout
        for n in ("1", "2", "3")
    }
    assert len(outputs) == 1


def test_hatching_drawn_over_one_strip_is_one_stroke():
    # Hundreds of wavy strokes over one strip overlap so heavily that their
    # bands are united from the distance to them: whole or in tiles, one
    # chain along the strip, as with square caps (offset bands).
    curves = [[(i, 4 * np.sin(0.37 * i + k)) for i in range(160)] for k in range(60)]
    graphs = [strokegraph.centerlines(curves, RADIUS, tiles=t) for t in (None, False, True, 40.0)]
    graphs.append(strokegraph.centerlines(curves, RADIUS, caps="square"))
    for g in graphs:
        assert (len(g.chains), len(g.junctions), len(g.ends)) == (1, 0, 2)
        ends = sorted(np.asarray(g.chains[0])[[0, -1], 0])
        assert ends[0] < 10 and ends[1] > 149
