// Ramer-Douglas-Peucker simplification and thinning of input curves.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "common/geometry.h"

namespace strokegraph {

// Simplifies an open polyline with tolerance `epsilon` (> 0).
std::vector<Point> rdp(const std::vector<Point>& points, double epsilon);

// Which points rdp keeps: one flag per point, both ends always kept.
std::vector<char> rdp_kept(const std::vector<Point>& points, double epsilon);

// rdp_kept on points[0, n), setting keep[i] for every point kept and leaving
// the other flags as they are; `spans` is scratch space.
void rdp_mark(const Point* points, std::size_t n, double epsilon, char* keep,
              std::vector<std::pair<std::size_t, std::size_t>>& spans);

// Drops interior vertices closer than `min_spacing` to the last kept one.
std::vector<Point> decimate_curve(const std::vector<Point>& points, double min_spacing);

// One decimated curve per input curve; with `keep_as_is` the curves pass
// unchanged so that per-vertex widths stay aligned.
std::vector<Polyline> decimate_curves(const std::vector<Polyline>& curves, bool keep_as_is,
                                      double min_spacing);

}  // namespace strokegraph
