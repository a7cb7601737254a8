"""The `strokegraph` command: trace drawing files, describe them, picture them.

    strokegraph trace INPUT... -o OUT [--radius R|auto] [--feature-size F]
                      [--layer NAME] [--to-crs local|CRS]
                      [--format svg|geojson|json|gpkg|parquet|shp|fgb]
                      [--jobs N] [--plot] [--quiet]
    strokegraph info FILE...
    strokegraph plot FILE -o out.png

INPUT may be files or folders (searched recursively for .svg, .geojson,
.json, .gpkg, .parquet, .shp and .fgb files; the GIS formats need
strokegraph[gis]). A file that cannot be traced is reported with its name and the
reason; the others still finish. The exit status is the number of files that
failed (at most 125), 0 when all were traced; 2 also stands for a usage error,
130 for an interrupted run. Every output is written to a temporary file and
renamed into place, so an interrupted run leaves no half-written file.
"""

from __future__ import annotations

import argparse
import multiprocessing
import os
import signal
import sys
import time
import warnings
from dataclasses import dataclass, replace
from pathlib import Path
from typing import Any, Dict, Iterator, List, Optional, Sequence, Tuple, Type, Union

from . import GeographicCRSError, PanicException, geo, io
from ._trace import trace

MAX_STATUS = 125
AUTO_PARALLEL_FILES = 8   # without --jobs, fewer files run in this process
# What a file may fail with without stopping the others: an internal failure
# (PanicException) too, which an `except Exception` would not catch.
FAILURES: Tuple[Type[BaseException], ...] = (Exception, PanicException)
INPUT_SUFFIXES = (".svg", ".geojson", ".json", *io.GIS_SUFFIXES)


@dataclass(frozen=True)
class Task:
    index: int
    source: str
    output: str
    format: str
    radius: Optional[float]         # None: the drawing's suggested radius
    feature_size: Optional[float]   # None: the file's, else the library default
    picture: bool = False
    over_input: bool = False
    layer: Optional[str] = None
    to_crs: Optional[str] = None


@dataclass
class Outcome:
    index: int
    error: Optional[str] = None
    seconds: float = 0.0
    reading: float = 0.0
    tracing: float = 0.0
    writing: float = 0.0
    radius_rule: Optional[str] = None   # how --radius auto chose the radius
    warnings: Tuple[str, ...] = ()


def _reason(e: BaseException, source: Optional[str] = None) -> str:
    if isinstance(e, OSError) and e.strerror:
        text = e.strerror[0].lower() + e.strerror[1:]
        name = os.fsdecode(e.filename) if e.filename is not None else None
        return text if name is None or name == source else f"{text}: {name}"
    if isinstance(e, (io.DrawingError, ImportError, GeographicCRSError)):
        return str(e)
    if isinstance(e, MemoryError):
        return "out of memory" + (f": {e}" if str(e) else "")
    if not isinstance(e, Exception):  # PanicException
        return f"internal error: {e}"
    return f"{type(e).__name__}: {e}" if str(e) else type(e).__name__


def _same_file(a: str, b: str) -> bool:
    try:
        return os.path.samefile(a, b)
    except OSError:
        return False


def process(task: Task) -> Outcome:
    """Read, trace and write one file; failures become the outcome's `error`."""
    out = Outcome(task.index)
    start = time.perf_counter()
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always", UserWarning)
        _process(task, out, start)
    out.warnings = tuple(dict.fromkeys(str(w.message) for w in caught))
    out.seconds = time.perf_counter() - start
    return out


