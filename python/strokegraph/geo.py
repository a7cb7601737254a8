"""Coordinate reference systems and GeoPandas frames for `centerlines`.

A drawing with a CRS (a GeoSeries or GeoDataFrame, or any input with
``crs=``) is checked before it is traced: the band radius is a length, so a
geographic CRS (degrees) is refused with a message that says how to project,
unless ``to_crs`` names a projected CRS or ``"local"``, a local azimuthal
equidistant projection about the data's centre (distances true to well under
0.1 % within 100 km of it). The drawing is then traced in that CRS and the
result comes back in the input's CRS; its radius, widths and lengths stay in
the metres of the projection it was traced in.

`chains_frame` / `nodes_frame` build the GeoDataFrames of
``Centerlines.to_geopandas``; the file writers of ``strokegraph.io`` use them
too. Needs ``strokegraph[geopandas]`` (geopandas, pyproj).
"""

from __future__ import annotations

import json
import math
import warnings
from collections import Counter
from collections.abc import Sequence
from typing import Any, NamedTuple, Optional, Protocol, Union

import numpy as np
import numpy.typing as npt

from ._extras import require

class GeoResult(Protocol):
    """What the frames and attribute joins read of a `Centerlines` result."""

    @property
    def nodes(self) -> npt.NDArray[np.float64]: ...
    @property
    def edges(self) -> npt.NDArray[np.int64]: ...
    @property
    def degree(self) -> npt.NDArray[np.int64]: ...
    @property
    def sources(self) -> list[npt.NDArray[np.int64]]: ...
    @property
    def lengths(self) -> npt.NDArray[np.float64]: ...
    @property
    def mean_widths(self) -> Optional[npt.NDArray[np.float64]]: ...
    @property
    def crs(self) -> Any: ...
    @property
    def curve_items(self) -> npt.NDArray[np.int64]: ...
    @property
    def input_index(self) -> Any: ...
    @property
    def input_frame(self) -> Any: ...
    def to_shapely(self) -> Any: ...
    def __len__(self) -> int: ...

FloatArray = npt.NDArray[np.float64]
RULES = ("first", "majority", "list")
SCALE_TOLERANCE = 0.02   # a projected CRS whose unit is off by more than this on the ground is flagged
# Names of geographic CRSs recognised without pyproj (GeoJSON "crs" members, say).
_GEOGRAPHIC_NAMES = ("crs84", "epsg:4326", "epsg::4326", "epsg:4269", "epsg::4269", "epsg:4258", "epsg::4258")


class GeographicCRSError(ValueError):
    """The drawing's coordinates are degrees, which a band radius cannot be measured in."""


# ---------------------------------------------------------------- input frames

class FrameInput(NamedTuple):
    """What a GeoSeries / GeoDataFrame input keeps for the result."""

    items: list[Any]       # one shapely geometry per row (a stand-in without curves for a missing one)
    crs: Any               # pyproj.CRS or None
    index: Any             # the rows' index labels (pandas Index)
    frame: Any             # the GeoDataFrame, for attribute joins (None for a GeoSeries)


def frame_input(curves: Any) -> Optional[FrameInput]:
    """The rows of a GeoSeries or GeoDataFrame, else None."""
    if not type(curves).__module__.startswith("geopandas"):
        return None
    if hasattr(curves, "geometry") and hasattr(curves, "columns"):   # GeoDataFrame
        series, frame = curves.geometry, curves
    elif hasattr(curves, "crs") and hasattr(curves, "index"):        # GeoSeries
        series, frame = curves, None
    else:
        return None
    items = [g if g is not None else _EMPTY for g in np.asarray(series.array, dtype=object).tolist()]
    return FrameInput(items, series.crs, curves.index, frame)


class _Empty:
    """A missing geometry: a row without curves."""

    __geo_interface__ = {"type": "GeometryCollection", "geometries": []}


_EMPTY = _Empty()


# ---------------------------------------------------------------- CRS rules

def as_crs(crs: Any) -> Any:
    """A pyproj CRS from anything pyproj accepts (a name, EPSG code, WKT, CRS)."""
    if crs is None:
        return None
    pyproj = require("pyproj", "a CRS")
    return pyproj.CRS.from_user_input(crs)


def is_geographic_name(crs: Any) -> bool:
    """Whether a CRS given as text is a common geographic one, without pyproj."""
    text = str(crs).strip().lower().replace("urn:ogc:def:crs:", "").replace("ogc:1.3:", "")
    return any(text.endswith(name) for name in _GEOGRAPHIC_NAMES)


