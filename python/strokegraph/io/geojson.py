"""GeoJSON drawings in and centerlines out.

Reading takes a FeatureCollection, a Feature or a bare geometry. LineStrings,
MultiLineStrings and the rings of Polygons and MultiPolygons become curves
(GeometryCollections are searched); points are skipped. Item i of the drawing
is feature i of the file, with its properties (and its "id" when the
properties do not have one), so chains written back name the features they
came from.
"""

from __future__ import annotations

import json
import os
from typing import Any, Dict, Iterator, List, Optional, Union

import numpy as np

from ..geo import geojson_crs_member, geojson_crs_name
from ._drawing import Drawing, DrawingError, as_curve, atomic_write, make_drawing, mean_widths, source_items

GEOMETRY_TYPES = ("Point", "MultiPoint", "LineString", "MultiLineString", "Polygon", "MultiPolygon",
                  "GeometryCollection")


def load_json(source: Union[str, "os.PathLike[str]", Any]) -> Any:
    try:
        if isinstance(source, (str, os.PathLike)):
            with open(source, "rb") as f:
                return json.load(f)
        return json.load(source)
    except (UnicodeDecodeError, json.JSONDecodeError) as e:
        raise DrawingError(f"not valid JSON: {e}") from None
    except RecursionError:
        raise DrawingError("not valid JSON: nested too deeply") from None


def read_geojson(source: Union[str, "os.PathLike[str]", Any]) -> Drawing:
    """Read the curves of a GeoJSON file (a path or a file object)."""
    name = os.fspath(source) if isinstance(source, (str, os.PathLike)) else None
    return from_geojson(load_json(source), name)


def from_geojson(doc: Any, name: Optional[str] = None) -> Drawing:
    """The `Drawing` of a parsed GeoJSON object."""
    kind = doc.get("type") if isinstance(doc, dict) else None
    if kind == "FeatureCollection":
        features = doc.get("features")
        if not isinstance(features, list):
            raise DrawingError("FeatureCollection without a list of features")
    elif kind == "Feature":
        features = [doc]
    elif kind in GEOMETRY_TYPES:
        features = [{"type": "Feature", "geometry": doc, "properties": {}}]
    else:
        raise DrawingError("not a GeoJSON FeatureCollection, Feature or geometry")
    curves: List[np.ndarray] = []
    items: List[int] = []
    properties: List[Dict[str, Any]] = []
    skipped = 0
    for i, feature in enumerate(features):
        if not isinstance(feature, dict):
            raise DrawingError(f"feature {i} is not an object")
        props = feature.get("properties")
        props = dict(props) if isinstance(props, dict) else {}
        if "id" in feature and "id" not in props:
            props["id"] = feature["id"]
        properties.append(props)
        try:
            for line in _lines(feature.get("geometry")):
                curve = as_curve(line)
                if curve is not None:
                    curves.append(curve)
                    items.append(i)
                else:
                    skipped += 1
        except (DrawingError, ValueError, TypeError) as e:
            raise DrawingError(f"feature {i}: bad coordinates ({e})") from None
    return make_drawing(curves, items, properties, "geojson", name,
                        skipped={"degenerate curves": skipped} if skipped else {}, crs=geojson_crs_name(doc))


def _lines(geom: Any) -> Iterator[Any]:
    if geom is None:
        return
    if not isinstance(geom, dict):
        raise DrawingError("geometry is not an object")
    kind, coords = geom.get("type"), geom.get("coordinates")
    if kind == "LineString":
        yield coords
    elif kind in ("MultiLineString", "Polygon"):
        yield from _list(coords)
    elif kind == "MultiPolygon":
        for polygon in _list(coords):
            yield from _list(polygon)
    elif kind == "GeometryCollection":
        for g in geom.get("geometries") or []:
            yield from _lines(g)
    elif kind not in ("Point", "MultiPoint"):
        raise DrawingError(f"unknown geometry type {kind!r}")


def _list(value: Any) -> List[Any]:
    if not isinstance(value, list):
        raise DrawingError("coordinates are not a list")
    return value


def to_geojson_dict(result: Any, drawing: Optional[Drawing] = None) -> Dict[str, Any]:
    """A FeatureCollection: one LineString per chain (properties `kind`
    "chain", `chain`, `start`, `end`, `length`, `width` (mean band width or
    null), `sources` (input items) and, when the input items have properties,
    `source_properties` in the same order), then one Point per node (`kind`
    "junction", "end" or "node", `node`, `degree`); with a `crs` member when
    the result or the drawing has a CRS other than GeoJSON's default."""
    items = source_items(result, drawing)
    widths = mean_widths(result)
    edges = np.asarray(result.edges).tolist()
    lengths = np.asarray(result.lengths, dtype=np.float64).tolist()
    features: List[Dict[str, Any]] = []
    for i, chain in enumerate(result.chains):
        props: Dict[str, Any] = {"kind": "chain", "chain": i, "start": edges[i][0], "end": edges[i][1],
                                 "length": lengths[i], "width": widths[i], "sources": items[i]}
        if drawing is not None:
            props["source_properties"] = [drawing.properties[j] for j in items[i]]
        features.append({"type": "Feature", "properties": props,
                         "geometry": {"type": "LineString", "coordinates": np.asarray(chain).tolist()}})
    degree = np.asarray(result.degree).tolist()
    for n, xy in enumerate(np.asarray(result.nodes).tolist()):
        kind = "junction" if degree[n] >= 3 else "end" if degree[n] == 1 else "node"
        features.append({"type": "Feature", "properties": {"kind": kind, "node": n, "degree": degree[n]},
                         "geometry": {"type": "Point", "coordinates": xy}})
    doc: Dict[str, Any] = {"type": "FeatureCollection", "features": features}
    crs = getattr(result, "crs", None) or (drawing.crs if drawing is not None else None)
    member = geojson_crs_member(crs) if crs is not None else None
    if member is not None:
        doc["crs"] = member
    return doc


def write_geojson(result: Any, path: Union[str, "os.PathLike[str]"], drawing: Optional[Drawing] = None) -> None:
    """Write `to_geojson_dict(result, drawing)` atomically to `path`."""
    doc = to_geojson_dict(result, drawing)
    with atomic_write(path) as f:
        json.dump(doc, f, separators=(",", ":"), default=_plain)
        f.write("\n")


def _plain(value: Any) -> Any:
    """numpy scalars and arrays that came in through properties."""
    if isinstance(value, np.generic):
        return value.item()
    if isinstance(value, np.ndarray):
        return value.tolist()
    raise TypeError(f"{type(value).__name__} is not JSON serializable")


__all__ = ["from_geojson", "read_geojson", "to_geojson_dict", "write_geojson"]
