#include "pipeline/batch.h"

#include <atomic>
#include <exception>
#include <mutex>
#include <string>

#include "common/progress.h"
#include "pipeline/front.h"
#include "pipeline/pool.h"

namespace strokegraph {

std::optional<PipelineError> check_batch_feature_sizes(const std::vector<BatchJob>& jobs) {
  for (const BatchJob& job : jobs) {
    if (auto error = check_feature_size(job.feature_size)) return error;
  }
  return std::nullopt;
}

Result<std::vector<TopologizeOutput>> run_batch(const std::vector<BatchJob>& jobs) {
  std::vector<std::optional<TopologizeOutput>> slots(jobs.size());

  // The first recorded failure wins; jobs not started after it are skipped.
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

  // The jobs run on the pool's workers under the caller's Progress: a stop
  // request reaches every running job, and no job starts after it. Progress
  // counts finished jobs.
  Progress* progress = current_progress();
  if (progress != nullptr && progress->detailed) {
    progress->detailed = false;
    progress->stage.store("batch", std::memory_order_relaxed);
  }
  std::size_t finished = 0;  // guarded by failure_mu
  const std::function<void(std::size_t)> task = [&](std::size_t i) {
    const BatchJob& job = jobs[i];
    ProgressScope scope(progress);
    try {
      auto result =
          topologize_inner(job.curves, job.buffer_distance, job.feature_size, job.options);
      if (auto* e = std::get_if<PipelineError>(&result)) {
        record(PipelineError{"topologize_batch job " + std::to_string(i) + " failed: " +
                             e->message},
               nullptr);
      } else {
        slots[i] = std::get<TopologizeOutput>(std::move(result));
        if (progress != nullptr) {
          std::lock_guard<std::mutex> lock(failure_mu);
          progress->fraction.store(double(++finished) / double(jobs.size()),
                                   std::memory_order_relaxed);
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
  run_on_pool(jobs.size(), task, stop);

  if (exception) std::rethrow_exception(exception);
  checkpoint();  // stopped before any job failed: some slots are empty
  if (error) return *error;
  std::vector<TopologizeOutput> results;
  results.reserve(slots.size());
  for (auto& slot : slots) results.push_back(std::move(*slot));
  return results;
}

}  // namespace strokegraph
