// Junction placement: every junction moves to where its arms' lines meet
// (least squares), or to where the input strokes' centerlines cross; the
// skeleton misses such meetings at acute angles by up to a couple of radii.
#include "cleanup/cleanup.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>

#include "cleanup/pass_util.h"
#include "common/errors.h"
#include "common/flat_map.h"
#include "graph/graph_util.h"
#include "parallel/pool.h"

namespace strokegraph {
namespace {

using graph_detail::distance;
using cleanup_detail::kJunctionsPerTask;
using cleanup_detail::point_along;

}  // namespace

void relocate_junctions(Graph& graph, const std::vector<double>& clearance, double radius,
                        double max_move, const StrokeIndex* strokes, double stroke_reach,
                        const SegmentGrid* boundary) {
  graph_detail::check_edges(graph, "relocate_junctions");
  const std::size_t n = graph.nodes.size();
  if (clearance.size() != n) throw InvariantError("relocate_junctions: one clearance per node expected");
  const graph_detail::Adjacency adj = graph_detail::build_adjacency(graph);
  const std::vector<Point> original = graph.nodes;
  const double min_angle = 10.0 * 3.14159265358979323846 / 180.0;
  const double min_sin = std::sin(min_angle);
  auto in_band = [&](Point from, Point to) {
    const double length = distance(from, to);
    if (boundary == nullptr || !(length > 0.0)) return true;
    const Point d{(to.x - from.x) / length, (to.y - from.y) / length};
    return !(boundary->ray_distance(from, d, length) < length);
  };
  // Every junction reads the positions before any moved and writes only its own.
  const std::vector<NodeId> junctions = cleanup_detail::junctions_of(adj, n);
  parallel_ranges(junctions.size(), kJunctionsPerTask, [&](std::size_t begin, std::size_t end_junction) {
    std::vector<Point> pts, arm_points, around;
    for (std::size_t k = begin; k < end_junction; ++k) {
      const NodeId j = junctions[k];
      arm_points.clear();
      // Sum over arm lines of (I - d d^T) for the normal equations.
      double a11 = 0.0, a12 = 0.0, a22 = 0.0, b1 = 0.0, b2 = 0.0;
      std::vector<Point> dirs;
      for (const NodeId* it = adj.begin(j); it != adj.end(j); ++it) {
        pts.assign(1, original[j]);
        NodeId prev = j, cur = *it;
        double length = 0.0;
        for (std::size_t steps = 0; length < 4.0 * radius; ++steps) {
          pts.push_back(original[cur]);
          length += distance(original[prev], original[cur]);
          if (adj.degree(cur) != 2 || steps > graph.edges.size()) break;
          const NodeId next = adj.begin(cur)[0] == prev ? adj.begin(cur)[1] : adj.begin(cur)[0];
          prev = cur;
          cur = next;
        }
        arm_points.push_back(point_along(pts, 3.0 * radius));
        if (length < 3.0 * radius) continue;
        const Point p = point_along(pts, 2.0 * radius), q = point_along(pts, 4.0 * radius);
        const double dx = q.x - p.x, dy = q.y - p.y, len = std::hypot(dx, dy);
        if (!(len > 0.0)) continue;
        const Point d{dx / len, dy / len};
        const double m11 = 1.0 - d.x * d.x, m12 = -d.x * d.y, m22 = 1.0 - d.y * d.y;
        a11 += m11, a12 += m12, a22 += m22;
        b1 += m11 * p.x + m12 * p.y;
        b2 += m12 * p.x + m22 * p.y;
        dirs.push_back(d);
      }
      if (strokes != nullptr) {
        // In the order of their positions: the same answer however the
        // skeleton's nodes are numbered.
        std::sort(arm_points.begin(), arm_points.end(),
                  [](Point a, Point b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });
        // Strokes meeting at several places around it, a radius apart and
        // more: its arms' strokes and lines tell one of them, or the middle
        // of the blot of bands; it goes to the meeting nearest to it that
        // it reaches straight inside the band (a way out of the band and
        // back in would cross a gap between strokes, its chains as chords).
        if (meets_apart(*strokes, {{original[j], clearance[j]}}, radius, min_angle, &around)) {
          std::sort(around.begin(), around.end(),
                    [](Point a, Point b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });
          std::optional<Point> best;
          for (const Point& m : around) {
            if (!in_band(original[j], m)) continue;
            if (!best || distance(m, original[j]) < distance(*best, original[j])) best = m;
          }
          if (best) graph.nodes[j] = *best;
          continue;
        }
        // Asked only here: a junction placed above needs no meeting of its
        // arms' strokes.
        const auto meeting = strokes_meeting(*strokes, original[j], arm_points, stroke_reach, min_angle);
        if (meeting && distance(*meeting, original[j]) <= stroke_reach) {
          graph.nodes[j] = *meeting;
          continue;
        }
      }
      bool crossing = false;
      for (std::size_t a = 0; a < dirs.size() && !crossing; ++a) {
        for (std::size_t b = a + 1; b < dirs.size(); ++b) {
          if (std::fabs(dirs[a].x * dirs[b].y - dirs[a].y * dirs[b].x) > min_sin) crossing = true;
        }
      }
      const double det = a11 * a22 - a12 * a12;
      if (!crossing || !(std::fabs(det) > 1e-12)) continue;
      const Point x{(a22 * b1 - a12 * b2) / det, (a11 * b2 - a12 * b1) / det};
      if (distance(x, original[j]) <= max_move * clearance[j]) graph.nodes[j] = x;
    }
  });
}

}  // namespace strokegraph
