"""Time two builds of the package against each other on the bench workloads.

Usage: python bench/compare_builds.py OLD_SITE NEW_SITE [--size medium] [--rounds 7]
       python bench/compare_builds.py OLD_SITE NEW_SITE --instructions [--size small]

OLD_SITE and NEW_SITE are directories holding a `strokegraph` package (for
example made by `pip install --no-deps --target DIR .` at two commits). Each
round runs every workload once per build, alternating which goes first, in
fresh child processes; prints per workload the median time of each build and
new/old. Times are CPU seconds of the whole process (all threads), the best of
three calls, so that other load on the machine disturbs them less than wall
time. Used to check that a change costs nothing measurable.

With --instructions each build instead runs under valgrind's callgrind, once
with one call and once with three, and the difference over two gives the
instructions of one call, per thread (the call may run on a thread other than
the caller's). Independent of machine load, so it shows differences well below
1 %.
"""

import argparse
import glob
import json
import os
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))

CHILD = r"""
import json, sys, time
sys.path.insert(0, sys.argv[1])
import strokegraph
doc = json.load(open(sys.argv[2]))
curves = [[tuple(p) for p in s] for s in doc["strokes"]]
best = None
for _ in range(3):
    t = time.process_time()
    strokegraph.topologize(curves, doc["buffer_distance"], doc["feature_size"])
    t = time.process_time() - t
    best = t if best is None else min(best, t)
print(best)
"""


CALLS = r"""
import json, sys
sys.path.insert(0, sys.argv[1])
import strokegraph
doc = json.load(open(sys.argv[2]))
curves = [[tuple(p) for p in s] for s in doc["strokes"]]
for _ in range(int(sys.argv[3])):
    strokegraph.topologize(curves, doc["buffer_distance"], doc["feature_size"])
"""


def thread_instructions(site, path, calls, tmp):
    """Instructions per thread of a process making `calls` calls."""
    tag = f"{os.path.basename(path)}-{calls}-{abs(hash(site))}"
    prefix = os.path.join(tmp, f"cg-{tag}")
    subprocess.run(["valgrind", "--tool=callgrind", "--separate-threads=yes",
                    f"--callgrind-out-file={prefix}.%p", sys.executable, "-c", CALLS, site, path,
                    str(calls)], capture_output=True, check=True)
    counts = []
    for name in sorted(glob.glob(prefix + ".*-*"), key=lambda n: int(n.rsplit("-", 1)[1])):
        with open(name) as f:
            for line in f:
                if line.startswith("summary:"):
                    counts.append(int(line.split()[1]))
    return counts


def instructions(args, files, tmp):
    print(f"{'workload':10} {'old Ir/call':>14} {'new Ir/call':>14} {'new/old':>8}   new per thread")
    for w, path in files.items():
        per_call = {}
        for b, site in (("old", args.old), ("new", args.new)):
            one = thread_instructions(site, path, 1, tmp)
            three = thread_instructions(site, path, 3, tmp)
            per_call[b] = [(c - a) // 2 for a, c in zip(one, three)]
        old, new = sum(per_call["old"]), sum(per_call["new"])
        print(f"{w:10} {old:14,} {new:14,} {new / old:8.4f}   {per_call['new']}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("old")
    parser.add_argument("new")
    parser.add_argument("--size", default="medium")
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--instructions", action="store_true")
    args = parser.parse_args()
    sys.path.insert(0, HERE)
    import workloads

    with tempfile.TemporaryDirectory() as tmp:
        files = {}
        for w in workloads.WORKLOADS:
            files[w] = os.path.join(tmp, f"{w}.json")
            with open(files[w], "w") as f:
                json.dump(workloads.generate(w, args.size), f)
        if args.instructions:
            instructions(args, files, tmp)
            return
        times = {(w, b): [] for w in files for b in ("old", "new")}
        for r in range(args.rounds):
            for w, path in files.items():
                order = ("old", "new") if r % 2 == 0 else ("new", "old")
                for b in order:
                    site = args.old if b == "old" else args.new
                    out = subprocess.run([sys.executable, "-c", CHILD, site, path],
                                         capture_output=True, text=True, check=True).stdout
                    times[(w, b)].append(float(out))
        print(f"{'workload':10} {'old cpu s':>9} {'new cpu s':>9} {'new/old':>8}")
        ratios = []
        for w in files:
            old = statistics.median(times[(w, "old")])
            new = statistics.median(times[(w, "new")])
            ratios.append(new / old)
            print(f"{w:10} {old:9.4f} {new:9.4f} {new / old:8.3f}")
        print(f"{'geomean':10} {'':9} {'':9} {statistics.geometric_mean(ratios):8.3f}")


if __name__ == "__main__":
    main()
