"""The plain JSON stroke format in, and centerlines out as JSON.

A drawing is either a list of curves, each a list of [x, y] points, or an
object with such a list under "strokes" (or "curves", or "chains" as written
below), optionally with "buffer_distance" (or "radius") and "feature_size".
Each curve is its own item. A file holding GeoJSON is read as GeoJSON.

The output is {"radius", "feature_size", "chains", "nodes", "node_kinds",
"degrees", "edges", "lengths", "widths", "sources"} (and "crs" when the input
states one): chains as lists of [x, y], `node_kinds` "junction", "end" or
"node" and `degrees` the chain ends at every node, `edges` the start and end
node of every chain, `widths` per chain point (or null), `sources` the input
items of every chain. Read back, its chains are the strokes.
"""

from __future__ import annotations

import json
import math
import os
from typing import Any, Dict, List, Optional, Union

import numpy as np

from ..geo import node_kinds
from ._drawing import Drawing, DrawingError, as_curve, atomic_write, make_drawing, source_items
from .geojson import from_geojson, load_json


def read_json(source: Union[str, "os.PathLike[str]", Any]) -> Drawing:
    """Read a JSON stroke file (or a GeoJSON one) from a path or a file object."""
    name = os.fspath(source) if isinstance(source, (str, os.PathLike)) else None
    doc = load_json(source)
    if isinstance(doc, dict) and "type" in doc and not any(k in doc for k in ("strokes", "curves", "chains")):
        return from_geojson(doc, name)
    return from_strokes(doc, name)


def from_strokes(doc: Any, name: Optional[str] = None) -> Drawing:
    extra: Dict[str, Any] = {}
    if isinstance(doc, dict):
        strokes = next((doc[k] for k in ("strokes", "curves", "chains") if k in doc), None)
        if strokes is None:
            raise DrawingError('no "strokes", "curves" or "chains" list in the JSON object')
        for key, names in (("radius", ("buffer_distance", "radius")), ("feature_size", ("feature_size",))):
            value = next((doc[k] for k in names if doc.get(k) is not None), None)
            if value is not None:
                if isinstance(value, bool) or not isinstance(value, (int, float)) \
                        or not math.isfinite(value) or value <= 0:
                    raise DrawingError(f'"{names[0]}" must be a positive number, got {value!r}')
                extra[key] = float(value)
    else:
        strokes = doc
    if not isinstance(strokes, list):
        raise DrawingError("the strokes are not a list of curves")
    curves: List[np.ndarray] = []
    items: List[int] = []
    for i, stroke in enumerate(strokes):
        try:
            curve = as_curve(stroke) if len(stroke) else None
        except (ValueError, TypeError) as e:
            raise DrawingError(f"stroke {i}: bad coordinates ({e})") from None
        if curve is not None:
            curves.append(curve)
            items.append(i)
    return make_drawing(curves, items, [{} for _ in strokes], "json", name, **extra)


def to_json_dict(result: Any, drawing: Optional[Drawing] = None) -> Dict[str, Any]:
    widths = getattr(result, "widths", None)
    degree = np.asarray(result.degree)
    doc = {
        "radius": float(result.radius),
        "feature_size": float(result.feature_size),
        "chains": [np.asarray(c).tolist() for c in result.chains],
        "nodes": np.asarray(result.nodes).tolist(),
        "node_kinds": node_kinds(degree).tolist(),
        "degrees": degree.tolist(),
        "edges": np.asarray(result.edges).tolist(),
        "lengths": np.asarray(result.lengths, dtype=np.float64).tolist(),
        "widths": None if widths is None else [np.asarray(w).tolist() for w in widths],
        "sources": source_items(result, drawing),
    }
    crs = getattr(result, "crs", None) or (drawing.crs if drawing is not None else None)
    if crs is not None:
        doc["crs"] = crs if isinstance(crs, str) else crs.to_string()
    return doc


def write_json(result: Any, path: Union[str, "os.PathLike[str]"], drawing: Optional[Drawing] = None) -> None:
    """Write `to_json_dict(result, drawing)` atomically to `path`."""
    doc = to_json_dict(result, drawing)
    with atomic_write(path) as f:
        json.dump(doc, f, separators=(",", ":"))
        f.write("\n")


__all__ = ["from_strokes", "read_json", "to_json_dict", "write_json"]
