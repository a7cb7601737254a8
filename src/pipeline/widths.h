// Width of the band at chain points: twice the distance to the nearest
// boundary vertex.
#pragma once

#include <vector>

#include "common/geometry.h"

namespace strokegraph {

// Exact minimum squared distance to a fixed vertex set, answered through a
// k-d tree. Distances that are NaN are ignored; with no vertex (or only
// non-finite distances) the answer is +inf.
class NearestVertex {
 public:
  explicit NearestVertex(const std::vector<Point>& vertices);
  double min_squared_distance(const Point& p) const;

 private:
  void build(std::size_t lo, std::size_t hi, int axis);
  void query(std::size_t lo, std::size_t hi, int axis, const Point& p, double& best) const;
  std::vector<Point> pts_;  // finite vertices in k-d order
};

// Every ring vertex of the polygons (outer rings and holes), the vertex set
// widths are measured against.
std::vector<Point> ring_vertices(const std::vector<BufferPolygon>& polygons);

// One list per chain with w = 2 * sqrt(m) per point.
std::vector<std::vector<double>> measure_widths(const std::vector<Polyline>& chains,
                                                const std::vector<Point>& boundary_vertices);

}  // namespace strokegraph
