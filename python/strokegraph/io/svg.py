"""SVG drawings in (through svgelements) and centerlines out.

Reading takes every `path`, `polyline`, `polygon`, `line`, `rect`, `circle`
and `ellipse` (also through `use`), with all their transforms applied, in the
user units of the root element (its viewBox), y pointing down; stroke widths
too are in those units. Every curve keeps its element's `stroke-linecap`
(`Drawing.caps`, butt where the file gives none) for `centerlines`.
Curves (quadratic and cubic Beziers, elliptical arcs, rounded corners) are
flattened into polylines that stay within a tolerance of the true curve,
radius / 20 by default. Subpaths become separate curves; a closed subpath
repeats its first point at the end. Text and images are skipped.
"""

from __future__ import annotations

import io as _io
import math
import os
import re
from typing import Any, Dict, List, Optional, Tuple, Union

import numpy as np

from ._drawing import Drawing, DrawingError, as_curve, atomic_write, make_drawing, source_items

FLATTEN_FRACTION = 1 / 20   # default flattening tolerance, as a fraction of the radius
MAX_PIECES = 4096           # polyline pieces per curve segment at most
# What `use` references may add to a file, in elements and in coordinates
# (estimated as a quarter of the characters of `d` and `points`), and how deep
# elements may nest with the references expanded: a few hundred bytes of
# references nested ten deep would otherwise expand to millions of elements.
MAX_USE_ELEMENTS = 100_000
MAX_USE_POINTS = 2_000_000
MAX_NESTING = 200


def _svgelements() -> Any:
    try:
        import svgelements
    except ImportError as e:  # pragma: no cover - depends on the installation
        raise ImportError("reading SVG needs svgelements: pip install 'strokegraph[svg]'") from e
    return svgelements


def read_svg(source: Union[str, "os.PathLike[str]", Any], *, radius: Optional[float] = None,
             tolerance: Optional[float] = None) -> Drawing:
    """Read the curves of an SVG file (a path or a file object).

    `tolerance` is the largest distance between a curve and its polyline;
    by default radius / 20, where `radius` defaults to the one the stroke
    widths suggest.
    """
    se = _svgelements()
    from xml.etree.ElementTree import ParseError

    name = os.fspath(source) if isinstance(source, (str, os.PathLike)) else None
    try:
        if name is not None:
            with open(name, "rb") as f:
                data = f.read()
        else:
            text: Any = getattr(source, "read")()
            data = text.encode("utf-8") if isinstance(text, str) else bytes(text)
        _check_expansion(data)
        # Shapes keep their transforms; polylines get them applied with numpy
        # below, far faster than point by point.
        svg = se.SVG.parse(_io.BytesIO(data), reify=False)
        elements = list(svg.elements())
    except ParseError as e:
        raise DrawingError(f"not a valid SVG file: {e}") from None
    except (ValueError, TypeError, IndexError, KeyError, AttributeError, ZeroDivisionError,
            RecursionError, OverflowError) as e:
        raise DrawingError(f"cannot read the SVG: {e}") from None

    # svgelements maps everything into the viewport; the root's viewBox
    # mapping is undone at the end, so that coordinates are the file's own.
    root = se.Matrix(svg.viewbox_transform) if getattr(svg, "viewbox_transform", "") else None
    if root is not None and root.is_identity():
        root = None
    scale = math.sqrt(abs(root.a * root.d - root.b * root.c)) if root is not None else 1.0
    if not scale > 0:
        raise DrawingError("the viewBox maps the drawing onto nothing")
    shapes: List[Tuple[Dict[str, Any], float, str, List[Any]]] = []
    skipped: Dict[str, int] = {}
    for element in elements:
        if not isinstance(element, se.Shape):
            values = getattr(element, "values", None)
            tag = values.get("tag") if isinstance(values, dict) else None
            if tag in ("text", "image"):
                skipped[tag] = skipped.get(tag, 0) + 1
            continue
        pieces = _pieces(se, element)
        if not pieces:
            continue
        props: Dict[str, Any] = {"tag": element.values.get("tag", type(element).__name__.lower())}
        cap = element.values.get("stroke-linecap")
        if element.id is not None:
            props["id"] = element.id
        width = math.nan
        if element.stroke is not None and element.stroke.value is not None:
            props["stroke"] = element.stroke.hex
            width = float(element.implicit_stroke_width) / scale
            props["stroke-width"] = width
        shapes.append((props, width, cap if cap in ("round", "square", "butt") else "butt", pieces))

    widths = np.array([w for _, w, _, _ in shapes], dtype=np.float64)
    if tolerance is None:
        if radius is None:
            ok = np.isfinite(widths) & (widths > 0)
            radius = float(np.median(widths[ok])) / 2 if ok.any() else None
        tolerance = radius * FLATTEN_FRACTION if radius else None

    if tolerance is not None:
        tolerance *= scale
    inverse = ~root if root is not None else None
    curves: List[np.ndarray] = []
    items: List[int] = []
    curve_widths: List[float] = []
    caps: List[str] = []
    properties: List[Dict[str, Any]] = []
    for props, width, cap, pieces in shapes:
        item = len(properties)
        added = False
        for raw in _flatten(se, pieces, tolerance):
            if inverse is not None:
                raw = _apply(inverse, np.asarray(raw, dtype=np.float64))
            curve = as_curve(raw)
            if curve is not None:
                curves.append(curve)
                items.append(item)
                curve_widths.append(width)
                caps.append(cap)
                added = True
        if added:
            properties.append(props)
    if not curves and skipped:
        raise DrawingError("no curves in the file (only " +
                           ", ".join(f"{n} {t}" for t, n in sorted(skipped.items())) + ")")
    return make_drawing(curves, items, properties, "svg", name,
                        stroke_widths=np.array(curve_widths, dtype=np.float64), caps=caps, y_down=True,
                        skipped=skipped)


