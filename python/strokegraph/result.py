"""`Centerlines`: the graph `centerlines` returns, as numpy arrays."""

from __future__ import annotations

from collections.abc import Sequence
from functools import cached_property
from typing import TYPE_CHECKING, Any, Optional, TypeVar, Union

import numpy as np
import numpy.typing as npt

from . import export as _export
from . import plotting as _plotting

if TYPE_CHECKING:
    import networkx
    import shapely
    from matplotlib.axes import Axes

FloatArray = npt.NDArray[np.float64]
IntArray = npt.NDArray[np.int64]
_Array = TypeVar("_Array", bound="np.ndarray[Any, Any]")


class Centerlines:
    """The centerline graph of a drawing: chains between nodes.

    Chain i runs from node ``edges[i, 0]`` to node ``edges[i, 1]`` (equal for a
    closed loop) along ``chains[i]``; its first and last points are those
    nodes. All arrays are read-only views into one flat buffer per kind:
    ``points`` holds every chain point, chain i being
    ``points[offsets[i]:offsets[i + 1]]``; likewise ``width_values`` (or None)
    the widths, and ``source_index`` with ``source_offsets`` the sources.

    Attributes
    ----------
    chains : list of (k, 2) float64 arrays, one per chain
    nodes : (n, 2) float64 array
    edges : (m, 2) int64 array, start and end node of each chain
    widths : list of (k,) float64 arrays (the band width at every chain point),
        or None unless ``compute_widths`` was set
    sources : list of sorted int64 arrays: per chain, the indices of the
        caller's input items whose band covers it (see ``centerlines``)
    degree : (n,) int64 array, chain ends at each node (a loop counts twice)
    junctions, ends : int64 arrays of the nodes of degree >= 3, resp. 1
    loops : int64 array, the indices of the closed chains
    lengths : (m,) float64 array, the length of each chain
    mean_widths : (m,) float64 array of the mean width per chain, or None
    radius, feature_size : the band radius and the feature size used
    curves : list of (k, 2) float64 arrays, the input as curves
    curve_items : (len(curves),) int64 array, the caller's item of each curve
    crs : the drawing's CRS (a pyproj CRS), or None
    traced_crs : the CRS it was traced in (``to_crs``), or None
    input_index : the index of the GeoSeries / GeoDataFrame traced, or None
    input_frame : the GeoDataFrame traced (for ``to_geopandas(properties=...)``), or None
    """

    def __init__(
        self,
        points: FloatArray,
        offsets: IntArray,
        nodes: FloatArray,
        edges: IntArray,
        widths: Optional[FloatArray] = None,
        source_index: Optional[IntArray] = None,
        source_offsets: Optional[IntArray] = None,
        *,
        radius: float = float("nan"),
        feature_size: float = float("nan"),
        curves: Sequence[FloatArray] = (),
        curve_items: Optional[IntArray] = None,
    ) -> None:
        self.points: FloatArray = _readonly(np.asarray(points, np.float64).reshape(-1, 2))
        self.offsets: IntArray = _readonly(np.asarray(offsets, np.int64))
        self.nodes: FloatArray = _readonly(np.asarray(nodes, np.float64).reshape(-1, 2))
        self.edges: IntArray = _readonly(np.asarray(edges, np.int64).reshape(-1, 2))
        m = len(self.offsets) - 1
        if m < 0 or len(self.edges) != m or self.offsets[-1] != len(self.points) or (
                m and (self.offsets[1:] < self.offsets[:-1]).any()):
            raise ValueError("offsets must hold one start per chain plus the end, edges one row per chain")
        if m and (self.edges.min() < 0 or self.edges.max() >= len(self.nodes)):
            raise ValueError("edges must hold node indices")
        if source_index is None or source_offsets is None:
            source_index, source_offsets = np.zeros(0, np.int64), np.zeros(m + 1, np.int64)
        self.source_index: IntArray = _readonly(np.asarray(source_index, np.int64))
        self.source_offsets: IntArray = _readonly(np.asarray(source_offsets, np.int64))
        self.radius = float(radius)
        self.feature_size = float(feature_size)
        self.curves: list[FloatArray] = list(curves)
        self.curve_items: IntArray = _readonly(
            np.arange(len(self.curves), dtype=np.int64) if curve_items is None else np.asarray(curve_items, np.int64)
        )
        self.width_values: Optional[FloatArray] = (
            None if widths is None else _readonly(np.asarray(widths, np.float64)))
        self.crs: Any = None
        self.traced_crs: Any = None
        self.input_index: Any = None
        self.input_frame: Any = None

    # The per-chain views and the derived arrays are made on first use (most
    # calls read a few of them) and kept; assigning one replaces it.

    @cached_property
    def chains(self) -> list[FloatArray]:
        return _split(self.points, self.offsets)

    @cached_property
    def sources(self) -> list[IntArray]:
        return _split(self.source_index, self.source_offsets)

    @cached_property
    def widths(self) -> Optional[list[FloatArray]]:
        return None if self.width_values is None else _split(self.width_values, self.offsets)

    @cached_property
    def mean_widths(self) -> Optional[FloatArray]:
        if self.width_values is None:
            return None
        with np.errstate(invalid="ignore", divide="ignore"):
            return _frozen(_per_chain_sum(self.width_values, self.offsets) / np.diff(self.offsets))

    @cached_property
    def degree(self) -> IntArray:
        return _frozen(np.bincount(self.edges.ravel(), minlength=len(self.nodes)).astype(np.int64, copy=False))

    @cached_property
    def junctions(self) -> IntArray:
        return _frozen(np.flatnonzero(self.degree >= 3).astype(np.int64, copy=False))

    @cached_property
    def ends(self) -> IntArray:
        return _frozen(np.flatnonzero(self.degree == 1).astype(np.int64, copy=False))

    @cached_property
    def loops(self) -> IntArray:
        return _frozen(np.flatnonzero(self.edges[:, 0] == self.edges[:, 1]).astype(np.int64, copy=False))

    @cached_property
    def lengths(self) -> FloatArray:
        step = np.zeros(len(self.points))
        if len(self.points) > 1:
            step[:-1] = np.hypot(*(self.points[1:] - self.points[:-1]).T)
            step[self.offsets[1:-1][self.offsets[1:-1] > 0] - 1] = 0.0
        return _frozen(_per_chain_sum(step, self.offsets))

    def __len__(self) -> int:
        return len(self.offsets) - 1

    def __repr__(self) -> str:
        return (
            f"Centerlines({_count(len(self), 'chain')}, {_count(len(self.nodes), 'node')}: "
            f"{_count(len(self.junctions), 'junction')}, {_count(len(self.ends), 'end')}, "
            f"{_count(len(self.loops), 'loop')})"
        )

    # ------------------------------------------------------------ notebooks

    REPR_MAX_VERTICES = 20000   # a notebook picture draws about this many points at most

    def _repr_svg_(self) -> str:
        """The graph as a picture in a notebook, at most about
        `REPR_MAX_VERTICES` points of it (the picture says when it is thinned)."""
        return _export.to_svg(self, size=480, max_vertices=self.REPR_MAX_VERTICES)

    def _repr_html_(self) -> str:
        """The counts, the radius and the CRS above the picture."""
        import html

        from .geo import crs_label

        crs = "" if self.crs is None else f", CRS {html.escape(crs_label(self.crs))}"
        return (
            f"<div><p><b>Centerlines</b>: {_count(len(self), 'chain')}, {_count(len(self.nodes), 'node')} "
            f"({_count(len(self.junctions), 'junction')}, {_count(len(self.ends), 'end')}, "
            f"{_count(len(self.loops), 'loop')}); radius {self.radius:g}{crs}</p>"
            f"{self._repr_svg_()}</div>"
        )

    # ------------------------------------------------------------ exports

    def to_networkx(self) -> networkx.MultiGraph:
        """A networkx MultiGraph: node i with attribute ``pos`` (x, y); per chain i
        an edge keyed i with ``points`` ((k, 2) array), ``length``, ``width``
        (mean width or None) and ``sources`` (list of ints). The graph's own
        attributes hold ``radius``, ``feature_size`` and ``crs``. Needs networkx."""
        return _export.to_networkx(self)

    def to_shapely(self) -> list[shapely.LineString]:
        """One shapely LineString per chain, in chain order (a list, so that
        chain i is item i). Needs shapely."""
        return _export.to_shapely(self)

    def to_geojson(self, properties: Any = None, *, rule: Union[str, dict[str, str]] = "first",
                   frame: Any = None) -> dict[str, Any]:
        """A GeoJSON FeatureCollection dict: one LineString feature per chain with
        properties ``chain``, ``start``, ``end`` (node indices), ``length``,
        ``width`` (mean width or None) and ``sources``, and a ``crs`` member
        naming the result's CRS when it has one. `properties`, `rule` and
        `frame` add the source rows' attributes as for ``to_geopandas`` (a
        name that is taken gets the prefix ``src_``). ``json.dumps`` writes it
        (non-finite numbers become null) and ``shapely.from_geojson`` reads it."""
        return _export.to_geojson(self, properties, rule=rule, frame=frame)

    def to_geopandas(
        self,
        properties: Any = None,
        *,
        rule: Union[str, dict[str, str]] = "first",
        nodes: bool = False,
        frame: Any = None,
    ) -> Any:
        """The chains as a GeoDataFrame in the result's CRS, one row per chain:
        ``chain``, ``start`` and ``end`` (node indices), ``start_deg`` and
        ``end_deg`` (the degree of those nodes), ``length``, ``width`` (mean
        band width, NaN without widths), ``sources`` (the source rows' index
        labels: those of the GeoSeries / GeoDataFrame traced, else the item
        positions) and a LineString geometry.

        `properties` adds columns of the source rows (a name, a list of
        names, or ``"all"``), taken from the GeoDataFrame traced or from
        `frame` (rows in item order). `rule` says how the rows of a chain
        become one value (per column with a dict): ``"first"`` the first
        source row's, ``"majority"`` the most common value (ties to the
        first), ``"list"`` a list of them all. The columns keep their dtypes
        (integers with gaps become pandas' nullable integers). A column whose
        name is taken gets the prefix ``src_``.

        ``nodes=True`` returns ``(chains, nodes)``, the nodes as points with
        ``node``, ``kind`` (junction, end, node) and ``degree``. Needs
        ``strokegraph[geopandas]``."""
        from .geo import chains_frame, nodes_frame

        chains = chains_frame(self, properties, rule, frame)
        return (chains, nodes_frame(self)) if nodes else chains

    def to_svg(self, **style: Any) -> str:
        """A standalone SVG document of the chains and nodes (y pointing up, as
        in the drawing). Keywords as for ``strokegraph.export.to_svg``."""
        return _export.to_svg(self, **style)

    def plot(self, ax: Optional[Axes] = None, **kwargs: Any) -> Axes:
        """Draw the graph with matplotlib and return the axes; keywords as for
        ``strokegraph.plotting.plot``. Needs matplotlib."""
        return _plotting.plot(self, ax, **kwargs)


def _readonly(a: npt.NDArray[Any]) -> Any:
    if a.flags.writeable:
        a = a.copy()
        a.flags.writeable = False
    return a


def _frozen(a: _Array) -> _Array:
    """An array made here, read-only without a copy (nobody else holds it)."""
    a.flags.writeable = False
    return a


def _split(values: npt.NDArray[Any], offsets: IntArray) -> list[Any]:
    bounds = offsets.tolist()
    return [values[a:b] for a, b in zip(bounds[:-1], bounds[1:])]


def _per_chain_sum(values: FloatArray, offsets: IntArray) -> FloatArray:
    out = np.zeros(len(offsets) - 1)
    starts = offsets[:-1][offsets[1:] > offsets[:-1]]
    if len(starts):
        out[offsets[1:] > offsets[:-1]] = np.add.reduceat(values, starts)
    return out


def _count(n: int, noun: str) -> str:
    return f"{n} {noun}" if n == 1 else f"{n} {noun}s"

