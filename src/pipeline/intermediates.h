// The pipelines that stop early and return an intermediate: the buffer
// polygons or the triangles, exactly as topologize sees them.
#pragma once

#include <optional>
#include <vector>

#include "common/errors.h"
#include "common/geometry.h"
#include "pipeline/front.h"

namespace strokegraph {

// The buffer polygons exactly as topologize sees them before preprocessing.
Result<std::vector<BufferPolygon>> inflate_curves(const std::vector<Polyline>& curves,
                                                  double buffer_distance, double feature_size,
                                                  const std::optional<WidthLists>& per_curve_widths,
                                                  std::optional<double> merge_tolerance);

// The triangles of every preprocessed polygon, as one flat list.
Result<std::vector<Triangle>> triangulate_curves(
    const std::vector<Polyline>& curves, double buffer_distance, double feature_size,
    const std::optional<WidthLists>& per_curve_widths, const BoundaryOptions& boundary,
    std::optional<double> merge_tolerance);

}  // namespace strokegraph
