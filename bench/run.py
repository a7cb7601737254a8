"""Benchmark strokegraph against the tools users would pick instead.

For every workload and size: generate the input (seeded), run every method in
a fresh subprocess (the worker) with a time cap per run, score its output
against the ground truth, and print one table; then the stage breakdown of our
pipeline from the C++ benchmark. All figures go to a JSON file under
bench/results/.

Run through `make bench` (small and medium; a run is capped at 60 s and
repeats stop after 15 s) or `make bench-full` (also large; 120 s cap, five
runs unless they take more than 120 s together).
"""

from __future__ import annotations

import argparse
import json
import os
import platform
import selectors
import statistics
import subprocess
import sys
import time
from typing import Dict, List, Optional

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import quality  # noqa: E402
import workloads  # noqa: E402
from methods import METHODS  # noqa: E402

OURS = "strokegraph"


def run_worker(python: str, method: str, input_path: str, output_path: str, runs: int,
               budget: float, cap: float, startup_cap: float = 300.0) -> Dict:
    """Runs the worker, killing it when a single run (or the start-up) exceeds its cap."""
    cmd = [python, os.path.join(HERE, "worker.py"), method, input_path, output_path,
           "--runs", str(runs), "--budget", str(budget)]
    env = dict(os.environ, PYTHONHASHSEED="0")
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, text=True)
    sel = selectors.DefaultSelector()
    sel.register(proc.stdout, selectors.EVENT_READ)
    times: List[float] = []
    info: Dict = {"method": method}
    deadline = time.monotonic() + startup_cap
    status = None
    while status is None:
        left = deadline - time.monotonic()
        if left <= 0:
            proc.kill()
            status = "timeout" if "baseline_kib" in info else "startup timeout"
            break
        if not sel.select(timeout=min(left, 1.0)):
            continue
        line = proc.stdout.readline()
        if not line:  # the worker ended
            proc.wait()
            status = "ok" if proc.returncode == 0 else "crashed"
            break
        msg = json.loads(line)
        if msg["event"] == "ready":
            info["baseline_kib"] = msg["baseline_kib"]
            info["memory_method"] = msg.get("memory")
            deadline = time.monotonic() + cap
        elif msg["event"] == "run":
            times.append(msg["seconds"])
            deadline = time.monotonic() + (startup_cap if len(times) == 1 else cap)
        elif msg["event"] == "written":
            info.update(peak_kib=msg["peak_kib"], baseline_kib=msg["baseline_kib"])
            deadline = time.monotonic() + cap
    sel.close()
    proc.wait()
    err = proc.stderr.read()
    info["times"] = times
    if status == "timeout" and "peak_kib" in info:
        status = "ok"  # a repeat ran out of time; the runs before it count
    info["status"] = status
    if status != "ok":
        info["error"] = err.strip().splitlines()[-1] if err.strip() else f"exit code {proc.returncode}"
    if times and status == "ok":
        info["median_s"] = statistics.median(times)
    if "peak_kib" in info:
        info["peak_mib"] = max(0, info["peak_kib"] - info["baseline_kib"]) / 1024.0
    info["cap_s"] = cap
    return info


def run_stages(exe: str, bin_path: str, runs: int, cap: float, single_union: bool) -> Optional[Dict]:
    if not exe or not os.path.exists(exe):
        return None
    cmd = [exe, bin_path, str(runs)] + (["--single-union"] if single_union else [])
    try:
        out = subprocess.run(cmd, capture_output=True, text=True,
                             timeout=cap * (runs + 1), check=True).stdout
        return json.loads(out)
    except (subprocess.SubprocessError, ValueError) as e:
        return {"error": str(e)}


def _f(x, fmt="{:.3f}", none="-"):
    return none if x is None else fmt.format(x)


def _time(s: Optional[float]) -> str:
    if s is None:
        return "-"
    return f"{s * 1000:.2f} ms" if s < 1.0 else f"{s:.2f} s"