def _check_expansion(data: bytes) -> None:
    """Raises DrawingError when the file's `use` references would expand it
    past the bounds above, or refer to an element that contains them.
    Follows the reading's own rules: a `use` takes its children, then the
    element its href names (`href` before `xlink:href`, the last of equal ids)."""
    if b"use" not in data:
        return
    from xml.etree.ElementTree import fromstring

    root = fromstring(data)
    by_id = {}
    own = 0
    for el in root.iter():
        own += 1
        if el.get("id") is not None:
            by_id[el.get("id")] = el

    def parts(el: Any) -> List[Any]:
        kids = list(el)
        tag = el.tag if isinstance(el.tag, str) else ""
        if tag.startswith("{http://www.w3.org/2000/svg"):
            tag = tag[28:]
        if tag == "use":
            url = el.get("href", el.get("{http://www.w3.org/1999/xlink}href"))
            if url is not None and url[1:] in by_id:
                kids.append(by_id[url[1:]])
        return kids

    done: Dict[int, Tuple[int, int, int]] = {}   # id(element) -> (elements, points, depth)
    entered = set()
    stack: List[Tuple[Any, bool]] = [(root, False)]
    while stack:
        el, finish = stack.pop()
        key = id(el)
        if finish:
            kids = [done[id(k)] for k in parts(el)]
            points = sum(len(el.get(a, "")) for a in ("d", "points")) // 4
            total = (1 + sum(k[0] for k in kids), points + sum(k[1] for k in kids),
                     1 + max((k[2] for k in kids), default=0))
            if total[0] - own > MAX_USE_ELEMENTS or total[1] > MAX_USE_POINTS + len(data) // 4:
                raise DrawingError(f"the file's <use> references expand it to more than "
                                   f"{MAX_USE_ELEMENTS} more elements or {MAX_USE_POINTS} more points")
            if total[2] > MAX_NESTING:
                raise DrawingError(f"elements nest more than {MAX_NESTING} deep "
                                   "(<use> references included)")
            done[key] = total
            entered.discard(key)
            continue
        if key in done:
            continue
        if key in entered:
            raise DrawingError("a <use> element refers to an element that contains it")
        entered.add(key)
        stack.append((el, True))
        stack.extend((k, False) for k in parts(el) if id(k) not in done)


def _apply(m: Any, pts: np.ndarray) -> np.ndarray:
    # A transform can overflow the points; the non-finite ones are refused
    # with the rest of the drawing's checks, not warned about here.
    with np.errstate(over="ignore", invalid="ignore"):
        out: np.ndarray = pts @ np.array([[m.a, m.b], [m.c, m.d]]) + np.array([m.e, m.f])
    return out


