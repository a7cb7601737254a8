// The front shared by every pipeline: validation, merging, decimation,
// inflation and boundary preprocessing.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "common/errors.h"
#include "common/geometry.h"

namespace strokegraph {

// "feature_size must be a positive finite number, got ..." unless the value
// is finite and greater than 0.
std::optional<PipelineError> check_feature_size(double feature_size);

// Every non-empty width list must belong to an existing curve and have one
// width per point of it. Empty entries are never checked.
std::optional<PipelineError> check_widths(const std::vector<Polyline>& curves,
                                          const std::optional<WidthLists>& per_curve_widths);

// The curves as inflation sees them: merged (when the derived tolerance is
// positive) and decimated (unless widths are in force), with their widths.
// With `caps` (one per input curve) also the caps of each curve's ends.
struct ConditionedCurves {
  std::vector<Polyline> curves;
  std::optional<WidthLists> widths;
  std::optional<std::vector<EndCaps>> caps;
};
ConditionedCurves condition_curves(const std::vector<Polyline>& curves, double buffer_distance,
                                   double feature_size,
                                   const std::optional<WidthLists>& per_curve_widths,
                                   std::optional<double> merge_tolerance,
                                   const std::vector<Cap>* caps = nullptr);

// "skeleton has {n} nodes, exceeding max_nodes limit of {max}" when a limit
// is set and the graph's node count exceeds it.
std::optional<PipelineError> check_node_limit(std::size_t nodes, std::optional<std::size_t> max_nodes);

// Merging (when the derived tolerance is positive), decimation (unless widths
// are in force) and inflation. Widths must have been checked.
std::vector<BufferPolygon> inflate_stage(const std::vector<Polyline>& curves,
                                         double buffer_distance, double feature_size,
                                         const std::optional<WidthLists>& per_curve_widths,
                                         std::optional<double> merge_tolerance);

struct BoundaryOptions {
  std::optional<double> subdivision_ratio;
  std::optional<double> resample;
  std::optional<double> boundary_simplification;
  // Rings simplified piece by piece (the clean pipeline: its tiles must
  // simplify an outline as the whole drawing does, and its rings not cross).
  bool local_simplification = false;
};

// Polygons whose rings hold fewer points together than this are skeletonized
// on the calling thread, else each on the pool (their segments joined in
// polygon order).
inline constexpr std::size_t kParallelRingPoints = 4096;

// The points of all rings of all polygons.
std::size_t ring_points(const std::vector<BufferPolygon>& polygons);

std::vector<BufferPolygon> preprocess_stage(std::vector<BufferPolygon> polygons,
                                            double buffer_distance, double feature_size,
                                            const BoundaryOptions& options);

}  // namespace strokegraph
