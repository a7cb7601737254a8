"""Golden-output check: topologize on the bench workloads, hashed.

Usage: python bench/golden.py [--sizes small,medium] [--modes clustered,single-union] [--write]

Every output bit counts: the hash covers the repr of the full result (floats in
shortest round-trip form). Each workload has one record per union mode: the
default union per cluster of bands ("sketch/small") and the single union call
of STROKEGRAPH_SINGLE_UNION=1 ("sketch/small single-union"). `--write` records
the current hashes in bench/golden.json; without it the hashes are compared
with that file and any difference fails the run. Speed work must leave every
hash unchanged.
"""

import argparse
import hashlib
import json
import os
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).parent))

import strokegraph  # noqa: E402
from workloads import BUFFER_DISTANCE, FEATURE_SIZE, WORKLOADS, generate  # noqa: E402

GOLDEN = pathlib.Path(__file__).with_name("golden.json")


MODES = ("clustered", "single-union")


def key(workload: str, size: str, mode: str) -> str:
    return f"{workload}/{size}" + ("" if mode == "clustered" else f" {mode}")


def digest(workload: str, size: str, mode: str = "clustered") -> str:
    doc = generate(workload, size)
    curves = [[tuple(p) for p in stroke] for stroke in doc["strokes"]]
    saved = os.environ.pop("STROKEGRAPH_SINGLE_UNION", None)
    if mode == "single-union":
        os.environ["STROKEGRAPH_SINGLE_UNION"] = "1"
    try:
        result = strokegraph.topologize(curves, BUFFER_DISTANCE, FEATURE_SIZE, compute_widths=True)
    finally:
        os.environ.pop("STROKEGRAPH_SINGLE_UNION", None)
        if saved is not None:
            os.environ["STROKEGRAPH_SINGLE_UNION"] = saved
    return hashlib.sha256(repr(result).encode()).hexdigest()


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", default="small,medium")
    parser.add_argument("--modes", default=",".join(MODES))
    parser.add_argument("--write", action="store_true")
    args = parser.parse_args()
    known = json.loads(GOLDEN.read_text()) if GOLDEN.exists() else {}
    current = {key(w, s, m): digest(w, s, m)
               for m in args.modes.split(",") for s in args.sizes.split(",") for w in WORKLOADS}
    if args.write:
        known.update(current)
        GOLDEN.write_text(json.dumps(known, indent=2, sort_keys=True) + "\n")
        print(f"golden: recorded {len(current)} hashes in {GOLDEN}")
        return 0
    bad = [k for k, v in current.items() if known.get(k) != v]
    for k in bad:
        print(f"golden: {k} differs ({'no recorded hash' if k not in known else 'output changed'})")
    print(f"golden: {len(current) - len(bad)} of {len(current)} workloads bit-identical")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
