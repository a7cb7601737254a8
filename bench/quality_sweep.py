"""Graph quality against the truth over radius / feature-size ratios.

For the sketch and lettering workloads and every ratio radius / feature size
in --ratios, runs (each in a fresh worker process, like bench/run.py) the raw
call `topologize` with the library defaults, the clean call `centerlines`
with its defaults, and the peers, all given the same radius and feature size;
plus once per workload the clean call with its own default feature size.
Scores every output with bench/quality.py and prints one table per workload
and ratio: p95 distances both ways in radii, junction and end precision /
recall, the time of the call, and for the clean call the share of its time
spent in the clean-up and in provenance (from the C++ timer
build/bench/cleanup_share). Ends with the targets of the clean call.

Run through `make bench` (or directly with bench/.venv's Python).
"""

from __future__ import annotations

import argparse
import json
import os
import subprocess
import sys
import time
from typing import Dict, List

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import quality  # noqa: E402
import workloads  # noqa: E402
from methods import EXTRA_METHODS, METHODS  # noqa: E402
from run import run_worker  # noqa: E402

RAW, CLEAN, CLEAN_DEFAULT = "strokegraph", "strokegraph clean", "strokegraph clean (default fs)"
PEERS = [m for m in METHODS if METHODS[m].venv == "peers" and not METHODS[m].slow]
TARGET_PR, TARGET_P95, TARGET_SHARE = 0.95, 0.35, 0.10


def score_row(name: str, info: Dict, out_path: str, truth: Dict, r: float) -> Dict:
    row = {"method": name, "status": info["status"], "seconds": info.get("median_s")}
    if info["status"] == "ok" and os.path.exists(out_path):
        with open(out_path) as f:
            q = quality.score(json.load(f), truth, r)
        row.update(o2t=q["out_to_truth"]["p95"], t2o=q["truth_to_out"]["p95"],
                   jp=q["junctions"]["precision"], jr=q["junctions"]["recall"],
                   ep=q["endpoints"]["precision"], er=q["endpoints"]["recall"])
    else:
        row["error"] = info.get("error", "")
    return row


def fmt(v, spec="{:.2f}"):
    return "-" if v is None else spec.format(v)


def print_table(title: str, rows: List[Dict], r: float) -> None:
    head = ["method", "time", "out->truth p95/r", "truth->out p95/r", "junction P/R", "end P/R", "clean-up share"]
    body = []
    for row in rows:
        share = row.get("share")
        body.append([row["method"], fmt(row.get("seconds"), "{:.2f} s"),
                     fmt(row["o2t"] / r if row.get("o2t") is not None else None, "{:.3f}"),
                     fmt(row["t2o"] / r if row.get("t2o") is not None else None, "{:.3f}"),
                     f"{fmt(row.get('jp'))}/{fmt(row.get('jr'))}", f"{fmt(row.get('ep'))}/{fmt(row.get('er'))}",
                     "" if share is None else f"{100 * share:.1f}% (+{100 * row['sources_share']:.1f}% sources)"])
        if row["status"] != "ok":
            body[-1][1] = row["status"]
    widths = [max(len(head[i]), *(len(b[i]) for b in body)) for i in range(len(head))]
    print(f"\n== {title}")
    print("  ".join(h.ljust(w) for h, w in zip(head, widths)).rstrip())
    for b in body:
        print("  ".join(c.ljust(w) for c, w in zip(b, widths)).rstrip())


