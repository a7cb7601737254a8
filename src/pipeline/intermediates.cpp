#include "pipeline/intermediates.h"

#include "skeleton_cdt/triangulate.h"

namespace strokegraph {

Result<std::vector<BufferPolygon>> inflate_curves(const std::vector<Polyline>& curves,
                                                  double buffer_distance, double feature_size,
                                                  const std::optional<WidthLists>& per_curve_widths,
                                                  std::optional<double> merge_tolerance) {
  if (auto error = check_feature_size(feature_size)) return *error;
  if (auto error = check_widths(curves, per_curve_widths)) return *error;
  return inflate_stage(curves, buffer_distance, feature_size, per_curve_widths, merge_tolerance);
}

Result<std::vector<Triangle>> triangulate_curves(
    const std::vector<Polyline>& curves, double buffer_distance, double feature_size,
    const std::optional<WidthLists>& per_curve_widths, const BoundaryOptions& boundary,
    std::optional<double> merge_tolerance) {
  auto polygons =
      inflate_curves(curves, buffer_distance, feature_size, per_curve_widths, merge_tolerance);
  if (auto* error = std::get_if<PipelineError>(&polygons)) return *error;
  std::vector<Triangle> triangles;
  for (const BufferPolygon& polygon :
       preprocess_stage(std::get<0>(std::move(polygons)), buffer_distance, feature_size, boundary)) {
    if (polygon.outer.size() < 3) continue;
    std::vector<Triangle> part = get_triangles(polygon.outer, polygon.holes);
    triangles.insert(triangles.end(), part.begin(), part.end());
  }
  return triangles;
}

}  // namespace strokegraph
