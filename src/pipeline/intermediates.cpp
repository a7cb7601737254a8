#include "pipeline/intermediates.h"

#include "common/progress.h"
#include "skeleton_cdt/triangulate.h"

namespace strokegraph {
namespace {

Result<std::vector<BufferPolygon>> checked_inflate(
    const std::vector<Polyline>& curves, double buffer_distance, double feature_size,
    const std::optional<WidthLists>& per_curve_widths, std::optional<double> merge_tolerance) {
  if (auto error = check_feature_size(feature_size)) return *error;
  if (auto error = check_widths(curves, per_curve_widths)) return *error;
  return inflate_stage(curves, buffer_distance, feature_size, per_curve_widths, merge_tolerance);
}

}  // namespace

Result<std::vector<BufferPolygon>> inflate_curves(const std::vector<Polyline>& curves,
                                                  double buffer_distance, double feature_size,
                                                  const std::optional<WidthLists>& per_curve_widths,
                                                  std::optional<double> merge_tolerance) {
  enter_stage("inflate", 0.0, 1.0);
  return checked_inflate(curves, buffer_distance, feature_size, per_curve_widths, merge_tolerance);
}

Result<std::vector<Triangle>> triangulate_curves(
    const std::vector<Polyline>& curves, double buffer_distance, double feature_size,
    const std::optional<WidthLists>& per_curve_widths, const BoundaryOptions& boundary,
    std::optional<double> merge_tolerance) {
  enter_stage("inflate", 0.0, 0.4);
  auto polygons =
      checked_inflate(curves, buffer_distance, feature_size, per_curve_widths, merge_tolerance);
  if (auto* error = std::get_if<PipelineError>(&polygons)) return *error;
  enter_stage("preprocess", 0.4, 0.5);
  const std::vector<BufferPolygon> preprocessed =
      preprocess_stage(std::get<0>(std::move(polygons)), buffer_distance, feature_size, boundary);
  enter_stage("triangulate", 0.5, 1.0);
  std::vector<Triangle> triangles;
  for (std::size_t k = 0; k < preprocessed.size(); ++k) {
    advance(double(k) / double(preprocessed.size()));
    const BufferPolygon& polygon = preprocessed[k];
    if (polygon.outer.size() < 3) continue;
    std::vector<Triangle> part = get_triangles(polygon.outer, polygon.holes);
    triangles.insert(triangles.end(), part.begin(), part.end());
  }
  return triangles;
}

}  // namespace strokegraph