def print_table(title: str, rows: List[Dict]) -> None:
    head = ["method", "runs", "median time", "x ours", "peak MiB", "out->truth mean/p95",
            "truth->out mean/p95", "junction P/R", "endpoint P/R", "note"]
    body = []
    for r in rows:
        q = r.get("quality") or {}
        o2t, t2o = q.get("out_to_truth", {}), q.get("truth_to_out", {})
        j, e = q.get("junctions", {}), q.get("endpoints", {})
        note = "" if r["status"] == "ok" else r["status"]
        if r["status"] == "timeout":
            note = f"> {r['cap_s']:.0f} s (cap)"
        if r.get("error") and r["status"] != "timeout":
            note += f": {r['error'][:60]}"
        if r["status"] == "ok" and q.get("output_points") == 0:
            note = "empty output"
        body.append([
            r["method"], str(len(r.get("times", []))),
            _time(r.get("median_s")), _f(r.get("ratio"), "{:.1f}"),
            _f(r.get("peak_mib"), "{:.1f}"),
            f"{_f(o2t.get('mean'))}/{_f(o2t.get('p95'))}",
            f"{_f(t2o.get('mean'))}/{_f(t2o.get('p95'))}",
            f"{_f(j.get('precision'), '{:.2f}')}/{_f(j.get('recall'), '{:.2f}')}",
            f"{_f(e.get('precision'), '{:.2f}')}/{_f(e.get('recall'), '{:.2f}')}",
            note])
    widths = [max(len(head[i]), *(len(b[i]) for b in body)) for i in range(len(head))]
    print(f"\n== {title}")
    print("  ".join(h.ljust(w) for h, w in zip(head, widths)).rstrip())
    print("  ".join("-" * w for w in widths))
    for b in body:
        print("  ".join(c.ljust(w) for c, w in zip(b, widths)).rstrip())


def print_stages(stages: Dict, python_total: Optional[float]) -> Dict:
    """Prints the stage breakdown; returns the derived figures."""
    s = stages["seconds"]
    derived: Dict = {}
    total = s["total"]
    floor = s["floor_union"] + s["floor_triangulate"]
    groups = [
        ("merge + decimate", s["merge_connected"] + s["decimate_curves"]),
        ("inflate: offsetting, classification (~)", max(0.0, s["inflate"] - s["floor_union"])),
        ("inflate: union per cluster (~ floor union)", min(s["inflate"], s["floor_union"])),
        ("preprocess boundaries", s["preprocess_boundaries"]),
        ("skeleton (incl. its triangulation)", s["skeletonize"]),
        ("graph stages (graph, prune, merge, chains)", s["segments_to_graph"] + s["prune_short_tips"]
         + s["merge_close_junctions"] + s["extract_chains"]),
        ("post-processing (finish chains, number nodes)", s["finish_chains"] + s["number_nodes"]),
    ]
    if python_total is not None:
        derived["python_conversion_s"] = max(0.0, python_total - total)
        groups.append(("Python conversion (call - native total)", derived["python_conversion_s"]))
    print(f"   stage breakdown (C++, median of {stages['runs']} runs; counts {stages['counts']}):")
    for name, v in groups:
        share = f"{100 * v / python_total:5.1f}%" if python_total else ""
        print(f"     {name:<48} {_time(v):>10} {share}")
    print(f"     {'native total':<48} {_time(total):>10}")
    besides = max([groups[1]] + groups[3:], key=lambda g: g[1])
    after_union = max(groups[3:], key=lambda g: g[1])
    derived["largest_stage_besides_union"] = besides[0]
    derived["largest_stage_after_union"] = after_union[0]
    print(f"     largest stage besides the union: {besides[0]} ({_time(besides[1])}); "
          f"largest after it: {after_union[0]} ({_time(after_union[1])})")
    print(f"     {'floor: union of the bands alone (per cluster)':<48} {_time(s['floor_union']):>10} "
          f"(offsetting the bands: {_time(s['floor_offset_bands'])}, not counted)")
    if "floor_single_union" in s:
        derived["single_over_clustered_union"] = s["floor_single_union"] / max(s["floor_union"], 1e-9)
        print(f"     {'  the same union in one call':<48} {_time(s['floor_single_union']):>10} "
              f"({derived['single_over_clustered_union']:.1f}x the clustered union)")
    c = stages.get("union_check")
    if c:
        derived["union_check"] = c
        rel = c["symmetric_difference"] / c["area_single"] if c["area_single"] else 0.0
        print(f"     clustered vs one call: rings {c['rings']}/{c['rings_single']}, vertices "
              f"{c['vertices']}/{c['vertices_single']}, ring-for-ring order mismatches "
              f"{c['order_mismatches']}, area {c['area']:.6f}/{c['area_single']:.6f}, "
              f"symmetric difference {rel:.2e} of the area")
    print(f"     {'floor: triangulation alone (get_triangles)':<48} {_time(s['floor_triangulate']):>10}")
    derived["native_over_floor"] = total / floor if floor > 0 else None
    derived["python_over_floor"] = python_total / floor if floor > 0 and python_total else None
    print(f"     ratio total / (union + triangulation): native {_f(derived['native_over_floor'], '{:.2f}')}, "
          f"with Python call {_f(derived['python_over_floor'], '{:.2f}')}")
    return derived


