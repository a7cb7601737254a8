"""The manual under docs/ builds strictly with MkDocs (a broken link, a missing
anchor or an API reference that names nothing fails the build), and its Python
examples run.

The ```python blocks of a page run in order in one namespace, in a scratch
folder, after a prelude that gives them what a reader would have at hand (the
package, some strokes, a small SVG file, the street sample when the tests have
it, with a lanes column). A block preceded by ``<!-- no-run: REASON -->`` is skipped.
"""

from __future__ import annotations

import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
DOCS = ROOT / "docs"
BLOCK = re.compile(r"(<!-- no-run: (?P<reason>[^>]*?) -->\n)?```python\n(?P<code>.*?)```", re.S)

SKETCH_SVG = """<svg xmlns="http://www.w3.org/2000/svg" width="40" height="30">
<polyline points="2,15 38,15" stroke="black" stroke-width="3" fill="none"/>
<path d="M20 2 L20 28" stroke="black" stroke-width="3" stroke-linecap="round" fill="none"/>
</svg>
"""


def mkdocs_build(config: Path, site: Path) -> subprocess.CompletedProcess[str]:
    env = dict(os.environ, NO_MKDOCS_2_WARNING="1")
    return subprocess.run([sys.executable, "-m", "mkdocs", "build", "--strict", "--config-file", str(config),
                           "--site-dir", str(site)], cwd=ROOT, env=env, capture_output=True, text=True)


def test_manual_builds_strictly(tmp_path: Path) -> None:
    pytest.importorskip("mkdocstrings")
    run = mkdocs_build(ROOT / "mkdocs.yml", tmp_path / "site")
    assert run.returncode == 0, run.stderr[-3000:]
    reference = (tmp_path / "site" / "reference" / "index.html").read_text()
    for name in ("centerlines_tiled", "to_geopandas", "topologize_batch", "detect_format"):
        assert name in reference, name
    assert (tmp_path / "site" / "demo.png").is_file()


@pytest.mark.parametrize("page, complaint", [
    ("[the pipeline](no-such-page.md)", "no-such-page.md"),
    ("[the pipeline](index.md#no-such-anchor)", "no-such-anchor"),
    ("::: strokegraph.no_such_module", "no_such_module"),
])
def test_strict_build_refuses_broken_references(tmp_path: Path, page: str, complaint: str) -> None:
    """The same configuration on a one-page manual with one fault."""
    pytest.importorskip("mkdocstrings")
    (tmp_path / "docs").mkdir()
    (tmp_path / "docs" / "index.md").write_text(f"# Home\n\n{page}\n")
    config = (ROOT / "mkdocs.yml").read_text()
    config = re.sub(r"(?ms)^nav:.*?(?=^\S)", "", config)
    config = config.replace("docs_dir: docs", f"docs_dir: {tmp_path / 'docs'}")
    config = config.replace("paths: [python]", f"paths: [{ROOT / 'python'}]")
    (tmp_path / "mkdocs.yml").write_text(config)
    run = mkdocs_build(tmp_path / "mkdocs.yml", tmp_path / "site")
    assert run.returncode != 0
    assert complaint in run.stderr, run.stderr[-3000:]


def pages_with_examples() -> list[Path]:
    return sorted(p for p in DOCS.glob("*.md") if "```python" in p.read_text())


@pytest.mark.parametrize("page", pages_with_examples(), ids=lambda p: p.stem)
def test_examples_run(page: Path, tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> None:
    import numpy as np

    import strokegraph

    blocks = list(BLOCK.finditer(page.read_text()))
    assert blocks
    monkeypatch.chdir(tmp_path)
    (tmp_path / "sketch.svg").write_text(SKETCH_SVG)
    strokes = [[(0, 0), (10, 0)], [(5, -4), (5, 4)]]
    namespace = {"np": np, "strokegraph": strokegraph, "strokes": strokes, "curves": strokes,
                 "buffer_distance": 1.0, "feature_size": 1.0}
    streets = os.environ.get("STROKEGRAPH_STREETS")
    matplotlib = pytest.importorskip("matplotlib")
    matplotlib.use("Agg")
    plt = pytest.importorskip("matplotlib.pyplot")
    ran = 0
    for block in blocks:
        if block["reason"]:
            continue
        code = block["code"]
        if "streets.parquet" in code:
            if not streets or not Path(streets).is_file():
                continue
            gpd = namespace["gpd"] = pytest.importorskip("geopandas")
            frame = gpd.read_parquet(streets)
            frame["lanes"] = np.arange(len(frame)) % 3 + 1   # the example reads a lanes column too
            frame.to_parquet(tmp_path / "streets.parquet")
        exec(compile(code, f"{page.name}:{block.start()}", "exec"), namespace)
        ran += 1
    plt.close("all")
    assert ran or all(b["reason"] for b in blocks)

