# mypy: ignore-errors
"""Stand-in for `centerlines` until the API lands; deleted then."""

from typing import Optional

import numpy as np



class _StandIn:
    def __init__(self, curves, radius, feature_size, compute_widths):
        from ._internal import topologize

        tuples = [[(float(x), float(y)) for x, y in np.asarray(c, dtype=np.float64).reshape(-1, 2)]
                  for c in curves]
        chains, nodes, ids, widths = topologize(tuples, radius, feature_size, compute_widths=compute_widths)
        self.radius = float(radius)
        self.feature_size = float(feature_size)
        self.chains = [np.asarray(c, dtype=np.float64).reshape(-1, 2) for c in chains]
        self.nodes = np.asarray(nodes, dtype=np.float64).reshape(-1, 2)
        self.edges = np.asarray(ids, dtype=np.int64).reshape(-1, 2)
        self.widths = [np.asarray(w, dtype=np.float64) for w in widths] if compute_widths else None
        self.degree = np.bincount(self.edges.ravel(), minlength=len(self.nodes)).astype(np.int64)
        self.junctions = np.flatnonzero(self.degree >= 3)
        self.ends = np.flatnonzero(self.degree == 1)
        self.lengths = np.array([np.hypot(*np.diff(c, axis=0).T).sum() for c in self.chains])
        cell = 1.5 * radius
        grid = {}
        for i, t in enumerate(tuples):
            for key in map(tuple, np.floor(_dense(np.asarray(t).reshape(-1, 2), radius / 2) / cell).astype(np.int64).tolist()):
                grid.setdefault(key, set()).add(i)
        self.sources = []
        for c in self.chains:
            votes = {}
            keys = np.floor(c / cell).astype(np.int64).tolist()
            for kx, ky in keys:
                near = set()
                for dx in (-1, 0, 1):
                    for dy in (-1, 0, 1):
                        near |= grid.get((kx + dx, ky + dy), set())
                for i in near:
                    votes[i] = votes.get(i, 0) + 1
            self.sources.append(np.array(sorted(i for i, v in votes.items() if v > len(keys) / 2), dtype=np.int64))

    def plot(self, ax=None, *, show_input=False, show_bands=False):
        for c in self.chains:
            ax.plot(c[:, 0], c[:, 1], "-", color="tab:blue")
        ax.plot(self.nodes[self.junctions, 0], self.nodes[self.junctions, 1], "o", color="tab:red")
        ax.plot(self.nodes[self.ends, 0], self.nodes[self.ends, 1], "s", color="tab:green")
        ax.set_aspect("equal")
        return ax


def _dense(a, step):
    if len(a) < 2:
        return a
    out = [a[:1]]
    for p, q in zip(a[:-1], a[1:]):
        n = max(1, int(np.ceil(np.hypot(*(q - p)) / step)))
        out.append(p + (q - p) * (np.arange(1, n + 1) / n)[:, None])
    return np.concatenate(out)


def stand_in(curves, radius, *, feature_size: Optional[float] = None, compute_widths=False, **_):
    return _StandIn(curves, radius, radius if feature_size is None else feature_size, compute_widths)