def crs_label(crs: Any) -> str:
    authority = crs.to_authority() if hasattr(crs, "to_authority") else None
    code = f"{authority[0]}:{authority[1]}" if authority else None
    name = getattr(crs, "name", None) or str(crs)
    return f"{code}, {name}" if code else name


def geojson_crs_member(crs: Any) -> Optional[dict[str, Any]]:
    """The GeoJSON ``crs`` member naming `crs` (a pyproj CRS or a name), or
    None for longitude / latitude on WGS 84, GeoJSON's own CRS, and for a CRS
    without an authority code."""
    if isinstance(crs, str):
        name = crs
    else:
        authority = crs.to_authority() if hasattr(crs, "to_authority") else None
        if not authority:
            return None
        name = f"urn:ogc:def:crs:{authority[0]}::{authority[1]}"
    if name.lower().replace("urn:ogc:def:crs:", "").replace("ogc:1.3:", "").endswith("crs84"):
        return None
    return {"type": "name", "properties": {"name": name}}


def geojson_crs_name(doc: Any) -> Optional[str]:
    """The CRS name of a GeoJSON document's ``crs`` member, or None."""
    member = doc.get("crs") if isinstance(doc, dict) else None
    props = member.get("properties") if isinstance(member, dict) else None
    name = props.get("name") if isinstance(props, dict) else None
    return name if isinstance(name, str) and name else None


def geographic_message(crs: Any, radius: Optional[float] = None) -> str:
    degrees = "" if radius is None else f", so radius {radius:g} would be {radius:g} degrees"
    return (
        f"the drawing's CRS ({crs_label(crs)}) is geographic: its coordinates are degrees{degrees}. "
        "Project it to a metric CRS first, for instance "
        "gdf.to_crs(gdf.estimate_utm_crs()), or pass to_crs='local' (command line: --to-crs local) "
        "to trace in a local metric projection (radius in metres) and get the result back in the "
        "drawing's CRS"
    )


def local_crs(crs: Any, curves: Sequence[FloatArray]) -> Any:
    """An azimuthal equidistant CRS (metres) about the centre of the curves'
    bounding box, on the datum of `crs`."""
    pyproj = require("pyproj", "to_crs='local'")
    from pyproj.crs import ProjectedCRS
    from pyproj.crs.coordinate_operation import AzimuthalEquidistantConversion

    lon, lat = _centre_lonlat(crs, curves)
    # Rounded so that drawings a hair apart share one projection (and so one result).
    conversion = AzimuthalEquidistantConversion(round(lat, 6), round(lon, 6))
    geodetic = crs.geodetic_crs or pyproj.CRS.from_epsg(4326)
    return ProjectedCRS(conversion=conversion, geodetic_crs=geodetic, name="strokegraph local AEQD")


def _centre_lonlat(crs: Any, curves: Sequence[FloatArray]) -> tuple[float, float]:
    import pyproj

    pts = [c for c in curves if len(c)]
    if not pts:
        return 0.0, 0.0
    allpts = np.concatenate(pts)
    allpts = allpts[np.isfinite(allpts).all(axis=1)]
    if not len(allpts):
        return 0.0, 0.0
    cx, cy = (allpts.min(axis=0) + allpts.max(axis=0)) / 2
    geodetic = crs.geodetic_crs or pyproj.CRS.from_epsg(4326)
    to_lonlat = pyproj.Transformer.from_crs(crs, geodetic, always_xy=True)
    lon, lat = to_lonlat.transform(float(cx), float(cy))
    return float(lon), float(lat)


def unit_scale(crs: Any, curves: Sequence[FloatArray]) -> float:
    """How many metres on the ground one unit of a projected CRS spans at the
    curves' centre, along a meridian (1 for a true metric projection there)."""
    import pyproj

    lon, lat = _centre_lonlat(crs, curves)
    try:
        factors = pyproj.Proj(crs).get_factors(lon, lat)
        to_metre = float(crs.axis_info[0].unit_conversion_factor) if crs.axis_info else 1.0
        scale = float(factors.meridional_scale)
    except Exception:  # a CRS pyproj cannot take factors of: nothing to flag
        return 1.0
    return to_metre / scale if scale > 0 and math.isfinite(scale) else 1.0


