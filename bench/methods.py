"""The methods under comparison, all with equivalent settings.

Every method takes the strokes (lists of (x, y) tuples), the buffer radius r
and the feature size fs, and returns a `Result`: the output centerlines as
polylines plus the positions of its junctions (degree >= 3) and free ends
(degree 1). Settings shared by all: bands of radius r with square caps and
square joins, spurs shorter than 2 x fs removed where the method can, output
simplified at fs / 10 where the method can.

Each method imports its libraries lazily, so `strokegraph` runs from the
project's .venv and the peers from bench/.venv.
"""

from __future__ import annotations

from typing import Callable, Dict, List, NamedTuple, Sequence, Tuple

Point = Tuple[float, float]


class Result(NamedTuple):
    lines: List[List[Point]]
    junctions: List[Point]
    endpoints: List[Point]


def _nodes_by_degree(degree: Dict, position: Callable) -> Tuple[List[Point], List[Point]]:
    junctions = sorted(position(k) for k, d in degree.items() if d >= 3)
    endpoints = sorted(position(k) for k, d in degree.items() if d == 1)
    return junctions, endpoints


def graph_of_lines(lines: Sequence[Sequence[Point]]) -> Result:
    """Degrees from line ends that coincide (to 1e-7): for peers that return
    bare line strings."""
    degree: Dict[Tuple[int, int], int] = {}
    where: Dict[Tuple[int, int], Point] = {}
    for line in lines:
        if len(line) < 2:
            continue
        for p in (line[0], line[-1]):
            k = (round(p[0] * 1e7), round(p[1] * 1e7))
            degree[k] = degree.get(k, 0) + 1
            where.setdefault(k, (float(p[0]), float(p[1])))
    j, e = _nodes_by_degree(degree, where.__getitem__)
    return Result([[(float(x), float(y)) for x, y in line] for line in lines if len(line) >= 2], j, e)


# ---------------------------------------------------------------- ours

def run_strokegraph(strokes, r, fs):
    import strokegraph
    return strokegraph.topologize(strokes, r, fs)


def convert_strokegraph(raw) -> Result:
    chains, nodes, ids, _ = raw
    degree: Dict[int, int] = {}
    for a, b in ids:
        degree[a] = degree.get(a, 0) + 1
        degree[b] = degree.get(b, 0) + 1
    j, e = _nodes_by_degree(degree, lambda k: tuple(nodes[k]))
    return Result([list(c) for c in chains], j, e)


def run_centerlines(strokes, r, fs):
    from strokegraph import _core
    return _core.centerlines(strokes, r, fs)


def run_centerlines_default(strokes, r, fs):
    """The clean call with its own default feature size (fs is not passed)."""
    from strokegraph import _core
    return _core.centerlines(strokes, r)


def convert_centerlines(raw) -> Result:
    import numpy as np
    points, offsets, nodes, edges = raw[:4]
    points = np.frombuffer(points, dtype=np.float64).reshape(-1, 2)
    offsets = np.frombuffer(offsets, dtype=np.int64)
    nodes = np.frombuffer(nodes, dtype=np.float64).reshape(-1, 2)
    edges = np.frombuffer(edges, dtype=np.int64).reshape(-1, 2)
    degree = np.bincount(edges.ravel(), minlength=len(nodes))
    j, e = _nodes_by_degree(dict(enumerate(degree.tolist())), lambda k: tuple(nodes[k].tolist()))
    lines = [points[offsets[i]:offsets[i + 1]].tolist() for i in range(len(offsets) - 1)]
    return Result(lines, j, e)


# ---------------------------------------------------------------- shapely front

def shapely_union(strokes, r):
    """Buffer every stroke with square caps and square (mitre clipped at r)
    joins and union the bands."""
    import numpy as np
    import shapely
    lines = shapely.linestrings(np.concatenate([np.asarray(s, dtype=float) for s in strokes]),
                                indices=np.repeat(np.arange(len(strokes)), [len(s) for s in strokes]))
    bands = shapely.buffer(lines, r, cap_style="square", join_style="mitre", mitre_limit=1.0)
    return shapely.union_all(bands)


def _line_coords(geom) -> List[List[Point]]:
    if geom is None or geom.is_empty:
        return []
    parts = getattr(geom, "geoms", [geom])
    out = []
    for g in parts:
        if g.geom_type == "LineString":
            out.append([tuple(c) for c in g.coords])
        elif hasattr(g, "geoms"):
            out.extend(_line_coords(g))
    return out