def _process(task: Task, out: Outcome, start: float) -> None:
    try:
        if _same_file(task.source, task.output):
            raise io.DrawingError(f"the output {task.output} would overwrite the input")
        drawing = io.read(task.source, radius=task.radius, layer=task.layer)
        t1 = time.perf_counter()
        radius = task.radius
        if radius is None:
            radius, how = auto_radius(drawing, task.to_crs)
            out.radius_rule = f"{radius:g}, {how}"
        feature_size = task.feature_size if task.feature_size is not None else drawing.feature_size
        result = trace(drawing.curves, radius, feature_size=feature_size, compute_widths=task.format != "svg",
                       crs=drawing_crs(drawing, task.to_crs), to_crs=task.to_crs, caps=drawing.caps)
        t2 = time.perf_counter()
        Path(task.output).parent.mkdir(parents=True, exist_ok=True)
        io.write(result, task.output, drawing, format=task.format, over_input=task.over_input)
        if task.picture:
            save_picture(drawing, result, str(Path(task.output).with_suffix(".png")))
        t3 = time.perf_counter()
        out.reading, out.tracing, out.writing = t1 - start, t2 - t1, t3 - t2
    except FAILURES as e:
        out.error = _reason(e, task.source)


def drawing_crs(drawing: io.Drawing, to_crs: Optional[str]) -> Any:
    """The drawing's CRS for tracing. GeoJSON without a ``crs`` member is in
    longitude / latitude by its definition, which counts once --to-crs asks
    for a projection (drawings in GeoJSON often are in units of their own).
    Without pyproj a CRS stated as text is only checked for being a common
    geographic one."""
    crs = drawing.crs
    if crs is None and to_crs is not None and drawing.format == "geojson":
        crs = "OGC:CRS84"
    if crs is None or not isinstance(crs, str):
        return crs
    try:
        import pyproj  # noqa: F401
    except ImportError:
        if geo.is_geographic_name(crs):
            raise GeographicCRSError(geo.geographic_message(crs)) from None
        return None
    return crs


def auto_radius(drawing: io.Drawing, to_crs: Optional[str]) -> Tuple[float, str]:
    """The drawing's suggested radius, measured in the CRS it is traced in."""
    crs = drawing_crs(drawing, to_crs)
    if to_crs is None or crs is None or drawing.radius is not None:
        return drawing.suggested_radius()
    projection = geo.plan_projection(crs, to_crs, drawing.curves, 1.0)
    curves = [geo.transform(projection.to_work, c) for c in drawing.curves]
    return replace(drawing, curves=curves).suggested_radius()


# ---------------------------------------------------------------- pictures

def save_picture(drawing: io.Drawing, result: Any, path: str, *, dpi: int = 120) -> None:
    """Input (left) and result (right) side by side as a PNG, written atomically."""
    try:
        from matplotlib.figure import Figure
    except ImportError as e:
        raise ImportError("pictures need matplotlib: pip install 'strokegraph[plot]'") from e
    fig = Figure(figsize=(12, 6), layout="constrained")
    left, right = fig.subplots(1, 2, sharex=True, sharey=True)
    # The bands at their true width show which gaps the radius bridges.
    result.plot(ax=left, show_bands=True, show_nodes=False, color="none")
    for c in drawing.curves:
        left.plot(c[:, 0], c[:, 1], "-", color="0.2", linewidth=0.8)
    left.set_title(f"input: {len(drawing.curves)} curves, {drawing.point_count} points, bands of the radius")
    result.plot(ax=right)
    right.set_title(f"result: {len(result.chains)} chains, {len(result.junctions)} junctions, "
                    f"{len(result.ends)} ends (radius {result.radius:g})")
    for ax in (left, right):
        ax.set_aspect("equal")
        if drawing.y_down and not ax.yaxis_inverted():
            ax.invert_yaxis()
    with io.atomic_write(path, "wb") as f:
        fig.savefig(f, format="png", dpi=dpi)


# ---------------------------------------------------------------- running many files

def _worker_init() -> None:
    # Ctrl-C is the parent's to handle; a terminating parent sends SIGTERM,
    # which unwinds the worker so that no temporary file stays behind.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))


def _serve(conn: Any) -> None:
    """A worker process: traces the tasks the parent sends until it sends None."""
    _worker_init()
    try:
        while True:
            task = conn.recv()
            if task is None:
                return
            conn.send(process(task))
    except (EOFError, OSError):  # the parent is gone
        return