class Projection(NamedTuple):
    """How a drawing is traced: `to_work` maps it into the CRS it is traced in,
    `back` maps results back (both None when traced as given)."""

    crs: Any
    work_crs: Any
    to_work: Any
    back: Any


def plan_projection(crs: Any, to_crs: Any, curves: Sequence[FloatArray], radius: float) -> Projection:
    """Check `crs` against the CRS rules and choose the CRS to trace in."""
    crs = as_crs(crs)
    if crs is None:
        if to_crs is not None:
            raise ValueError("to_crs needs the drawing's CRS: pass crs=, or a GeoSeries / GeoDataFrame with one")
        return Projection(None, None, None, None)
    if to_crs is None:
        if crs.is_geographic:
            raise GeographicCRSError(geographic_message(crs, radius))
        scale = unit_scale(crs, curves)
        if abs(scale - 1.0) > SCALE_TOLERANCE and crs.axis_info and crs.axis_info[0].unit_name in ("metre", "meter"):
            warnings.warn(
                f"one unit of {crs_label(crs)} spans {scale:.3g} m on the ground at the drawing's centre, "
                f"so radius {radius:g} is {radius * scale:.3g} m there; pass to_crs='local' (--to-crs local) "
                "to trace in metres",
                stacklevel=3,
            )
        return Projection(crs, crs, None, None)
    import pyproj

    work = local_crs(crs, curves) if isinstance(to_crs, str) and to_crs == "local" else as_crs(to_crs)
    if work.is_geographic:
        raise GeographicCRSError(f"to_crs must be a projected CRS or 'local', got {crs_label(work)}")
    forward = pyproj.Transformer.from_crs(crs, work, always_xy=True)
    back = pyproj.Transformer.from_crs(work, crs, always_xy=True)
    return Projection(crs, work, forward, back)


def transform(transformer: Any, xy: FloatArray) -> FloatArray:
    """(n, 2) points through a pyproj transformer."""
    xy = np.asarray(xy, np.float64).reshape(-1, 2)
    if not len(xy):
        return np.zeros((0, 2))
    x, y = transformer.transform(xy[:, 0], xy[:, 1])
    return np.ascontiguousarray(np.column_stack([x, y]), dtype=np.float64)


# ---------------------------------------------------------------- frames out

def _labels(result: GeoResult) -> Any:
    index = result.input_index
    if index is not None:
        return np.asarray(index, dtype=object)
    count = int(result.curve_items.max()) + 1 if len(result.curve_items) else 0
    return np.arange(count, dtype=np.int64)


def source_labels(result: GeoResult, sources: Optional[Sequence[Any]] = None) -> list[list[Any]]:
    """Per chain, the index labels (positions without an index) of its sources."""
    labels = _labels(result)
    sources = result.sources if sources is None else sources
    if not len(labels):
        return [list(s) for s in sources]
    return [[_plain(v) for v in labels[np.asarray(s, dtype=np.int64)].tolist()] for s in sources]


def _plain(value: Any) -> Any:
    return value.item() if isinstance(value, np.generic) else value


def chains_frame(result: GeoResult, properties: Any = None, rule: Union[str, dict[str, str]] = "first",
                 frame: Any = None, *, sources: Optional[Sequence[Any]] = None,
                 sources_as_text: bool = False) -> Any:
    """The chains as a GeoDataFrame (see ``Centerlines.to_geopandas``).

    `sources` replaces the chains' source positions (the file writers give
    the items of a drawing); `sources_as_text` writes them as JSON text."""
    gpd = require("geopandas", "to_geopandas()")
    pd = require("pandas", "to_geopandas()")
    edges = result.edges
    degree = result.degree
    positions = [np.asarray(s, dtype=np.int64) for s in (result.sources if sources is None else sources)]
    labels = source_labels(result, positions)
    widths = result.mean_widths if result.mean_widths is not None else np.full(len(result), np.nan)
    data: dict[str, Any] = {
        "chain": np.arange(len(result), dtype=np.int64),
        "start": edges[:, 0].copy(),
        "end": edges[:, 1].copy(),
        "start_deg": degree[edges[:, 0]],
        "end_deg": degree[edges[:, 1]],
        "length": np.asarray(result.lengths, dtype=np.float64),
        "width": np.asarray(widths, dtype=np.float64),
        "sources": [json.dumps(s) for s in labels] if sources_as_text else labels,
    }
    columns = _attributes(positions, properties, rule, frame if frame is not None else result.input_frame, pd)
    for name, values in columns.items():
        data[name if name not in data and name != "geometry" else f"src_{name}"] = values
    return gpd.GeoDataFrame(pd.DataFrame(data), geometry=result.to_shapely(), crs=result.crs)


