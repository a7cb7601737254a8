// Small ring builders shared by the triangulation and skeleton tests.
#pragma once

#include <algorithm>

#include "common/geometry.h"

namespace strokegraph::test {

// An axis-aligned square, counter-clockwise unless `ccw` is false.
inline Ring square(double x0, double y0, double side, bool ccw = true) {
  Ring r{{x0, y0}, {x0 + side, y0}, {x0 + side, y0 + side}, {x0, y0 + side}};
  if (!ccw) std::reverse(r.begin(), r.end());
  return r;
}

}  // namespace strokegraph::test