def _pieces(se: Any, e: Any) -> List[Any]:
    """The geometry of one shape: point arrays (polylines) or segment lists."""
    if isinstance(e, (se.Polyline, se.Polygon)) and not isinstance(e, se.Path):
        pts = np.array([(p.x, p.y) for p in e.points], dtype=np.float64).reshape(-1, 2)
        if e.transform is not None and not e.transform.is_identity():
            pts = _apply(e.transform, pts)
        if isinstance(e, se.Polygon) and len(pts):
            pts = np.vstack([pts, pts[:1]])
        return [pts] if len(pts) else []
    if isinstance(e, se.Path):
        # A path's own transform is applied to its flattened points with numpy
        # (see _flatten), not segment by segment.
        transform = e.transform if e.transform is not None and not e.transform.is_identity() \
            else None
        lines = _line_subpaths(e.values.get("d"))
        if lines is not None:
            return [_apply(transform, c) if transform is not None else c for c in lines]
        segments = list(e.segments(transformed=False))
        return [(segments, transform)] if segments else []
    e.reify()
    segments = list(e.segments())
    return [(segments, None)] if segments else []


# Path data of straight lines only: commands M L H V Z (either case), numbers,
# and the separators between them. Such data is read here, point arrays
# straight from the text; anything else goes through svgelements' segments.
_LINE_ONLY = re.compile(r"[MmLlHhVvZz0-9eE.,+\-\s]*")
_TOKEN = re.compile(r"[\s,]*(?:([MmLlHhVvZz])|([-+]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][-+]?[0-9]+)?))")
_ARITY = {"M": 2, "L": 2, "H": 1, "V": 1, "Z": 0}


def _line_subpaths(d: Any) -> Optional[List[np.ndarray]]:
    """The subpaths of line-only path data as `_flatten_segments` gives them
    from svgelements' segments (subpaths of one point dropped, a closed one
    repeating its first point), or None for any other data."""
    if not isinstance(d, str) or not _LINE_ONLY.fullmatch(d):
        return None
    tokens: List[Any] = []
    pos, end = 0, len(d.rstrip(" \t\r\n\f,"))
    while pos < end:
        m = _TOKEN.match(d, pos)
        if m is None or m.end() == pos:
            return None
        tokens.append(m.group(1) if m.group(1) else float(m.group(2)))
        pos = m.end()
    if not tokens or tokens[0] not in ("M", "m"):
        return None
    out: List[List[Tuple[float, float]]] = []
    current: List[Tuple[float, float]] = []
    x = y = 0.0
    start = (0.0, 0.0)
    i = 0
    while i < len(tokens):
        cmd = tokens[i]
        if not isinstance(cmd, str):
            return None
        i += 1
        upper = cmd.upper()
        relative = cmd != upper
        arity = _ARITY[upper]
        if arity == 0:  # Z: back to the subpath's start
            if not current:
                current = [(x, y)]
                start = current[0]
            last = current[-1]
            if abs(last[0] - start[0]) + abs(last[1] - start[1]) <= 1e-9 * (1 + abs(start[0]) + abs(start[1])):
                current[-1] = start
            else:
                current.append(start)
            out.append(current)
            x, y = start
            current = [start]
            continue
        first = True
        while True:
            args = tokens[i:i + arity]
            if len(args) < arity or any(isinstance(a, str) for a in args):
                if first:
                    return None
                break
            i += arity
            if upper == "H":
                x = x + args[0] if relative else args[0]
            elif upper == "V":
                y = y + args[0] if relative else args[0]
            else:
                x, y = (x + args[0], y + args[1]) if relative else (args[0], args[1])
            if upper == "M" and first:
                if len(current) > 1:
                    out.append(current)
                current = [(x, y)]
                start = current[0]
            else:
                if not current:
                    current = [start]
                current.append((x, y))
            first = False
            if i >= len(tokens) or isinstance(tokens[i], str):
                break
    if len(current) > 1:
        out.append(current)
    return [np.array(c, dtype=np.float64) for c in out]


