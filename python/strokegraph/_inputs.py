"""Normalisation of the drawings `centerlines` accepts into float64 curves.

Accepted: a sequence (or other iterable) of items, each a curve given as a
sequence of (x, y) points or an (n, 2) array of any real dtype, a shapely
geometry, or a GeoJSON geometry / Feature dict; or, as the whole drawing, one
shapely geometry or one GeoJSON geometry / Feature / FeatureCollection dict.

Every curve becomes a C-contiguous float64 (k, 2) array. `owners[j]` is the
index of the caller's top-level item that curve j came from: the item of a
sequence, the member of a collection geometry (Multi* or GeometryCollection),
the feature of a FeatureCollection, or 0 for a single geometry or Feature.
"""

from __future__ import annotations

from collections.abc import Iterable, Mapping
from typing import Any

import numpy as np
import numpy.typing as npt

Curve = npt.NDArray[np.float64]

_COLLECTIONS = ("MultiLineString", "MultiPolygon", "GeometryCollection", "MultiPoint")
_GEOJSON_TYPES = (
    "Point",
    "MultiPoint",
    "LineString",
    "MultiLineString",
    "Polygon",
    "MultiPolygon",
    "GeometryCollection",
    "Feature",
    "FeatureCollection",
)


def normalise(drawing: Any) -> tuple[list[Curve], npt.NDArray[np.int64]]:
    """The curves of `drawing` and, per curve, the index of its top-level item."""
    if _is_shapely(drawing):
        items: Iterable[Any] = _shapely_members(drawing)
    elif isinstance(drawing, Mapping):
        items = _geojson_members(drawing)
    elif hasattr(drawing, "__geo_interface__") and not isinstance(drawing, np.ndarray):
        items = _geojson_members(drawing.__geo_interface__)
    elif isinstance(drawing, (str, bytes, bytearray)) or not isinstance(drawing, Iterable):
        raise TypeError(
            "curves must be a sequence of curves, a shapely geometry or a GeoJSON dict, "
            f"got {type(drawing).__name__}"
        )
    else:
        items = drawing
    curves: list[Curve] = []
    owners: list[int] = []
    for i, item in enumerate(items):
        for curve in _item_curves(item, i):
            curves.append(curve)
            owners.append(i)
    return curves, np.array(owners, np.int64)


def _item_curves(item: Any, index: int) -> list[Curve]:
    if type(item) is list or type(item) is tuple:  # the common case first
        return [_sequence_curve(item, index)]
    if isinstance(item, np.ndarray):
        return [_array_curve(item, index)]
    if _is_shapely(item):
        return _shapely_curves(item, index)
    if isinstance(item, Mapping):
        return _geojson_curves(item, index)
    if hasattr(item, "__geo_interface__"):
        return _geojson_curves(item.__geo_interface__, index)
    if isinstance(item, (str, bytes, bytearray)) or not isinstance(item, Iterable):
        raise TypeError(f"curve {index}: expected a sequence of (x, y) points, got {type(item).__name__}")
    return [_sequence_curve(item if hasattr(item, "__len__") else list(item), index)]


def _sequence_curve(item: Any, index: int) -> Curve:
    try:
        array = np.asarray(item)
    except ValueError:
        raise ValueError(f"curve {index}: points must all be (x, y) pairs of numbers; the sequence is ragged") from None
    return _array_curve(array, index)


def _array_curve(array: npt.NDArray[Any], index: int, *, drop_z: bool = False) -> Curve:
    if array.dtype == np.float64 and array.ndim == 2 and array.shape[1] == 2 and array.shape[0] \
            and array.flags.c_contiguous:
        return array  # already what the pipeline reads
    widths = (2, 3) if drop_z else (2,)
    if array.ndim == 2 and array.shape[1] in widths:
        if array.shape[0] == 0:
            return np.zeros((0, 2), np.float64)
    elif array.ndim == 1 and array.shape[0] == 0:
        return np.zeros((0, 2), np.float64)
    else:
        hint = "; put a single curve in a list of curves" if array.shape == (2,) else ""
        raise ValueError(f"curve {index}: expected points of shape (n, 2), got an array of shape {array.shape}{hint}")
    if array.dtype.kind not in "iufO":
        raise TypeError(f"curve {index}: coordinates must be real numbers, got dtype {array.dtype}")
    if array.dtype.kind != "O":
        return np.ascontiguousarray(array[:, :2], dtype=np.float64)
    # Python objects: converted one by one like the low-level call does (numpy
    # would read None as NaN and parse strings)
    values = array[:, :2].ravel().tolist()
    for v in values:
        if isinstance(v, (str, bytes)) or not hasattr(v, "__float__") and not hasattr(v, "__index__"):
            raise TypeError(f"curve {index}: coordinates must be real numbers, got {type(v).__name__}")
    return np.array([float(v) for v in values], np.float64).reshape(-1, 2)


