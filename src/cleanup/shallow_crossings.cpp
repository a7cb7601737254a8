// Two curved strokes crossing at a shallow angle run inside each other's band
// for a while; the skeleton splits their crossing into two degree-3 junctions
// joined by a short link, and relocation puts each on a meeting of the same
// two strokes. Such a pair becomes one node where the strokes cross. A bowl
// meeting its stem twice (b, d, 6) also gives two junctions on the same two
// strokes, but its link runs along the stem alone: the link's middle must lie
// in both strokes' bands.
#include "cleanup/cleanup.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <optional>
#include <tuple>

#include "cleanup/pass_util.h"
#include "common/errors.h"
#include "graph/graph_util.h"

namespace strokegraph {
namespace {

using graph_detail::distance;
using cleanup_detail::collapse;
using cleanup_detail::point_along;

// Every stroke within `within` x its band radius of p, with its nearest
// segment there: (stroke, segment), by stroke.
std::vector<std::pair<std::size_t, std::size_t>> strokes_by_stroke(const StrokeIndex& strokes, Point p,
                                                                   double within) {
  std::vector<StrokeNear> near;
  strokegraph::strokes_near(strokes, p, within, near);
  std::sort(near.begin(), near.end(), [](const StrokeNear& a, const StrokeNear& b) { return a.stroke < b.stroke; });
  std::vector<std::pair<std::size_t, std::size_t>> out;
  for (const StrokeNear& n : near) out.push_back({n.stroke, n.segment});
  return out;
}

// Whether the point at parameter t of grid segment i is an end of its curve.
bool at_curve_end(const StrokeIndex& strokes, std::size_t i, double t) {
  const std::size_t last = (*strokes.curves)[strokes.owner[i]].size() - 1;
  return (t <= 0.0 && strokes.vertex[i] == 1) || (t >= 1.0 && strokes.vertex[i] == last);
}

// Where segments of strokes s and t cross, the crossing nearest to `around`
// within `reach` of it.
std::optional<Point> crossing_near(const StrokeIndex& strokes, std::size_t s, std::size_t t, Point around,
                                   double reach) {
  std::vector<std::size_t> of_s, of_t;
  strokes.grid.visit_box({around.x - reach, around.y - reach}, {around.x + reach, around.y + reach},
                         [&](std::size_t i) {
                           if (point_segment_distance(around, strokes.segment(i)) > reach) return;
                           if (strokes.stroke_of(i) == s) of_s.push_back(i);
                           if (strokes.stroke_of(i) == t) of_t.push_back(i);
                         });
  std::sort(of_s.begin(), of_s.end());
  std::sort(of_t.begin(), of_t.end());
  std::optional<Point> best;
  for (const std::size_t i : of_s) {
    const Segment u = strokes.segment(i);
    for (const std::size_t j : of_t) {
      const Segment v = strokes.segment(j);
      const double ux = u.b.x - u.a.x, uy = u.b.y - u.a.y, vx = v.b.x - v.a.x, vy = v.b.y - v.a.y;
      const double den = ux * vy - uy * vx;
      if (!(std::fabs(den) > 0.0)) continue;
      const double wx = v.a.x - u.a.x, wy = v.a.y - u.a.y;
      const double p = (wx * vy - wy * vx) / den, q = (wx * uy - wy * ux) / den;
      if (p < 0.0 || p > 1.0 || q < 0.0 || q > 1.0) continue;
      // Strokes that only touch end to end (pieces of noded lines) do not cross.
      if (at_curve_end(strokes, i, p) || at_curve_end(strokes, j, q)) continue;
      const Point x{u.a.x + p * ux, u.a.y + p * uy};
      if (distance(x, around) > reach) continue;
      if (!best || distance(x, around) < distance(*best, around)) best = x;
    }
  }
  return best;
}

}  // namespace

Graph join_shallow_crossings(Graph graph, std::vector<double>& clearance, const StrokeIndex& strokes,
                             double max_link, double on_stroke, double min_angle) {
  graph_detail::check_edges(graph, "join_shallow_crossings");
  const std::size_t n = graph.nodes.size();
  if (clearance.size() != n) throw InvariantError("join_shallow_crossings: one clearance per node expected");
  const graph_detail::Adjacency adj = graph_detail::build_adjacency(graph);
  const double min_sin = std::sin(min_angle);
  std::vector<NodeId> parent(n);
  for (std::size_t v = 0; v < n; ++v) parent[v] = static_cast<NodeId>(v);
  std::vector<char> removed(n, 0), taken(n, 0);
  std::vector<std::pair<NodeId, Point>> moved;
  std::vector<NodeId> inner;
  std::vector<Point> pts;
  for (std::size_t jj = 0; jj < n; ++jj) {
    const auto a = static_cast<NodeId>(jj);
    if (adj.degree(a) != 3 || taken[a]) continue;
    for (const NodeId* it = adj.begin(a); it != adj.end(a) && !taken[a]; ++it) {
      inner.clear();
      pts.assign(1, graph.nodes[a]);
      NodeId prev = a, cur = *it;
      double length = 0.0;
      for (std::size_t steps = 0; adj.degree(cur) == 2 && steps <= graph.edges.size(); ++steps) {
        length += distance(graph.nodes[prev], graph.nodes[cur]);
        if (length > max_link) break;
        inner.push_back(cur);
        pts.push_back(graph.nodes[cur]);
        const NodeId next = adj.begin(cur)[0] == prev ? adj.begin(cur)[1] : adj.begin(cur)[0];
        prev = cur;
        cur = next;
      }
      // Each link once, from its smaller end, between two junctions not yet joined.
      if (adj.degree(cur) != 3 || cur <= a || taken[cur]) continue;
      length += distance(graph.nodes[prev], graph.nodes[cur]);
      if (length > max_link) continue;
      const NodeId b = cur;
      pts.push_back(graph.nodes[b]);
      const Point middle = point_along(pts, 0.5 * length);
      const auto at_a = strokes_by_stroke(strokes, graph.nodes[a], on_stroke);
      const auto at_b = strokes_by_stroke(strokes, graph.nodes[b], on_stroke);
      const auto at_middle = strokes_by_stroke(strokes, middle, 1.0);
      auto segment_of = [](const auto& near, std::size_t c) {
        for (const auto& [stroke, seg] : near) {
          if (stroke == c) return seg;
        }
        return std::numeric_limits<std::size_t>::max();
      };
      auto on_all = [&](std::size_t c) {
        return segment_of(at_a, c) != std::numeric_limits<std::size_t>::max() &&
               segment_of(at_b, c) != std::numeric_limits<std::size_t>::max() &&
               segment_of(at_middle, c) != std::numeric_limits<std::size_t>::max();
      };
      // Two strokes at an angle at either junction (a stroke drawn over
      // again runs along itself at both).
      auto at_angle = [&](std::size_t s, std::size_t t) {
        for (const auto* near : {&at_a, &at_b}) {
          const auto ds = stroke_direction(strokes, segment_of(*near, s));
          const auto dt = stroke_direction(strokes, segment_of(*near, t));
          if (ds && dt && std::fabs(ds->x * dt->y - ds->y * dt->x) > min_sin) return true;
        }
        return false;
      };
      std::optional<Point> joined;
      for (std::size_t x = 0; x < at_middle.size() && !joined; ++x) {
        const std::size_t s = at_middle[x].first;
        if (!on_all(s)) continue;
        for (std::size_t y = x + 1; y < at_middle.size() && !joined; ++y) {
          const std::size_t t = at_middle[y].first;
          if (!on_all(t) || !at_angle(s, t)) continue;
          joined = crossing_near(strokes, s, t, middle, 0.5 * length + strokes.max_reach);
        }
      }
      if (!joined) continue;
      taken[a] = taken[b] = 1;
      parent[b] = a;
      for (const NodeId v : inner) removed[v] = 1;
      moved.push_back({a, *joined});
    }
  }
  if (moved.empty()) return graph;
  std::sort(moved.begin(), moved.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
  return collapse(graph, parent, removed, moved, clearance, false);
}

}  // namespace strokegraph
