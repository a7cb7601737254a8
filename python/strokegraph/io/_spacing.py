"""The band radius of a drawing without stroke widths, from what is drawn.

Strokes that run side by side a short way apart (a street's two carriageways,
a line drawn over twice) are what the bands must bridge, so the radius comes
from the typical spacing between parallel strokes. Two strokes count as such
where they run within 20 degrees of parallel, straight across from each
other, closer than 1/`ASPECT` of both their lengths (two streets of a block
apart run side by side for about as long as they are apart: they do not
count). The curves are sampled finely, and every sample looks for the
nearest such sample of another stroke, or of its own once the stroke has run
`ASPECT` times that distance (a stroke drawn out and back, a spiral). Samples
crowded together are looked at every k-th, so that the work stays bounded
(`PAIR_BUDGET`). When at
least `MIN_SHARE` of the samples find one, the radius is three quarters of
the median of those distances, so that the bands of most such pairs overlap.
Otherwise nothing is drawn twice, and the radius is 1/20 of the median
stroke length.

Neither rule grows with the drawing's extent: a town twice as large, drawn
alike, gets the same radius.
"""

from __future__ import annotations

import math
from typing import List, Sequence, Tuple

import numpy as np

ASPECT = 5.0           # parallel strokes run beside each other at least this many times their spacing
MIN_SHARE = 0.05       # share of the samples that must find a parallel partner
FALLBACK = 1 / 20      # of the median stroke length, when too few do
MAX_SAMPLES = 60_000   # the sampling step grows beyond this many samples
PARALLEL_COS = math.cos(math.radians(20))
ACROSS_SIN = math.sin(math.radians(30))   # partners within 30 degrees of straight across
PAIR_BUDGET = 4_000_000    # candidate pairs looked at, at most about (a town's streets: 2 million)
CHUNK_PAIRS = 1_000_000    # candidate pairs held at once


def spacing_radius(curves: Sequence[np.ndarray]) -> Tuple[float, str]:
    """The band radius and the rule that gave it (see the module's text)."""
    segments = [np.hypot(*np.diff(c, axis=0).T) for c in curves if len(c) > 1]
    curve_lengths = np.array([s[np.isfinite(s)].sum() for s in segments])
    curve_lengths = curve_lengths[curve_lengths > 0]
    if not len(curve_lengths):
        return 1.0, "1 (no strokes to measure)"
    lengths = np.concatenate(segments)
    lengths = lengths[np.isfinite(lengths) & (lengths > 0)]
    typical = float(np.median(curve_lengths))
    reach = typical / ASPECT
    step = max(min(float(np.median(lengths)), reach / 2), float(lengths.sum()) / MAX_SAMPLES)
    xy, tangent, curve, arc = _samples(curves, step)
    distances = _parallel_spacing(xy, tangent, curve, arc, reach)
    found = np.isfinite(distances)
    if found.sum() >= max(MIN_SHARE * len(distances), 3):
        spacing = float(np.median(distances[found]))
        if spacing > 0:
            return 0.75 * spacing, (f"3/4 of the typical spacing of parallel strokes ({spacing:.4g}; "
                                    f"{100 * found.mean():.0f}% of the strokes run beside another)")
    return FALLBACK * typical, (f"1/20 of the median stroke length (fewer than {100 * MIN_SHARE:.0f}% "
                                "of the strokes run beside another)")


