// Clearance: a junction's distance to the band boundary, the radius of the
// largest disc around it that stays inside the band. Every clean-up pass
// measures against it, so it is computed once and carried along as nodes merge.
#include "cleanup/cleanup.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "cleanup/pass_util.h"
#include "common/errors.h"
#include "common/flat_map.h"
#include "graph/graph_util.h"
#include "parallel/pool.h"

namespace strokegraph {
namespace {

using cleanup_detail::kNodesPerTask;

}  // namespace

SegmentGrid boundary_grid(const std::vector<BufferPolygon>& polygons, double cell) {
  // Straight into runs of points (a ring is one run), as the grid keeps them.
  PointRuns edges;
  std::size_t points = 0;
  for (const BufferPolygon& polygon : polygons) {
    points += polygon.outer.size() + 1;
    for (const Ring& hole : polygon.holes) points += hole.size() + 1;
  }
  edges.points.reserve(points);
  auto add_ring = [&](const Ring& ring) {
    for (std::size_t k = 0; k < ring.size(); ++k) {
      edges.add({ring[k], ring[k + 1 == ring.size() ? 0 : k + 1]});
    }
  };
  for (const BufferPolygon& polygon : polygons) {
    add_ring(polygon.outer);
    for (const Ring& hole : polygon.holes) add_ring(hole);
  }
  return SegmentGrid::of_runs(std::move(edges), cell);
}

std::vector<double> junction_clearance(const Graph& graph, const SegmentGrid& boundary,
                                       double reach) {
  std::vector<std::size_t> degree(graph.nodes.size(), 0);
  for (const Edge& e : graph.edges) ++degree[e.first], ++degree[e.second];
  std::vector<double> clearance(graph.nodes.size(), 0.0);
  parallel_ranges(graph.nodes.size(), kNodesPerTask, [&](std::size_t begin, std::size_t end) {
    for (std::size_t v = begin; v < end; ++v) {
      if (degree[v] < 3) continue;
      // Most junctions lie within a cell of the boundary: look there first.
      const double near = std::min(reach, boundary.cell());
      clearance[v] = boundary.distance_within(graph.nodes[v], near);
      if (clearance[v] >= near) clearance[v] = boundary.distance_within(graph.nodes[v], reach);
    }
  });
  return clearance;
}

}  // namespace strokegraph
