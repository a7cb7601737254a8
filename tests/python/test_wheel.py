"""The sdist's bundled third-party sources are taken as pinned or not at all, and
the repaired wheel, installed into a fresh virtual environment, runs the
README's quick start with no build tree around.

`make wheel` builds the wheel once (from the sdist, with the network off) and
writes its path to build/wheel/wheel.path; `make test` runs this file after it.
Run on its own, without that file, the test is skipped.
"""

from __future__ import annotations

import os
import re
import subprocess
import sys
import zipfile
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
WHEEL_PATH = ROOT / "build" / "wheel" / "wheel.path"
# The extras the quick start's last line calls into.
EXTRAS = "networkx,shapely,plot"


def quick_start() -> str:
    """The first python block under the README's "Quick start" heading."""
    text = (ROOT / "README.md").read_text()
    section = re.search(r"^#+ Quick start\s*$(.*?)(?=^#+ )", text, re.M | re.S)
    assert section, "README.md has no Quick start section"
    block = re.search(r"```python\n(.*?)```", section.group(1), re.S)
    assert block, "the Quick start section has no python block"
    return block.group(1)


def claimed_reprs(code: str) -> dict[str, str]:
    """Lines like `g   # Centerlines(...)`: a name and the repr the README shows."""
    found = {}
    for line in code.splitlines():
        m = re.fullmatch(r"(\w+)\s+#\s*([A-Z]\w*\(.*\))\s*", line)
        if m:
            found[m.group(1)] = m.group(2)
    return found


@pytest.fixture(scope="module")
def wheel() -> Path:
    if not WHEEL_PATH.is_file():
        pytest.skip("no wheel built: run `make wheel` (make test does)")
    path = Path(WHEEL_PATH.read_text().strip())
    assert path.is_file(), f"{WHEEL_PATH} names {path}, which is missing"
    return path


@pytest.mark.wheel
def test_wheel_is_repaired_and_self_contained(wheel: Path) -> None:
    assert re.search(r"-manylinux_\d+_\d+_\w+\.whl$", wheel.name), wheel.name
    names = zipfile.ZipFile(wheel).namelist()
    for module in ("_internal", "_core"):
        assert any(re.fullmatch(rf"strokegraph/{module}\.[\w.-]+\.so", n) for n in names), module
    # Our licence and those of the C++ libraries compiled into the modules.
    licenses = {n.rsplit("/", 1)[1] for n in names if ".dist-info/licenses/" in n}
    assert {"LICENSE", "LICENSE-Clipper2", "LICENSE-CDT"} <= licenses, licenses
    # Python sources only from the package, no build or test files.
    assert all(n.startswith(("strokegraph/", "strokegraph-", "strokegraph.libs/")) for n in names), names


@pytest.mark.wheel
def test_quick_start_in_a_fresh_venv(wheel: Path, tmp_path: Path) -> None:
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", str(venv)], check=True)
    python = venv / "bin" / "python"
    # The extras at the versions the tests pin (pip's cache serves them again).
    subprocess.run([str(python), "-m", "pip", "install", "--quiet", "--disable-pip-version-check",
                    "-c", str(ROOT / "requirements-dev.txt"), f"{wheel}[{EXTRAS}]"], check=True)

    code = quick_start()
    checks = "".join(f"assert repr({name}) == {shown!r}, repr({name})\n"
                     for name, shown in claimed_reprs(code).items())
    script = tmp_path / "run" / "quick_start.py"
    script.parent.mkdir()
    script.write_text(code + checks + "import strokegraph._internal, strokegraph._core\n"
                      "print(strokegraph.__file__, strokegraph._internal.__file__, strokegraph._core.__file__)\n")
    env = {k: v for k, v in os.environ.items() if not k.startswith(("PYTHON", "VIRTUAL_ENV"))}
    env["MPLBACKEND"] = "Agg"
    # -I: neither the working directory nor PYTHONPATH nor user site-packages on the path.
    run = subprocess.run([str(python), "-I", str(script)], cwd=script.parent, env=env,
                         capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    files = run.stdout.split()
    assert len(files) == 3
    for f in files:
        assert Path(f).resolve().is_relative_to(venv.resolve()), f


@pytest.mark.parametrize("bundled", ["missing", "tampered"])
def test_bundled_sources_are_hash_checked(tmp_path: Path, bundled: str) -> None:
    """fetch_deps.py --from (what CMake runs inside the sdist) never downloads
    and refuses an archive whose sha256 differs from tools/deps.lock."""
    bundle = tmp_path / "third_party"
    bundle.mkdir()
    if bundled == "tampered":
        for line in (ROOT / "tools" / "deps.lock").read_text().splitlines():
            fields = line.split("#", 1)[0].split()
            if fields:
                name = re.sub(r"[-_.]+", "_", fields[0])
                (bundle / f"{name}-{fields[1]}.tar.gz").write_bytes(b"not the pinned sdist")
    env = dict(os.environ, PIP_NO_INDEX="1")
    run = subprocess.run([sys.executable, str(ROOT / "tools" / "fetch_deps.py"),
                          "--from", str(bundle), "--dest", str(tmp_path / "deps")],
                         capture_output=True, text=True, env=env)
    assert run.returncode != 0
    expected = "is missing" if bundled == "missing" else "does not match the recorded"
    assert expected in run.stderr, run.stderr
    assert not any((tmp_path / "deps").glob("*/"))
