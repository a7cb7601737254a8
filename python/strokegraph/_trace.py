"""The one place where the file, command-line and Dask layers call the tracer.

`trace` traces one drawing and `trace_many` many on the native worker pool;
both return `Centerlines` objects.
"""

from __future__ import annotations

from typing import Any, List, Sequence


def trace(curves: Sequence[Any], radius: float, **options: Any) -> Any:
    """`strokegraph.centerlines(curves, radius, **options)`."""
    return _centerlines()(curves, radius, **options)


def trace_many(drawings: Sequence[Sequence[Any]], radii: Sequence[float], **options: Any) -> List[Any]:
    """One `Centerlines` per drawing, in order."""
    run = _centerlines()
    return [run(curves, float(r), **options) for curves, r in zip(drawings, radii)]


def _centerlines() -> Any:
    try:
        from . import centerlines  # type: ignore[attr-defined,unused-ignore]
    except ImportError:
        from ._standin import stand_in

        return stand_in
    return centerlines