def print_targets(cases: List[Dict]) -> Dict:
    """The figures the speed targets are judged by, from what this run measured."""
    by = {(c["workload"], c["size"]): c for c in cases}
    out: Dict = {}
    print("\n== targets")
    for w in workloads.WORKLOADS:
        med = by.get((w, "medium"))
        if not med:
            continue
        peers = [m for m in med["methods"] if not m["method"].startswith(OURS) and m.get("ratio")]
        if peers:
            best = min(peers, key=lambda m: m["median_s"])
            out[f"medium_{w}_fastest_peer"] = best["method"]
            out[f"medium_{w}_speedup"] = best["ratio"]
            print(f"  medium {w}: ours {best['ratio']:.1f}x faster than the fastest peer "
                  f"({best['method']}); target >= 20x on sketch and lettering at equal or better "
                  f"quality (compare the table)")
    for w in workloads.WORKLOADS:
        med, big = by.get((w, "medium")), by.get((w, "large"))
        if med and big and med.get("ours_us_per_point") and big.get("ours_us_per_point"):
            g = big["ours_us_per_point"] / med["ours_us_per_point"]
            out[f"{w}_large_over_medium_time_per_point"] = g
            print(f"  {w}: time per point large / medium = {g:.2f} (target <= 1.3 on sketch and lettering)")
        for size, case in (("medium", med), ("large", big)):
            if case and case.get("stages", {}).get("derived"):
                d = case["stages"]["derived"]
                out[f"{w}_{size}_total_over_floor"] = d.get("python_over_floor")
                out[f"{w}_{size}_largest_stage_besides_union"] = d.get("largest_stage_besides_union")
                out[f"{w}_{size}_largest_stage_after_union"] = d.get("largest_stage_after_union")
                print(f"  {w} {size}: total / (clustered union + triangulation) = native "
                      f"{_f(d.get('native_over_floor'), '{:.2f}')}, with Python call "
                      f"{_f(d.get('python_over_floor'), '{:.2f}')} (target <= 1.5); largest stage "
                      f"besides the union: {d.get('largest_stage_besides_union')}, after it: "
                      f"{d.get('largest_stage_after_union')}")
        if big and big.get("ours_peak_bytes_per_point") is not None:
            b = big["ours_peak_bytes_per_point"]
            out[f"{w}_large_peak_bytes_per_point"] = b
            print(f"  {w} large: peak memory {b:.0f} bytes per input point (target < 1024)")
    out.update(print_clean_targets(by))
    if not out:
        print("  (nothing to judge: ours did not run, or the sizes needed were not run)")
    return out


CLEAN = "strokegraph clean"
# Speed-up of the clean call over the fastest peer wanted per (workload, size).
CLEAN_TARGETS = {("dense", "medium"): 5.0, ("dense", "large"): 10.0,
                 ("sketch", "medium"): 20.0, ("lettering", "medium"): 20.0}


