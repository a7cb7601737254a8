"""Ours against the peers on real drawings nobody here made, scored against
their true graphs (bench/real_truth.py builds both).

Workloads:
- "glyphs brush": the glyphs of four single-stroke Hershey faces drawn at 4x
  their font units (cap height ~84, whole glyphs 84-128 high) with r = 1.5:
  a stroke 3 wide, as a brush character drawn at ~100 units high.
- "glyphs messy": the same glyphs in font units (21-32 high), r = 2, made
  messy (noise, broken pieces, strokes drawn again; seeded).
- "streets once" / "streets given": neatnet's test network, r = 10 m, with
  its two-way streets once, resp. as stored (once per direction).
- every workload "... twice": every stroke given two times.
The truth of a glyph at a radius drops the free arms no longer than 2 r
(overshoots); a glyph is left out of a workload where its ink at that radius
does not show that graph clearly (see real_truth.at_radius); the counts are
printed.

Every method runs over a whole workload in one fresh process (bench/real_worker.py):
ours with its defaults as a user calls it, `strokegraph.centerlines(strokes, r)`
("ours clean") and with clean=False ("ours raw"); the peers of bench/methods.py
with the feature size ours derived from r. Scores per workload and method,
ends and junctions matched one to one within 1.5 r (bench/quality.py):
- junction F1, end F1 (over all the workload's drawings together);
- degree: true junctions found with their degree; loops: drawings with as
  many loops (edges - nodes + components) as the truth;
- right: drawings whose every end, junction, degree and loop is right;
- p95 of the distances output->truth and truth->output, over all drawings'
  samples, in r (as bench/quality.py samples them);
- time: the method's calls summed, and its ratio to ours clean in this run;
- "= once" (drawn-twice workloads): drawings whose graph is that of the same
  drawing drawn once: same ends, junctions and loops, every node within 0.1 r;
- folds: links between two junctions that turn back by more than 150 degrees
  somewhere; no source: our chains whose `sources` are empty.
Writes bench/results/real-YYYYMMDD-HHMMSS.json.

Run by `make bench` or `make bench-real`; directly:
  bench/.venv/bin/python bench/real_drawings.py --ours-python .venv/bin/python [--quick]
--quick: one face's glyphs and the streets drawn once, a minute or so.
"""

from __future__ import annotations

import argparse
import json
import math
import os
import platform
import selectors
import subprocess
import sys
import time
from collections import Counter
from typing import Dict, List, Optional, Sequence

import numpy as np
from scipy.spatial import cKDTree

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
import quality  # noqa: E402
import real_truth  # noqa: E402
from methods import METHODS  # noqa: E402

OURS_CLEAN, OURS_RAW = "ours clean", "ours raw"
PEERS = [m for m in METHODS if METHODS[m].venv == "peers" and not METHODS[m].slow]
BRUSH_SCALE, BRUSH_R = 4.0, 1.5
MESSY_R = 2.0
STREET_R = 10.0
SEED = 20


# ---------------------------------------------------------------- workloads

def glyph_workloads(quick: bool) -> List[Dict]:
    glyphs = real_truth.hershey_glyphs(real_truth.FONTS[:1] if quick else real_truth.FONTS)
    brush, messy, left = [], [], Counter()
    for i, g in enumerate(glyphs):
        truth, why = real_truth.at_radius(g["truth"], BRUSH_R, BRUSH_SCALE)
        if why:
            left["brush " + why] += 1
        else:
            brush.append({"name": g["name"], "strokes": real_truth.scaled(g["strokes"], BRUSH_SCALE), "r": BRUSH_R,
                          "truth": truth})
        truth, why = real_truth.at_radius(g["truth"], MESSY_R)
        if why:
            left["messy " + why] += 1
        else:
            messy.append({"name": g["name"], "strokes": real_truth.messy(g["strokes"], MESSY_R, SEED * 100003 + i),
                          "r": MESSY_R, "truth": truth})
    note = f"{len(glyphs)} glyphs; left out as ambiguous at their radius: " + (
        ", ".join(f"{k} {v}" for k, v in sorted(left.items())) or "none")
    return [{"name": "glyphs brush", "drawings": brush, "note": note},
            {"name": "glyphs messy", "drawings": messy}]


def street_workloads(quick: bool, cache: str) -> List[Dict]:
    given = real_truth.street_lines(real_truth.neatnet_parquet(cache))
    once = real_truth.streets_once(given)
    truth = real_truth.street_truth(once)

    def drawing(lines):
        return [{"name": "apalachicola", "strokes": [p.tolist() for p in lines], "r": STREET_R, "truth": truth}]
    note = (f"{len(given)} streets as given, {len(once)} once; truth: {len(truth['endpoints'])} dead ends, "
            f"{len(truth['junctions'])} junctions, {truth['loops']} loops")
    out = [{"name": "streets once", "drawings": drawing(once), "note": note}]
    if not quick:
        out.append({"name": "streets given", "drawings": drawing(given)})
    return out


