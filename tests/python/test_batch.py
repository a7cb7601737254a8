"""topologize_batch: the worker pool, threads and processes."""

import multiprocessing
import os
import subprocess
import sys
import threading

import pytest

import strokegraph

CURVES = [[(0.0, 0.0), (10.0, 0.0), (10.0, 8.0)], [(20.0, 0.0), (20.0, 9.0)]]


def job(curves=CURVES, bd=1.0, fs=1.0, max_nodes=None):
    return (curves, bd, fs, None, None, None, max_nodes, None, None, None, None)


def reference(j):
    curves, bd, fs, simp, tip, junction, max_nodes, sub, res, bsimp, merge = j
    out = strokegraph.topologize(
        curves, bd, fs, simp, tip, junction, None, False, sub, max_nodes, res, bsimp, merge
    )
    return out[:3]


def test_one_job_equals_topologize():
    j = job()
    assert strokegraph.topologize_batch([j]) == [reference(j)]


def test_results_come_back_in_job_order():
    jobs = [job(CURVES * (20 - i), fs=1.0 + i / 10) for i in range(20)]
    assert strokegraph.topologize_batch(jobs) == [reference(j) for j in jobs]


def test_two_python_threads_batching_at_once():
    jobs = [job(fs=1.0 + i / 7) for i in range(30)]
    expected = [reference(j) for j in jobs]
    results = {}

    def run(k):
        results[k] = [strokegraph.topologize_batch(jobs) for _ in range(5)]

    threads = [threading.Thread(target=run, args=(k,)) for k in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=120)
    assert all(r == expected for k in range(2) for r in results[k])


SCRIPT = """
import json, strokegraph
jobs = [([[(0.0, 0.0), (10.0, 0.0), (10.0, 8.0)]], 1.0, 1.0 + i / 10) + (None,) * 8 for i in range(12)]
print(json.dumps(strokegraph.topologize_batch(jobs)))
"""


def run_with_threads(value):
    env = dict(os.environ, RAYON_NUM_THREADS=value)
    return subprocess.run([sys.executable, "-c", SCRIPT], env=env, capture_output=True, text=True, check=True, timeout=120).stdout


def test_worker_count_does_not_change_results():
    assert run_with_threads("1") == run_with_threads("3") == run_with_threads("0")


def _child(queue):
    queue.put(strokegraph.topologize_batch([job(fs=2.0), job()]))


@pytest.mark.skipif(sys.platform != "linux", reason="fork start method")
def test_fork_after_the_pool_exists_gets_a_working_pool():
    strokegraph.topologize_batch([job(), job()])  # make sure the parent's pool exists
    ctx = multiprocessing.get_context("fork")
    queue = ctx.Queue()
    process = ctx.Process(target=_child, args=(queue,))
    process.start()
    result = queue.get(timeout=60)
    process.join(timeout=60)
    assert process.exitcode == 0
    assert result == [reference(job(fs=2.0)), reference(job())]


def test_interpreter_exits_cleanly_with_an_idle_pool():
    code = "import strokegraph; strokegraph.topologize_batch([" + repr(job()) + "] * 4); print('done')"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert out.returncode == 0 and out.stdout.strip() == "done"
