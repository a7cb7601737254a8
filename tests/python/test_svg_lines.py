"""`read_svg` reads path data of straight lines (M L H V Z and numbers) itself;
it must give exactly what svgelements' segments give."""

from __future__ import annotations

import io
import random
import sys
from pathlib import Path

import numpy as np
import pytest

se = pytest.importorskip("svgelements")
from strokegraph.io import svg  # noqa: E402

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "bench"))


def number(rng: random.Random) -> str:
    v = rng.choice([rng.uniform(-100, 100), rng.randint(-50, 50), rng.uniform(-1, 1) * 1e-3])
    form = rng.choice(["{:.3f}", "{:g}", "{:.2e}", "{:.0f}", "{}"])
    text = form.format(v)
    if text.startswith("0.") and rng.random() < 0.3:
        text = text[1:]  # ".5"
    if text.startswith("-0.") and rng.random() < 0.3:
        text = "-" + text[2:]  # "-.5"
    return text


def random_path(rng: random.Random) -> str:
    parts = []
    for k in range(rng.randint(1, 12)):
        cmd = rng.choice("MmLlHhVvZz") if k else rng.choice("Mm")
        arity = {"M": 2, "L": 2, "H": 1, "V": 1, "Z": 0}[cmd.upper()]
        repeats = 0 if arity == 0 else rng.randint(1, 4)
        numbers = [number(rng) for _ in range(arity * repeats)]
        sep = lambda: rng.choice([" ", ",", "  ", ", ", "\n"])  # noqa: E731
        text = cmd + rng.choice(["", " "])
        for i, n in enumerate(numbers):
            # a sign or a second dot also separates numbers
            glue = "" if i and (n[0] in "+-" or ("." in numbers[i - 1] and n[0] == ".")) and rng.random() < 0.5 \
                else sep()
            text += (glue if i else "") + n
        parts.append(text)
    return rng.choice([" ", ""]).join(parts)


def by_svgelements(d: str):
    segments = list(se.Path(d).segments(transformed=False))
    return [np.asarray(c, dtype=np.float64) for c in svg._flatten_segments(se, segments, None)]


def same(a, b):
    assert len(a) == len(b)
    for x, y in zip(a, b):
        np.testing.assert_array_equal(np.asarray(x).reshape(-1, 2), np.asarray(y).reshape(-1, 2))


@pytest.mark.parametrize("seed", range(4))
def test_random_line_only_path_data_reads_as_svgelements_reads_it(seed):
    rng = random.Random(seed)
    for _ in range(250):
        d = random_path(rng)
        ours = svg._line_subpaths(d)
        assert ours is not None, d
        same(ours, by_svgelements(d))


@pytest.mark.parametrize("d", ["M 1 2 C 3 4 5 6 7 8", "M1 2 A 3 3 0 0 1 5 5", "L 1 2", "M 1", "M 1 2 L 3",
                               "M 1e 2", "M 1 2 Q 3 4 5 6", "", "M1 2 L3 4 x"])
def test_other_data_is_left_to_svgelements(d):
    assert svg._line_subpaths(d) is None


def test_every_bench_file_reads_as_before(tmp_path):
    import cli_bench

    for seed in range(3):
        text = cli_bench.svg_text(cli_bench.sketch(seed), "path")
        fast = svg.read_svg(io.StringIO(text))
        original = svg._line_subpaths
        try:
            svg._line_subpaths = lambda d: None  # everything through svgelements
            slow = svg.read_svg(io.StringIO(text))
        finally:
            svg._line_subpaths = original
        same(fast.curves, slow.curves)
        assert fast.items.tolist() == slow.items.tolist() and fast.caps == slow.caps
