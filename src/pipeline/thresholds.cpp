#include "pipeline/thresholds.h"

namespace strokegraph {

double derived_merge_tolerance(double feature_size, std::optional<double> merge_tolerance) {
  if (!merge_tolerance) return 0.01 * feature_size;
  return *merge_tolerance > 0.0 ? *merge_tolerance : 0.0;  // NaN gives 0
}

double derived_decimation_spacing(double feature_size) { return 0.15 * feature_size; }

GraphThresholds derive_graph_thresholds(double feature_size, const TopologizeOptions& options) {
  GraphThresholds t{};
  t.chain_simplification = options.simplification ? *options.simplification : feature_size / 10.0;
  t.snap_tolerance = feature_size / 20.0;
  t.tip_length = feature_size * options.min_tip_fraction.value_or(2.0);
  t.junction_fraction = options.junction_merge_fraction.value_or(1.5);
  t.junction_distance = feature_size * t.junction_fraction;
  return t;
}

}  // namespace strokegraph
