#include "pipeline/batch.h"

#include <string>

#include "pipeline/front.h"

namespace strokegraph {

std::optional<PipelineError> check_batch_feature_sizes(const std::vector<BatchJob>& jobs) {
  for (const BatchJob& job : jobs) {
    if (auto error = check_feature_size(job.feature_size)) return error;
  }
  return std::nullopt;
}

// Jobs run one after another on the calling thread for now.
Result<std::vector<TopologizeOutput>> run_batch(const std::vector<BatchJob>& jobs) {
  std::vector<TopologizeOutput> results;
  results.reserve(jobs.size());
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    const BatchJob& job = jobs[i];
    auto result = topologize_inner(job.curves, job.buffer_distance, job.feature_size, job.options);
    if (auto* error = std::get_if<PipelineError>(&result)) {
      return PipelineError{"topologize_batch job " + std::to_string(i) + " failed: " +
                           error->message};
    }
    results.push_back(std::get<TopologizeOutput>(std::move(result)));
  }
  return results;
}

}  // namespace strokegraph
