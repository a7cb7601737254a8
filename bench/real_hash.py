"""Hash of what `strokegraph.centerlines` returns on the real drawings of
bench/real_drawings.py (every workload, also drawn twice), called as a user
calls it (`centerlines(strokes, r)`), to check that a change leaves the
output bit for bit as it was.

Two steps, since the drawings need the bench environment and the hashes the
build under test:
  bench/.venv/bin/python bench/real_hash.py write DRAWINGS.json [--cache DIR]
  .venv/bin/python bench/real_hash.py hash DRAWINGS.json
The second prints one line per workload (its drawings' digests hashed in
order) and one for all of them.
"""

from __future__ import annotations

import hashlib
import json
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)


def write(path: str, cache: str) -> None:
    import real_drawings

    base = real_drawings.glyph_workloads(False) + real_drawings.street_workloads(False, cache)
    doc = [{"name": w["name"], "drawings": [{"strokes": d["strokes"], "r": d["r"]} for d in w["drawings"]]}
           for b in base for w in (b, real_drawings.drawn_twice(b))]
    with open(path, "w") as f:
        json.dump(doc, f)


def hash_all(path: str) -> None:
    import numpy as np

    import strokegraph
    from clean_hash import digest

    with open(path) as f:
        doc = json.load(f)
    whole = hashlib.sha256()
    for w in doc:
        h = hashlib.sha256()
        for d in w["drawings"]:
            curves = [np.asarray(s, dtype=np.float64) for s in d["strokes"]]
            h.update(digest(strokegraph.centerlines(curves, d["r"])).encode())
        whole.update(h.digest())
        print(f"{w['name']:24s} {len(w['drawings']):4d} {h.hexdigest()[:16]}", flush=True)
    print(f"{'all':24s} {'':4s} {whole.hexdigest()[:16]}")


def main() -> int:
    if len(sys.argv) >= 3 and sys.argv[1] == "write":
        cache = sys.argv[sys.argv.index("--cache") + 1] if "--cache" in sys.argv else os.path.join(
            HERE, "..", "build", "bench-data")
        write(sys.argv[2], cache)
    elif len(sys.argv) == 3 and sys.argv[1] == "hash":
        hash_all(sys.argv[2])
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