def _death(code: Optional[int]) -> str:
    if code is not None and code < 0:
        try:
            name = signal.Signals(-code).name
        except ValueError:
            name = f"signal {-code}"
        return f"the worker process was killed ({name})"
    return f"the worker process ended (exit status {code})"


def run(tasks: Sequence[Task], jobs: int) -> Iterator[Outcome]:
    """Outcomes in completion order; several processes when `jobs` > 1.

    Every worker takes one task at a time, so a worker that dies (killed, or
    crashed in native code) costs exactly the file it was on: that file is
    reported failed and a fresh worker takes the rest."""
    workers = min(jobs, len(tasks))
    if workers <= 1:
        for t in tasks:
            yield process(t)
        return
    from multiprocessing.connection import wait

    methods = multiprocessing.get_all_start_methods()
    ctx: Any = multiprocessing.get_context("forkserver" if "forkserver" in methods else "spawn")
    if ctx.get_start_method() == "forkserver":
        ctx.set_forkserver_preload(["strokegraph.cli"])
    waiting = list(reversed(tasks))
    busy: Dict[Any, Tuple[Any, Task]] = {}   # connection -> (process, task)
    idle: List[Tuple[Any, Any]] = []

    def start() -> Tuple[Any, Any]:
        here, there = ctx.Pipe()
        proc = ctx.Process(target=_serve, args=(there,), daemon=True)
        proc.start()
        there.close()
        return here, proc

    def hand_out(conn: Any, proc: Any) -> None:
        if not waiting:
            idle.append((conn, proc))
            return
        for attempt in range(3):
            try:
                conn.send(waiting[-1])
                break
            except OSError:  # died between two files: a successor takes this one
                conn.close()
                proc.join()
                if attempt == 2:
                    raise
                conn, proc = start()
        busy[conn] = (proc, waiting.pop())

    try:
        for _ in range(workers):
            hand_out(*start())
        while busy:
            ready = set(wait(list(busy) + [proc.sentinel for proc, _ in busy.values()]))
            for conn in list(busy):
                proc, task = busy[conn]
                if conn not in ready and proc.sentinel not in ready:
                    continue
                del busy[conn]
                try:
                    outcome = conn.recv() if conn.poll() else None
                except (EOFError, OSError):
                    outcome = None
                if outcome is not None:
                    yield outcome
                    hand_out(conn, proc)
                    continue
                conn.close()
                proc.join()
                yield Outcome(task.index, error=_death(proc.exitcode))
                if waiting:
                    hand_out(*start())
    finally:
        # Idle workers end on their own; busy ones (an interrupted run) get
        # SIGTERM, which unwinds them so that no temporary file stays behind.
        for conn, proc in idle:
            try:
                conn.send(None)
            except OSError:
                pass
        for proc, _ in busy.values():
            proc.terminate()
        for conn, proc in idle + [(c, p) for c, (p, _) in busy.items()]:
            proc.join(5)
            if proc.is_alive():
                proc.kill()
                proc.join()
            conn.close()


class _Progress:
    """Files done, files/s and the slowest file so far, on a terminal only."""

    def __init__(self, total: int, quiet: bool):
        self.bar = None
        if not quiet and sys.stderr.isatty():
            try:
                from tqdm import tqdm
            except ImportError:
                pass
            else:
                self.bar = tqdm(total=total, unit="file", file=sys.stderr, dynamic_ncols=True)
        self.slowest: Tuple[float, str] = (-1.0, "")

    def message(self, text: str) -> None:
        if self.bar is not None:
            self.bar.write(text, file=sys.stderr)
        else:
            print(text, file=sys.stderr, flush=True)

    def done(self, name: str, seconds: float) -> None:
        if seconds > self.slowest[0]:
            self.slowest = (seconds, name)
        if self.bar is not None:
            self.bar.set_postfix_str(f"slowest {self.slowest[1]} {self.slowest[0]:.2f}s", refresh=False)
            self.bar.update(1)

    def close(self) -> None:
        if self.bar is not None:
            self.bar.close()


