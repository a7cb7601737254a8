import json
import subprocess
import sys
from pathlib import Path

import pytest

pytest.importorskip("svgelements")

from strokegraph import cli  # noqa: E402

SAMPLE = str(Path(__file__).resolve().parents[2] / "examples" / "sample_drawing.json")
T_SVG = ('<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 80 80"><g stroke="black" stroke-width="3">'
         '<path d="M10 20 H70"/><line x1="40" y1="20" x2="40" y2="70"/></g></svg>')
ROAD = {"type": "Feature", "properties": {"ref": "A1"},
        "geometry": {"type": "LineString", "coordinates": [[0, 0], [30, 4], [60, 0]]}}


@pytest.mark.parametrize("jobs, quiet", [("2", False), ("1", True)])
def test_folder_with_bad_files(tmp_path, jobs, quiet):
    src, out = tmp_path / "in", tmp_path / "out"
    (src / "sub").mkdir(parents=True)
    (src / "t.svg").write_text(T_SVG)
    (src / "sub" / "road.geojson").write_text(json.dumps(ROAD))
    (src / "house.json").write_text(Path(SAMPLE).read_text())
    (src / "broken.svg").write_text(T_SVG[:90])
    (src / "empty.json").write_text("[]")
    (src / "notes.txt").write_text("not a drawing, not picked up from a folder")
    # stderr is a pipe, not a terminal: no progress bar.
    proc = subprocess.run([sys.executable, "-m", "strokegraph", "trace", str(src), "-o", str(out),
                           "--jobs", jobs] + (["--quiet"] if quiet else []),
                          capture_output=True, text=True, timeout=300)
    assert proc.returncode == 2, proc.stderr
    assert sorted(p.relative_to(out).as_posix() for p in out.rglob("*") if p.is_file()) == \
        ["house.svg", "sub/road.svg", "t.svg"]
    lines = proc.stderr.splitlines()
    assert f"strokegraph: {src / 'broken.svg'}: not a valid SVG file" in proc.stderr
    assert f"strokegraph: {src / 'empty.json'}: no curves in the file" in lines
    assert "\r" not in proc.stderr and "%|" not in proc.stderr
    if quiet:
        assert len(lines) == 2 and proc.stdout == ""
    else:
        assert lines[-1].startswith("strokegraph: traced 3 of 5 files in ") and lines[-1].endswith(", 2 failed")


def test_progress_only_on_a_terminal(monkeypatch):
    pytest.importorskip("tqdm")
    monkeypatch.setattr(sys.stderr, "isatty", lambda: True, raising=False)
    bar = cli._Progress(3, quiet=False)
    assert bar.bar is not None
    bar.close()
    assert cli._Progress(3, quiet=True).bar is None
    monkeypatch.setattr(sys.stderr, "isatty", lambda: False, raising=False)
    assert cli._Progress(3, quiet=False).bar is None


def test_single_file_picture_and_info(tmp_path, capsys):
    pytest.importorskip("matplotlib")
    geo = tmp_path / "house.geojson"
    assert cli.main(["trace", SAMPLE, "-o", str(geo), "--plot", "--quiet"]) == 0
    doc = json.loads(geo.read_text())
    assert doc["type"] == "FeatureCollection" and doc["features"][0]["properties"]["kind"] == "chain"
    assert (tmp_path / "house.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    assert cli.main(["plot", str(geo), "-o", str(tmp_path / "again.png")]) == 0
    assert (tmp_path / "again.png").stat().st_size > 1000
    # Same output from two inputs is refused before anything runs; so is overwriting the input.
    (tmp_path / "a").mkdir()
    (tmp_path / "a" / "sample_drawing.json").write_text(Path(SAMPLE).read_text())
    with pytest.raises(SystemExit) as err:
        cli.main(["trace", SAMPLE, str(tmp_path / "a"), "-o", str(tmp_path / "o"), "--quiet"])
    assert err.value.code == 2
    assert cli.main(["trace", str(tmp_path / "a"), "-o", str(tmp_path / "a"), "--format", "json", "-q"]) == 1
    assert "would overwrite the input" in capsys.readouterr().err
    assert cli.main(["info", SAMPLE, str(tmp_path / "missing.svg")]) == 1
    captured = capsys.readouterr()
    assert "suggested radius: 1.5 (stated in the file)" in captured.out
    assert "missing.svg: no such file or directory" in captured.err


def test_auto_radius_rules_are_summed_up_over_many_files(tmp_path, capsys):
    src = tmp_path / "in"
    src.mkdir()
    for i in range(cli.AUTO_PARALLEL_FILES):
        (src / f"road{i}.geojson").write_text(json.dumps(ROAD))
    (src / "house.json").write_text(Path(SAMPLE).read_text())
    assert cli.main(["trace", str(src), "-o", str(tmp_path / "out"), "--jobs", "1"]) == 0
    err = capsys.readouterr().err.splitlines()
    assert err[-1] == (f"strokegraph: radius auto: {cli.AUTO_PARALLEL_FILES} files: 1/20 of the median "
                       "stroke length; 1 file: stated in the file")
