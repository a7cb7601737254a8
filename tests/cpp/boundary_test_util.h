// Small helpers shared by the boundary preprocessing tests.
#pragma once

#include <cmath>
#include <numbers>
#include <vector>

#include "boundary/curvature_index.h"
#include "common/geometry.h"

namespace boundary_test {

using strokegraph::Point;
using strokegraph::Ring;

inline constexpr double kPi = std::numbers::pi;

inline Ring square(double side) { return {{0, 0}, {side, 0}, {side, side}, {0, side}}; }

// Regular polygon with n sides of length `side`, point 0 at angle 0.
inline Ring regular_polygon(int n, double side) {
  const double radius = side / (2.0 * std::sin(kPi / n));
  Ring ring;
  for (int i = 0; i < n; ++i) {
    const double a = 2.0 * kPi * i / n;
    ring.push_back({radius * std::cos(a), radius * std::sin(a)});
  }
  return ring;
}

// Puts one corner entry straight into the index, as add_ring would.
inline void record(strokegraph::CurvatureIndex& index, double x, double y, double angle) {
  index.cells[strokegraph::cell_key(index, x, y)].push_back(index.corners.size());
  index.corners.push_back({x, y, angle});
}

// True when `needles` occur in `hay` in this order (not necessarily adjacent).
inline bool in_order(const std::vector<Point>& hay, const std::vector<Point>& needles) {
  std::size_t k = 0;
  for (const Point& p : hay) {
    if (k < needles.size() && p == needles[k]) ++k;
  }
  return k == needles.size();
}

}  // namespace boundary_test
