#!/usr/bin/env python3
"""Fetch the C++ libraries the native core compiles against.

Clipper2 and the CDT triangulator are not packaged by Debian. Both ship their
C++ sources inside PyPI source distributions; this script downloads those
sdists with pip, checks each against the sha256 in tools/deps.lock, unpacks
it outside the source tree and checks the bundled library versions. A run
that finds everything already in place does nothing.

Usage: fetch_deps.py [--dest DIR]   (default: $STROKEGRAPH_DEPS_DIR or
~/.cache/strokegraph/deps). Prints the directory on success.

The source distribution of strokegraph carries the pinned sdists themselves,
so that building it needs no network:
  fetch_deps.py --bundle DIR   puts the hash-checked sdists into DIR (make sdist)
  fetch_deps.py --from DIR     unpacks them from DIR instead of downloading
                               (CMake, when the source tree carries DIR)
"""

from __future__ import annotations

import argparse
import hashlib
import os
import re
import shutil
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


def bundled_archive(bundle: Path, name: str, version: str) -> Path:
    return bundle / f"{unpacked_name(name, version)}.tar.gz"


def checked(archive: Path, name: str, version: str, sha: str) -> Path:
    got = sha256(archive)
    if got != sha:
        raise SystemExit(f"{name} {version}: sha256 {got} does not match the recorded {sha}")
    return archive


def download(name: str, version: str, sha: str, tmp: str) -> Path:
    cmd = [sys.executable, "-m", "pip", "download", "--quiet", "--no-deps",
           "--no-binary", name, f"{name}=={version}", "--dest", tmp]
    subprocess.run(cmd, check=True)
    archives = list(Path(tmp).glob("*.tar.gz"))
    if len(archives) != 1:
        raise SystemExit(f"{name}: expected one sdist, got {[a.name for a in archives]}")
    return checked(archives[0], name, version, sha)


def fetch(name: str, version: str, sha: str, dest: Path, source: Path | None) -> None:
    top = unpacked_name(name, version)
    stamp = dest / f"{top}.verified"
    if stamp.is_file() and stamp.read_text().strip() == sha and (dest / top).is_dir():
        return
    with tempfile.TemporaryDirectory(prefix="strokegraph-deps-") as tmp:
        if source is None:
            archive = download(name, version, sha, tmp)
        else:
            archive = bundled_archive(source, name, version)
            if not archive.is_file():
                raise SystemExit(f"{name} {version}: {archive} is missing")
            checked(archive, name, version, sha)
        staging = Path(tempfile.mkdtemp(prefix=".unpack-", dir=dest))
        safe_extract(archive, staging, top)
        verify_tree(name, staging / top)
        if (dest / top).exists():
            shutil.rmtree(dest / top)
        (staging / top).rename(dest / top)
        staging.rmdir()
    stamp.write_text(sha + "\n")


def bundle(name: str, version: str, sha: str, dest: Path) -> None:
    """Put the pinned sdist into dest (kept when already there and intact)."""
    target = bundled_archive(dest, name, version)
    if target.is_file() and sha256(target) == sha:
        return
    with tempfile.TemporaryDirectory(prefix="strokegraph-deps-") as tmp:
        # Its tree is checked where it is unpacked (fetch with --from).
        shutil.copyfile(download(name, version, sha, tmp), target)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dest", type=Path, default=default_dest())
    mode = parser.add_mutually_exclusive_group()
    mode.add_argument("--from", dest="source", type=Path, metavar="DIR",
                      help="take the sdists from DIR (as --bundle left them), never download")
    mode.add_argument("--bundle", type=Path, metavar="DIR",
                      help="only put the hash-checked sdists into DIR, unpacked nowhere")
    args = parser.parse_args()
    dest = (args.bundle if args.bundle else args.dest).expanduser().resolve()
    dest.mkdir(parents=True, exist_ok=True)
    source = args.source.expanduser().resolve() if args.source else None
    for name, version, sha, _tree in read_lock():
        if args.bundle:
            bundle(name, version, sha, dest)
        else:
            fetch(name, version, sha, dest, source)
    print(dest)
    return 0


if __name__ == "__main__":
    sys.exit(main())
