"""The clean-up's and provenance's share of the clean call on the real
drawings of bench/real_drawings.py (its workloads, each also drawn twice), as
build/bench/cleanup_share measures it: every drawing called as a user calls
it (feature size = r), the times summed over a workload's drawings, median
over RUNS.

Usage: bench/.venv/bin/python bench/real_share.py [--runs 3] [--quick]
(after `make build bench-cpp`; the drawings are written to bench/.work/real-share).
"""

from __future__ import annotations

import argparse
import json
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import real_drawings  # noqa: E402
import workloads  # noqa: E402


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--quick", action="store_true", help="one face's glyphs and the streets drawn once")
    ap.add_argument("--share-exe", default=os.path.join(HERE, "..", "build", "bench", "cleanup_share"))
    ap.add_argument("--cache", default=os.path.join(HERE, "..", "build", "bench-data"))
    ap.add_argument("--work-dir", default=os.path.join(HERE, ".work", "real-share"))
    args = ap.parse_args()
    base = real_drawings.glyph_workloads(args.quick) + real_drawings.street_workloads(args.quick, args.cache)
    print(f"{'workload':24s} {'drawings':>8s} {'call':>9s} {'clean-up':>9s} {'sources':>8s} {'share':>7s}")
    for w in [x for b in base for x in (b, real_drawings.drawn_twice(b))]:
        folder = os.path.join(args.work_dir, w["name"].replace(" ", "_"))
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        for k, d in enumerate(w["drawings"]):
            workloads.write_binary({"buffer_distance": d["r"], "feature_size": d["r"], "strokes": d["strokes"]},
                                   os.path.join(folder, f"{k:05d}.bin"))
        out = subprocess.run([args.share_exe, folder, str(args.runs), "1"], capture_output=True, text=True,
                             check=True).stdout
        s = json.loads(out)["1"]
        print(f"{w['name']:24s} {len(w['drawings']):8d} {s['total']:8.3f}s {100 * s['cleanup'] / s['total']:8.1f}% "
              f"{100 * s['sources'] / s['total']:7.1f}% {100 * (s['cleanup'] + s['sources']) / s['total']:6.1f}%",
              flush=True)
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
