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

import re

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


# Numbers the core writes out in full ("0.000...0005" for 5e-324): in
# messages they read in Python's own shortest form.
_LONG_NUMBER = re.compile(r"-?\d{17,}(?:\.\d+)?|-?\d+\.\d{12,}")


def run_native(
    curves: Sequence[npt.NDArray[np.float64]],
    radius: float,
    feature_size: Optional[float],
    options: dict[str, Any],
    progress: Optional[Progress],
) -> NativeResult:
    """Run the pipeline on normalised curves (C-contiguous float64 (k, 2) arrays).

    `options` holds the keyword options of `centerlines` by name. `progress`
    hears ("start", 0.0), then the native stages (at most about ten times a
    second, on this thread), then ("done", 1.0); an exception it raises
    cancels the call and propagates.
    """
    if progress is not None:
        progress("start", 0.0)
    try:
        result: NativeResult = _core.centerlines(curves, radius, feature_size, progress=progress, **options)
    except (MemoryError, ValueError) as e:
        text = str(e)
        if not text and isinstance(e, MemoryError):
            # The allocator's own failure says nothing: say what ran out.
            points = sum(len(c) for c in curves)
            text = f"out of memory tracing {len(curves)} curves of {points} points (radius {radius!r})"
        short = _LONG_NUMBER.sub(lambda m: repr(float(m.group())), text)
        if short == str(e):
            raise
        raise type(e)(short) from None
    if progress is not None:
        progress("done", 1.0)
    return result