# ---------------------------------------------------------------- trace

def _radius(text: str) -> Union[str, float]:
    if text == "auto":
        return text
    return _positive(text)


def _positive(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not (value > 0 and value < float("inf")):
        raise argparse.ArgumentTypeError(f"must be a positive number, got {text!r}")
    return value


def _drawings_in(folder: Path, problems: List[Tuple[str, str]]) -> List[Path]:
    """The drawings under `folder` (hidden names left out); a sub-folder that
    cannot be listed goes into `problems` as (folder, reason)."""
    found: List[Path] = []

    def unreadable(e: OSError) -> None:
        where = os.fsdecode(e.filename) if e.filename is not None else str(folder)
        problems.append((where, _reason(e, where)))

    for root, dirs, files in os.walk(folder, onerror=unreadable):
        dirs[:] = [d for d in dirs if not d.startswith(".")]
        found += [p for p in (Path(root) / f for f in files if not f.startswith("."))
                  if p.suffix.lower() in INPUT_SUFFIXES and p.is_file()]
    return sorted(found)


def plan(inputs: Sequence[str], out: str,
         fmt: Optional[str]) -> Tuple[List[Tuple[str, str]], str, List[Tuple[str, str]]]:
    """(source, output) pairs, the output format, and (folder, reason) for
    folders without drawings and sub-folders that cannot be read.
    One input file and an OUT with a suffix that is no folder: OUT is the file."""
    single = (len(inputs) == 1 and not Path(inputs[0]).is_dir() and not Path(out).is_dir()
              and Path(out).suffix != "")
    if single:
        fmt = fmt or io.OUTPUT_SUFFIXES.get(Path(out).suffix.lower(), "json")
        return [(inputs[0], out)], fmt, []
    fmt = fmt or "svg"
    pairs: List[Tuple[str, str]] = []
    empty: List[Tuple[str, str]] = []
    for arg in inputs:
        p = Path(arg)
        if p.is_dir():
            found = _drawings_in(p, empty)
            if not found:
                empty.append((arg, "no .svg, .geojson or .json files in this folder"))
            pairs += [(str(f), str(Path(out) / f.relative_to(p).with_suffix(io.SUFFIXES[fmt])))
                      for f in found]
        else:
            pairs.append((arg, str(Path(out) / Path(p.name).with_suffix(io.SUFFIXES[fmt]))))
    return pairs, fmt, empty


def cmd_trace(args: argparse.Namespace, parser: argparse.ArgumentParser) -> int:
    pairs, fmt, empty = plan(args.inputs, args.output, args.format)
    seen: Dict[str, str] = {}
    for src, dst in pairs:
        key = os.path.normpath(os.path.abspath(dst))
        if key in seen:
            parser.error(f"{seen[key]} and {src} would both be written to {dst}")
        seen[key] = src
    radius = None if args.radius == "auto" else args.radius
    tasks = [Task(i, src, dst, fmt, radius, args.feature_size, args.plot, args.over_input, args.layer, args.to_crs)
             for i, (src, dst) in enumerate(pairs)]
    # By default one process per processor, unless there are too few files to
    # pay for starting them.
    jobs = args.jobs or (os.cpu_count() or 1 if len(tasks) >= AUTO_PARALLEL_FILES else 1)
    progress = _Progress(len(tasks), args.quiet)
    failed = len(empty)
    for folder, reason in empty:
        progress.message(f"strokegraph: {folder}: {reason}")
    totals = [0.0, 0.0, 0.0]
    rules: Dict[str, int] = {}
    start = time.perf_counter()
    try:
        for outcome in run(tasks, jobs):
            task = tasks[outcome.index]
            for warning in outcome.warnings:
                progress.message(f"strokegraph: {task.source}: warning: {warning}")
            if outcome.error is not None:
                failed += 1
                progress.message(f"strokegraph: {task.source}: {outcome.error}")
            if outcome.radius_rule is not None:
                rules[outcome.radius_rule] = rules.get(outcome.radius_rule, 0) + 1
                if len(tasks) < AUTO_PARALLEL_FILES and not args.quiet:
                    progress.message(f"strokegraph: {task.source}: radius {outcome.radius_rule}")
            totals[0] += outcome.reading
            totals[1] += outcome.tracing
            totals[2] += outcome.writing
            progress.done(Path(task.source).name, outcome.seconds)
    except KeyboardInterrupt:
        progress.close()
        print("strokegraph: interrupted", file=sys.stderr)
        return 130
    progress.close()
    elapsed = time.perf_counter() - start
    if not args.quiet:
        done = len(tasks) - (failed - len(empty))
        rate = f" ({done / elapsed:.1f} files/s)" if elapsed > 0 and done else ""
        print(f"strokegraph: traced {done} of {len(tasks)} files in {elapsed:.2f} s{rate}"
              + (f", {failed} failed" if failed else ""), file=sys.stderr)
        if len(tasks) >= AUTO_PARALLEL_FILES and rules:
            kinds: Dict[str, int] = {}
            for rule, n in rules.items():
                kind = rule.split(", ", 1)[-1].split(" (", 1)[0]
                kinds[kind] = kinds.get(kind, 0) + n
            print("strokegraph: radius auto: " + "; ".join(
                f"{n} file{'' if n == 1 else 's'}: {k}" for k, n in sorted(kinds.items())), file=sys.stderr)
    if args.timings:
        busy = sum(totals) or 1.0
        print("strokegraph: time per stage, summed over files: " + ", ".join(
            f"{name} {t:.3f} s ({100 * t / busy:.1f}%)"
            for name, t in zip(("reading", "tracing", "writing"), totals)), file=sys.stderr)
    return min(failed, MAX_STATUS)


# ---------------------------------------------------------------- info and plot

def describe(drawing: io.Drawing) -> List[str]:
    x0, y0, x1, y1 = drawing.extent
    items = len(set(drawing.items.tolist()))
    lines = [f"  format:           {drawing.format}",
             f"  curves:           {len(drawing.curves)} from {items} "
             f"{'elements' if drawing.format == 'svg' else 'strokes' if drawing.format == 'json' else 'features'}",
             f"  points:           {drawing.point_count}",
             f"  extent:           x {x0:g} .. {x1:g}, y {y0:g} .. {y1:g} ({x1 - x0:g} x {y1 - y0:g})"]
    sw = drawing.stroke_widths
    if sw is not None:
        import numpy as np

        ok = sw[np.isfinite(sw)]
        lines.append("  stroke widths:    " + (f"{ok.min():g} .. {ok.max():g}" if len(ok) else "none stroked"))
    if drawing.skipped:
        lines.append("  skipped:          " + ", ".join(f"{n} {k}" for k, n in sorted(drawing.skipped.items())))
    if drawing.crs is not None:
        crs = drawing.crs if isinstance(drawing.crs, str) else geo.crs_label(drawing.crs)
        lines.append(f"  crs:              {crs}")
    radius, how = drawing.suggested_radius()
    lines.append(f"  suggested radius: {radius:g} ({how})")
    if drawing.feature_size is not None:
        lines.append(f"  feature size:     {drawing.feature_size:g} (stated in the file)")
    return lines


def cmd_info(args: argparse.Namespace, parser: argparse.ArgumentParser) -> int:
    failed = 0
    for path in args.files:
        try:
            drawing = io.read(path, layer=args.layer)
        except FAILURES as e:
            failed += 1
            print(f"strokegraph: {path}: {_reason(e, path)}", file=sys.stderr)
            continue
        print(path)
        print("\n".join(describe(drawing)))
    return min(failed, MAX_STATUS)


def cmd_plot(args: argparse.Namespace, parser: argparse.ArgumentParser) -> int:
    try:
        radius = None if args.radius == "auto" else args.radius
        drawing = io.read(args.file, radius=radius, layer=args.layer)
        if radius is None:
            radius, how = auto_radius(drawing, args.to_crs)
            print(f"strokegraph: {args.file}: radius {radius:g}, {how}", file=sys.stderr)
        fs = args.feature_size if args.feature_size is not None else drawing.feature_size
        result = trace(drawing.curves, radius, feature_size=fs, crs=drawing_crs(drawing, args.to_crs),
                       to_crs=args.to_crs, caps=drawing.caps)
        save_picture(drawing, result, args.output, dpi=args.dpi)
    except FAILURES as e:
        print(f"strokegraph: {args.file}: {_reason(e, args.file)}", file=sys.stderr)
        return 1
    return 0


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="strokegraph", description=__doc__.splitlines()[0])
    sub = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    def tracing(p: argparse.ArgumentParser) -> None:
        p.add_argument("--radius", type=_radius, default="auto", metavar="R|auto",
                       help="band radius, half the stroke width (default auto: the file's own, "
                            "else half the median SVG stroke width, else 3/4 of the typical spacing "
                            "of parallel strokes, else 1/20 of the median stroke length; the rule is printed)")
        p.add_argument("--feature-size", type=_positive, default=None, metavar="F",
                       help="smallest feature to keep (default: the file's, else derived from the radius)")
        p.add_argument("--layer", default=None, metavar="NAME",
                       help="the layer of a GeoPackage to read (default: its only layer of lines or polygons)")
        p.add_argument("--to-crs", default=None, metavar="local|CRS",
                       help="trace in this projected CRS, or 'local' (a local metric projection about the "
                            "drawing's centre), and write the result in the input's CRS; needed for "
                            "input in longitude / latitude, and the radius is then in metres")

    p = sub.add_parser("trace", help="trace files or folders of drawings",
                       description="Trace drawings into centerline graphs, one output file per input.")
    p.add_argument("inputs", nargs="+", metavar="INPUT", help="drawing files or folders")
    p.add_argument("-o", "--output", required=True, metavar="OUT",
                   help="output folder (or the output file, for one input file)")
    tracing(p)
    p.add_argument("--format", choices=io.FORMATS, default=None,
                   help="output format (default: from OUT's suffix, else svg)")
    p.add_argument("--jobs", "-j", type=int, default=0, metavar="N",
                   help="files traced in parallel processes (default: one per processor "
                        f"from {AUTO_PARALLEL_FILES} files on)")
    p.add_argument("--plot", action="store_true", help="also write a PNG picture beside each output")
    p.add_argument("--over-input", action="store_true",
                   help="SVG output: draw the centerlines over the input strokes")
    p.add_argument("--quiet", "-q", action="store_true",
                   help="no progress bar and no summary; failures are still reported")
    p.add_argument("--timings", action="store_true",
                   help="print the time spent reading, tracing and writing")
    p.set_defaults(func=cmd_trace)

    p = sub.add_parser("info", help="print what a drawing file holds")
    p.add_argument("files", nargs="+", metavar="FILE")
    p.add_argument("--layer", default=None, metavar="NAME", help="the layer of a GeoPackage to describe")
    p.set_defaults(func=cmd_info)

    p = sub.add_parser("plot", help="draw input and result side by side as PNG")
    p.add_argument("file", metavar="FILE")
    p.add_argument("-o", "--output", required=True, metavar="PNG")
    tracing(p)
    p.add_argument("--dpi", type=int, default=120)
    p.set_defaults(func=cmd_plot)
    return parser


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    if getattr(args, "jobs", 0) < 0:
        parser.error("--jobs must not be negative")
    status: int = args.func(args, parser)
    return status


if __name__ == "__main__":
    sys.exit(main())
