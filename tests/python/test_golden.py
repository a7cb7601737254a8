"""Output of the small bench workloads, bit for bit, against recorded hashes.

A change that alters any output bit must say so by re-recording the hashes
(`python bench/golden.py --write`); speed work must leave them alone.
"""

import json
import pathlib
import sys

import pytest

BENCH = pathlib.Path(__file__).resolve().parents[2] / "bench"
sys.path.insert(0, str(BENCH))

import golden  # noqa: E402


@pytest.mark.parametrize("mode", golden.MODES)
@pytest.mark.parametrize("workload", ["sketch", "traces", "lettering"])
def test_small_workload_output_is_unchanged(workload, mode):
    recorded = json.loads((BENCH / "golden.json").read_text())
    assert golden.digest(workload, "small", mode) == recorded[golden.key(workload, "small", mode)]
