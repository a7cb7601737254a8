// Simplification and densification of polygon rings before triangulation.
#pragma once

#include <optional>
#include <vector>

#include "common/geometry.h"

namespace strokegraph {

std::vector<BufferPolygon> preprocess_boundaries(std::vector<BufferPolygon> polygons,
                                                 double feature_size, double buffer_distance,
                                                 std::optional<double> subdivision_ratio,
                                                 std::optional<double> resample,
                                                 std::optional<double> boundary_simplification);

// Splits every edge (the closing one too) into pieces no longer than `max_edge`.
std::vector<Point> subdivide_ring(const std::vector<Point>& ring, double max_edge);

}  // namespace strokegraph
