// Offsetting of curves into bands and union of the bands into polygons.
#pragma once

#include <optional>
#include <vector>

#include "common/geometry.h"

namespace strokegraph {

std::vector<BufferPolygon> inflate(const std::vector<Polyline>& curves,
                                   const std::optional<WidthLists>& per_curve_widths,
                                   double buffer_distance, double feature_size);

// Offsets one curve with one radius per vertex; returns the outline rings.
std::vector<Ring> inflate_curve_variable(const std::vector<Point>& pts,
                                         const std::vector<double>& widths, double feature_size);

}  // namespace strokegraph