def drawn_twice(w: Dict) -> Dict:
    return {"name": w["name"] + " twice", "once": w["name"],
            "drawings": [dict(d, strokes=d["strokes"] + d["strokes"]) for d in w["drawings"]]}


# ---------------------------------------------------------------- running

def run_method(python: str, method: str, drawings: Sequence[Dict], work: str, cap: float) -> Dict:
    """One worker over the drawings; stops it once it ran `cap` seconds
    (after its start-up), keeping the drawings done."""
    path = os.path.join(work, "input.json")
    with open(path, "w") as f:
        json.dump({"drawings": [{"strokes": d["strokes"], "r": d["r"], "fs": d.get("fs")} for d in drawings]}, f)
    cmd = [python, os.path.join(HERE, "real_worker.py"), method, path]
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                            env=dict(os.environ, PYTHONHASHSEED="0"))
    sel = selectors.DefaultSelector()
    sel.register(proc.stdout, selectors.EVENT_READ)
    results: List[Optional[Dict]] = [None] * len(drawings)
    status, deadline = None, time.monotonic() + 300.0
    while status is None:
        left = deadline - time.monotonic()
        if left <= 0:
            proc.kill()
            status = "timeout"
            break
        if not sel.select(timeout=min(left, 1.0)):
            continue
        line = proc.stdout.readline()
        if not line:
            proc.wait()
            status = "ok" if proc.returncode == 0 else "crashed"
            break
        msg = json.loads(line)
        if msg.get("event") == "ready":
            deadline = time.monotonic() + cap
        else:
            results[msg["i"]] = msg
    sel.close()
    proc.wait()
    err = proc.stderr.read().strip()
    info = {"status": status, "results": results}
    if status != "ok":
        info["error"] = err.splitlines()[-1] if err else f"exit code {proc.returncode}"
    return info


# ---------------------------------------------------------------- scoring

def graph_nodes(out: Dict):
    deg = Counter()
    for a, b in out["edges"]:
        deg[a] += 1
        deg[b] += 1
    nodes = out["nodes"]
    jun = [v for v in range(len(nodes)) if deg[v] >= 3]
    ends = [v for v in range(len(nodes)) if deg[v] == 1]
    return nodes, deg, jun, ends


FOLD_DEG = 150.0


def folded_links(out: Dict, deg: Counter) -> int:
    """Links between two junctions that turn back on themselves by more
    than FOLD_DEG degrees at some point."""
    limit = math.cos(math.radians(FOLD_DEG))
    n = 0
    for (a, b), line in zip(out["edges"], out["lines"]):
        if deg[a] < 3 or deg[b] < 3 or len(line) < 3:
            continue
        p = np.asarray(line, dtype=float)
        d = p[1:] - p[:-1]
        d = d[np.hypot(d[:, 0], d[:, 1]) > 0]
        u = d / np.hypot(d[:, 0], d[:, 1])[:, None]
        if len(u) >= 2 and ((u[1:] * u[:-1]).sum(1) < limit).any():
            n += 1
    return n


def score_drawing(out: Optional[Dict], truth: Dict, r: float) -> Dict:
    tj, te = truth["junctions"], truth["endpoints"]
    s = {"tj": len(tj), "te": len(te), "fj": 0, "fe": 0, "mj": 0, "me": 0, "deg": 0, "loops": False,
         "exact": False, "ok": False, "o2t": np.zeros(0), "t2o": np.zeros(0), "seconds": 0.0,
         "folds": 0, "unsourced": 0}
    if out is None or "error" in out:
        return s
    nodes, deg, jun, ends = graph_nodes(out)
    jp = quality.match_pairs([nodes[v] for v in jun], tj, 1.5 * r)
    ep = quality.match_pairs([nodes[v] for v in ends], te, 1.5 * r)
    degree_ok = sum(deg[jun[i]] == truth["junction_degrees"][j] for i, j in jp)
    loops_ok = real_truth.cycle_rank(len(nodes), [tuple(e) for e in out["edges"]]) == truth["loops"]
    s.update(fj=len(jun), fe=len(ends), mj=len(jp), me=len(ep), deg=degree_ok, loops=loops_ok, ok=True,
             seconds=out["seconds"], folds=folded_links(out, deg), unsourced=out.get("unsourced", 0))
    s["exact"] = (len(jp) == len(jun) == len(tj) and len(ep) == len(ends) == len(te)
                  and degree_ok == len(jp) and loops_ok)
    step = quality.SAMPLE * r
    o = quality.sample_lines(out["lines"], step)
    t = quality.sample_lines(truth["segments"], step)
    if len(o) and len(t):
        s["o2t"] = cKDTree(t).query(o)[0] / r
        s["t2o"] = cKDTree(o).query(t)[0] / r
    return s


