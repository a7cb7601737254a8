"""Hostile and extreme input: every call ends, in bounded memory, with a result
or a documented error; files that would expand without bound are refused."""

import json
import os
import struct
import subprocess
import sys
import textwrap
import time
from pathlib import Path

import numpy as np
import pytest

import strokegraph
from strokegraph import _core, io

TWO = [[(0.0, 0.0), (10.0, 0.0)], [(0.0, 5.0), (10.0, 5.0)]]


# ---------------------------------------------------------------- parameter extremes

@pytest.mark.parametrize("curves, radius, options", [
    # Ring simplification far below the drawing's scale: its lattice grew
    # without bound (and its cell keys overflowed).
    (TWO, 1.0, dict(boundary_simplification=1e-7)),
    (TWO, 1.0, dict(boundary_simplification=1e-9)),
    ([[(1e15, 0.0), (1e15 + 10, 0.0)]], 1.0, dict(boundary_simplification=1e-7)),
    # A radius whose inverse overflows: the clean-up's grids and provenance
    # looped for ever.
    (TWO, 5e-324, {}),
    (TWO, 1e-300, {}),
    (TWO, 1.0, dict(feature_size=5e-324, boundary_simplification=0.0, merge_tolerance=0.0)),
    # Tile sides far below the margin made millions of tiles of the whole drawing.
    (TWO, 1.0, dict(tiles=1e-300)),
    (TWO, 1.0, dict(tiles=0.01)),
    (TWO, 1.0, dict(tiles=1e300)),
    ([[(-1e308, 0.0), (1e308, 0.0)], [(0.0, 5.0), (10.0, 5.0)]], 1.0, {}),
])
def test_extreme_scales_end_with_a_result_or_a_clear_error(curves, radius, options):
    try:
        g = strokegraph.centerlines(curves, radius, **options)
    except MemoryError as e:
        assert str(e), "a refusal names its cause"
    else:
        assert len(g.chains) <= 2 * len(curves)


def test_a_stroke_drawn_back_and_forth_over_itself():
    # Its one band outline crossed itself ~n^2 times (2,400 points: 7 s in one
    # offset call that Ctrl-C could not stop); built piece by piece it is the
    # same band.
    rng = np.random.default_rng(2)
    stroke = np.column_stack([np.arange(2400) % 2 * 10.0, np.zeros(2400)]) + rng.normal(0, 0.01, (2400, 2))
    g = strokegraph.centerlines([stroke], 1.0)
    assert len(g.chains) == 1 and len(g.junctions) == 0
    start, end = sorted(g.nodes[list(g.ends)].tolist())
    assert abs(start[0] - 0.0) < 1.0 and abs(end[0] - 10.0) < 1.0


def test_tiny_tiles_give_the_untiled_graph():
    whole = strokegraph.centerlines(TWO, 1.0, tiles=False)
    for side in (0.1, 1e-300):
        tiled = strokegraph.centerlines(TWO, 1.0, tiles=side)
        assert (len(tiled.chains), len(tiled.junctions), len(tiled.ends)) == \
            (len(whole.chains), len(whole.junctions), len(whole.ends))


def test_progress_is_heard_while_one_polygon_is_triangulated():
    # One long densely resampled band: the skeleton stage is one polygon,
    # long enough to outlast the heartbeat.
    line = [[(0.0, 0.0), (8000.0, 0.0)]]
    heard = []

    def progress(stage, fraction):
        heard.append((time.monotonic(), stage))

    strokegraph.centerlines(line, 1.0, resample=0.02, progress=progress)
    skeleton = [t for t, s in heard if s == "skeleton"]
    assert len(skeleton) >= 2, heard
    gaps = [b - a for a, b in zip([t for t, _ in heard], [t for t, _ in heard][1:])]
    assert max(gaps) < 2.0  # reported again as it stands, about every 0.4 s


# ---------------------------------------------------------------- tile buffers

def _words(buffer):
    return list(struct.unpack(f"<{len(buffer) // 8}Q", buffer))


def _bytes(words):
    return struct.pack(f"<{len(words)}Q", *words)


