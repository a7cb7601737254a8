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

The native module is `_core`; `_internal` stays the exact low-level layer.
"""

from __future__ import annotations

from collections.abc import Callable, Sequence
from typing import Any, Optional

import numpy as np
import numpy.typing as npt

from . import _core

Progress = Callable[[str, float], None]
NativeResult = tuple[bytes, bytes, bytes, bytes, Optional[bytes], bytes, bytes]


def default_feature_size(radius: float) -> float:
    """The feature size the native pipeline uses when the caller gives none."""
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
    result: NativeResult = _core.centerlines(curves, radius, feature_size, **options)
    if progress is not None:
        progress("centerlines", 1.0)
    return result