def same_graph(a: Optional[Dict], b: Optional[Dict], r: float) -> bool:
    """Drawn twice against drawn once: same counts of ends, junctions and
    loops, every end and junction within 0.1 r of its match."""
    if a is None or b is None or "error" in a or "error" in b:
        return False
    na, _, ja, ea = graph_nodes(a)
    nb, _, jb, eb = graph_nodes(b)
    if len(ja) != len(jb) or len(ea) != len(eb):
        return False
    if real_truth.cycle_rank(len(na), [tuple(e) for e in a["edges"]]) != \
            real_truth.cycle_rank(len(nb), [tuple(e) for e in b["edges"]]):
        return False
    for x, y in ((ja, jb), (ea, eb)):
        if len(quality.match_pairs([na[v] for v in x], [nb[v] for v in y], 0.1 * r)) != len(x):
            return False
    return True


def _f1(m: int, found: int, truth: int) -> Optional[float]:
    if found + truth == 0:
        return None
    return 2.0 * m / (found + truth)


def summarise(scores: List[Dict]) -> Dict:
    tot = {k: sum(s[k] for s in scores) for k in ("tj", "te", "fj", "fe", "mj", "me", "deg", "seconds", "folds",
                                                  "unsourced")}
    o2t = np.concatenate([s["o2t"] for s in scores]) if scores else np.zeros(0)
    t2o = np.concatenate([s["t2o"] for s in scores]) if scores else np.zeros(0)
    n = len(scores)
    return {
        "drawings": n, "failed": sum(not s["ok"] for s in scores),
        "junction_f1": _f1(tot["mj"], tot["fj"], tot["tj"]), "end_f1": _f1(tot["me"], tot["fe"], tot["te"]),
        "junction_p": tot["mj"] / tot["fj"] if tot["fj"] else None, "junction_r": tot["mj"] / tot["tj"] if tot["tj"] else None,
        "end_p": tot["me"] / tot["fe"] if tot["fe"] else None, "end_r": tot["me"] / tot["te"] if tot["te"] else None,
        "degree": tot["deg"] / tot["tj"] if tot["tj"] else None,
        "loops": sum(s["loops"] for s in scores) / n if n else None,
        "exact": sum(s["exact"] for s in scores) / n if n else None,
        "o2t_p95": float(np.percentile(o2t, 95)) if len(o2t) else None,
        "t2o_p95": float(np.percentile(t2o, 95)) if len(t2o) else None,
        "seconds": tot["seconds"], "folds": tot["folds"], "unsourced": tot["unsourced"], "counts": tot,
    }


# ---------------------------------------------------------------- table

def _pct(v) -> str:
    return "-" if v is None else f"{100 * v:.0f}%"


def _num(v, spec="{:.2f}") -> str:
    return "-" if v is None else spec.format(v)


def print_table(rows: List[Dict]) -> None:
    head = ["workload", "n", "method", "junction F1", "end F1", "degree", "loops", "right", "out->truth p95/r",
            "truth->out p95/r", "time", "x ours clean", "= once", "folds", "no source"]
    body = []
    for row in rows:
        s = row["summary"]
        body.append([row["workload"], str(s["drawings"]), row["method"] + ("" if row["status"] == "ok" else f" ({row['status']})"),
                     _num(s["junction_f1"], "{:.3f}"), _num(s["end_f1"], "{:.3f}"), _pct(s["degree"]),
                     _pct(s["loops"]), _pct(s["exact"]), _num(s["o2t_p95"], "{:.3f}"), _num(s["t2o_p95"], "{:.3f}"),
                     f"{s['seconds']:.2f} s", _num(row.get("ratio"), "{:.2f}x"), _pct(row.get("same_as_once")),
                     str(s["folds"]), str(s["unsourced"]) if row["method"] in (OURS_CLEAN, OURS_RAW) else "-"])
    widths = [max(len(head[i]), *(len(b[i]) for b in body)) for i in range(len(head))]
    print("  ".join(h.ljust(w) for h, w in zip(head, widths)).rstrip())
    last = None
    for b in body:
        if last is not None and b[0] != last:
            print()
        last = b[0]
        print("  ".join(c.ljust(w) for c, w in zip(b, widths)).rstrip())


# ---------------------------------------------------------------- main

