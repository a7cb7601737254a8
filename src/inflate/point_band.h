// Bands of curves that shrink to a single vertex on the offsetter's integer
// grid, for radii the offsetter cannot square itself.
#pragma once

#include <optional>
#include <vector>

#include "common/geometry.h"

namespace strokegraph {

// The offsetter squares a path of one integer vertex with a half-width of
// ceil(radius) grid units held in an `int`, which overflows beyond 2^31 - 1
// units. For such a curve (all points rounding to one vertex at `scale` grid
// units per coordinate unit) and radius this returns the same square built in
// 64 bits, corners in the offsetter's order; std::nullopt for every other
// curve and radius, which the offsetter handles itself. `pts` must be finite.
std::optional<Ring> wide_point_square(const std::vector<Point>& pts, double radius, double scale);

}  // namespace strokegraph
