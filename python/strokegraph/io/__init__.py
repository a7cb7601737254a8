"""Drawings in, centerlines out: SVG, GeoJSON and JSON files, and GeoPackage,
GeoParquet, Shapefile and FlatGeobuf through ``strokegraph[gis]`` (`io.gis`).

Reading gives a `Drawing`: its curves as (k, 2) float64 arrays plus, for each
curve, the *item* it came from (an SVG element, a GeoJSON feature, a JSON
stroke) and each item's properties. Trace `drawing.curves`; the `sources` of
the result index those curves, and the writers map them back to items, so a
chain carries the id, colour or properties of the strokes it came from.

    from strokegraph import io
    drawing = io.read("sketch.svg")
    radius, how = drawing.suggested_radius()
    result = strokegraph.centerlines(drawing.curves, radius)
    io.write(result, "sketch.geojson", drawing)

Every writer writes atomically: a temporary file beside the target, renamed
over it once complete.
"""

from __future__ import annotations

import functools
import os
from pathlib import Path
from typing import Any, Callable, Dict, Optional, Union

import numpy as np

from ._drawing import Drawing, DrawingError, atomic_write
from .geojson import read_geojson, write_geojson
from .jsonfile import read_json, write_json
from .gis import GIS_SUFFIXES, read_gis, write_gis
from .gis import MAGIC as _GIS_MAGIC
from .gis import SUFFIXES as _GIS_OUT
from .svg import read_svg, write_svg

PathLike = Union[str, "os.PathLike[str]"]
UNREADABLE = (ArithmeticError, RecursionError, ValueError, TypeError, IndexError, KeyError, AttributeError,
              np.linalg.LinAlgError)
FORMATS = ("svg", "geojson", "json", "gpkg", "parquet", "shp", "fgb")
SUFFIXES = {"svg": ".svg", "geojson": ".geojson", "json": ".json", **_GIS_OUT}
OUTPUT_SUFFIXES = {".svg": "svg", ".geojson": "geojson", **GIS_SUFFIXES}

__all__ = ["Drawing", "DrawingError", "FORMATS", "GIS_SUFFIXES", "OUTPUT_SUFFIXES", "atomic_write",
           "detect_format", "read", "read_geojson", "read_gis", "read_json", "read_svg", "write",
           "write_geojson", "write_gis", "write_json", "write_svg"]


def detect_format(path: PathLike, head: Optional[bytes] = None) -> str:
    """"svg", "geojson", "json" or a GIS format, from the suffix, else from the first bytes."""
    suffix = Path(path).suffix.lower()
    if suffix in GIS_SUFFIXES:
        return GIS_SUFFIXES[suffix]
    if suffix == ".svg":
        return "svg"
    if suffix == ".geojson":
        return "geojson"
    if head is None:
        with open(path, "rb") as f:
            head = f.read(4096)
    for magic, fmt in _GIS_MAGIC:
        if head.startswith(magic):
            return fmt
    text = head.lstrip(b"\xef\xbb\xbf \t\r\n")
    if text.startswith(b"<"):
        return "svg"
    if text.startswith((b"{", b"[")):
        return "json"  # the JSON reader also takes GeoJSON
    raise DrawingError("not an SVG, GeoJSON, JSON, GeoPackage, GeoParquet or FlatGeobuf file")


def read(path: PathLike, *, format: Optional[str] = None, radius: Optional[float] = None,
         layer: Optional[str] = None) -> Drawing:
    """Read a drawing; the format comes from the suffix or the content unless given.

    `radius` (SVG only) sets the flattening tolerance of curves (radius / 20);
    without it the stroke widths of the file decide. `layer` chooses the
    layer of a GeoPackage (by default its only layer of lines or polygons).
    """
    fmt = format or detect_format(path)
    readers: Dict[str, Callable[[], Drawing]] = {
        "svg": lambda: read_svg(path, radius=radius), "geojson": lambda: read_geojson(path),
        "json": lambda: read_json(path)}
    for gis_format in _GIS_OUT:
        readers[gis_format] = functools.partial(read_gis, path, gis_format, layer=layer)
    if fmt not in readers:
        raise ValueError(f"unknown format {fmt!r}; expected one of {', '.join(FORMATS)}")
    try:
        return readers[fmt]()
    except DrawingError:
        raise
    except UNREADABLE as e:
        # What a malformed file makes a reader or its libraries raise on the
        # way (a transform of 1e309 has no singular values, a nesting too
        # deep for the parser): the file holds no drawing.
        raise DrawingError(f"cannot read the file: {type(e).__name__}: {e}") from None


def write(result: Any, path: PathLike, drawing: Optional[Drawing] = None, *,
          format: Optional[str] = None, over_input: bool = False) -> None:
    """Write a `Centerlines` result; the format comes from the suffix unless given.

    `drawing` (the input) supplies the items' properties and, for SVG with
    `over_input`, the strokes drawn underneath.
    """
    fmt = format or OUTPUT_SUFFIXES.get(Path(path).suffix.lower(), "json")
    if fmt in _GIS_OUT:
        write_gis(result, path, fmt, drawing)
    elif fmt == "svg":
        write_svg(result, path, drawing, over_input=over_input)
    elif fmt == "geojson":
        write_geojson(result, path, drawing)
    elif fmt == "json":
        write_json(result, path, drawing)
    else:
        raise ValueError(f"unknown format {fmt!r}; expected one of {', '.join(FORMATS)}")
