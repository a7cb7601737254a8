// Many independent topologize jobs in one call.
#pragma once

#include <atomic>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/errors.h"
#include "common/geometry.h"
#include "common/progress.h"
#include "parallel/pool.h"
#include "pipeline/thresholds.h"
#include "pipeline/topologize.h"

namespace strokegraph {

// One job: a curve set with its own parameters (never per-curve widths, never
// width measurement).
struct BatchJob {
  std::vector<Polyline> curves;
  double buffer_distance = 0.0;
  double feature_size = 0.0;
  TopologizeOptions options;
};

// Every job's feature_size, in list order, before any job runs.
std::optional<PipelineError> check_batch_feature_sizes(const std::vector<BatchJob>& jobs);

// Runs the jobs (feature sizes already checked); results come back in job
// order. A failing job makes the whole batch fail with
// "topologize_batch job {i} failed: {message}".
Result<std::vector<TopologizeOutput>> run_batch(const std::vector<BatchJob>& jobs);

// Runs run_job(i) for i in [0, count) on the worker pool; results come back
// in job order. The first failure wins, and no job starts after it: a
// PipelineError makes the whole call fail with "{name} job {i} failed:
// {message}", a C++ exception is rethrown. The jobs run under the caller's
// Progress: a stop request reaches every running job, and progress counts
// finished jobs.
template <class Out>
Result<std::vector<Out>> run_jobs(std::size_t count, const char* name,
                                  const std::function<Result<Out>(std::size_t)>& run_job) {
  std::vector<std::optional<Out>> slots(count);
  std::mutex failure_mu;
  std::atomic<bool> failed{false};
  std::optional<PipelineError> error;
  std::exception_ptr exception;
  auto record = [&](std::optional<PipelineError> e, std::exception_ptr x) {
    std::lock_guard<std::mutex> lock(failure_mu);
    if (failed.load(std::memory_order_relaxed)) return;
    error = std::move(e);
    exception = std::move(x);
    failed.store(true, std::memory_order_release);
  };
  Progress* progress = current_progress();
  if (progress != nullptr && progress->detailed) {
    progress->detailed = false;
    progress->stage.store("batch", std::memory_order_relaxed);
  }
  std::size_t finished = 0;  // guarded by failure_mu
  const std::function<void(std::size_t)> task = [&](std::size_t i) {
    ProgressScope scope(progress);
    try {
      Result<Out> result = run_job(i);
      if (auto* e = std::get_if<PipelineError>(&result)) {
        record(PipelineError{std::string(name) + " job " + std::to_string(i) + " failed: " +
                             e->message},
               nullptr);
      } else {
        slots[i] = std::get<Out>(std::move(result));
        if (progress != nullptr) {
          std::lock_guard<std::mutex> lock(failure_mu);
          progress->fraction.store(double(++finished) / double(count), std::memory_order_relaxed);
        }
      }
    } catch (...) {
      record(std::nullopt, std::current_exception());
    }
  };
  const std::function<bool()> stop = [&] {
    return failed.load(std::memory_order_acquire) ||
           (progress != nullptr && progress->stop.load(std::memory_order_relaxed));
  };
  run_on_pool(count, task, stop);

  if (exception) std::rethrow_exception(exception);
  checkpoint();  // stopped before any job failed: some slots are empty
  if (error) return *error;
  std::vector<Out> results;
  results.reserve(slots.size());
  for (auto& slot : slots) results.push_back(std::move(*slot));
  return results;
}

}  // namespace strokegraph