def _stretch(m: Any) -> float:
    """The largest factor by which the matrix stretches a length."""
    a = np.array([[m.a, m.b], [m.c, m.d]], dtype=np.float64)
    return float(np.linalg.norm(a, 2))


def _flatten(se: Any, pieces: List[Any], tol: Optional[float]) -> List[Any]:
    out: List[Any] = []
    for piece in pieces:
        if isinstance(piece, np.ndarray):
            out.append(piece)
            continue
        segments, transform = piece
        if transform is None:
            out.extend(_flatten_segments(se, segments, tol))
            continue
        stretch = _stretch(transform)
        local = tol / stretch if tol is not None and stretch > 0 else tol
        out.extend(_apply(transform, np.asarray(c, dtype=np.float64))
                   for c in _flatten_segments(se, segments, local))
    return out


def _flatten_segments(se: Any, piece: List[Any], tol: Optional[float]) -> List[Any]:
    out: List[Any] = []
    current: List[Tuple[float, float]] = []
    start = (0.0, 0.0)
    for seg in piece:
        if isinstance(seg, se.Move):
            if len(current) > 1:
                out.append(current)
            current = [(seg.end.x, seg.end.y)]
            start = current[0]
            continue
        if not current:  # a path that does not begin with a move
            begin = seg.start if seg.start is not None else seg.end
            current = [(begin.x, begin.y)]
            start = current[0]
        if isinstance(seg, se.Close):
            last = current[-1]
            if abs(last[0] - start[0]) + abs(last[1] - start[1]) <= 1e-9 * (1 + abs(start[0]) + abs(start[1])):
                current[-1] = start  # closed by the last segment up to rounding
            else:
                current.append(start)
            out.append(current)
            current = [start]
        elif isinstance(seg, se.Line):
            current.append((seg.end.x, seg.end.y))
        elif isinstance(seg, (se.QuadraticBezier, se.CubicBezier)):
            ctrl = [seg.start, seg.control, seg.end] if isinstance(seg, se.QuadraticBezier) \
                else [seg.start, seg.control1, seg.control2, seg.end]
            current.extend(_bezier(np.array([(p.x, p.y) for p in ctrl], dtype=np.float64), tol))
        elif isinstance(seg, se.Arc):
            current.extend(_arc(seg, tol))
        elif getattr(seg, "end", None) is not None:
            current.append((seg.end.x, seg.end.y))
    if len(current) > 1:
        out.append(current)
    return out


def _count(bound: float, tol: Optional[float]) -> int:
    """Pieces so that a curve whose second derivative stays under `bound`
    deviates at most `tol` from its chords (error <= bound / (8 n^2))."""
    if not tol or tol <= 0 or not math.isfinite(bound):
        return 16
    return max(1, min(MAX_PIECES, math.ceil(math.sqrt(bound / (8 * tol)))))


def _bezier(ctrl: np.ndarray, tol: Optional[float]) -> List[Tuple[float, float]]:
    degree = len(ctrl) - 1
    second = ctrl[2:] - 2 * ctrl[1:-1] + ctrl[:-2]
    n = _count(degree * (degree - 1) * float(np.hypot(*second.T).max()), tol)
    t = (np.arange(1, n + 1) / n)[:, None]
    s = 1 - t
    if degree == 2:
        pts = s * s * ctrl[0] + 2 * s * t * ctrl[1] + t * t * ctrl[2]
    else:
        pts = s ** 3 * ctrl[0] + 3 * s * s * t * ctrl[1] + 3 * s * t * t * ctrl[2] + t ** 3 * ctrl[3]
    pts[-1] = ctrl[-1]
    return [tuple(p) for p in pts.tolist()]


def _arc(seg: Any, tol: Optional[float]) -> List[Tuple[float, float]]:
    c, prx, pry = seg.center, seg.prx, seg.pry
    r = max(math.hypot(prx.x - c.x, prx.y - c.y), math.hypot(pry.x - c.x, pry.y - c.y))
    sweep = abs(float(seg.sweep))
    if not tol or tol <= 0:
        n = max(1, math.ceil(sweep / (math.pi / 16)))
    elif r <= 0 or not math.isfinite(r):
        n = 1
    else:
        step = 2 * math.acos(max(-1.0, 1 - tol / r))
        n = max(1, min(MAX_PIECES, math.ceil(sweep / step)))
    pts = [(p.x, p.y) for p in (seg.point(i / n) for i in range(1, n))]
    return pts + [(seg.end.x, seg.end.y)]


