// The topologize pipeline: polylines in, centerline chains and nodes out.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "common/errors.h"
#include "common/geometry.h"
#include "pipeline/thresholds.h"

namespace strokegraph {

struct TopologizeOutput {
  std::vector<Polyline> chains;
  std::vector<Point> nodes;
  std::vector<std::pair<std::size_t, std::size_t>> chain_node_ids;
  std::vector<std::vector<double>> widths;  // empty unless widths were requested
  // Polygons whose triangulation failed; they add nothing to the graph.
  std::size_t untriangulated = 0;
};

// The pipeline core. Does not check feature_size: every caller does that
// first. Touches no Python object; safe to run without the interpreter lock.
Result<TopologizeOutput> topologize_inner(const std::vector<Polyline>& curves,
                                          double buffer_distance, double feature_size,
                                          const TopologizeOptions& options);

// The feature-size check followed by the core.
Result<TopologizeOutput> topologize(const std::vector<Polyline>& curves, double buffer_distance,
                                    double feature_size, const TopologizeOptions& options);

}  // namespace strokegraph