def node_kinds(degree: npt.NDArray[np.int64]) -> npt.NDArray[Any]:
    """"junction" (degree 3 or more), "end" (degree 1) or "node" per node."""
    return np.where(degree >= 3, "junction", np.where(degree == 1, "end", "node"))


def nodes_frame(result: GeoResult) -> Any:
    """The nodes as a GeoDataFrame: ``node``, ``kind`` (junction, end or node)
    and ``degree``, with point geometries."""
    gpd = require("geopandas", "to_geopandas()")
    return gpd.GeoDataFrame(
        {"node": np.arange(len(result.nodes), dtype=np.int64), "kind": node_kinds(result.degree).astype(object),
         "degree": result.degree},
        geometry=gpd.points_from_xy(result.nodes[:, 0], result.nodes[:, 1]),
        crs=result.crs,
    )


def attribute_lists(result: GeoResult, properties: Any, rule: Union[str, dict[str, str]],
                    frame: Any) -> dict[str, list[Any]]:
    """The attributes of `to_geopandas` as lists of plain values (missing ones None),
    keyed by the name the chains' properties give them."""
    pd = require("pandas", "to_geojson(properties=...)")
    taken = {"chain", "start", "end", "length", "width", "sources"}
    columns = _attributes([np.asarray(s, dtype=np.int64) for s in result.sources], properties, rule,
                          frame if frame is not None else result.input_frame, pd)
    return {(f"src_{k}" if k in taken else k): [None if _missing_value(pd, v) else _plain(v) for v in values]
            for k, values in columns.items()}


def _missing_value(pd: Any, value: Any) -> bool:
    return not isinstance(value, (list, tuple, dict, np.ndarray)) and bool(pd.isna(value))


def _attributes(sources: list[npt.NDArray[np.int64]], properties: Any, rule: Union[str, dict[str, str]],
                frame: Any, pd: Any) -> dict[str, Any]:
    """Per chain, the chosen attributes of its source rows, one column each."""
    if properties is None or properties is False:
        return {}
    if frame is None:
        raise ValueError("properties need the source rows: trace a GeoDataFrame or pass frame=")
    geometry = getattr(frame, "_geometry_column_name", None)
    columns = [c for c in frame.columns if c != geometry]
    names = columns if properties is True or properties == "all" else (
        [properties] if isinstance(properties, str) else list(properties))
    missing = [n for n in names if n not in frame.columns]
    if missing:
        raise KeyError(f"no column {missing[0]!r} in the source rows")
    count = max((int(s[-1]) + 1 for s in sources if len(s)), default=0)
    if len(frame) < count:
        raise ValueError(f"the source rows are {len(frame)}, the chains come from row {count - 1}")
    out: dict[str, Any] = {}
    for name in names:
        how = rule.get(name, "first") if isinstance(rule, dict) else rule
        if how not in RULES:
            raise ValueError(f"rule must be one of {', '.join(RULES)}, got {how!r}")
        column = frame[name].reset_index(drop=True)
        if how == "list":
            out[name] = [column.iloc[s].tolist() for s in sources]
            continue
        picks = np.array([_pick(column, s, how) for s in sources], dtype=np.int64)
        if (picks < 0).any() and column.dtype.kind in "iub":
            column = column.convert_dtypes()   # a nullable dtype holds the gaps
        values = column.iloc[np.maximum(picks, 0)].reset_index(drop=True)
        if (picks < 0).any():
            values[picks < 0] = None
        out[name] = values.array
    return out


def _pick(column: Any, sources: npt.NDArray[np.int64], how: str) -> int:
    """The row whose value the chain takes: the first source, or the first
    source holding the most common value (missing values do not count)."""
    if not len(sources):
        return -1
    if how == "first" or len(sources) == 1:
        return int(sources[0])
    values = column.iloc[sources].tolist()
    try:
        counts = Counter(v for v in values if not _missing(v))
    except TypeError:   # unhashable values: the first one
        return int(sources[0])
    if not counts:
        return int(sources[0])
    best = max(counts.values())
    for s, v in zip(sources.tolist(), values):
        if not _missing(v) and counts[v] == best:
            return int(s)
    return int(sources[0])


def _missing(v: Any) -> bool:
    return v is None or (isinstance(v, float) and math.isnan(v))
