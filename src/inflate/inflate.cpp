#include "inflate/inflate.h"

namespace strokegraph {

// Placeholder until inflation lands: no polygons.
std::vector<BufferPolygon> inflate(const std::vector<Polyline>&, const std::optional<WidthLists>&,
                                   double, double) {
  return {};
}

std::vector<Ring> inflate_curve_variable(const std::vector<Point>&, const std::vector<double>&,
                                         double) {
  return {};
}

}  // namespace strokegraph
