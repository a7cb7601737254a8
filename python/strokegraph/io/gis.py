"""GIS files in and out: GeoPackage, GeoParquet, Shapefile and FlatGeobuf.

Read and written through geopandas (pyogrio for GeoPackage, Shapefile and
FlatGeobuf, pyarrow for GeoParquet): install ``strokegraph[gis]``.

Reading takes one layer (GeoPackage files may hold several: by default the
only one of lines or polygons). Its LineStrings, the rings of its Polygons and
the parts of Multi* geometries and collections become curves; points and
missing geometries are skipped. Item i of the drawing is row i of the layer,
with its attributes (`Drawing.columns` keeps their dtypes) and the layer's CRS.

Writing puts the chains in the file with the columns of
``Centerlines.to_geopandas`` (``sources`` as JSON text: the rows, counted
from 0, whose strokes the chain came from) and the first source row's
attributes, dtypes kept; a GeoPackage also gets the nodes as a second layer
"nodes" (the chains are layer "chains"). The file carries the CRS.
"""

from __future__ import annotations

import json
import os
import tempfile
from pathlib import Path
from typing import Any, Dict, List, Optional, Union

import numpy as np

from .._extras import require
from ._drawing import Drawing, DrawingError, as_curve, make_drawing, source_items

GIS_SUFFIXES = {".gpkg": "gpkg", ".parquet": "parquet", ".geoparquet": "parquet", ".shp": "shp", ".fgb": "fgb"}
SUFFIXES = {"gpkg": ".gpkg", "parquet": ".parquet", "shp": ".shp", "fgb": ".fgb"}
NAMES = {"gpkg": "GeoPackage", "parquet": "GeoParquet", "shp": "Shapefile", "fgb": "FlatGeobuf"}
DRIVERS = {"gpkg": "GPKG", "shp": "ESRI Shapefile", "fgb": "FlatGeobuf"}
MAGIC = ((b"SQLite format 3\0", "gpkg"), (b"PAR1", "parquet"), (b"fgb\x03", "fgb"))
SHAPEFILE_PARTS = (".shp", ".shx", ".dbf", ".prj", ".cpg", ".qix")
_LINEAR = ("line", "polygon", "unknown", "geometrycollection")


def _geopandas(fmt: str, doing: str) -> Any:
    require("pyarrow" if fmt == "parquet" else "pyogrio", f"{doing} {NAMES[fmt]}")
    return require("geopandas", f"{doing} {NAMES[fmt]}")


def read_gis(path: Union[str, "os.PathLike[str]"], fmt: str, *, layer: Optional[str] = None) -> Drawing:
    """Read the curves of one layer of a GIS file."""
    gpd = _geopandas(fmt, "reading")
    name = os.fspath(path)
    if not os.path.exists(path):
        raise FileNotFoundError(2, "No such file or directory", name)
    try:
        if fmt == "parquet":
            if layer is not None:
                raise DrawingError("a GeoParquet file has one layer; drop the layer choice")
            frame = gpd.read_parquet(path)
        else:
            frame = gpd.read_file(path, layer=_layer(path, layer), engine="pyogrio")
    except DrawingError:
        raise
    except (OSError, ValueError, RuntimeError) as e:   # pyogrio's and pyarrow's errors derive from these
        if isinstance(e, OSError) and e.strerror and not type(e).__module__.startswith(("pyogrio", "pyarrow")):
            raise
        raise DrawingError(f"cannot read as {NAMES[fmt]}: {' '.join(str(e).split())}") from None
    return from_frame(frame, fmt, name)


def _layer(path: Any, layer: Optional[str]) -> str:
    """The layer asked for, else the only one holding lines or polygons."""
    import pyogrio

    layers = [(str(n), str(t)) for n, t in pyogrio.list_layers(path)]
    names = [n for n, _ in layers]
    listing = ", ".join(f"{n} ({t})" for n, t in layers)
    if layer is not None:
        if layer not in names:
            raise DrawingError(f"no layer {layer!r} in the file; its layers: {listing}")
        return layer
    linear = [n for n, t in layers if any(k in t.lower() for k in _LINEAR)]
    if len(layers) == 1:
        return names[0]
    if len(linear) == 1:
        return linear[0]
    if not linear:
        raise DrawingError(f"no layer of lines or polygons in the file; its layers: {listing}")
    raise DrawingError(f"the file has several layers of lines or polygons ({listing}); "
                       "choose one (layer=, or --layer on the command line)")


def from_frame(frame: Any, fmt: str = "geodataframe", name: Optional[str] = None) -> Drawing:
    """The `Drawing` of a GeoDataFrame: one item per row."""
    import shapely

    geometries = np.asarray(frame.geometry.array, dtype=object).tolist()
    curves: List[np.ndarray] = []
    items: List[int] = []
    degenerate = 0
    for i, geometry in enumerate(geometries):
        for coords in _lines(shapely, geometry):
            curve = as_curve(coords)
            if curve is not None:
                curves.append(curve)
                items.append(i)
            else:
                degenerate += 1
    columns = frame.drop(columns=[frame.geometry.name]).reset_index(drop=True)
    return make_drawing(curves, items, _records(columns), fmt, name, crs=frame.crs, columns=columns,
                        skipped={"degenerate curves": degenerate} if degenerate else {})


