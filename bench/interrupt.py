"""Time from SIGINT to KeyboardInterrupt for each entry point.

Usage: python bench/interrupt.py [--runs 20] [--delay 0.4]

For each function a child process starts a call that runs for many seconds
(inflate_curves: a union of 2000 overlapping random walks; the others: a
straight stroke whose boundary needs over a million points, for the batch four
such jobs), the parent sends SIGINT `delay` seconds after the call began, and
the child reports when KeyboardInterrupt reached Python. Both read the same
monotonic clock. Prints median and worst per function, in milliseconds; the
child also checks that the module still works afterwards.
"""

import argparse
import os
import signal
import statistics
import subprocess
import sys
import time

CHILD = r"""
import random, sys, time
from strokegraph import _internal as m
which = sys.argv[1]
rng = random.Random(1)
walks = []
for k in range(2000):
    x, y = rng.uniform(0, 100), rng.uniform(0, 100)
    c = []
    for i in range(200):
        x += rng.gauss(0, 1); y += rng.gauss(0, 1); c.append((x, y))
    walks.append(c)
line = [[(0.0, 0.0), (2e6, 0.0)]]
calls = {
    "topologize": lambda: m.topologize(line, 1.0, 1.0),
    "topologize_batch": lambda: m.topologize_batch([(line, 1.0, 1.0) + (None,) * 8] * 4),
    "inflate_curves": lambda: m.inflate_curves(walks, 0.5, 0.01, merge_tolerance=0),
    "triangulate_curves": lambda: m.triangulate_curves(line, 1.0, 1.0),
    "topologize(resample=1e-6)": lambda: m.topologize([[(0, 0), (10, 0)]], 1.0, 1.0, resample=1e-6),
    "topologize(1e7 stroke)": lambda: m.topologize([[(0, 0), (1e7, 0)]], 1.0, 1.0),
}
print("go", flush=True)
try:
    calls[which]()
    print("finished", flush=True)
except KeyboardInterrupt:
    print("interrupted", time.perf_counter(), flush=True)
small = [[(0.0, 0.0), (10.0, 0.0)]]
assert m.topologize(small, 1.0, 1.0)[0]
assert m.topologize_batch([(small, 1.0, 1.0) + (None,) * 8] * 3)[0][0]
print("ok", flush=True)
"""

FUNCTIONS = ["topologize", "topologize_batch", "inflate_curves", "triangulate_curves",
             "topologize(resample=1e-6)", "topologize(1e7 stroke)"]


def one(which, delay):
    child = subprocess.Popen([sys.executable, "-c", CHILD, which], stdout=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline().strip() == "go"
        time.sleep(delay)
        sent = time.perf_counter()
        child.send_signal(signal.SIGINT)
        words = child.stdout.readline().split()
        rest = child.stdout.read()
        child.wait(timeout=60)
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
    if not words or words[0] != "interrupted" or "ok" not in rest:
        raise RuntimeError(f"{which}: child said {words} {rest!r}")
    return (float(words[1]) - sent) * 1000.0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=20)
    parser.add_argument("--delay", type=float, default=0.4)
    parser.add_argument("--only", default=None, help="one function name")
    args = parser.parse_args()
    print(f"{'function':28} {'median ms':>10} {'worst ms':>10}  ({args.runs} runs)")
    for which in FUNCTIONS:
        if args.only and which != args.only:
            continue
        times = [one(which, args.delay) for _ in range(args.runs)]
        print(f"{which:28} {statistics.median(times):10.1f} {max(times):10.1f}", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
