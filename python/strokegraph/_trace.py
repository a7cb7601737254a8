"""The one place where the file, command-line and Dask layers call the tracer.

`trace` traces one drawing; `trace_many` many at once on the native worker
pool (the batch), with the interpreter lock released. Both return
`Centerlines`, and `trace_many` the same ones as `trace` drawing by drawing.
"""

from __future__ import annotations

import math
from typing import Any, List, Sequence

from . import _core
from ._inputs import normalise
from .api import centerlines, wrap
from .result import Centerlines


def trace(curves: Any, radius: float, **options: Any) -> Centerlines:
    """`strokegraph.centerlines(curves, radius, **options)`."""
    return centerlines(curves, radius, **options)


def trace_many(drawings: Sequence[Any], radii: Sequence[float], **options: Any) -> List[Centerlines]:
    """One `Centerlines` per drawing, in order; `options` as for `centerlines`."""
    per_curve_caps = not isinstance(options.get("caps"), (str, type(None)))
    if options.get("per_curve_widths") is not None or options.get("progress") is not None or per_curve_caps:
        return [centerlines(curves, r, **options) for curves, r in zip(drawings, radii)]
    for r in radii:  # the checks and messages of single calls
        if not (math.isfinite(r) and r > 0):
            centerlines([], r, **options)
    fs = options.pop("feature_size", None)
    fs = None if fs is None else float(fs)
    prepared = [normalise(curves) for curves in drawings]
    jobs = [dict(options, curves=curves, radius=float(r), feature_size=fs)
            for (curves, _), r in zip(prepared, radii)]
    raws = _core.centerlines_batch(jobs)
    return [wrap(raw, curves, owners, float(r), fs) for raw, (curves, owners), r in zip(raws, prepared, radii)]
