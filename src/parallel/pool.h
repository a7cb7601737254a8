// The process-wide pool of worker threads that runs batch jobs.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

namespace strokegraph {

// Worker count for a new pool: RAYON_NUM_THREADS when it holds a positive
// integer (0 means one per processor), else RAYON_RS_NUM_CPUS when positive,
// else one per available processor (1 when unknown).
std::size_t pool_size_from_environment();

// Runs task(i) for every i in [0, count) on the process-wide pool, created on
// first use, and returns when every claimed task has finished. Tasks are
// handed out one at a time, in index order, to whichever worker is idle; once
// `stop()` returns true no further task is started. Several threads may call
// this at once; a child process after fork gets a fresh pool.
void run_on_pool(std::size_t count, const std::function<void(std::size_t)>& task,
                 const std::function<bool()>& stop);

// Whether the calling thread is one of the pool's workers. Work started from
// a worker (a batch job that would fan out again) must run inline: waiting
// for the pool from inside it can deadlock.
bool on_pool_worker();

// Number of workers of the current pool (creating it if needed).
std::size_t pool_worker_count();

// Runs task(i) for every i in [0, count), each exactly once, and returns when
// all have finished. The tasks run on the process-wide pool when `parallel`
// is set and the pool has more than one worker, the calling thread taking
// the place of one worker (tasks it runs fan out inline, as on a worker);
// they run inline, in index order, on a pool worker itself (a batch job:
// waiting there for other workers could deadlock) and otherwise. Every task
// runs even when one
// throws; then the exception of the lowest failing index is rethrown.
// Tasks must write only to their own slots.
void parallel_for(std::size_t count, const std::function<void(std::size_t)>& task, bool parallel);

// Runs body(begin, end) over consecutive ranges that cover [0, count), of
// `grain` items each (the last may be shorter), through parallel_for: on the
// pool when there is more than one range, else inline. The ranges do not
// depend on the worker count, so a body that writes only to its own items
// gives the same result for every count.
void parallel_ranges(std::size_t count, std::size_t grain,
                     const std::function<void(std::size_t, std::size_t)>& body);

// As parallel_ranges, with one Part per range that only body(begin, end,
// part) writes to; returns the parts in range order. Work that collects what
// it finds over its own items (walks, candidates) concatenates the parts in
// that order and gets the same list as one pass over all items would.
template <class Part, class Body>
std::vector<Part> parallel_parts(std::size_t count, std::size_t grain, Body&& body) {
  if (grain == 0) grain = 1;
  std::vector<Part> parts(count / grain + (count % grain != 0));
  parallel_ranges(count, grain, [&](std::size_t begin, std::size_t end) { body(begin, end, parts[begin / grain]); });
  return parts;
}

}  // namespace strokegraph
