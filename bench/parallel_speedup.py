"""Speed-up of one topologize call from running its independent parts on the pool.

Usage: python bench/parallel_speedup.py [--sizes medium] [--runs 5] [--threads 1,2]

Offsetting (per curve), the union (per cluster of bands) and the skeleton (per
polygon) of a single call run on the process-wide pool. For every bench
workload, child processes with RAYON_NUM_THREADS set to each value (1 runs
everything on the calling thread) take turns timing topologize; the script
prints the median wall and CPU time per thread count (on a machine whose
cores are busy with other work, CPU time above wall time still shows the
parallelism), the speed-up over one thread, and checks
that the output is bit-identical for every thread count.
"""

import argparse
import hashlib
import json
import os
import pathlib
import statistics
import subprocess
import sys

HERE = pathlib.Path(__file__).resolve().parent

CHILD = r"""
import hashlib, json, sys, time
sys.path.insert(0, sys.argv[1])
import strokegraph
from workloads import BUFFER_DISTANCE, FEATURE_SIZE, generate
doc = generate(sys.argv[2], sys.argv[3])
curves = [[tuple(p) for p in s] for s in doc["strokes"]]
times, cpu = [], []
for _ in range(int(sys.argv[4])):
    t, c = time.perf_counter(), time.process_time()
    result = strokegraph.topologize(curves, BUFFER_DISTANCE, FEATURE_SIZE)
    times.append(time.perf_counter() - t)
    cpu.append(time.process_time() - c)
print(json.dumps({"times": times, "cpu": cpu, "hash": hashlib.sha256(repr(result).encode()).hexdigest()}))
"""


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--workloads", default="sketch,traces,lettering")
    ap.add_argument("--sizes", default="medium")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--rounds", type=int, default=2, help="alternating child processes per thread count")
    ap.add_argument("--threads", default="1,2")
    args = ap.parse_args()
    threads = args.threads.split(",")
    ok = True
    print(f"parallel speed-up of one topologize call; processors {os.cpu_count()}")
    for size in args.sizes.split(","):
        for w in args.workloads.split(","):
            times = {t: [] for t in threads}
            cpu = {t: [] for t in threads}
            hashes = set()
            for _ in range(args.rounds):
                for t in threads:
                    env = dict(os.environ, RAYON_NUM_THREADS=t)
                    out = subprocess.run([sys.executable, "-c", CHILD, str(HERE), w, size, str(args.runs)],
                                         env=env, capture_output=True, text=True, check=True).stdout
                    res = json.loads(out)
                    times[t] += res["times"]
                    cpu[t] += res["cpu"]
                    hashes.add(res["hash"])
            med = {t: statistics.median(v) for t, v in times.items()}
            med_cpu = {t: statistics.median(v) for t, v in cpu.items()}
            same = len(hashes) == 1
            ok &= same
            cols = "  ".join(f"{t} thread(s) {med[t] * 1000:8.1f} ms (cpu {med_cpu[t] * 1000:.0f} ms)"
                             for t in threads)
            speedups = "  ".join(f"x{med[threads[0]] / med[t]:.2f}" for t in threads[1:])
            print(f"  {w}/{size}: {cols}  speed-up {speedups}  output {'identical' if same else 'DIFFERS'}")
    return 0 if ok else 1


if __name__ == "__main__":
    raise SystemExit(main())