def _lines(shapely: Any, geometry: Any) -> List[Any]:
    if geometry is None or geometry.is_empty:
        return []
    kind = geometry.geom_type
    if kind in ("LineString", "LinearRing"):
        return [shapely.get_coordinates(geometry)]
    if kind == "Polygon":
        return [shapely.get_coordinates(r) for r in shapely.get_rings(geometry)]
    if hasattr(geometry, "geoms"):
        return [c for part in geometry.geoms for c in _lines(shapely, part)]
    return []   # points


def _records(columns: Any) -> List[Dict[str, Any]]:
    """Per row, its attributes as plain JSON values (missing ones None, dates as ISO text)."""
    plain = columns.copy()
    for name in plain.columns:
        if plain[name].dtype.kind == "M":
            plain[name] = plain[name].map(lambda t: t.isoformat() if t == t else None)
    plain = plain.astype(object).where(plain.notna(), None)
    records: List[Dict[str, Any]] = plain.to_dict("records")
    return [{str(k): v.item() if isinstance(v, np.generic) else v for k, v in r.items()} for r in records]


def write_gis(result: Any, path: Union[str, "os.PathLike[str]"], fmt: str, drawing: Optional[Drawing] = None,
              *, rule: Union[str, Dict[str, str]] = "first") -> None:
    """Write the chains (and, for a GeoPackage, the nodes) atomically to `path`."""
    from ..geo import chains_frame, nodes_frame

    gpd = _geopandas(fmt, "writing")
    pd = require("pandas", f"writing {NAMES[fmt]}")
    attributes = None
    if drawing is not None:
        attributes = drawing.columns if drawing.columns is not None else _columns(pd, drawing.properties)
        attributes = _storable(attributes)
    crs = getattr(result, "crs", None)
    if crs is None and drawing is not None:
        crs = drawing.crs
    chains = chains_frame(result, "all" if attributes is not None and len(attributes.columns) else None, rule,
                          attributes, sources=source_items(result, drawing), sources_as_text=True)
    chains = chains.set_crs(crs, allow_override=True) if crs is not None else chains
    target = Path(path)
    with tempfile.TemporaryDirectory(dir=target.parent, prefix=f".{target.name}.") as tmp:
        out = Path(tmp) / target.name
        if fmt == "parquet":
            chains.to_parquet(out)
        else:
            # FlatGeobuf's spatial index would reorder the rows: chain i stays row i.
            options = {"SPATIAL_INDEX": "NO"} if fmt == "fgb" else {}
            chains.to_file(out, layer="chains" if fmt == "gpkg" else None, driver=DRIVERS[fmt], engine="pyogrio",
                           layer_options=options)
            if fmt == "gpkg":
                nodes = nodes_frame(result)
                nodes = nodes.set_crs(crs, allow_override=True) if crs is not None else nodes
                nodes.to_file(out, layer="nodes", driver="GPKG", engine="pyogrio")
        written = sorted(Path(tmp).iterdir())
        if fmt == "shp":  # parts of an older file that this one does not have
            for suffix in SHAPEFILE_PARTS:
                stale = target.with_suffix(suffix)
                if stale.exists() and not any(f.suffix.lower() == suffix for f in written):
                    stale.unlink()
        for f in written:
            os.replace(f, target.parent / f.name)


def _columns(pd: Any, properties: List[Dict[str, Any]]) -> Any:
    """The items' properties (GeoJSON, SVG) as columns; integers stay integers
    where some items lack the property (pandas' nullable Int64)."""
    names: Dict[str, None] = {}
    for p in properties:
        names.update(dict.fromkeys(p))
    data = {}
    for name in names:
        values = [p.get(name) for p in properties]
        present = [v for v in values if v is not None]
        integral = present and all(isinstance(v, int) and not isinstance(v, bool) for v in present)
        data[name] = pd.array(values, dtype="Int64") if integral and len(present) < len(values) else values
    return pd.DataFrame(data, index=pd.RangeIndex(len(properties)))


def _storable(columns: Any) -> Any:
    """Attribute columns a GIS file can hold: lists and dicts become JSON text."""
    out = columns.copy()
    for name in out.columns:
        if out[name].dtype == object and out[name].map(lambda v: isinstance(v, (list, dict))).any():
            out[name] = out[name].map(lambda v: json.dumps(v) if isinstance(v, (list, dict)) else v)
    return out


__all__ = ["GIS_SUFFIXES", "from_frame", "read_gis", "write_gis"]
