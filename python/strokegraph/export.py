"""Conversions of a `Centerlines` graph to networkx, shapely, GeoJSON and SVG.

Each is also a method of `Centerlines` (``result.to_networkx()`` etc.).
networkx and shapely are optional: install ``strokegraph[networkx]``,
``strokegraph[shapely]`` (or ``strokegraph[all]``).

The functions read the result through `ChainGraph`, the attributes they need,
so that this module does not import `result.py`: the result calls into it.
"""

from __future__ import annotations

import math
from collections.abc import Sequence
from typing import TYPE_CHECKING, Any, Optional, Protocol, cast

import numpy as np
import numpy.typing as npt

from ._extras import require

if TYPE_CHECKING:
    import networkx
    import shapely


class ChainGraph(Protocol):
    """What the exports and the plots read of a `Centerlines` result."""

    @property
    def points(self) -> npt.NDArray[np.float64]: ...
    @property
    def offsets(self) -> npt.NDArray[np.int64]: ...
    @property
    def chains(self) -> list[npt.NDArray[np.float64]]: ...
    @property
    def nodes(self) -> npt.NDArray[np.float64]: ...
    @property
    def edges(self) -> npt.NDArray[np.int64]: ...
    @property
    def sources(self) -> list[npt.NDArray[np.int64]]: ...
    @property
    def junctions(self) -> npt.NDArray[np.int64]: ...
    @property
    def ends(self) -> npt.NDArray[np.int64]: ...
    @property
    def lengths(self) -> npt.NDArray[np.float64]: ...
    @property
    def mean_widths(self) -> Optional[npt.NDArray[np.float64]]: ...
    @property
    def radius(self) -> float: ...
    @property
    def feature_size(self) -> float: ...
    @property
    def curves(self) -> Sequence[npt.NDArray[np.float64]]: ...
    @property
    def crs(self) -> Any: ...
    @property
    def traced_crs(self) -> Any: ...
    def __len__(self) -> int: ...


def _mean_widths(result: ChainGraph) -> list[Optional[float]]:
    if result.mean_widths is None:
        return [None] * len(result)
    return [w if math.isfinite(w) else None for w in result.mean_widths.tolist()]


def to_networkx(result: ChainGraph) -> networkx.MultiGraph:
    """A MultiGraph with node attribute ``pos`` and, per chain i, an edge with
    key i and attributes ``points``, ``length``, ``width``, ``sources``; the
    graph's ``crs`` is the result's (or None)."""
    nx = require("networkx", "to_networkx()")
    graph = nx.MultiGraph(radius=result.radius, feature_size=result.feature_size, crs=result.crs)
    graph.add_nodes_from((i, {"pos": (x, y)}) for i, (x, y) in enumerate(result.nodes.tolist()))
    graph.add_edges_from(
        (u, v, i, {"points": points, "length": length, "width": width, "sources": sources.tolist()})
        for i, ((u, v), points, length, width, sources) in enumerate(
            zip(result.edges.tolist(), result.chains, result.lengths.tolist(), _mean_widths(result), result.sources)
        )
    )
    return graph


def _two_point_chains(result: ChainGraph) -> list[Any]:
    """The chains, a one-point chain doubled so that every one is a line."""
    return [c if len(c) != 1 else np.repeat(c, 2, axis=0) for c in result.chains]


def to_shapely(result: ChainGraph) -> list[shapely.LineString]:
    """One LineString per chain, in chain order."""
    shp = require("shapely", "to_shapely()")
    counts = np.diff(result.offsets)
    if len(counts) and counts.min() >= 2:
        lines = shp.linestrings(result.points, indices=np.repeat(np.arange(len(counts)), counts))
        return list(lines.tolist())
    return [shp.LineString(c) for c in _two_point_chains(result)]


def to_geojson(result: ChainGraph, properties: Any = None, *, rule: Any = "first",
               frame: Any = None) -> dict[str, Any]:
    """A FeatureCollection of one LineString feature per chain; `properties`,
    `rule` and `frame` add the source rows' attributes as for `to_geopandas`."""
    attributes: dict[str, list[Any]] = {}
    if properties is not None:
        from .geo import attribute_lists

        # The source rows come from the result's input (a `Centerlines` there).
        attributes = attribute_lists(cast(Any, result), properties, rule, frame)
    features = []
    for i, ((u, v), points, length, width, sources) in enumerate(
        zip(result.edges.tolist(), _two_point_chains(result), result.lengths.tolist(), _mean_widths(result), result.sources)
    ):
        features.append(
            {
                "type": "Feature",
                "geometry": {"type": "LineString", "coordinates": points.tolist()},
                "properties": {
                    "chain": i,
                    "start": u,
                    "end": v,
                    "length": length if math.isfinite(length) else None,
                    "width": width,
                    "sources": sources.tolist(),
                    **{name: values[i] for name, values in attributes.items()},
                },
            }
        )
    doc: dict[str, Any] = {"type": "FeatureCollection", "features": features}
    if result.crs is not None:
        from .geo import geojson_crs_member

        member = geojson_crs_member(result.crs)
        if member is not None:
            doc["crs"] = member
    return doc


