#include "pipeline/front.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "boundary/preprocess.h"
#include "common/format.h"
#include "common/rdp.h"
#include "conditioning/merge.h"
#include "inflate/inflate.h"
#include "parallel/pool.h"
#include "pipeline/thresholds.h"

namespace strokegraph {

std::optional<PipelineError> check_feature_size(double feature_size) {
  if (std::isfinite(feature_size) && feature_size > 0.0) return std::nullopt;
  return PipelineError{"feature_size must be a positive finite number, got " +
                       format_float(feature_size)};
}

std::optional<PipelineError> check_widths(const std::vector<Polyline>& curves,
                                          const std::optional<WidthLists>& per_curve_widths) {
  if (!per_curve_widths) return std::nullopt;
  const WidthLists& widths = *per_curve_widths;
  for (std::size_t i = 0; i < widths.size(); ++i) {
    if (widths[i].empty()) continue;
    if (i >= curves.size()) {
      return PipelineError{"per_curve_widths has an entry for curve " + std::to_string(i) +
                           " but only " + std::to_string(curves.size()) +
                           " curve(s) were given"};
    }
    if (widths[i].size() != curves[i].size()) {
      return PipelineError{"per_curve_widths[" + std::to_string(i) + "] has " +
                           std::to_string(widths[i].size()) + " entries but curve " +
                           std::to_string(i) + " has " + std::to_string(curves[i].size()) +
                           " points; they must match (or pass an empty list to use the uniform "
                           "buffer)"};
    }
  }
  return std::nullopt;
}

std::optional<PipelineError> check_node_limit(std::size_t nodes,
                                              std::optional<std::size_t> max_nodes) {
  if (!max_nodes || nodes <= *max_nodes) return std::nullopt;
  return PipelineError{"skeleton has " + std::to_string(nodes) +
                       " nodes, exceeding max_nodes limit of " + std::to_string(*max_nodes)};
}

ConditionedCurves condition_curves(const std::vector<Polyline>& curves, double buffer_distance,
                                   double feature_size,
                                   const std::optional<WidthLists>& per_curve_widths,
                                   std::optional<double> merge_tolerance,
                                   const std::vector<Cap>* caps) {
  const double tolerance = derived_merge_tolerance(feature_size, merge_tolerance);
  MergedCurves merged =
      tolerance > 0.0 ? merge_connected(curves, per_curve_widths, buffer_distance, tolerance, caps)
                      : MergedCurves{curves, per_curve_widths, std::nullopt};
  if (caps != nullptr && !merged.caps) {
    merged.caps.emplace();
    for (std::size_t i = 0; i < curves.size(); ++i) {
      const Cap cap = i < caps->size() ? (*caps)[i] : Cap::Square;
      merged.caps->push_back({cap, cap});
    }
  }
  // Curves with widths pass as they are, their widths staying aligned.
  if (merged.widths) return {std::move(merged.curves), std::move(merged.widths), std::move(merged.caps)};
  const double spacing = derived_decimation_spacing(feature_size);
  std::size_t points = 0;
  for (const Polyline& curve : merged.curves) points += curve.size();
  std::vector<Polyline> decimated(merged.curves.size());
  const auto decimate = [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) decimated[i] = decimate_curve(merged.curves[i], spacing);
  };
  if (points < kParallelRingPoints) {
    decimate(0, decimated.size());
  } else {
    parallel_ranges(decimated.size(), std::max<std::size_t>(1, decimated.size() / 64), decimate);
  }
  return {std::move(decimated), std::move(merged.widths), std::move(merged.caps)};
}

std::vector<BufferPolygon> inflate_stage(const std::vector<Polyline>& curves,
                                         double buffer_distance, double feature_size,
                                         const std::optional<WidthLists>& per_curve_widths,
                                         std::optional<double> merge_tolerance) {
  const ConditionedCurves c =
      condition_curves(curves, buffer_distance, feature_size, per_curve_widths, merge_tolerance);
  return inflate(c.curves, c.widths, buffer_distance, feature_size);
}

std::size_t ring_points(const std::vector<BufferPolygon>& polygons) {
  std::size_t n = 0;
  for (const BufferPolygon& polygon : polygons) {
    n += polygon.outer.size();
    for (const Ring& hole : polygon.holes) n += hole.size();
  }
  return n;
}

std::vector<BufferPolygon> preprocess_stage(std::vector<BufferPolygon> polygons,
                                            double buffer_distance, double feature_size,
                                            const BoundaryOptions& options) {
  return preprocess_boundaries(std::move(polygons), feature_size, buffer_distance,
                               options.subdivision_ratio, options.resample,
                               options.boundary_simplification, options.local_simplification);
}

}  // namespace strokegraph