def run_pygeoops(strokes, r, fs):
    import pygeoops
    union = shapely_union(strokes, r)
    # Same boundary density (edges of at most 1.5 fs), spur length and output
    # simplification as ours.
    return pygeoops.centerline(union, densify_distance=1.5 * fs, min_branch_length=2.0 * fs,
                               simplifytolerance=fs / 10.0, extend=False)


def convert_lines(raw) -> Result:
    return graph_of_lines(_line_coords(raw))


def run_centerline(strokes, r, fs):
    from centerline.geometry import Centerline
    union = shapely_union(strokes, r)
    # The package has no spur pruning and no simplification; its boundary
    # sampling distance is the one knob (its default, 0.5, is r / 2 here).
    return Centerline(union, interpolation_distance=0.5 * r).geometry


# ---------------------------------------------------------------- raster route

PX_PER_RADIUS = 10


def run_raster(strokes, r, fs):
    """Union as above, rasterised at 10 px per r, thinned by scikit-image,
    graph by sknw, tips shorter than 2 fs removed (one pass)."""
    import numpy as np
    from PIL import Image, ImageDraw
    from skimage.morphology import skeletonize
    import sknw

    union = shapely_union(strokes, r)
    scale = PX_PER_RADIUS / r
    x0, y0, x1, y1 = union.bounds
    x0, y0 = x0 - r, y0 - r
    w, h = int((x1 - x0) * scale) + 2 * PX_PER_RADIUS, int((y1 - y0) * scale) + 2 * PX_PER_RADIUS
    img = Image.new("L", (w, h), 0)
    draw = ImageDraw.Draw(img)

    def px(ring):
        c = np.asarray(ring.coords)
        return [tuple(p) for p in ((c - (x0, y0)) * scale).tolist()]

    for poly in getattr(union, "geoms", [union]):
        draw.polygon(px(poly.exterior), fill=1)
        for hole in poly.interiors:
            draw.polygon(px(hole), fill=0)
    # (bytes of 0/1, compared: a bool view of a mode "1" image holds 255s,
    # which the thinning routine does not expect)
    mask = np.asarray(img) > 0
    skeleton = skeletonize(mask)
    graph = sknw.build_sknw(skeleton, multi=True)
    tip = 2.0 * fs * scale
    doomed = [(s, e, k) for s, e, k, d in graph.edges(keys=True, data=True)
              if s != e and (graph.degree(s) == 1 or graph.degree(e) == 1) and d["weight"] < tip]
    graph.remove_edges_from(doomed)
    graph.remove_nodes_from([n for n in list(graph.nodes) if graph.degree(n) == 0])

    def world(rc):
        return (float(rc[1]) / scale + x0, float(rc[0]) / scale + y0)

    lines = []
    for s, e, d in graph.edges(data=True):
        pts = [graph.nodes[s]["o"]] + list(d["pts"]) + [graph.nodes[e]["o"]]
        lines.append([world(p) for p in pts])
    degree = {n: graph.degree(n) for n in graph.nodes}
    j, e = _nodes_by_degree(degree, lambda n: world(graph.nodes[n]["o"]))
    return Result(lines, j, e)


# ---------------------------------------------------------------- registry

class Method(NamedTuple):
    name: str
    run: Callable
    convert: Callable
    venv: str  # "ours" (the project's .venv) or "peers" (bench/.venv)
    slow: bool  # only in `make bench-full` beyond the small size


METHODS = {
    "strokegraph": Method("strokegraph", run_strokegraph, convert_strokegraph, "ours", False),
    "strokegraph clean": Method("strokegraph clean", run_centerlines, convert_centerlines, "ours", False),
    "shapely+pygeoops": Method("shapely+pygeoops", run_pygeoops, convert_lines, "peers", False),
    "shapely+centerline": Method("shapely+centerline", run_centerline, convert_lines, "peers", True),
    "raster (skimage+sknw)": Method("raster (skimage+sknw)", run_raster, lambda raw: raw, "peers", False),
}

# Not in the default comparison: the clean call with its own feature size,
# for the quality sweep.
EXTRA_METHODS = {
    "strokegraph clean (default fs)": Method("strokegraph clean (default fs)", run_centerlines_default,
                                             convert_centerlines, "ours", False),
}