def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--ours-python", default=os.path.join(ROOT, ".venv", "bin", "python"))
    ap.add_argument("--quick", action="store_true", help="one face's glyphs, the streets drawn once")
    ap.add_argument("--cap", type=float, default=None, help="seconds per method and workload (120; quick 30)")
    ap.add_argument("--peers", default=",".join(PEERS),
                    help="comma-separated peers of bench/methods.py (default: all but the slow ones)")
    ap.add_argument("--workloads", default=None,
                    help="comma-separated workload names to run (default all), e.g. 'glyphs messy,glyphs messy twice'")
    ap.add_argument("--cache", default=os.path.join(ROOT, "build", "bench-data"),
                    help="where the street network's wheel and file are kept")
    ap.add_argument("--json", default=None, help="results file (default bench/results/real-<time>.json)")
    args = ap.parse_args()
    cap = args.cap if args.cap is not None else (30.0 if args.quick else 120.0)
    peers = [p for p in args.peers.split(",") if p]
    t_start = time.monotonic()

    only = None if args.workloads is None else set(args.workloads.split(","))
    base = glyph_workloads(args.quick)
    if only is None or any(n.startswith("streets") for n in only):
        base += street_workloads(args.quick, args.cache)
    workloads = []
    for w in base:
        workloads.append(w)
        if w["name"] != "streets given":  # given already holds most streets twice
            workloads.append(drawn_twice(w))
    workloads = [w for w in workloads if only is None or w["name"] in only]
    for w in workloads:
        if w.get("note"):
            print(f"{w['name']}: {w['note']}")
    work = os.path.join(HERE, ".work", "real")
    os.makedirs(work, exist_ok=True)

    rows, outputs = [], {}
    for w in workloads:
        drawings = w["drawings"]
        for method in [OURS_CLEAN, OURS_RAW] + peers:
            python = args.ours_python if method in (OURS_CLEAN, OURS_RAW) else sys.executable
            info = run_method(python, method, drawings, work, cap)
            results = info["results"]
            if method == OURS_CLEAN:  # the peers get the feature size ours derived
                for d, res in zip(drawings, results):
                    d["fs"] = res["fs"] if res and "fs" in res else d["r"]  # (its default where it failed)
            outputs[(w["name"], method)] = results
            scores = [score_drawing(res, d["truth"], d["r"]) for res, d in zip(results, drawings)]
            row = {"workload": w["name"], "method": method, "status": info["status"],
                   "error": info.get("error"), "summary": summarise(scores),
                   "errors": sorted({res["error"] for res in results if res and "error" in res})[:5],
                   "drawings": [{"name": d["name"], "right": s["exact"], "loops": s["loops"],
                                 **{k: s[k] for k in ("tj", "fj", "mj", "deg", "te", "fe", "me")}}
                                for d, s in zip(drawings, scores)]}
            if w.get("once"):
                once = outputs.get((w["once"], method))
                if once is not None:
                    row["same_as_once"] = sum(same_graph(a, b, d["r"]) for a, b, d in zip(results, once, drawings)) / len(drawings)
            rows.append(row)
            print(f"  {w['name']}: {method} {info['status']} {row['summary']['seconds']:.2f} s", file=sys.stderr)
    for row in rows:
        ours = next(x for x in rows if x["workload"] == row["workload"] and x["method"] == OURS_CLEAN)
        if ours["summary"]["seconds"] > 0 and row["summary"]["failed"] == 0:
            row["ratio"] = row["summary"]["seconds"] / ours["summary"]["seconds"]
    print()
    print_table(rows)
    for row in rows:
        if row["status"] != "ok" or row["errors"]:
            print(f"{row['workload']} / {row['method']}: {row['status']} {row.get('error') or ''} {row['errors']}")
    wall = time.monotonic() - t_start
    print(f"\n(r: glyphs brush {BRUSH_R} at {BRUSH_SCALE:g}x font units, glyphs messy {MESSY_R}, streets {STREET_R} m; "
          f"wall {wall:.0f} s)")
    path = args.json or os.path.join(HERE, "results", time.strftime("real-%Y%m%d-%H%M%S.json"))
    with open(path, "w") as f:
        json.dump({"machine": platform.platform(), "quick": args.quick, "cap_s": cap, "wall_s": wall, "seed": SEED,
                   "radii": {"glyphs brush": BRUSH_R, "glyphs messy": MESSY_R, "streets": STREET_R},
                   "notes": {w["name"]: w["note"] for w in workloads if w.get("note")},
                   "rows": [{k: v for k, v in r.items()} for r in rows]}, f, indent=1)
    print(f"wrote {os.path.relpath(path, ROOT)}")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