def _samples(curves: Sequence[np.ndarray], step: float) -> Tuple[np.ndarray, np.ndarray, np.ndarray, np.ndarray]:
    """Points every `step` along every curve, with the unit direction there,
    the curve's index, and the arc length from the curve's start with the
    curve's length."""
    xy: List[np.ndarray] = []
    lengths: List[np.ndarray] = []
    tangents: List[np.ndarray] = []
    owners: List[np.ndarray] = []
    arcs: List[np.ndarray] = []
    for i, c in enumerate(curves):
        if len(c) < 2:
            continue
        d = np.diff(c, axis=0)
        seg = np.hypot(*d.T)
        ok = np.isfinite(seg) & (seg > 0)
        if not ok.any():
            continue
        start, d, seg = c[:-1][ok], d[ok], seg[ok]
        cum = np.concatenate([[0.0], np.cumsum(seg)])
        s = np.arange(0.0, cum[-1], step) + min(step, cum[-1]) / 2
        s = s[s < cum[-1]]
        k = np.clip(np.searchsorted(cum, s, side="right") - 1, 0, len(seg) - 1)
        t = d[k] / seg[k, None]
        xy.append(start[k] + t * (s - cum[k])[:, None])
        tangents.append(t)
        owners.append(np.full(len(s), i, np.int64))
        arcs.append(s)
        lengths.append(np.full(len(s), cum[-1]))
    if not xy:
        empty = np.zeros((0, 2))
        return empty, empty, np.zeros(0, np.int64), np.zeros((0, 2))
    # arc: the arc length from the curve's start, and the curve's length
    return (np.concatenate(xy), np.concatenate(tangents), np.concatenate(owners),
            np.column_stack([np.concatenate(arcs), np.concatenate(lengths)]))


def _parallel_spacing(xy: np.ndarray, tangent: np.ndarray, curve: np.ndarray, arc: np.ndarray,
                      reach: float) -> np.ndarray:
    """Per queried sample, the distance across to the nearest parallel sample
    of another stretch of stroke within `reach` and 1/ASPECT of both strokes'
    lengths, or inf. Every sample is queried unless the candidate pairs
    exceed `PAIR_BUDGET` (samples crowded into few cells): then every k-th."""
    n = len(xy)
    if n < 2:
        return np.full(n, np.inf)
    lo = xy.min(axis=0)
    # Cells of at least `reach`, so that the 3 x 3 cells around a sample hold
    # all its partners; coarser when the keys would not fit in 64 bits.
    size = max(reach, float((xy.max(axis=0) - lo).max()) / 2e9)
    cell = np.floor((xy - lo) / size).astype(np.int64)
    rows = int(cell[:, 1].max()) + 3
    key = (cell[:, 0] + 1) * rows + (cell[:, 1] + 1)
    order = np.argsort(key, kind="stable")
    sorted_key = key[order]
    neighbours = [dx * rows + dy for dx in (-1, 0, 1) for dy in (-1, 0, 1)]
    counts = sum((np.searchsorted(sorted_key, key + d, side="right")
                  - np.searchsorted(sorted_key, key + d, side="left")) for d in neighbours)
    query = np.arange(0, n, max(1, -(-int(counts.sum()) // PAIR_BUDGET)))
    best = np.full(len(query), np.inf)
    bounds = np.searchsorted(np.cumsum(counts[query]), np.arange(CHUNK_PAIRS, int(counts[query].sum()), CHUNK_PAIRS))
    for chunk in np.split(np.arange(len(query)), np.unique(bounds)):
        p = query[chunk]
        for d in neighbours:
            a = np.searchsorted(sorted_key, key[p] + d, side="left")
            b = np.searchsorted(sorted_key, key[p] + d, side="right")
            m = b - a
            total = int(m.sum())
            if not total:
                continue
            slot = np.repeat(chunk, m)
            pi = query[slot]
            qi = order[np.repeat(a - np.cumsum(m) + m, m) + np.arange(total)]
            offset = xy[qi] - xy[pi]
            dist = np.hypot(offset[:, 0], offset[:, 1])
            along = np.abs((offset * tangent[pi]).sum(axis=1))
            ok = ((curve[qi] != curve[pi]) | (np.abs(arc[qi, 0] - arc[pi, 0]) > ASPECT * dist)) \
                & (np.abs((tangent[qi] * tangent[pi]).sum(axis=1)) >= PARALLEL_COS) \
                & (along <= ACROSS_SIN * dist) & (dist > 0) & (dist <= reach) \
                & (ASPECT * dist <= np.minimum(arc[pi, 1], arc[qi, 1]))
            if ok.any():
                # The distance straight across: the samples need not be abreast.
                across = np.abs(offset[ok, 0] * tangent[pi[ok], 1] - offset[ok, 1] * tangent[pi[ok], 0])
                np.minimum.at(best, slot[ok], across)
    return best
