"""Quality of an output graph against the ground truth.

- Distances in both directions: both sides are sampled every `SAMPLE` of arc
  length (vertices kept), and each sample's distance to the nearest sample of
  the other side is taken (a k-d tree; the sampling error is at most SAMPLE/2).
  Reported: mean and 95th percentile of output->truth (are the lines where they
  belong?) and truth->output (is every true line found?).
- Junctions (degree >= 3) and free ends (degree 1) are matched one to one,
  greedily by increasing distance, within 1.5 x buffer radius; precision is
  matched / output count, recall matched / truth count.
"""

from __future__ import annotations

import math
from typing import Dict, List, Optional, Sequence, Tuple

import numpy as np
from scipy.spatial import cKDTree

SAMPLE = 0.05  # in units of the buffer radius


def sample_lines(lines: Sequence[Sequence[Sequence[float]]], step: float) -> np.ndarray:
    chunks = []
    for line in lines:
        p = np.asarray(line, dtype=float)
        if len(p) == 0:
            continue
        chunks.append(p[:1])
        if len(p) < 2:
            continue
        d = p[1:] - p[:-1]
        seg = np.hypot(d[:, 0], d[:, 1])
        n = np.maximum(1, np.ceil(seg / step)).astype(int)
        idx = np.repeat(np.arange(len(seg)), n)
        t = (np.arange(n.sum()) - np.repeat(np.cumsum(n) - n, n) + 1) / np.repeat(n, n)
        chunks.append(p[idx] + d[idx] * t[:, None])
    return np.concatenate(chunks) if chunks else np.zeros((0, 2))


def _stats(d: np.ndarray) -> Dict[str, Optional[float]]:
    if len(d) == 0:
        return {"mean": None, "p95": None}
    return {"mean": float(d.mean()), "p95": float(np.percentile(d, 95))}


def match_pairs(found: Sequence[Sequence[float]], truth: Sequence[Sequence[float]], radius: float) -> List[Tuple[int, int]]:
    """The one-to-one matching: (found index, truth index) pairs, taken
    greedily by increasing distance within `radius`."""
    pairs = []
    if len(found) and len(truth):
        tree = cKDTree(np.asarray(truth, dtype=float))
        for i, near in enumerate(tree.query_ball_point(np.asarray(found, dtype=float), radius)):
            for j in near:
                pairs.append((math.dist(found[i], truth[j]), i, j))
    pairs.sort()
    used_f, used_t = set(), set()
    out = []
    for _, i, j in pairs:
        if i not in used_f and j not in used_t:
            used_f.add(i)
            used_t.add(j)
            out.append((i, j))
    return out


def match(found: Sequence[Sequence[float]], truth: Sequence[Sequence[float]], radius: float) -> Dict:
    m = len(match_pairs(found, truth, radius))
    return {"found": len(found), "truth": len(truth), "matched": m,
            "precision": m / len(found) if found else None,
            "recall": m / len(truth) if truth else None}


def score(output: Dict, truth: Dict, buffer_distance: float) -> Dict:
    step = SAMPLE * buffer_distance
    out = sample_lines(output["lines"], step)
    tru = sample_lines(truth["segments"], step)
    res = {"output_points": int(len(out))}
    if len(out) and len(tru):
        res["out_to_truth"] = _stats(cKDTree(tru).query(out)[0])
        res["truth_to_out"] = _stats(cKDTree(out).query(tru)[0])
    else:
        res["out_to_truth"] = _stats(np.zeros(0))
        res["truth_to_out"] = _stats(np.zeros(0))
    radius = 1.5 * buffer_distance
    res["junctions"] = match(output["junctions"], truth["junctions"], radius)
    res["endpoints"] = match(output["endpoints"], truth["endpoints"], radius)
    return res