def check_targets(rows: List[Dict], r: float) -> List[str]:
    """What the clean call misses at one workload and ratio."""
    clean = next(x for x in rows if x["method"] == CLEAN)
    if clean["status"] != "ok":
        return [f"clean call {clean['status']}"]
    misses = []
    for k in ("jp", "jr", "ep", "er"):
        if clean[k] is None or clean[k] < TARGET_PR:
            misses.append(f"{k}={fmt(clean[k])}")
    for k in ("o2t", "t2o"):
        if clean[k] is None or clean[k] > TARGET_P95 * r:
            misses.append(f"{k} p95={fmt(clean[k] / r if clean[k] is not None else None, '{:.3f}')}r")
    for peer in rows:
        if peer["method"] in (RAW, CLEAN, CLEAN_DEFAULT) or peer["status"] != "ok":
            continue
        for k in ("jp", "jr", "ep", "er"):
            if peer.get(k) is not None and clean[k] is not None and peer[k] > clean[k]:
                misses.append(f"{peer['method']} better {k}")
        for k in ("o2t", "t2o"):
            if peer.get(k) is not None and clean[k] is not None and peer[k] < clean[k]:
                misses.append(f"{peer['method']} better {k}")
    if clean.get("share") is not None and clean["share"] >= TARGET_SHARE:
        misses.append(f"clean-up share {100 * clean['share']:.1f}%")
    return misses


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--workloads", default="sketch,lettering")
    ap.add_argument("--size", default="medium")
    ap.add_argument("--ratios", default="0.5,1,2,4", help="radius / feature size")
    ap.add_argument("--peers", default=",".join(PEERS), help="comma-separated; empty for none")
    ap.add_argument("--seed", type=int, default=0)
    ap.add_argument("--cap", type=float, default=120.0)
    ap.add_argument("--ours-python", default=os.path.join(HERE, "..", ".venv", "bin", "python"))
    ap.add_argument("--peers-python", default=sys.executable)
    ap.add_argument("--share-exe", default=os.path.join(HERE, "..", "build", "bench", "cleanup_share"))
    ap.add_argument("--work-dir", default=os.path.join(HERE, ".work"))
    ap.add_argument("--out", default="")
    args = ap.parse_args()
    os.makedirs(args.work_dir, exist_ok=True)
    ratios = [float(x) for x in args.ratios.split(",")]
    peers = [p for p in args.peers.split(",") if p]
    t_start = time.monotonic()
    results: Dict = {"ratios": ratios, "size": args.size, "cases": []}
    all_misses: List[str] = []
    for workload in args.workloads.split(","):
        doc = workloads.generate(workload, args.size, args.seed)
        r = doc["buffer_distance"]
        stem = os.path.join(args.work_dir, f"sweep-{workload}-{args.size}")
        workloads.write_binary(doc, stem + ".bin")
        shares = {}
        if os.path.exists(args.share_exe):
            out = subprocess.run([args.share_exe, stem + ".bin", "1", *map(str, ratios)],
                                 capture_output=True, text=True, check=True).stdout
            shares = {float(k): v for k, v in json.loads(out).items()}
        default_row = None
        for ratio in ratios:
            doc["feature_size"] = r / ratio
            input_path = f"{stem}-{ratio:g}.json"
            with open(input_path, "w") as f:
                json.dump(doc, f)
            names = [RAW, CLEAN] + ([CLEAN_DEFAULT] if default_row is None else []) + peers
            rows = []
            for name in names:
                m = METHODS.get(name) or EXTRA_METHODS[name]
                python = args.ours_python if m.venv == "ours" else args.peers_python
                out_path = f"{stem}-{ratio:g}.{name.split()[0].replace('+', '_')}.{len(rows)}.out.json"
                if os.path.exists(out_path):
                    os.remove(out_path)
                info = run_worker(python, name, input_path, out_path, 1, 0.0, args.cap)
                rows.append(score_row(name, info, out_path, doc["truth"], r))
            if default_row is None:
                default_row = next(x for x in rows if x["method"] == CLEAN_DEFAULT)
            else:
                rows.insert(2, default_row)
            s = shares.get(ratio)
            if s:
                clean = next(x for x in rows if x["method"] == CLEAN)
                clean["share"] = s["cleanup"] / s["total"]
                clean["sources_share"] = s["sources"] / s["total"]
            print_table(f"{workload} / {args.size}, radius / feature size = {ratio:g} "
                        f"(radius {r}, feature size {r / ratio:g})", rows, r)
            misses = check_targets(rows, r)
            print("   clean call targets: " + ("all met" if not misses else "missed: " + ", ".join(misses)))
            all_misses += [f"{workload} {ratio:g}: {m}" for m in misses]
            results["cases"].append({"workload": workload, "ratio": ratio, "rows": rows, "misses": misses})
            sys.stdout.flush()
    print(f"\n== clean call targets over the sweep: "
          f"{'all met' if not all_misses else str(len(all_misses)) + ' missed'} "
          f"({time.monotonic() - t_start:.0f} s)")
    out = args.out or os.path.join(HERE, "results", f"sweep-{time.strftime('%Y%m%d-%H%M%S')}.json")
    os.makedirs(os.path.dirname(out), exist_ok=True)
    with open(out, "w") as f:
        json.dump(results, f, indent=1)
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
