"""topologize_batch: the worker pool, threads and processes."""

import math  # noqa: F401 (the LARGE expression uses it)
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


def test_order_is_kept_when_later_jobs_are_far_cheaper():
    wavy = [[(x * 0.5, 10.0 * ((x // 7) % 2) + k * 3.0) for x in range(200)] for k in range(40)]
    jobs = [job(wavy)] + [job([[(0.0, 0.0), (5.0 + i, 0.0)]]) for i in range(30)]
    results = strokegraph.topologize_batch(jobs)
    assert results == [reference(j) for j in jobs]
    assert len(results[0][0]) > len(results[1][0])


def test_max_nodes_failure_names_the_job():
    with pytest.raises(ValueError) as single:
        strokegraph.topologize(CURVES, 1.0, 1.0, max_nodes=1)
    jobs = [job(), job(), job(max_nodes=1), job()]
    with pytest.raises(ValueError) as info:
        strokegraph.topologize_batch(jobs)
    assert str(info.value) == f"topologize_batch job 2 failed: {single.value}"
    assert str(single.value).startswith("skeleton has ") and str(single.value).endswith(" nodes, exceeding max_nodes limit of 1")


def test_a_job_that_runs_out_of_memory_fails_the_batch_with_memory_error():
    dense = CURVES, 1.0, 1.0, None, None, None, None, None, 1e-9, None, None
    with pytest.raises(MemoryError, match="resample="):
        strokegraph.topologize_batch([job(), dense, job()])
    # The pool keeps working afterwards.
    assert strokegraph.topologize_batch([job()]) == [reference(job())]


@pytest.mark.parametrize(
    "call",
    [
        lambda curves: strokegraph.topologize(curves, 1.0, 1.0),
        lambda curves: strokegraph.topologize_batch([job(curves)] * 2),
    ],
)
def test_other_threads_run_while_the_pipeline_runs(call, stamps_in_middle):
    curves = [[(x * 0.5, 10.0 * ((x // 7) % 2) + k * 3.0) for x in range(400)] for k in range(60)]
    # With the lock held the spinner could only run before the native work
    # starts; released, it also runs in the middle of the call.
    assert stamps_in_middle(lambda: call(curves))


# Many separate scribbles, over 4,096 points: one call offsets, unions and
# skeletonizes their parts on the pool.
LARGE = """[[((k % 10) * 30.0 + 8 * math.sin(0.1 * i + k), (k // 10) * 30.0 + i * 0.2 + math.cos(0.3 * i))
           for i in range(100)] for k in range(60)]"""


def test_large_calls_agree_from_threads_batch_jobs_and_any_worker_count():
    curves = eval(LARGE)
    expected = strokegraph.topologize(curves, 1.0, 1.0)
    results = []
    threads = [
        threading.Thread(target=lambda: results.append(strokegraph.topologize(curves, 1.0, 1.0)))
        for _ in range(4)
    ]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=120)
    assert results == [expected] * 4
    # Batch jobs run their parts inline on the worker that took them.
    assert strokegraph.topologize_batch([job(curves)] * 3) == [expected[:3]] * 3
    script = f"import json, math, strokegraph; print(json.dumps(strokegraph.topologize({LARGE}, 1.0, 1.0)))"
    outputs = {
        subprocess.run([sys.executable, "-c", script], env=dict(os.environ, RAYON_NUM_THREADS=n),
                       capture_output=True, text=True, check=True, timeout=120).stdout
        for n in ("1", "3")
    }
    assert len(outputs) == 1