# ---------------------------------------------------------------- shapely

def _is_shapely(obj: Any) -> bool:
    return type(obj).__module__.startswith("shapely.") and hasattr(obj, "geom_type")


def _shapely_members(geometry: Any) -> list[Any]:
    if geometry.geom_type in _COLLECTIONS:
        return list(geometry.geoms)
    return [geometry]


def _shapely_curves(geometry: Any, index: int) -> list[Curve]:
    import shapely

    kind = geometry.geom_type
    if geometry.is_empty:
        return []
    if kind in ("LineString", "LinearRing"):
        return [_array_curve(shapely.get_coordinates(geometry), index)]
    if kind == "Polygon":
        return [_array_curve(shapely.get_coordinates(r), index) for r in shapely.get_rings(geometry)]
    if kind in _COLLECTIONS and kind != "MultiPoint":
        return [c for part in geometry.geoms for c in _shapely_curves(part, index)]
    raise ValueError(f"curve {index}: a {kind} is not a curve")


# ---------------------------------------------------------------- GeoJSON

def _geojson_type(obj: Mapping[str, Any], index: object) -> str:
    kind = obj.get("type")
    if kind not in _GEOJSON_TYPES:
        where = "curves" if index is None else f"curve {index}"
        raise TypeError(f"{where}: a dict must be a GeoJSON geometry, Feature or FeatureCollection, got type {kind!r}")
    return str(kind)


def _geojson_members(obj: Any) -> list[Any]:
    if not isinstance(obj, Mapping):
        raise TypeError(f"curves: __geo_interface__ must be a GeoJSON dict, got {type(obj).__name__}")
    kind = _geojson_type(obj, None)
    if kind == "FeatureCollection":
        return list(obj.get("features") or [])
    if kind == "GeometryCollection":
        return list(obj.get("geometries") or [])
    if kind in ("MultiLineString", "MultiPolygon"):
        part = kind[len("Multi"):]
        return [{"type": part, "coordinates": c} for c in obj.get("coordinates") or []]
    return [obj]


# Features and collections nested deeper than this are refused (Python's own
# recursion limit would otherwise end the walk with a RecursionError).
MAX_GEOJSON_NESTING = 64


def _geojson_curves(obj: Any, index: int, depth: int = 0) -> list[Curve]:
    if not isinstance(obj, Mapping):
        raise TypeError(f"curve {index}: a GeoJSON geometry or feature must be an object, got {type(obj).__name__}")
    if depth > MAX_GEOJSON_NESTING:
        raise ValueError(f"curve {index}: GeoJSON objects nest more than {MAX_GEOJSON_NESTING} deep")
    kind = _geojson_type(obj, index)
    if kind == "Feature":
        geometry = obj.get("geometry")
        return [] if geometry is None else _geojson_curves(geometry, index, depth + 1)
    if kind == "FeatureCollection":
        return [c for f in _members(obj, "features", index) for c in _geojson_curves(f, index, depth + 1)]
    if kind == "GeometryCollection":
        return [c for g in _members(obj, "geometries", index) for c in _geojson_curves(g, index, depth + 1)]
    if kind in ("Point", "MultiPoint"):
        raise ValueError(f"curve {index}: a {kind} is not a curve")
    coordinates = obj.get("coordinates")
    lines = [coordinates] if coordinates is not None else []
    for _ in range({"LineString": 0, "Polygon": 1, "MultiLineString": 1, "MultiPolygon": 2}[kind]):
        if not all(isinstance(group, (list, tuple, np.ndarray)) for group in lines):
            raise ValueError(f"curve {index}: the coordinates of a {kind} do not nest as they should")
        lines = [line for group in lines for line in group]
    return [_geojson_line(line, index) for line in lines]


def _members(obj: Mapping[str, Any], key: str, index: int) -> list[Any]:
    members = obj.get(key) or []
    if not isinstance(members, (list, tuple)):
        raise TypeError(f"curve {index}: {key!r} must be a list, got {type(members).__name__}")
    return list(members)


def _geojson_line(coordinates: Any, index: int) -> Curve:
    try:
        array = np.asarray(coordinates)
    except ValueError:
        raise ValueError(f"curve {index}: positions must all be [x, y] pairs of numbers; the list is ragged") from None
    return _array_curve(array, index, drop_z=True)
