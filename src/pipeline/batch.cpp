#include "pipeline/batch.h"

#include "pipeline/front.h"

namespace strokegraph {

std::optional<PipelineError> check_batch_feature_sizes(const std::vector<BatchJob>& jobs) {
  for (const BatchJob& job : jobs) {
    if (auto error = check_feature_size(job.feature_size)) return error;
  }
  return std::nullopt;
}

Result<std::vector<TopologizeOutput>> run_batch(const std::vector<BatchJob>& jobs) {
  return run_jobs<TopologizeOutput>(jobs.size(), "topologize_batch", [&](std::size_t i) {
    const BatchJob& job = jobs[i];
    return topologize_inner(job.curves, job.buffer_distance, job.feature_size, job.options);
  });
}

}  // namespace strokegraph
