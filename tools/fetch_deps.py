#!/usr/bin/env python3
"""Fetch the C++ libraries the native core compiles against.

Clipper2 and the CDT triangulator are not packaged by Debian. Both ship their
C++ sources inside PyPI source distributions; this script downloads those
sdists with pip, checks each against the sha256 in tools/deps.lock, unpacks
it outside the source tree and checks the bundled library versions. A run
that finds everything already in place does nothing.

Usage: fetch_deps.py [--dest DIR]   (default: $STROKEGRAPH_DEPS_DIR or
~/.cache/strokegraph/deps). Prints the directory on success.
"""

from __future__ import annotations

import argparse
import hashlib
import os
import re
import subprocess
import sys
import tarfile
import tempfile
from pathlib import Path

LOCK = Path(__file__).with_name("deps.lock")

# File inside the unpacked sdist -> regular expression its text must match,
# so that a re-published sdist with another bundled version is refused.
VERSION_CHECKS = {
    "clipper2-py": (
        "third_party/Clipper2/CPP/Clipper2Lib/include/clipper2/clipper.version.h",
        r'CLIPPER2_VERSION\s*=\s*"2\.0\.1"',
    ),
    "pythoncdt": ("CDT/CDT/CMakeLists.txt", r"\bVERSION\s+2\.0\.1\b"),
}

REQUIRED_FILES = {
    "clipper2-py": [
        "third_party/Clipper2/CPP/Clipper2Lib/src/clipper.engine.cpp",
        "third_party/Clipper2/CPP/Clipper2Lib/src/clipper.offset.cpp",
        "third_party/Clipper2/CPP/Clipper2Lib/src/clipper.rectclip.cpp",
        "third_party/Clipper2/CPP/Clipper2Lib/include/clipper2/clipper.h",
    ],
    "pythoncdt": ["CDT/CDT/include/CDT.h", "CDT/CDT/include/Triangulation.hpp"],
}


def default_dest() -> Path:
    env = os.environ.get("STROKEGRAPH_DEPS_DIR")
    if env:
        return Path(env)
    cache = os.environ.get("XDG_CACHE_HOME") or str(Path.home() / ".cache")
    return Path(cache) / "strokegraph" / "deps"


def read_lock() -> list[tuple[str, str, str, str]]:
    entries = []
    for line in LOCK.read_text().splitlines():
        line = line.split("#", 1)[0].strip()
        if line:
            name, version, sha, tree = line.split()
            entries.append((name, version, sha, tree))
    return entries


def sha256(path: Path) -> str:
    h = hashlib.sha256()
    with path.open("rb") as f:
        for block in iter(lambda: f.read(1 << 16), b""):
            h.update(block)
    return h.hexdigest()


def unpacked_name(name: str, version: str) -> str:
    return f"{re.sub(r'[-_.]+', '_', name)}-{version}"


def safe_extract(archive: Path, dest: Path, top: str) -> None:
    with tarfile.open(archive, "r:gz") as tar:
        for member in tar.getmembers():
            parts = Path(member.name).parts
            if not parts or parts[0] != top or ".." in parts or member.name.startswith("/"):
                raise SystemExit(f"{archive.name}: unexpected member {member.name!r}")
            if not (member.isfile() or member.isdir()):
                raise SystemExit(f"{archive.name}: refusing non-regular member {member.name!r}")
        if hasattr(tarfile, "data_filter"):
            tar.extractall(dest, filter="data")
        else:  # members were checked above
            tar.extractall(dest)


def verify_tree(name: str, root: Path) -> None:
    for rel in REQUIRED_FILES[name]:
        if not (root / rel).is_file():
            raise SystemExit(f"{name}: {rel} missing from the sdist")
    rel, pattern = VERSION_CHECKS[name]
    if not re.search(pattern, (root / rel).read_text(errors="replace")):
        raise SystemExit(f"{name}: unexpected bundled library version in {rel}")


def fetch(name: str, version: str, sha: str, dest: Path) -> None:
    top = unpacked_name(name, version)
    stamp = dest / f"{top}.verified"
    if stamp.is_file() and stamp.read_text().strip() == sha and (dest / top).is_dir():
        return
    with tempfile.TemporaryDirectory(prefix="strokegraph-deps-") as tmp:
        cmd = [sys.executable, "-m", "pip", "download", "--quiet", "--no-deps",
               "--no-binary", name, f"{name}=={version}", "--dest", tmp]
        subprocess.run(cmd, check=True)
        archives = list(Path(tmp).glob("*.tar.gz"))
        if len(archives) != 1:
            raise SystemExit(f"{name}: expected one sdist, got {[a.name for a in archives]}")
        got = sha256(archives[0])
        if got != sha:
            raise SystemExit(f"{name} {version}: sha256 {got} does not match the recorded {sha}")
        staging = Path(tempfile.mkdtemp(prefix=".unpack-", dir=dest))
        safe_extract(archives[0], staging, top)
        verify_tree(name, staging / top)
        if (dest / top).exists():
            import shutil
            shutil.rmtree(dest / top)
        (staging / top).rename(dest / top)
        staging.rmdir()
    stamp.write_text(sha + "\n")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dest", type=Path, default=default_dest())
    args = parser.parse_args()
    dest = args.dest.expanduser().resolve()
    dest.mkdir(parents=True, exist_ok=True)
    for name, version, sha, _tree in read_lock():
        fetch(name, version, sha, dest)
    print(dest)
    return 0


if __name__ == "__main__":
    sys.exit(main())
