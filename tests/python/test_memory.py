"""Allocation failures are MemoryError, wherever they happen, and the
interpreter stays usable. Each case runs in a child process whose address
space is capped (RLIMIT_AS) a little above what it already uses."""

import subprocess
import sys
import textwrap

import pytest

PRELUDE = r"""
import random, resource
from strokegraph import _internal as m

HARD = resource.getrlimit(resource.RLIMIT_AS)[1]
MB = 1 << 20

def in_use():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[0]) * resource.getpagesize()

def capped(headroom, call):
    resource.setrlimit(resource.RLIMIT_AS, (in_use() + headroom, HARD))
    try:
        return call()
    except MemoryError:
        return MemoryError
    finally:
        resource.setrlimit(resource.RLIMIT_AS, (HARD, HARD))

def job(curves, **kw):
    return (curves, 1.0, 1.0) + (None,) * 8

small = [[(0.0, 0.0), (10.0, 0.0)]]
m.topologize_batch([job(small)] * 4)  # the pool's threads exist before any cap
"""


def run_child(body):
    code = PRELUDE + textwrap.dedent(body) + "\nassert m.topologize(small, 1.0, 1.0)[0]\nprint('usable')\n"
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr[-2000:]
    return done.stdout.split()


BIG = "[(1.0, 2.0)] * 8_000_000"  # 64 MB of list, 128 MB as native points
CONVERSION = {
    "curves of topologize": f"m.topologize([{BIG}], 1.0, 1.0)",
    "curves of inflate_curves": f"m.inflate_curves([{BIG}], 1.0, 1.0)",
    "curves of triangulate_curves": f"m.triangulate_curves([{BIG}], 1.0, 1.0)",
    "curves of a batch job": f"m.topologize_batch([job([{BIG}])])",
    "per_curve_widths": "m.topologize(small, 1.0, 1.0, per_curve_widths=[[1.0] * 8_000_000])",
    "jobs": "m.topologize_batch([job(small)] * 2_000_000)",
}


@pytest.mark.parametrize("name", CONVERSION)
def test_conversion_that_cannot_allocate_raises_memory_error(name):
    out = run_child(f"""
        args = lambda: {CONVERSION[name]}
        print(capped(32 * MB, args).__name__)
    """)
    assert out == ["MemoryError", "usable"]


def test_a_lying_length_reserves_little():
    out = run_child("""
        class Liar:
            def __init__(self, items): self.items = items
            def __len__(self): return 2 ** 40
            def __getitem__(self, i): return self.items[i]
        curves = [Liar([(10.0 * i, 0.0), (10.0 * i, 5.0)]) for i in range(200)]
        widths = [Liar([1.0, 1.0]) for i in range(200)]
        result = capped(64 * MB, lambda: m.inflate_curves(Liar(curves), 1.0, 1.0, Liar(widths)))
        print(result is not MemoryError and len(result))
    """)
    assert out == ["200", "usable"]


def test_every_entry_point_fails_cleanly_at_every_cap():
    # From no headroom at all up to plenty: each call either returns exactly
    # what it returns without a cap or raises MemoryError, wherever the
    # allocation failed (conversion, the pipeline, its threads, the result).
    out = run_child("""
        rng = random.Random(3)
        curves = []
        for k in range(150):
            x, y = rng.uniform(0, 60), rng.uniform(0, 60)
            walk = []
            for i in range(40):
                x += rng.gauss(0, 1); y += rng.gauss(0, 1); walk.append((x, y))
            curves.append(walk)
        calls = [
            lambda: m.topologize(curves, 1.0, 1.0, compute_widths=True),
            lambda: m.topologize_batch([job(curves)] * 3),
            lambda: m.inflate_curves(curves, 1.0, 1.0),
            lambda: m.triangulate_curves(curves, 1.0, 0.5),
            lambda: m.topologize([[(0, 0), (1e5, 0)]], 1.0, 1.0, resample=0.005),
        ]
        failures = 0
        for call in calls:
            expected = call() if call is not calls[-1] else None
            for headroom in (0, MB // 4, MB, 4 * MB, 16 * MB, 64 * MB):
                result = capped(headroom, call)
                if result is MemoryError:
                    failures += 1
                else:
                    assert expected is None or result == expected
        print(failures > 0)
    """)
    assert out == ["True", "usable"]