def print_clean_targets(by: Dict) -> Dict:
    """The clean call against the fastest peer of the same run, and its time
    per point from medium to large (dense traces: 100 k to 1 M points)."""
    out: Dict = {}
    for (w, size), case in sorted(by.items()):
        clean = next((m for m in case["methods"] if m["method"] == CLEAN and m.get("median_s")), None)
        peers = [m for m in case["methods"] if not m["method"].startswith(OURS) and m.get("median_s")]
        if not clean or not peers:
            continue
        best = min(peers, key=lambda m: m["median_s"])
        ratio = best["median_s"] / clean["median_s"]
        out[f"{size}_{w}_clean_speedup"] = ratio
        case["clean_us_per_point"] = 1e6 * clean["median_s"] / case["points"]
        want = CLEAN_TARGETS.get((w, size))
        print(f"  {w} {size} ({case['points']} points): clean call {_time(clean['median_s'])}, "
              f"{ratio:.1f}x the fastest peer ({best['method']}, {_time(best['median_s'])})"
              + (f"; target >= {want:.0f}x" if want else ""))
    for w in workloads.ALL_WORKLOADS:
        med, big = by.get((w, "medium")), by.get((w, "large"))
        if med and big and med.get("clean_us_per_point") and big.get("clean_us_per_point"):
            g = big["clean_us_per_point"] / med["clean_us_per_point"]
            out[f"{w}_clean_large_over_medium_time_per_point"] = g
            print(f"  {w}: clean call time per point large / medium = {g:.2f}"
                  + (" (target <= 1.3)" if w == "dense" else ""))
    return out


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--workloads", default=",".join(workloads.ALL_WORKLOADS))
    ap.add_argument("--sizes", default="small,medium")
    ap.add_argument("--methods", default=",".join(METHODS))
    ap.add_argument("--seed", type=int, default=0)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--cap", type=float, default=120.0, help="seconds allowed for one run")
    ap.add_argument("--repeat-budget", type=float, default=120.0,
                    help="stop repeating a method once its runs took this long together")
    ap.add_argument("--ours-python", default=os.path.join(HERE, "..", ".venv", "bin", "python"))
    ap.add_argument("--peers-python", default=sys.executable)
    ap.add_argument("--stage-exe", default="")
    ap.add_argument("--work-dir", default=os.path.join(HERE, ".work"))
    ap.add_argument("--out", default="")
    args = ap.parse_args()

    os.makedirs(args.work_dir, exist_ok=True)
    results = {"started": time.strftime("%Y-%m-%dT%H:%M:%S"), "machine": {
        "cpus": os.cpu_count(), "python": platform.python_version(), "platform": platform.platform()},
        "settings": {"runs": args.runs, "cap_s": args.cap, "repeat_budget_s": args.repeat_budget,
                     "seed": args.seed, "memory": "growth of ru_maxrss over the timed runs, fresh process"},
        "cases": []}
    t_start = time.monotonic()
    for workload in args.workloads.split(","):
        for size in args.sizes.split(","):
            doc = workloads.generate(workload, size, args.seed)
            stem = os.path.join(args.work_dir, f"{workload}-{size}")
            with open(stem + ".json", "w") as f:
                json.dump(doc, f)
            workloads.write_binary(doc, stem + ".bin")
            n_pts = sum(map(len, doc["strokes"]))
            r = doc["buffer_distance"]
            case = {"workload": workload, "size": size, "strokes": len(doc["strokes"]), "points": n_pts,
                    "truth": {k: len(v) for k, v in doc["truth"].items()}, "methods": []}
            for name in args.methods.split(","):
                m = METHODS[name]
                python = args.ours_python if m.venv == "ours" else args.peers_python
                out_path = f"{stem}.{name.split()[0].replace('+', '_')}.out.json"
                if os.path.exists(out_path):
                    os.remove(out_path)
                info = run_worker(python, name, stem + ".json", out_path, args.runs,
                                  args.repeat_budget, args.cap)
                if info["status"] == "ok" and os.path.exists(out_path):
                    with open(out_path) as f:
                        info["quality"] = quality.score(json.load(f), doc["truth"], r)
                case["methods"].append(info)
            ours = next((m for m in case["methods"] if m["method"] == OURS), None)
            for m in case["methods"]:
                if ours and ours.get("median_s") and m.get("median_s"):
                    m["ratio"] = m["median_s"] / ours["median_s"]
            title = (f"{workload} / {size}: {case['strokes']} strokes, {n_pts} points, truth "
                     f"{case['truth']['junctions']} junctions, {case['truth']['endpoints']} endpoints "
                     f"(radius {r}, feature size {doc['feature_size']}; x ours = time / ours)")
            print_table(title, case["methods"])
            stages = run_stages(args.stage_exe, stem + ".bin", args.runs, args.cap,
                                single_union=size != "large")
            if stages and "seconds" in stages:
                case["stages"] = stages
                case["stages"]["derived"] = print_stages(stages, ours.get("median_s") if ours else None)
            elif stages:
                print(f"   stage breakdown failed: {stages['error']}")
                case["stages"] = stages
            if ours and ours.get("median_s"):
                case["ours_us_per_point"] = 1e6 * ours["median_s"] / n_pts
                if ours.get("peak_mib") is not None:
                    case["ours_peak_bytes_per_point"] = ours["peak_mib"] * 1048576 / n_pts
            results["cases"].append(case)
            sys.stdout.flush()
    results["targets"] = print_targets(results["cases"])
    results["wall_s"] = time.monotonic() - t_start
    out = args.out or os.path.join(HERE, "results", f"bench-{time.strftime('%Y%m%d-%H%M%S')}.json")
    os.makedirs(os.path.dirname(out), exist_ok=True)
    with open(out, "w") as f:
        json.dump(results, f, indent=1)
    print(f"\nfigures written to {os.path.relpath(out)} ({results['wall_s']:.0f} s)")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
