"""Drawing a `Centerlines` graph with matplotlib (``strokegraph[plot]``).

Like the exports, it reads the result through `export.ChainGraph` and does
not import `result.py`."""

from __future__ import annotations

import warnings
from typing import TYPE_CHECKING, Any, Optional

import numpy as np

from ._extras import require

if TYPE_CHECKING:
    from matplotlib.axes import Axes

    from .export import ChainGraph


def plot(
    result: ChainGraph,
    ax: Optional[Axes] = None,
    *,
    show_input: bool = False,
    show_bands: bool = False,
    show_nodes: bool = True,
    color: Any = "#1f4e79",
    linewidth: float = 1.8,
    input_color: Any = "0.5",
    band_color: Any = "#dbe4ee",
    junction_color: Any = "#c0392b",
    end_color: Any = "#27ae60",
    node_size: float = 28,
    legend: bool = False,
) -> Axes:
    """Draw the chains, junctions (dots) and free ends (squares) on `ax` (default:
    the current axes) and return the axes.

    ``show_input`` draws the input curves underneath as thin lines,
    ``show_bands`` the union of their bands of the result's radius at its
    true width (round caps and joins, in the CRS traced in for a result of
    ``to_crs``; needs shapely, skipped with a warning without it). The axes
    get an equal aspect ratio."""
    plt = require("matplotlib.pyplot", "plot()")
    from matplotlib.collections import LineCollection

    if ax is None:
        ax = plt.gca()
    if show_bands:
        _draw_bands(ax, result, band_color)
    if show_input:
        curves = [c for c in result.curves if len(c)]
        ax.add_collection(LineCollection(curves, colors=input_color, linewidths=0.7, zorder=1, label="input"))
    ax.add_collection(LineCollection(result.chains, colors=color, linewidths=linewidth, zorder=2, label="chains"))
    if show_nodes:
        for nodes, marker, c, label in ((result.junctions, "o", junction_color, "junctions"),
                                        (result.ends, "s", end_color, "ends")):
            xy = result.nodes[nodes]
            ax.scatter(xy[:, 0], xy[:, 1], s=node_size, marker=marker, color=c, zorder=3, label=label)
    ax.set_aspect("equal")
    ax.autoscale_view()
    if legend:
        ax.legend(loc="best", fontsize="small")
    return ax


def _draw_bands(ax: Axes, result: ChainGraph, color: Any) -> None:
    try:
        shapely = require("shapely", "plot(show_bands=True)")
    except ImportError as exc:
        warnings.warn(f"{exc}; the bands are not drawn", stacklevel=3)
        return
    if not (np.isfinite(result.radius) and result.radius > 0):
        warnings.warn("the result has no radius; the bands are not drawn", stacklevel=3)
        return
    from matplotlib.patches import PathPatch
    from matplotlib.path import Path

    curves, back = list(result.curves), None
    if result.traced_crs is not None and result.crs is not None and result.traced_crs != result.crs:
        # Traced in another CRS (to_crs): the bands are buffered there, where the radius is a length.
        import pyproj

        from .geo import transform

        forward = pyproj.Transformer.from_crs(result.crs, result.traced_crs, always_xy=True)
        back = pyproj.Transformer.from_crs(result.traced_crs, result.crs, always_xy=True)
        curves = [transform(forward, c) for c in curves]
    lines = [shapely.LineString(c) if len(c) > 1 else shapely.Point(c[0]) for c in curves if len(c)]
    union = shapely.union_all(shapely.buffer(lines, result.radius))
    for polygon in getattr(union, "geoms", [union]):
        if polygon.is_empty or polygon.geom_type != "Polygon":
            continue
        rings = [np.asarray(r.coords) for r in (polygon.exterior, *polygon.interiors)]
        if back is not None:
            rings = [transform(back, r) for r in rings]
        codes = [np.r_[Path.MOVETO, np.full(len(r) - 2, Path.LINETO), Path.CLOSEPOLY] for r in rings]
        path = Path(np.concatenate(rings), np.concatenate(codes).astype(np.uint8))
        ax.add_patch(PathPatch(path, facecolor=color, edgecolor="none", zorder=0))