def test_tile_results_are_bound_to_their_drawing_and_their_tile():
    curves = [[(i * 0.5, 3.0 * ((i * 7) % 5)) for i in range(60)], [(0.0, -4.0), (30.0, 9.0)]]
    other = [[(x + 1e-3, y) for x, y in c] for c in curves]
    shared, tasks = _core.tiles_prepare(curves, 1.0, tiles=8.0)
    shared_other, tasks_other = _core.tiles_prepare(other, 1.0, tiles=8.0)
    assert len(tasks) == len(tasks_other) > 1
    results = [_core.tile_run(t) for t in tasks]
    foreign = [_core.tile_run(t) for t in tasks_other]
    same = _core.tiles_assemble(shared, results, curves, 1.0, tiles=8.0)
    assert same == _core.centerlines(curves, 1.0, tiles=8.0)
    with pytest.raises(ValueError, match="tile result 1 was computed for other curves or options"):
        _core.tiles_assemble(shared, results[:1] + foreign[1:2] + results[2:], curves, 1.0, tiles=8.0)
    # One coordinate of a result moved far out of its tile.
    k = next(i for i, r in enumerate(results) if len(r) > 12 * 8)
    words = _words(results[k])
    # header (3), tile, failed, piece count, then the first point's x
    assert words[5] > 0
    words[6] = struct.unpack("<Q", struct.pack("<d", 1e8))[0]
    moved = results[:k] + [_bytes(words)] + results[k + 1:]
    with pytest.raises(ValueError, match=f"tile result {k} has a point outside its tile"):
        _core.tiles_assemble(shared, moved, curves, 1.0, tiles=8.0)


# ---------------------------------------------------------------- hostile files

SVG = '<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink">{}</svg>'


def _use_bomb(levels):
    parts = ['<defs><path id="a0" stroke="black" d="M0 0 L10 10"/>']
    for k in range(1, levels + 1):
        parts.append(f'<g id="a{k}">' + f'<use xlink:href="#a{k - 1}"/>' * 4 + "</g>")
    parts.append(f'</defs><use xlink:href="#a{levels}"/>')
    return SVG.format("".join(parts))


@pytest.mark.parametrize("text, reason", [
    (_use_bomb(10), "references expand it to more than"),
    (_use_bomb(30), "references expand it to more than"),
    (SVG.format('<g id="a"><path d="M0 0 L1 1" stroke="black"/><use href="#a"/></g>'), "refers to an element that contains it"),
    (SVG.format('<use href="#p"/>' + '<g>' * 300 + '<path id="p" d="M0 0 L1 1" stroke="black"/>' + '</g>' * 300),
     "nest more than"),
    (SVG.format('<g>' * 5000 + '<path d="M0 0 L1 1" stroke="black"/>' + '</g>' * 5000), None),
    (SVG.format('<use href="#p" transform="scale(1e309)"/><path id="p" d="M0 0 L1 1" stroke="black"/>'), None),
], ids=["nested-10", "nested-30", "self", "deep-use", "deep", "huge-scale"])
def test_svg_files_that_would_explode_are_refused(tmp_path, text, reason):
    pytest.importorskip("svgelements")
    path = tmp_path / "bomb.svg"
    path.write_text(text)
    start = time.monotonic()
    try:
        io.read(path)
    except io.DrawingError as e:
        assert reason is None or reason in str(e)
    else:
        assert reason is None
    assert time.monotonic() - start < 30


def test_svg_with_a_few_uses_still_reads(tmp_path):
    pytest.importorskip("svgelements")
    path = tmp_path / "ok.svg"
    path.write_text(_use_bomb(3))  # 4^3 copies of one line
    assert len(io.read(path).curves) == 64


@pytest.mark.parametrize("doc", [
    {"type": "FeatureCollection", "features": [{"type": "Feature", "geometry": 5}]},
    {"type": "FeatureCollection", "features": [{"type": "Feature", "geometry": {"type": "Polygon", "coordinates": [3]}}]},
    {"type": "MultiPolygon", "coordinates": [[[[0, 0], [1, "x"]]]]},
    {"type": "LineString", "coordinates": [[0, 0], [1e400, 0]]},
    {"type": "LineString", "coordinates": [[0, 0], [1, 0, 0, 0]]},
    {"strokes": [[[0, 0], [1, 1]]], "radius": 0},
    {"strokes": [[[0, 0], [1, 1]]], "radius": 1e-320},
    {"strokes": [[[0, 0], [1, 1]]], "feature_size": 5e-324},
    {"strokes": 7},
])
def test_malformed_json_and_geojson_files_raise_drawing_error(tmp_path, doc):
    path = tmp_path / "bad.json"
    path.write_text(json.dumps(doc).replace("1e+400", "1e400"))
    try:
        drawing = io.read(path)
    except io.DrawingError:
        return
    # Read as a drawing: tracing it must end with a result or a clear error.
    radius = drawing.suggested_radius()[0]
    try:
        strokegraph.centerlines(drawing.curves, radius, feature_size=drawing.feature_size)
    except MemoryError as e:
        assert str(e)


