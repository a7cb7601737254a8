"""Ctrl-C during a call: a real SIGINT sent to a child process."""

import random
import signal
import subprocess
import sys
import time

import pytest

import strokegraph

CHILD = r"""
import random, signal, sys
# A child started from a shell that ignores SIGINT (a background job of a
# script) inherits that; the test needs Python's own handler.
signal.signal(signal.SIGINT, signal.default_int_handler)
from strokegraph import _internal as m, centerlines
rng = random.Random(1)
walks = []
for k in range(1200):
    x, y = rng.uniform(0, 100), rng.uniform(0, 100)
    walk = []
    for i in range(200):
        x += rng.gauss(0, 1); y += rng.gauss(0, 1); walk.append((x, y))
    walks.append(walk)
line = [[(0.0, 0.0), (2e6, 0.0)]]
call = {
    "topologize": lambda: m.topologize(line, 1.0, 1.0),
    "batch": lambda: m.topologize_batch([(line, 1.0, 1.0) + (None,) * 8] * 4),
    "union": lambda: m.inflate_curves(walks, 0.5, 0.01, merge_tolerance=0),
    "triangulate": lambda: m.triangulate_curves(line, 1.0, 1.0),
    "resample": lambda: m.topologize([[(0, 0), (10, 0)]], 1.0, 1.0, resample=1e-6),
    "long stroke": lambda: m.topologize([[(0, 0), (1e7, 0)]], 1.0, 1.0),
    "centerlines": lambda: centerlines(line, 1.0),
}[sys.argv[1]]
print("go", flush=True)
try:
    call()
    print("finished", flush=True)
except KeyboardInterrupt:
    print("interrupted", flush=True)
small = [[(0.0, 0.0), (10.0, 0.0)]]
assert m.topologize_batch([(small, 1.0, 1.0) + (None,) * 8] * 3) == [m.topologize(small, 1.0, 1.0)[:3]] * 3
print("usable", flush=True)
"""


# Each call runs for many seconds (minutes for the last two) unless stopped.
@pytest.mark.parametrize("which", ["topologize", "batch", "union", "triangulate", "resample", "long stroke",
                                   "centerlines"])
def test_sigint_raises_keyboard_interrupt_and_leaves_the_module_usable(which):
    child = subprocess.Popen([sys.executable, "-c", CHILD, which], stdout=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline() == "go\n"
        time.sleep(0.3)
        child.send_signal(signal.SIGINT)
        out, _ = child.communicate(timeout=60)
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
    assert out.split() == ["interrupted", "usable"]
    assert child.returncode == 0


@pytest.mark.parametrize("call, feature_size", [(strokegraph.inflate_curves, 0.05),
                                                 (strokegraph.triangulate_curves, 0.3)])
def test_inspection_calls_keep_the_lock(call, feature_size, stamps_in_middle):
    # Calls of about a second, so that handing the lock to the spinner just
    # before the call starts cannot reach into the middle of it.
    rng = random.Random(1)
    walks = []
    for _ in range(100):
        x, y = rng.uniform(0, 100), rng.uniform(0, 100)
        walk = []
        for _ in range(200):
            x += rng.gauss(0, 1)
            y += rng.gauss(0, 1)
            walk.append((x, y))
        walks.append(walk)
    assert not stamps_in_middle(lambda: call(walks, 0.5, feature_size))