def to_svg(
    result: ChainGraph,
    *,
    size: float = 800,
    stroke: str = "#1f4e79",
    stroke_width: float = 1.5,
    show_nodes: bool = True,
    junction_fill: str = "#c0392b",
    end_fill: str = "#27ae60",
    node_radius: Optional[float] = None,
    background: Optional[str] = "white",
    max_vertices: Optional[int] = None,
) -> str:
    """A standalone SVG document: the chains as paths, junctions and ends as dots.

    y points up as in the drawing. `size` is the larger side in pixels,
    `stroke_width` in pixels whatever the zoom, `node_radius` in drawing units
    (default half the radius). `max_vertices` bounds the document's size: a
    larger graph has its chains thinned to about that many points in all
    (every chain keeps its ends; beyond max_vertices / 2 chains only the
    longest are drawn, end to end; nodes beyond that count are left out),
    and the picture says so in its corner."""
    pts = result.points[np.isfinite(result.points).all(axis=1)]
    if len(pts):
        lo, hi = pts.min(axis=0), pts.max(axis=0)
    else:
        lo, hi = np.zeros(2), np.ones(2)
    extent = float(max(hi[0] - lo[0], hi[1] - lo[1], 1e-9))
    if node_radius is None:
        node_radius = result.radius / 2 if math.isfinite(result.radius) and result.radius > 0 else extent / 100
    margin = max(2.0 * node_radius, extent / 50)
    x0, y0 = lo[0] - margin, -hi[1] - margin
    w, h = hi[0] - lo[0] + 2 * margin, hi[1] - lo[1] + 2 * margin
    scale = size / max(w, h)
    out = [
        '<svg xmlns="http://www.w3.org/2000/svg" '
        f'width="{w * scale:.0f}" height="{h * scale:.0f}" viewBox="{_f(x0)} {_f(y0)} {_f(w)} {_f(h)}">'
    ]
    if background:
        out.append(f'<rect x="{_f(x0)}" y="{_f(y0)}" width="{_f(w)}" height="{_f(h)}" fill="{background}"/>')
    out.append(
        f'<g fill="none" stroke="{stroke}" stroke-width="{stroke_width}" '
        'stroke-linecap="round" stroke-linejoin="round">'
    )
    chains, drawn = _thinned(result, max_vertices)
    for chain in chains:
        if len(chain):
            coords = " ".join(f"{_f(x)},{_f(-y)}" for x, y in chain.tolist())
            out.append(f'<path vector-effect="non-scaling-stroke" d="M{coords}"/>')
    out.append("</g>")
    marked = 0
    node_cap = len(result.nodes) if max_vertices is None else max_vertices
    if show_nodes:
        for nodes, fill in ((result.junctions, junction_fill), (result.ends, end_fill)):
            nodes = nodes[: max(0, node_cap - marked)]
            marked += len(nodes)
            out.append(f'<g fill="{fill}">')
            out.extend(
                f'<circle cx="{_f(x)}" cy="{_f(-y)}" r="{_f(node_radius)}"/>' for x, y in result.nodes[nodes].tolist()
            )
            out.append("</g>")
    shown_all_nodes = not show_nodes or marked == len(result.junctions) + len(result.ends)
    if drawn < len(result.points) or not shown_all_nodes:
        note = f"{drawn:,} of {len(result.points):,} points drawn"
        if len(chains) < len(result):
            note += f" ({len(chains):,} of {len(result):,} chains)"
        if not shown_all_nodes:
            note += f", {marked:,} of {len(result.junctions) + len(result.ends):,} nodes marked"
        out.append(
            f'<text x="{_f(x0 + w / 100)}" y="{_f(y0 + h - h / 100)}" font-family="sans-serif" '
            f'font-size="{_f(h / 30)}" fill="#555">{note}</text>'
        )
    out.append("</svg>\n")
    return "\n".join(out)


def _thinned(result: ChainGraph, max_vertices: Optional[int]) -> tuple[list[Any], int]:
    """The chains with every k-th point (and both ends) so that about
    `max_vertices` points remain, and how many points that is. With more
    than `max_vertices` / 2 chains only that many of the longest are kept,
    each as the line between its ends."""
    total = len(result.points)
    if max_vertices is None or total <= max_vertices:
        return result.chains, total
    if 2 * len(result) > max_vertices:
        keep = np.sort(np.argsort(-result.lengths, kind="stable")[: max(max_vertices // 2, 1)])
        chains = [result.chains[i][[0, -1]] for i in keep.tolist() if len(result.chains[i])]
        return chains, sum(len(c) for c in chains)
    # Each chain keeps its two ends; the budget left is shared by a common step.
    budget = max(max_vertices - 2 * len(result), 1)
    step = max(2, -(-total // budget))
    chains = [np.concatenate([c[:-1:step], c[-1:]]) if len(c) > 2 else c for c in result.chains]
    return chains, sum(len(c) for c in chains)


def _f(v: float) -> str:
    return f"{v:.7g}"
