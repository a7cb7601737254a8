"""The one place where the Python layer calls the native centerline pipeline.

`run_native` returns the pipeline's flat result: seven `bytes` objects (or None
for the widths) holding native float64 / int64 values, read with
`numpy.frombuffer`:

    points          float64, 2 per point, all chains concatenated
    offsets         int64, m + 1 chain start offsets into the points
    nodes           float64, 2 per node
    edges           int64, 2 per chain (start node, end node)
    widths          float64 per point, or None unless compute_widths
    source_index    int64, per chain the sorted indices of its input curves
    source_offsets  int64, m + 1 offsets into source_index

It is the native module `_core` when the package has one; otherwise the exact
low-level `topologize`, wrapped into that format, with provenance estimated
from the chain midpoints.
"""

from __future__ import annotations

import importlib
import math
from collections.abc import Callable, Sequence
from types import ModuleType
from typing import Any, Optional

import numpy as np
import numpy.typing as npt

from . import _internal

Progress = Callable[[str, float], None]
NativeResult = tuple[bytes, bytes, bytes, bytes, Optional[bytes], bytes, bytes]


def _load_core() -> Optional[ModuleType]:
    try:
        return importlib.import_module("strokegraph._core")
    except ImportError:
        return None


_core = _load_core()


def default_feature_size(radius: float) -> float:
    """The feature size used when the caller gives none."""
    if _core is not None and hasattr(_core, "default_feature_size"):
        return float(_core.default_feature_size(radius))
    return float(radius)


def run_native(
    curves: Sequence[npt.NDArray[np.float64]],
    radius: float,
    feature_size: Optional[float],
    options: dict[str, Any],
    progress: Optional[Progress],
) -> NativeResult:
    """Run the pipeline on normalised curves (C-contiguous float64 (k, 2) arrays).

    `options` holds the keyword options of `centerlines` by name; `progress`
    is told when the pipeline starts and when it is done.
    """
    if progress is not None:
        progress("centerlines", 0.0)
    result: NativeResult
    if _core is not None:
        result = _core.centerlines(curves, radius, feature_size, **options)
    else:
        result = _topologize_flat(curves, radius, feature_size, **options)
    if progress is not None:
        progress("centerlines", 1.0)
    return result


def _topologize_flat(
    curves: Sequence[npt.NDArray[np.float64]],
    radius: float,
    feature_size: Optional[float],
    *,
    simplification: Any = None,
    min_tip_fraction: Any = None,
    junction_merge_fraction: Any = None,
    per_curve_widths: Any = None,
    compute_widths: Any = False,
    subdivision_ratio: Any = None,
    max_nodes: Any = None,
    resample: Any = None,
    boundary_simplification: Any = None,
    merge_tolerance: Any = None,
    clean: bool = True,
) -> NativeResult:
    fs = default_feature_size(radius) if feature_size is None else feature_size
    chains, nodes, ids, widths = _internal.topologize(
        [list(map(tuple, c.tolist())) for c in curves],
        radius,
        fs,
        simplification,
        min_tip_fraction,
        junction_merge_fraction,
        per_curve_widths,
        compute_widths,
        subdivision_ratio,
        max_nodes,
        resample,
        boundary_simplification,
        merge_tolerance,
    )
    offsets = np.zeros(len(chains) + 1, np.int64)
    np.cumsum([len(c) for c in chains], out=offsets[1:])
    points = np.array([p for c in chains for p in c], np.float64).reshape(-1, 2)
    node_arr = np.array(nodes, np.float64).reshape(-1, 2)
    edges = np.array(ids, np.int64).reshape(-1, 2)
    flat_widths = np.array([w for ws in widths for w in ws], np.float64) if compute_widths else None
    source_index, source_offsets = _midpoint_sources(curves, points, offsets, float(radius))
    return (
        points.tobytes(),
        offsets.tobytes(),
        node_arr.tobytes(),
        edges.tobytes(),
        None if flat_widths is None else flat_widths.tobytes(),
        source_index.tobytes(),
        source_offsets.tobytes(),
    )


def _midpoint_sources(
    curves: Sequence[npt.NDArray[np.float64]],
    points: npt.NDArray[np.float64],
    offsets: npt.NDArray[np.int64],
    radius: float,
) -> tuple[npt.NDArray[np.int64], npt.NDArray[np.int64]]:
    """Per chain, the curves within `radius` of the chain's middle point.

    An estimate (all pairs, meant for small drawings): left empty when the
    drawing is large.
    """
    m = len(offsets) - 1
    segments = [np.stack([c[:-1], c[1:]], axis=1) for c in curves if len(c) >= 2]
    owner = [i for i, c in enumerate(curves) for _ in range(max(len(c) - 1, 0))]
    single = [(i, c[0]) for i, c in enumerate(curves) if len(c) == 1]
    if m == 0 or m * (len(owner) + len(single)) > 20_000_000 or not math.isfinite(radius):
        return np.zeros(0, np.int64), np.zeros(m + 1, np.int64)
    a = np.concatenate(segments + [np.stack([p, p])[None] for _, p in single]).reshape(-1, 2, 2)
    seg_owner = np.array(owner + [i for i, _ in single], np.int64)
    mids = (points[(offsets[:-1] + offsets[1:] - 1) // 2] + points[(offsets[:-1] + offsets[1:]) // 2]) / 2
    start, d = a[:, 0], a[:, 1] - a[:, 0]
    dd = np.einsum("ij,ij->i", d, d)
    index: list[int] = []
    source_offsets = np.zeros(m + 1, np.int64)
    for i, p in enumerate(mids):
        t = np.einsum("ij,ij->i", p - start, d) / np.where(dd > 0, dd, 1.0)
        foot = start + np.clip(t, 0.0, 1.0)[:, None] * d
        dist2 = np.einsum("ij,ij->i", p - foot, p - foot)
        near = np.unique(seg_owner[dist2 <= (radius * 1.001) ** 2])
        index.extend(near.tolist())
        source_offsets[i + 1] = len(index)
    return np.array(index, np.int64), source_offsets
