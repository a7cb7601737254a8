from collections.abc import Sequence
from typing import Optional, SupportsFloat, SupportsIndex, Tuple, Union

_Number = Union[SupportsFloat, SupportsIndex]
_Point = Tuple[_Number, _Number]
_Curves = Sequence[Sequence[_Point]]
_Widths = Sequence[Sequence[_Number]]

Point = Tuple[float, float]
Chains = list[list[Point]]
Nodes = list[Point]
ChainNodeIds = list[Tuple[int, int]]
Polygon = Tuple[list[Point], list[list[Point]]]
Triangle = Tuple[Point, Point, Point]
BatchJob = Tuple[
    _Curves,
    _Number,
    _Number,
    Optional[_Number],
    Optional[_Number],
    Optional[_Number],
    Optional[int],
    Optional[_Number],
    Optional[_Number],
    Optional[_Number],
    Optional[_Number],
]

def inflate_curves(
    curves: _Curves,
    buffer_distance: _Number,
    feature_size: _Number,
    per_curve_widths: Optional[_Widths] = None,
    merge_tolerance: Optional[_Number] = None,
) -> list[Polygon]:
    """The buffer polygons ``(outer, holes)`` that ``topologize`` builds on.

    Outer rings are counter-clockwise, holes clockwise and at least
    ``0.1 * feature_size**2`` in area; polygons are ordered by outer ring
    length. A radius below 5e-7 leaves a curve as it is and the union fills
    it as a closed polygon. Bands are unioned per cluster of overlapping
    bounding boxes: against one union call the rings agree in number, order,
    vertex count and area, some vertices lie about 1e-6 away, and the region
    differs by less than 1e-4 of its area. ``STROKEGRAPH_SINGLE_UNION=1``
    (read per call) unions all bands in one call, bit for bit as before.
    """
def triangulate_curves(
    curves: _Curves,
    buffer_distance: _Number,
    feature_size: _Number,
    per_curve_widths: Optional[_Widths] = None,
    subdivision_ratio: Optional[_Number] = None,
    resample: Optional[_Number] = None,
    boundary_simplification: Optional[_Number] = None,
    merge_tolerance: Optional[_Number] = None,
) -> list[Triangle]: ...
def topologize(
    curves: _Curves,
    buffer_distance: _Number,
    feature_size: _Number,
    simplification: Optional[_Number] = None,
    min_tip_fraction: Optional[_Number] = None,
    junction_merge_fraction: Optional[_Number] = None,
    per_curve_widths: Optional[_Widths] = None,
    compute_widths: bool = False,
    subdivision_ratio: Optional[_Number] = None,
    max_nodes: Optional[int] = None,
    resample: Optional[_Number] = None,
    boundary_simplification: Optional[_Number] = None,
    merge_tolerance: Optional[_Number] = None,
) -> Tuple[Chains, Nodes, ChainNodeIds, list[list[float]]]: ...
def topologize_batch(jobs: Sequence[BatchJob]) -> list[Tuple[Chains, Nodes, ChainNodeIds]]: ...