def test_deeply_nested_geojson():
    deep = {"type": "LineString", "coordinates": [[0, 0], [1, 0]]}
    for _ in range(3000):
        deep = {"type": "GeometryCollection", "geometries": [deep]}
    with pytest.raises(ValueError, match="nest more than"):
        strokegraph.centerlines([deep], 1.0)
    with pytest.raises(TypeError, match="curve 0: a GeoJSON geometry or feature must be an object"):
        strokegraph.centerlines({"type": "FeatureCollection", "features": [{"type": "Feature", "geometry": [1]}]}, 1.0)


def test_auto_radius_of_an_absurd_stroke_width(tmp_path):
    pytest.importorskip("svgelements")
    path = tmp_path / "thin.svg"
    path.write_text(SVG.format('<path d="M0 0 L100 0 L100 100" stroke="black" stroke-width="1e-4"/>'))
    drawing = io.read(path)
    radius, how = drawing.suggested_radius()
    assert radius >= 100 * 2 ** 0.5 * 1e-4, how  # never below 1e-4 of the diagonal


# ---------------------------------------------------------------- command line

CLI_CHILD = textwrap.dedent("""
    import os, signal, sys, threading, time
    from strokegraph import cli

    # Kill the first worker found well inside its first file (some CPU time
    # spent, far less than a file takes): its file fails, the rest finish.
    # A worker killed just after it sent its result would cost no file.
    def kill_one():
        me = os.getpid()
        while True:
            time.sleep(0.01)
            for pid in os.listdir("/proc"):
                if not pid.isdigit():
                    continue
                try:
                    with open(f"/proc/{pid}/stat") as f:
                        fields = f.read().rsplit(")", 1)[1].split()
                    ppid, ticks = int(fields[1]), int(fields[11]) + int(fields[12])
                    with open(f"/proc/{ppid}/stat") as f:
                        grand = int(f.read().rsplit(")", 1)[1].split()[1])
                    with open(f"/proc/{pid}/cmdline") as f:
                        tracker = "resource_tracker" in f.read()
                except (OSError, IndexError, ValueError):
                    continue
                # Workers are the forkserver's children.
                if grand == me and not tracker and 5 <= ticks <= 30:
                    os.kill(int(pid), signal.SIGKILL)
                    return

    threading.Thread(target=kill_one, daemon=True).start()
    sys.exit(cli.main(sys.argv[1:]))
""")


def test_a_killed_worker_fails_its_file_and_the_others_finish(tmp_path):
    src, out = tmp_path / "in", tmp_path / "out"
    src.mkdir()
    walk = [[(float(i), float((i * 37) % 11)) for i in range(4000)]]
    for k in range(6):
        (src / f"d{k}.json").write_text(json.dumps({"strokes": walk, "radius": 0.3}))
    proc = subprocess.run([sys.executable, "-c", CLI_CHILD, "trace", str(src), "-o", str(out), "--jobs", "2",
                           "--quiet"], capture_output=True, text=True, timeout=300)
    lines = proc.stderr.splitlines()
    assert proc.returncode == 1, proc.stderr
    assert len(lines) == 1 and "the worker process was killed (SIGKILL)" in lines[0], proc.stderr
    assert len(list(out.glob("*.svg"))) == 5


def test_an_unreadable_sub_folder_is_reported_and_counted(tmp_path, monkeypatch, capsys):
    from strokegraph import cli

    src = tmp_path / "in"
    (src / "locked").mkdir(parents=True)
    (src / "locked" / "hidden.json").write_text("[[[0, 0], [1, 0]]]")
    (src / "a.json").write_text("[[[0, 0], [10, 0]]]")
    real = os.scandir

    def scandir(path="."):
        if os.fspath(path) == str(src / "locked"):
            raise PermissionError(13, "Permission denied", os.fspath(path))
        return real(path)

    monkeypatch.setattr(os, "scandir", scandir)
    assert cli.main(["trace", str(src), "-o", str(tmp_path / "out"), "--jobs", "1"]) == 1
    err = capsys.readouterr().err.splitlines()
    assert f"strokegraph: {src / 'locked'}: permission denied" in err
    assert err[-1].startswith("strokegraph: traced 1 of 1 files") and err[-1].endswith(", 1 failed")
