// Many independent topologize jobs in one call.
#pragma once

#include <vector>

#include "common/errors.h"
#include "common/geometry.h"
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

}  // namespace strokegraph
