"""Files in, files out: the command line over folders of SVG drawings, and the Dask route.

Usage: python bench/cli_bench.py [--files 1000] [--drawings 2000] [--no-cli] [--no-dask]

1. Writes --files small sketch drawings (bench/workloads.py, one seed each) as
   SVG files twice: once with every stroke a `<path d="M.. L..">`, once a
   `<polyline>` (stroke width 2, so radius 1; coordinates under a group
   transform). Runs `strokegraph trace FOLDER -o OUT --jobs N` on each folder
   with N = 1 and 2 and prints files/s and, summed over files, the share of
   time spent reading, tracing and writing.
2. Traces --drawings small sketch drawings with `strokegraph.dask` on a
   LocalCluster(n_workers=2, processes=True) and with the batch in this
   process, checks that both give the same graphs and prints the overhead per
   drawing of the Dask route (cluster start-up excluded, reported apart).

Files go to bench/.work/cli; figures also to bench/results/bench-cli.json.
"""

from __future__ import annotations

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

import numpy as np

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import workloads  # noqa: E402

WORK = HERE / ".work" / "cli"


def sketch(seed: int):
    return workloads.generate("sketch", "small", seed)["strokes"]


def svg_text(strokes, element: str) -> str:
    pts = np.concatenate([np.asarray(s, dtype=float) for s in strokes])
    (x0, y0), (x1, y1) = pts.min(axis=0) - 3, pts.max(axis=0) + 3
    out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{x1 - x0:.0f}" height="{y1 - y0:.0f}" '
           f'viewBox="{x0:.3f} {y0:.3f} {x1 - x0:.3f} {y1 - y0:.3f}">',
           f'<g transform="translate({x0:.3f} {y0:.3f})" fill="none" stroke="#222222" stroke-width="2" '
           f'stroke-linecap="round" stroke-linejoin="round">']
    for s in strokes:
        coords = [(x - round(x0, 3), y - round(y0, 3)) for x, y in s]
        if element == "path":
            out.append('<path d="M' + " L".join(f"{x:.3f} {y:.3f}" for x, y in coords) + '"/>')
        else:
            out.append('<polyline points="' + " ".join(f"{x:.3f},{y:.3f}" for x, y in coords) + '"/>')
    out.append("</g></svg>\n")
    return "\n".join(out)


def make_folders(count: int):
    folders = {kind: WORK / f"svg-{kind}-{count}" for kind in ("path", "polyline")}
    if all((f / "done").exists() for f in folders.values()):
        return folders
    for f in folders.values():
        shutil.rmtree(f, ignore_errors=True)
        f.mkdir(parents=True)
    for seed in range(count):
        strokes = sketch(seed)
        for kind, f in folders.items():
            (f / f"sketch-{seed:04d}.svg").write_text(svg_text(strokes, kind))
    for f in folders.values():
        (f / "done").write_text("")
    return folders


def run_cli(folder: Path, jobs: int, count: int):
    out = WORK / "out"
    shutil.rmtree(out, ignore_errors=True)
    start = time.perf_counter()
    proc = subprocess.run([sys.executable, "-m", "strokegraph", "trace", str(folder), "-o", str(out),
                           "--jobs", str(jobs), "--quiet", "--timings"], capture_output=True, text=True)
    wall = time.perf_counter() - start
    if proc.returncode != 0:
        raise SystemExit(f"strokegraph trace failed ({proc.returncode}):\n{proc.stderr}")
    shares = dict(re.findall(r"(reading|tracing|writing) [\d.]+ s \(([\d.]+)%\)", proc.stderr))
    written = sum(1 for _ in out.rglob("*.svg"))
    assert written == count, f"{written} outputs for {count} files"
    return {"files_per_s": count / wall, "seconds": wall,
            **{k: float(v) for k, v in shares.items()}}


def bench_dask(count: int):
    from distributed import Client, LocalCluster

    import strokegraph.dask as sgd
    from strokegraph._trace import trace_many

    drawings = [[np.asarray(s, dtype=np.float64) for s in sketch(seed)] for seed in range(count)]
    points = sum(len(s) for d in drawings for s in d)
    start = time.perf_counter()
    local = trace_many(drawings, [1.0] * count)
    t_local = time.perf_counter() - start
    start = time.perf_counter()
    with LocalCluster(n_workers=2, processes=True, threads_per_worker=1, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        sgd.centerlines(drawings[:4], 1.0, client=client)  # workers import strokegraph
        t_start = time.perf_counter() - start
        start = time.perf_counter()
        remote = sgd.centerlines(drawings, 1.0, client=client)
        t_dask = time.perf_counter() - start
    for a, b in zip(local, remote):
        assert len(a.chains) == len(b.chains) and all(np.array_equal(p, q) for p, q in zip(a.chains, b.chains))
    return {"drawings": count, "points": points, "local_s": t_local, "dask_s": t_dask,
            "cluster_start_s": t_start, "overhead_ms_per_drawing": (t_dask - t_local) / count * 1000}


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--files", type=int, default=1000)
    ap.add_argument("--drawings", type=int, default=2000)
    ap.add_argument("--no-cli", action="store_true")
    ap.add_argument("--no-dask", action="store_true")
    args = ap.parse_args()

    figures = {"processors": os.cpu_count()}
    folders = {} if args.no_cli else make_folders(args.files)
    if folders:
        print(f"command line: {args.files} small sketch drawings as SVG files, {os.cpu_count()} processors")
        print(f"  {'elements':<10} {'jobs':>4} {'files/s':>8} {'wall s':>8} {'reading':>8} {'tracing':>8} "
              f"{'writing':>8}")
    for kind, folder in folders.items():
        for jobs in (1, 2):
            r = run_cli(folder, jobs, args.files)
            figures[f"cli_{kind}_jobs{jobs}"] = r
            print(f"  {kind:<10} {jobs:>4} {r['files_per_s']:>8.1f} {r['seconds']:>8.1f} "
                  f"{r['reading']:>7.1f}% {r['tracing']:>7.1f}% {r['writing']:>7.1f}%")
    if not args.no_dask:
        r = bench_dask(args.drawings)
        figures["dask"] = r
        print(f"dask: {r['drawings']} small sketch drawings ({r['points']} points), "
              f"LocalCluster(n_workers=2, processes=True) against the batch in one process")
        print(f"  batch in one process: {r['local_s']:8.2f} s")
        print(f"  dask:                 {r['dask_s']:8.2f} s (cluster start-up {r['cluster_start_s']:.2f} s "
              "not included)")
        print(f"  overhead per drawing: {r['overhead_ms_per_drawing']:8.3f} ms")
    results = HERE / "results"
    results.mkdir(exist_ok=True)
    (results / "bench-cli.json").write_text(json.dumps(figures, indent=2) + "\n")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
