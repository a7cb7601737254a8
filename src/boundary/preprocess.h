// Simplification and densification of polygon rings before triangulation.
#pragma once

#include <optional>
#include <vector>

#include "boundary/point_budget.h"
#include "common/geometry.h"

namespace strokegraph {

// Simplifies every ring (tolerance `boundary_simplification`, default
// 0.05 * feature_size, off when not positive), then densifies it: by edge
// subdivision to 1.5 * feature_size, or by resampling at `resample` when that
// is positive, either way refined near sharp corners of all rings when
// buffer_distance > 0 and `subdivision_ratio` (default 0.5, at least 0.01)
// does not switch refinement off. Keeps the polygons, their holes and their
// order. Throws MemoryLimitError, naming the parameter at fault, rather than
// hold more than kMaxBoundaryPoints points in its rings and corner index.
// With `locally` the rings are simplified piece by piece and never made to
// cross (simplify_polygon_locally), else each as one polyline from its
// first vertex.
std::vector<BufferPolygon> preprocess_boundaries(std::vector<BufferPolygon> polygons,
                                                 double feature_size, double buffer_distance,
                                                 std::optional<double> subdivision_ratio,
                                                 std::optional<double> resample,
                                                 std::optional<double> boundary_simplification,
                                                 bool locally = false);


// Splits every edge (the closing one too) into pieces no longer than `max_edge`.
std::vector<Point> subdivide_ring(const std::vector<Point>& ring, double max_edge,
                                  const PointBudget& budget = {});

}  // namespace strokegraph
