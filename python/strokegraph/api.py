"""`centerlines`: the centerline graph of a drawing, clean by default."""

from __future__ import annotations

import math
from collections.abc import Callable, Iterable, Mapping, Sequence, Sized
from typing import Any, NamedTuple, Optional, SupportsFloat, Union

import numpy as np
import numpy.typing as npt

from . import _native, geo
from ._inputs import normalise
from .result import Centerlines

Number = SupportsFloat


def centerlines(
    curves: Any,
    radius: Number,
    *,
    feature_size: Optional[Number] = None,
    simplification: Optional[Number] = None,
    min_tip_fraction: Optional[Number] = None,
    junction_merge_fraction: Optional[Number] = None,
    per_curve_widths: Optional[Any] = None,
    compute_widths: bool = False,
    subdivision_ratio: Optional[Number] = None,
    max_nodes: Optional[int] = None,
    resample: Optional[Number] = None,
    boundary_simplification: Optional[Number] = None,
    merge_tolerance: Optional[Number] = None,
    clean: bool = True,
    tiles: Union[bool, float, None] = None,
    caps: Union[str, Sequence[str], None] = None,
    progress: Optional[Callable[[str, float], None]] = None,
    crs: Any = None,
    to_crs: Any = None,
) -> Centerlines:
    """The centerline graph of a drawing.

    Parameters
    ----------
    curves
        The strokes: a sequence of curves, each a sequence of (x, y) points or
        an (n, 2) array of any real dtype; shapely LineStrings, LinearRings,
        Polygons (each ring a closed curve) and Multi* / GeometryCollections
        of them; GeoJSON geometry, Feature and FeatureCollection dicts
        (z coordinates are dropped); or a GeoSeries / GeoDataFrame, one item
        per row, whose CRS and index the result keeps. A single geometry or
        GeoJSON dict may also stand for the whole drawing.
    radius
        The band radius: half the stroke width.
    feature_size
        The scale the thresholds derive from; by default derived from
        `radius`, which gives the drawing's own graph.
    simplification, min_tip_fraction, junction_merge_fraction, subdivision_ratio,
    max_nodes, resample, boundary_simplification, merge_tolerance
        As for the low-level ``topologize``: a zero, negative or NaN value
        switches its step off.
    per_curve_widths
        One radius per point for each curve, indexed like ``result.curves``
        (which are the caller's items for plain curves and arrays); an empty
        entry uses `radius`.
    compute_widths
        Also measure the band width at every chain point.
    clean
        Remove the artefacts of the band construction (corner spurs at free
        ends, crossings split in two). ``clean=False`` gives exactly what
        ``topologize`` gives for the same numbers.
    tiles
        Compute the skeleton tile by tile, in parallel, which keeps one huge
        connected drawing (a city's traces) fast and its memory bounded.
        ``None`` (default) tiles when one cluster of overlapping bands has more
        than about a million outline vertices (a few hundred thousand points),
        where tiles are measured faster (strokes drawn many times over the same
        places, whose bands are united from the distance to them: when one
        united polygon has more than 200,000 outline vertices); ``False`` never
        tiles;
        ``True`` always tiles with the side chosen from the point density; a
        positive number is the tile side in drawing units. The tiled graph has
        the same chains, junctions and ends as the untiled one, its points
        within a fraction of `radius`. Only ``clean=True`` tiles.
    caps
        How a stroke's band ends at its free ends, as SVG's
        ``stroke-linecap``: ``"round"`` (default), ``"square"`` (reaching a
        radius past the end, so ends up to about 2.4 radii from another stroke
        join it) or ``"butt"``; or one of them per top-level item of
        `curves` (``Drawing.caps`` of an SVG file). Joins are round unless
        both ends are square. ``clean=False`` always bands as ``topologize``
        does (square caps and joins).
    progress
        ``callable(stage: str, fraction: float)``, called as the pipeline
        advances (fraction from 0 to 1 within each stage).
    crs
        The drawing's coordinate reference system (anything pyproj takes),
        for input that does not carry one; needs ``strokegraph[geopandas]``.
        A geographic CRS (degrees) raises `GeographicCRSError` unless
        `to_crs` is given; a projected one whose unit is far from a metre on
        the ground (Web Mercator away from the equator) warns.
    to_crs
        Trace in this projected CRS, or ``"local"`` for an azimuthal
        equidistant projection about the drawing's centre, and return the
        result in the drawing's CRS. `radius` is then in the units of that
        CRS (metres for ``"local"``), and so are the result's radius,
        widths and lengths.

    Returns
    -------
    Centerlines
        ``sources[i]`` holds the sorted indices of the caller's top-level
        items whose band covers chain i: the item of a sequence, the member
        of a collection geometry, the feature of a FeatureCollection (0 for a
        single geometry or Feature). A Polygon or a MultiLineString given as
        one item reports the item's index for all its curves.

    Bad input raises TypeError or ValueError naming the curve; NaN and
    infinite coordinates are passed on as the low-level call does.
    """
    frame = geo.frame_input(curves)
    if frame is not None:
        curves = frame.items
        crs = frame.crs if crs is None else crs
    call = prepare_call(
        curves,
        radius,
        feature_size=feature_size,
        simplification=simplification,
        min_tip_fraction=min_tip_fraction,
        junction_merge_fraction=junction_merge_fraction,
        per_curve_widths=per_curve_widths,
        compute_widths=compute_widths,
        subdivision_ratio=subdivision_ratio,
        max_nodes=max_nodes,
        resample=resample,
        boundary_simplification=boundary_simplification,
        merge_tolerance=merge_tolerance,
        clean=clean,
        tiles=tiles,
        caps=caps,
        progress=progress,
    )
    projection = geo.plan_projection(crs, to_crs, call.curves, call.radius)
    work = call.curves
    if projection.to_work is not None:
        work = [geo.transform(projection.to_work, c) for c in call.curves]
    raw = _native.run_native(work, call.radius, call.feature_size, call.options, progress)
    return finish(wrap(raw, work, call.owners, call.radius, call.feature_size), projection, frame, call.curves)


