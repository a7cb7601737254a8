#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "parallel/pool.h"

using namespace strokegraph;

namespace {

struct EnvGuard {
  EnvGuard() { clear(); }
  ~EnvGuard() { clear(); }
  static void clear() {
    unsetenv("RAYON_NUM_THREADS");
    unsetenv("RAYON_RS_NUM_CPUS");
  }
};

std::size_t processors() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : n;
}

}  // namespace

TEST(PoolSize, EnvironmentVariablesInOrder) {
  EnvGuard guard;
  EXPECT_EQ(pool_size_from_environment(), processors());
  setenv("RAYON_RS_NUM_CPUS", "5", 1);
  EXPECT_EQ(pool_size_from_environment(), 5u);
  setenv("RAYON_NUM_THREADS", "3", 1);
  EXPECT_EQ(pool_size_from_environment(), 3u);
  setenv("RAYON_NUM_THREADS", "0", 1);  // one per processor, ignoring the second variable
  EXPECT_EQ(pool_size_from_environment(), processors());
  setenv("RAYON_NUM_THREADS", "+4", 1);
  EXPECT_EQ(pool_size_from_environment(), 4u);
  setenv("RAYON_NUM_THREADS", "0000000000000000000000007", 1);
  EXPECT_EQ(pool_size_from_environment(), 7u);
  for (const char* junk : {"-2", "two", "", "+", " 4", "4x", "99999999999999999999"}) {
    setenv("RAYON_NUM_THREADS", junk, 1);
    EXPECT_EQ(pool_size_from_environment(), 5u) << junk;
  }
  setenv("RAYON_RS_NUM_CPUS", "0", 1);
  EXPECT_EQ(pool_size_from_environment(), processors());
}

TEST(Pool, EveryTaskRunsOnceWhateverItsCost) {
  std::vector<std::atomic<int>> runs(64);
  const std::function<void(std::size_t)> task = [&](std::size_t i) {
    if (i < 4) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    runs[i]++;
  };
  const std::function<bool()> never = [] { return false; };
  run_on_pool(runs.size(), task, never);
  for (auto& r : runs) EXPECT_EQ(r.load(), 1);
  run_on_pool(0, task, never);  // nothing to do returns at once
}

TEST(Pool, StopsHandingOutTasksOnceToldTo) {
  std::atomic<int> started{0};
  std::atomic<bool> stop{false};
  const std::function<void(std::size_t)> task = [&](std::size_t i) {
    started++;
    if (i == 0) stop = true;
  };
  const std::function<bool()> stopped = [&] { return stop.load(); };
  run_on_pool(10000, task, stopped);
  EXPECT_GE(started.load(), 1);
  EXPECT_LT(started.load(), 10000);
}

TEST(Pool, SeveralCallersAtOnce) {
  constexpr int callers = 4;
  std::vector<std::vector<int>> seen(callers, std::vector<int>(200, 0));
  std::vector<std::thread> threads;
  for (int c = 0; c < callers; ++c) {
    threads.emplace_back([&, c] {
      const std::function<void(std::size_t)> task = [&](std::size_t i) { seen[c][i] += c + 1; };
      const std::function<bool()> never = [] { return false; };
      run_on_pool(200, task, never);
    });
  }
  for (auto& t : threads) t.join();
  for (int c = 0; c < callers; ++c) {
    for (int v : seen[c]) EXPECT_EQ(v, c + 1);
  }
  EXPECT_GE(pool_worker_count(), 1u);
}

TEST(ParallelFor, EveryTaskRunsOnceAndTheLowestFailureIsRethrown) {
  for (bool parallel : {false, true}) {
    std::vector<std::atomic<int>> runs(300);
    try {
      parallel_for(
          runs.size(),
          [&](std::size_t i) {
            runs[i]++;
            if (i == 210 || i == 30) throw std::runtime_error(std::to_string(i));
          },
          parallel);
      ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "30");
    }
    for (auto& r : runs) EXPECT_EQ(r.load(), 1);
  }
}

TEST(ParallelFor, RunsInlineOnAPoolWorker) {
  // A batch job calls it from a worker; waiting there for the other workers,
  // which may all be running such jobs, could deadlock.
  constexpr std::size_t jobs = 8, tasks = 50;
  std::vector<std::thread::id> job_thread(jobs), task_thread(jobs * tasks);
  const std::function<void(std::size_t)> job = [&](std::size_t i) {
    job_thread[i] = std::this_thread::get_id();
    parallel_for(
        tasks, [&](std::size_t j) { task_thread[i * tasks + j] = std::this_thread::get_id(); },
        true);
  };
  const std::function<bool()> never = [] { return false; };
  run_on_pool(jobs, job, never);
  for (std::size_t k = 0; k < task_thread.size(); ++k)
    EXPECT_EQ(task_thread[k], job_thread[k / tasks]);
}

TEST(ParallelFor, TheCallerTakesOneWorkersPlace) {
  // Tasks long enough for every thread to join: no more threads than workers
  // run them, and tasks the caller runs fan out inline.
  constexpr std::size_t tasks = 24, inner = 6;
  std::vector<std::thread::id> task_thread(tasks), inner_thread(tasks * inner);
  parallel_for(
      tasks,
      [&](std::size_t i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        task_thread[i] = std::this_thread::get_id();
        parallel_for(inner, [&](std::size_t j) { inner_thread[i * inner + j] = std::this_thread::get_id(); },
                     true);
      },
      true);
  std::vector<std::thread::id> threads(task_thread);
  std::sort(threads.begin(), threads.end());
  threads.erase(std::unique(threads.begin(), threads.end()), threads.end());
  EXPECT_LE(threads.size(), std::max<std::size_t>(pool_worker_count(), 1));
  for (std::size_t k = 0; k < inner_thread.size(); ++k) EXPECT_EQ(inner_thread[k], task_thread[k / inner]);
}
