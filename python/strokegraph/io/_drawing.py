"""The `Drawing` read from a file, and the helpers every reader and writer shares."""

from __future__ import annotations

import math
import os
import tempfile
from contextlib import contextmanager
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Dict, Iterator, List, Optional, Sequence, Tuple

import numpy as np

from ._spacing import spacing_radius


# A radius taken from a file is at least this fraction of the drawing's diagonal.
MIN_RADIUS_FRACTION = 1e-4


class DrawingError(ValueError):
    """A file that holds no drawing: unreadable, malformed or empty. The message says why."""


@dataclass
class Drawing:
    """Curves read from a file, with the item each came from.

    - `curves`: (k, 2) float64 arrays, k >= 2, in file order.
    - `items`: (len(curves),) int64, the item (SVG element, GeoJSON feature,
      JSON stroke) of every curve; items are numbered in file order.
    - `properties`: one dict per item (GeoJSON properties; for SVG the tag,
      id, stroke colour and stroke width; empty for JSON strokes).
    - `stroke_widths`: per curve, the stroke width in drawing units (SVG
      only; NaN where the element has no stroke), else None.
    - `caps`: per curve, the stroke's line cap ("round", "square" or "butt";
      SVG only, "butt" where the file says nothing, as SVG draws it), else
      None; ``centerlines(drawing.curves, r, caps=drawing.caps)`` bands each
      stroke with its own caps.
    - `radius`, `feature_size`: the values stated in the file (JSON), else None.
    - `y_down`: True when y grows downwards (SVG), which pictures respect.
    - `crs`: the coordinate reference system the file states (a GeoJSON
      ``crs`` member's name, a pyproj CRS for GIS files), else None.
    - `columns`: the items' attributes as a pandas DataFrame with the file's
      dtypes (GIS files), else None.
    """

    curves: List[np.ndarray]
    items: np.ndarray
    properties: List[Dict[str, Any]]
    format: str
    stroke_widths: Optional[np.ndarray] = None
    caps: Optional[List[str]] = None
    radius: Optional[float] = None
    feature_size: Optional[float] = None
    y_down: bool = False
    path: Optional[str] = None
    skipped: Dict[str, int] = field(default_factory=dict)
    crs: Any = None
    columns: Any = None

    @property
    def point_count(self) -> int:
        return int(sum(len(c) for c in self.curves))

    @property
    def extent(self) -> Tuple[float, float, float, float]:
        """(xmin, ymin, xmax, ymax) of all points."""
        pts = np.concatenate(self.curves)
        lo, hi = pts.min(axis=0), pts.max(axis=0)
        return float(lo[0]), float(lo[1]), float(hi[0]), float(hi[1])

    def suggested_radius(self) -> Tuple[float, str]:
        """The band radius to trace with, and where it comes from.

        The file's own radius if it states one; else half the median stroke
        width (weighted by curve length); else, from the strokes themselves,
        3/4 of the typical spacing between parallel strokes, or 1/20 of the
        median stroke length where few strokes run side by side (see
        ``io._spacing``; neither grows with the drawing's extent).
        A file's radius or widths, or the spacing of its strokes, never take
        it below 1/10000 of the diagonal (a hair-thin stroke width would make a
        tiny file trace for minutes).
        """
        x0, y0, x1, y1 = self.extent
        diagonal = math.hypot(x1 - x0, y1 - y0)
        floor = diagonal * MIN_RADIUS_FRACTION if math.isfinite(diagonal) else 0.0

        def at_least_floor(radius: float, how: str) -> Tuple[float, str]:
            if radius < floor:
                return floor, f"{how}, raised to 1/{round(1 / MIN_RADIUS_FRACTION)} of the drawing's diagonal"
            return radius, how

        if self.radius is not None:
            return at_least_floor(self.radius, "stated in the file")
        if self.stroke_widths is not None:
            ok = np.isfinite(self.stroke_widths) & (self.stroke_widths > 0)
            if ok.any():
                widths = self.stroke_widths[ok]
                lengths = np.array([curve_length(c) for c, k in zip(self.curves, ok) if k])
                return at_least_floor(weighted_median(widths, lengths) / 2, "half the median stroke width")
        return at_least_floor(*spacing_radius(self.curves))


def curve_length(c: np.ndarray) -> float:
    return float(np.hypot(*np.diff(c, axis=0).T).sum()) if len(c) > 1 else 0.0


def weighted_median(values: np.ndarray, weights: np.ndarray) -> float:
    order = np.argsort(values, kind="stable")
    v, w = values[order], weights[order]
    if w.sum() <= 0:
        return float(v[len(v) // 2])
    cum = np.cumsum(w)
    return float(v[np.searchsorted(cum, cum[-1] / 2)])


def make_drawing(curves: Sequence[np.ndarray], items: Sequence[int], properties: List[Dict[str, Any]],
                 fmt: str, path: Optional[str], **extra: Any) -> Drawing:
    """Check the curves and build the `Drawing`; a file without any is a `DrawingError`."""
    for i, c in enumerate(curves):
        if not np.isfinite(c).all():
            raise DrawingError(f"curve {i} has a coordinate that is not a finite number")
    if not curves:
        raise DrawingError("no curves in the file")
    return Drawing(curves=list(curves), items=np.asarray(items, dtype=np.int64), properties=properties,
                   format=fmt, path=path, **extra)


def as_curve(points: Any) -> Optional[np.ndarray]:
    """A (k, 2) float64 array of the x, y of `points` without repeated
    consecutive points, or None when fewer than two distinct points remain."""
    a = np.asarray(points, dtype=np.float64)
    if a.ndim != 2 or a.shape[1] < 2:
        raise DrawingError(f"expected a list of [x, y] points, got an array of shape {a.shape}")
    a = np.ascontiguousarray(a[:, :2])
    if len(a) > 1:
        keep = np.ones(len(a), dtype=bool)
        keep[1:] = (a[1:] != a[:-1]).any(axis=1)
        a = a[keep]
    return a if len(a) >= 2 else None


def source_items(result: Any, drawing: Optional[Drawing]) -> List[List[int]]:
    """Per chain, the sorted items (of `drawing`) whose curves cover it."""
    out = []
    for src in result.sources:
        src = np.asarray(src, dtype=np.int64)
        out.append(np.unique(drawing.items[src]).tolist() if drawing is not None else src.tolist())
    return out


def mean_widths(result: Any) -> List[Optional[float]]:
    widths = getattr(result, "widths", None)
    if widths is None:
        return [None] * len(result.chains)
    return [float(np.mean(w)) if len(w) else None for w in widths]


@contextmanager
def atomic_write(path: Any, mode: str = "w") -> Iterator[Any]:
    """Open a temporary file beside `path`; rename it over `path` when the block
    completes, remove it when the block fails or is interrupted."""
    target = Path(path)
    fd, tmp = tempfile.mkstemp(dir=target.parent, prefix=f".{target.name}.", suffix=".tmp")
    try:
        with os.fdopen(fd, mode, encoding=None if "b" in mode else "utf-8") as f:
            yield f
        os.chmod(tmp, 0o666 & ~_UMASK)
        os.replace(tmp, target)
    except BaseException:
        try:
            os.unlink(tmp)
        except OSError:
            pass
        raise


def _read_umask() -> int:
    mask = os.umask(0o022)
    os.umask(mask)
    return mask


_UMASK = _read_umask()  # mkstemp creates 0600 files; finished ones get the usual mode
