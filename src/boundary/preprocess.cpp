#include "boundary/preprocess.h"

namespace strokegraph {

// Placeholder until boundary preprocessing lands: rings unchanged.
std::vector<BufferPolygon> preprocess_boundaries(std::vector<BufferPolygon> polygons, double,
                                                 double, std::optional<double>,
                                                 std::optional<double>, std::optional<double>) {
  return polygons;
}

std::vector<Point> subdivide_ring(const std::vector<Point>& ring, double) { return ring; }

}  // namespace strokegraph
