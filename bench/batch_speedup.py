"""Speed-up of topologize_batch over calling topologize job by job.

Usage: python bench/batch_speedup.py [--jobs 200] [--runs 5]

Builds a seeded mix of jobs (small and large drawings, different feature
sizes), checks that the batch returns exactly what the single calls return,
and prints the median wall time of both ways and their ratio, with the number
of pool workers.
"""

import argparse
import math
import os
import random
import statistics
import time

import strokegraph


def make_jobs(count, seed=11):
    rng = random.Random(seed)
    jobs = []
    for _ in range(count):
        strokes = []
        for _ in range(rng.choice([3, 5, 10, 30])):
            x, y = rng.uniform(0, 100), rng.uniform(0, 100)
            heading = rng.uniform(0, 2 * math.pi)
            stroke = []
            for _ in range(rng.randint(10, 60)):
                heading += rng.gauss(0, 0.15)
                x += math.cos(heading)
                y += math.sin(heading)
                stroke.append((x, y))
            strokes.append(stroke)
        fs = rng.choice([0.5, 1.0, 2.0])
        jobs.append((strokes, rng.choice([0.8, 1.2]), fs, None, None, None, None, None, None, None, None))
    return jobs


def single(jobs):
    return [strokegraph.topologize(j[0], j[1], j[2])[:3] for j in jobs]


def median_time(fn, runs):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--jobs", type=int, default=200)
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()

    jobs = make_jobs(args.jobs)
    assert strokegraph.topologize_batch(jobs) == single(jobs), "batch and single calls differ"
    t_single = median_time(lambda: single(jobs), args.runs)
    t_batch = median_time(lambda: strokegraph.topologize_batch(jobs), args.runs)
    workers = os.environ.get("RAYON_NUM_THREADS") or os.environ.get("RAYON_RS_NUM_CPUS") or os.cpu_count()
    points = sum(len(s) for j in jobs for s in j[0])
    print(f"batch speed-up: {args.jobs} jobs, {points} input points, pool workers {workers}, "
          f"processors {os.cpu_count()}")
    print(f"  topologize one by one: {t_single * 1000:8.1f} ms (median of {args.runs})")
    print(f"  topologize_batch:      {t_batch * 1000:8.1f} ms (median of {args.runs})")
    print(f"  speed-up:              {t_single / t_batch:8.2f}x")


if __name__ == "__main__":
    main()
