"""Runs one method on one workload in a fresh process and reports on stdout,
one JSON object a line, so that the caller can enforce a time cap per run:

  {"event": "ready", "baseline_kib": ...}          after imports, loading and a warm-up
  {"event": "run", "i": k, "seconds": t}           after each timed run
  {"event": "written", "peak_kib": ..., "baseline_kib": ...}  after the first run's output is saved
  {"event": "done"}

Peak memory is the growth of the process's resident set over the first
timed run: after imports, loading the input and a warm-up call on a tiny input
(so JIT compilation and lazy imports are not counted), the kernel's
high-water mark is reset to the current resident size (/proc/self/clear_refs)
and that size taken as the baseline; after the run the high-water mark
(VmHWM) is read. This covers Python and native allocations alike. Where the
reset is not possible, getrusage ru_maxrss is used instead, which cannot see
a peak below the mark left by the imports. The output of the first run is
written as JSON for scoring; repeats stop once the runs took `--budget`
seconds together.

Usage: python bench/worker.py METHOD INPUT.json OUTPUT.json [--runs 5] [--budget S]
"""

from __future__ import annotations

import argparse
import gc
import json
import os
import resource
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from methods import EXTRA_METHODS, METHODS  # noqa: E402

ALL_METHODS = {**METHODS, **EXTRA_METHODS}

WARMUP = [[(0.0, 0.0), (10.0, 0.0)], [(5.0, -5.0), (5.0, 5.0)], [(0.0, 8.0), (10.0, 8.0), (10.0, 14.0)]]


def _status_kib(field: str) -> int:
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise KeyError(field)


def _reset_peak() -> bool:
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
        return True
    except OSError:
        return False


def _baseline_kib(reset: bool) -> int:
    return _status_kib("VmRSS") if reset else resource.getrusage(resource.RUSAGE_SELF).ru_maxrss


def _peak_kib(reset: bool) -> int:
    return _status_kib("VmHWM") if reset else resource.getrusage(resource.RUSAGE_SELF).ru_maxrss


def _say(**kw) -> None:
    print(json.dumps(kw), flush=True)


def main() -> int:
    ap = argparse.ArgumentParser()
    ap.add_argument("method", choices=sorted(ALL_METHODS))
    ap.add_argument("input")
    ap.add_argument("output")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--budget", type=float, default=float("inf"),
                    help="stop repeating once the timed runs took this many seconds")
    args = ap.parse_args()
    method = ALL_METHODS[args.method]

    with open(args.input) as f:
        doc = json.load(f)
    r, fs = doc["buffer_distance"], doc["feature_size"]
    strokes = [[(float(x), float(y)) for x, y in s] for s in doc["strokes"]]
    del doc
    method.convert(method.run(WARMUP, r, fs))
    gc.collect()
    reset = _reset_peak()
    baseline = _baseline_kib(reset)
    _say(event="ready", baseline_kib=baseline, memory="VmHWM after reset" if reset else "ru_maxrss")

    spent, peak = 0.0, baseline
    for i in range(args.runs):
        gc.collect()
        t0 = time.perf_counter()
        raw = method.run(strokes, r, fs)
        dt = time.perf_counter() - t0
        spent += dt
        _say(event="run", i=i, seconds=dt)
        if i == 0:
            # Memory and output from the first run; the output is converted
            # and written outside the timed region, before the repeats.
            peak = _peak_kib(reset)
            res = method.convert(raw)
            with open(args.output, "w") as f:
                json.dump({"lines": res.lines, "junctions": res.junctions, "endpoints": res.endpoints}, f)
            del res
            _say(event="written", peak_kib=peak, baseline_kib=baseline)
        del raw
        if spent >= args.budget:
            break
    _say(event="done")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