class PreparedCall(NamedTuple):
    """The arguments of one `centerlines` call as the native layer takes them."""

    curves: list[npt.NDArray[np.float64]]
    owners: npt.NDArray[np.int64]
    radius: float
    feature_size: Optional[float]
    options: dict[str, Any]


def prepare_call(
    curves: Any,
    radius: Number,
    *,
    feature_size: Optional[Number] = None,
    per_curve_widths: Optional[Any] = None,
    tiles: Union[bool, float, None] = None,
    caps: Union[str, Sequence[str], None] = None,
    progress: Optional[Callable[[str, float], None]] = None,
    **options: Any,
) -> PreparedCall:
    """Checks and normalises the arguments of `centerlines`.

    `progress` is only checked (it stays out of the options); `options` are
    the other keyword options by name, passed on as given, so an unknown name
    fails in the native call."""
    r = _number("radius", radius)
    if not (math.isfinite(r) and r > 0):
        raise ValueError(f"radius must be a positive finite number, got {_format(r)}")
    fs = None if feature_size is None else _number("feature_size", feature_size)
    if progress is not None and not callable(progress):
        raise TypeError(f"progress must be callable or None, got {type(progress).__name__}")
    if isinstance(tiles, np.bool_):
        tiles = bool(tiles)
    normalised, owners = normalise(curves)
    if per_curve_widths is not None:
        per_curve_widths = _widths_lists(per_curve_widths)
    options = dict(options, per_curve_widths=per_curve_widths, tiles=tiles)
    if caps is not None:
        options["caps"] = _caps_per_curve(caps, curves, owners)
    return PreparedCall(normalised, owners, r, fs, options)


def wrap(
    raw: _native.NativeResult,
    normalised: list[npt.NDArray[np.float64]],
    owners: npt.NDArray[np.int64],
    r: float,
    fs: Optional[float],
) -> Centerlines:
    """The `Centerlines` of one native result (of `centerlines` or of a batch job)."""
    points, offsets, nodes, edges, widths, source_index, source_offsets = raw
    offs = np.frombuffer(offsets, np.int64)
    index, index_offsets = map_sources(
        np.frombuffer(source_index, np.int64), np.frombuffer(source_offsets, np.int64), owners
    )
    return Centerlines(
        np.frombuffer(points, np.float64),
        offs,
        np.frombuffer(nodes, np.float64),
        np.frombuffer(edges, np.int64),
        None if widths is None else np.frombuffer(widths, np.float64),
        index,
        index_offsets,
        radius=r,
        feature_size=_native.default_feature_size(r) if fs is None else fs,
        curves=normalised,
        curve_items=owners,
    )