# ---------------------------------------------------------------- writing

def _num(v: float) -> str:
    return repr(float(v))


def _d(points: np.ndarray) -> str:
    return "M" + " L".join(f"{x!r} {y!r}" for x, y in points.tolist())


def to_svg_text(result: Any, drawing: Optional[Drawing] = None, *, over_input: bool = False) -> str:
    """SVG text of the chains (stroke width = band width, round caps), each a
    `path` with `data-start`, `data-end` and `data-sources` (input items).
    Coordinates are written exactly (shortest round-trip form). A drawing whose
    y points up is drawn upright through a flipping group transform.
    With `over_input` the input strokes are drawn underneath in grey, the
    chains thin on top, junctions and free ends marked."""
    radius = float(result.radius)
    parts = [c for c in result.chains if len(c)]
    if drawing is not None and over_input:
        parts += drawing.curves
    pts = np.concatenate(parts) if parts else np.zeros((1, 2))
    pad = 2 * radius
    x0, y0 = pts.min(axis=0) - pad
    x1, y1 = pts.max(axis=0) + pad
    y_down = drawing.y_down if drawing is not None else True
    vy = y0 if y_down else -y1
    w, h = x1 - x0, y1 - y0
    out = ['<?xml version="1.0" encoding="UTF-8"?>',
           f'<svg xmlns="http://www.w3.org/2000/svg" width="{_num(w)}" height="{_num(h)}" '
           f'viewBox="{_num(x0)} {_num(vy)} {_num(w)} {_num(h)}">']
    if not y_down:
        out.append('<g transform="matrix(1 0 0 -1 0 0)">')
    if drawing is not None and over_input:
        out.append('<g id="input" fill="none" stroke="#b8b8b8" stroke-linecap="round" '
                   'stroke-linejoin="round">')
        sw = drawing.stroke_widths
        for i, c in enumerate(drawing.curves):
            width = sw[i] if sw is not None and math.isfinite(sw[i]) else 2 * radius
            out.append(f'<path d="{_d(c)}" stroke-width="{_num(width)}"/>')
        out.append("</g>")
    line_width = radius / 3 if over_input else 2 * radius
    out.append(f'<g id="centerlines" fill="none" stroke="#000000" stroke-width="{_num(line_width)}" '
               f'stroke-linecap="round" stroke-linejoin="round">')
    items = source_items(result, drawing)
    edges = np.asarray(result.edges).tolist()
    for i, chain in enumerate(result.chains):
        colour = ""
        if drawing is not None and items[i] and not over_input:
            stroke = drawing.properties[items[i][0]].get("stroke")
            if stroke and stroke != "#000000":
                colour = f' stroke="{stroke}"'
        src = " ".join(map(str, items[i]))
        out.append(f'<path id="chain-{i}" d="{_d(np.asarray(chain))}"{colour} data-start="{edges[i][0]}" '
                   f'data-end="{edges[i][1]}" data-sources="{src}"/>')
    out.append("</g>")
    if over_input:
        nodes = np.asarray(result.nodes)
        for ids, colour in ((result.junctions, "#d62728"), (result.ends, "#2ca02c")):
            out.append(f'<g fill="{colour}">')
            out.extend(f'<circle cx="{_num(x)}" cy="{_num(y)}" r="{_num(radius * 0.6)}"/>'
                       for x, y in nodes[np.asarray(ids, dtype=np.int64)].tolist())
            out.append("</g>")
    if not y_down:
        out.append("</g>")
    out.append("</svg>\n")
    return "\n".join(out)


def write_svg(result: Any, path: Union[str, "os.PathLike[str]"], drawing: Optional[Drawing] = None, *,
              over_input: bool = False) -> None:
    """Write `to_svg_text(result, drawing, over_input=...)` atomically to `path`."""
    text = to_svg_text(result, drawing, over_input=over_input)
    with atomic_write(path) as f:
        f.write(text)


__all__ = ["read_svg", "to_svg_text", "write_svg"]
