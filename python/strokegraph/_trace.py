"""The one place where the file, command-line and Dask layers call the tracer.

`trace` traces one drawing; `trace_many` many at once on the native worker
pool (the batch), with the interpreter lock released. Both return
`Centerlines`, and `trace_many` the same ones as `trace` drawing by drawing.
"""

from __future__ import annotations

import importlib
import math
from typing import Any, List, Optional, Sequence, Tuple


def trace(curves: Any, radius: float, **options: Any) -> Any:
    """`strokegraph.centerlines(curves, radius, **options)`."""
    return _centerlines()(curves, radius, **options)


def trace_many(drawings: Sequence[Any], radii: Sequence[float], **options: Any) -> List[Any]:
    """One `Centerlines` per drawing, in order; `options` as for `centerlines`."""
    parts = _batch_parts()
    if parts is None or options.get("per_curve_widths") is not None or options.get("progress") is not None:
        run = _centerlines()
        return [run(curves, r, **options) for curves, r in zip(drawings, radii)]
    batch, wrap, normalise = parts
    for r in radii:  # the checks and messages of single calls
        if not (math.isfinite(r) and r > 0):
            _centerlines()([], r, **options)
    fs = options.pop("feature_size", None)
    fs = None if fs is None else float(fs)
    prepared = [normalise(curves) for curves in drawings]
    jobs = [dict(options, curves=curves, radius=float(r), feature_size=fs)
            for (curves, _), r in zip(prepared, radii)]
    raws = batch(jobs)
    return [wrap(raw, curves, owners, float(r), fs) for raw, (curves, owners), r in zip(raws, prepared, radii)]


def _centerlines() -> Any:
    return importlib.import_module("strokegraph.api").centerlines


def _batch_parts() -> Optional[Tuple[Any, Any, Any]]:
    """The native batch, the wrapper of its results and the input normaliser, when all exist."""
    try:
        native = importlib.import_module("strokegraph._native")
        api = importlib.import_module("strokegraph.api")
        inputs = importlib.import_module("strokegraph._inputs")
    except ImportError:
        return None
    batch = getattr(getattr(native, "_core", None), "centerlines_batch", None)
    wrap = getattr(api, "wrap", None)
    return None if batch is None or wrap is None else (batch, wrap, inputs.normalise)
