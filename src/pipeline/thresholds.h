// Every threshold the pipelines derive from feature_size and the optional
// parameters, computed once per call.
#pragma once

#include <cstddef>
#include <optional>

#include "common/geometry.h"

namespace strokegraph {

// The optional parameters of topologize, absent when the caller left them out
// (or passed None).
struct TopologizeOptions {
  std::optional<double> simplification;
  std::optional<double> min_tip_fraction;
  std::optional<double> junction_merge_fraction;
  std::optional<WidthLists> per_curve_widths;
  bool compute_widths = false;
  std::optional<double> subdivision_ratio;
  std::optional<std::size_t> max_nodes;
  std::optional<double> resample;
  std::optional<double> boundary_simplification;
  std::optional<double> merge_tolerance;
};

// Connected-curve merging runs only when the result is greater than 0.
double derived_merge_tolerance(double feature_size, std::optional<double> merge_tolerance);

// Minimum spacing of input decimation.
double derived_decimation_spacing(double feature_size);

struct GraphThresholds {
  double chain_simplification;  // rdp on chains runs only when > 0
  double snap_tolerance;
  double tip_length;           // pruning runs only when > 0
  double junction_fraction;    // junction merging runs only when > 0
  double junction_distance;
};

GraphThresholds derive_graph_thresholds(double feature_size, const TopologizeOptions& options);

}  // namespace strokegraph
