"""Turn loose hand-drawn or scanned polylines into a clean centerline graph.

``centerlines(curves, radius)`` returns a `Centerlines` graph (numpy arrays,
exports to networkx, shapely, GeoJSON, SVG and matplotlib). Underneath, the
exact low-level layer: strokes whose ends touch are joined, every stroke is
inflated into a band, the bands are unioned, each polygon is triangulated and
its skeleton becomes a graph; short spurs are pruned, close junctions merged,
and smoothed chains come back with their end nodes (``topologize`` and friends).
"""

from ._internal import inflate_curves, topologize, topologize_batch, triangulate_curves

# Loading the extension set `PanicException` here: the type of the error raised
# when an internal invariant fails (derived from BaseException, like
# KeyboardInterrupt, so that a bare `except Exception` does not swallow it).
PanicException: type = globals()["PanicException"]

from .api import centerlines  # noqa: E402
from .geo import GeographicCRSError as GeographicCRSError  # noqa: E402  (raised for input in degrees)
from .result import Centerlines  # noqa: E402

__all__ = [
    "Centerlines",
    "PanicException",
    "centerlines",
    "inflate_curves",
    "topologize",
    "topologize_batch",
    "triangulate_curves",
]
__version__ = "0.1.0"