def _number(name: str, value: Any) -> float:
    try:
        if isinstance(value, (str, bytes)):
            raise TypeError
        return float(value)
    except (TypeError, ValueError):
        raise TypeError(f"{name} must be a number, got {type(value).__name__}") from None


def _format(x: float) -> str:
    """A float as the pipeline's messages write it ("0", "-0", "1.5", "NaN", "inf")."""
    if math.isnan(x):
        return "NaN"
    if math.isinf(x):
        return "inf" if x > 0 else "-inf"
    if x == int(x) and abs(x) < 1e16:
        return ("-" if math.copysign(1.0, x) < 0 else "") + str(abs(int(x)))
    return repr(x)


_CAPS = ("round", "square", "butt")


def _caps_per_curve(caps: Any, curves: Any, owners: npt.NDArray[np.int64]) -> Any:
    """`caps` as the native call takes it: one name, or one per curve (the
    caller's per-item names repeated for every curve of the item)."""
    if isinstance(caps, str):
        if caps not in _CAPS:
            raise ValueError(f"caps must be 'round', 'square' or 'butt', got {caps!r}")
        return caps
    if isinstance(caps, bytes) or not isinstance(caps, Iterable):
        raise TypeError(f"caps must be a str or a sequence of str, got {type(caps).__name__}")
    names = list(caps)
    for name in names:
        if not isinstance(name, str):
            raise TypeError(f"caps must be a str or a sequence of str, got an item of type "
                            f"{type(name).__name__}")
        if name not in _CAPS:
            raise ValueError(f"caps must be 'round', 'square' or 'butt', got {name!r}")
    items = len(curves) if isinstance(curves, Sized) and not isinstance(curves, Mapping) \
        and not hasattr(curves, "geom_type") else (int(owners.max()) + 1 if len(owners) else 0)
    if len(names) != items:
        raise ValueError(f"caps has {len(names)} entries but the drawing has {items} items")
    return [names[o] for o in owners.tolist()]


def _widths_lists(widths: Any) -> Any:
    """Width arrays as lists of floats, the form the pipeline reads."""
    if isinstance(widths, (str, bytes)):
        return widths
    return [w.tolist() if isinstance(w, np.ndarray) else w for w in widths]


def map_sources(
    index: npt.NDArray[np.int64], offsets: npt.NDArray[np.int64], owners: npt.NDArray[np.int64]
) -> tuple[npt.NDArray[np.int64], npt.NDArray[np.int64]]:
    """Curve indices per chain turned into the caller's item indices.

    `owners` (the item of each curve) never decreases, so indices sorted per
    chain stay sorted; repeats of one item within a chain are dropped."""
    if np.array_equal(owners, np.arange(len(owners))):
        return index, offsets  # one curve per item: the indices already are the items
    mapped = owners[index]
    chain = np.repeat(np.arange(len(offsets) - 1), np.diff(offsets))
    keep = np.ones(len(mapped), bool)
    keep[1:] = (mapped[1:] != mapped[:-1]) | (chain[1:] != chain[:-1])
    counts = np.bincount(chain[keep], minlength=len(offsets) - 1)
    new_offsets = np.zeros(len(offsets), np.int64)
    np.cumsum(counts, out=new_offsets[1:])
    return mapped[keep], new_offsets


def finish(result: Centerlines, projection: geo.Projection, frame: Optional[geo.FrameInput],
           curves: Sequence[geo.FloatArray]) -> Centerlines:
    """The result in the drawing's CRS, carrying its CRS and index."""
    if projection.back is not None:
        traced = result
        result = Centerlines(
            geo.transform(projection.back, traced.points),
            traced.offsets,
            geo.transform(projection.back, traced.nodes),
            traced.edges,
            traced.width_values,
            traced.source_index,
            traced.source_offsets,
            radius=traced.radius,
            feature_size=traced.feature_size,
            curves=list(curves),
            curve_items=traced.curve_items,
        )
        result.lengths = traced.lengths   # measured where traced: metres, not degrees
    result.crs = projection.crs
    result.traced_crs = projection.work_crs
    if frame is not None:
        result.input_index = frame.index
        result.input_frame = frame.frame
    return result
