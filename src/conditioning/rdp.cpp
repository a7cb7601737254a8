#include "conditioning/rdp.h"

namespace strokegraph {

// Placeholder until simplification lands: the input unchanged.
std::vector<Point> rdp(const std::vector<Point>& points, double) { return points; }

std::vector<Point> decimate_curve(const std::vector<Point>& points, double) { return points; }

std::vector<Polyline> decimate_curves(const std::vector<Polyline>& curves, bool, double) {
  return curves;
}

}  // namespace strokegraph
