// Crossings of two strokes at a shallow angle, which the skeleton splits
// into two junctions farther apart than merge_crossings joins: the four outer
// arms pair into two straight continuations, and the junctions merge where
// the strokes' lines cross.
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

using graph_detail::distance;
using cleanup_detail::collapse;
using cleanup_detail::kJunctionsPerTask;
using cleanup_detail::point_along;

constexpr double kMeetAngle = 10.0 * 3.14159265358979323846 / 180.0;

// An arm of a junction: the walk through degree-2 nodes from the junction
// along one edge, seen through its points `near` and `far` along it (its
// last point where it is shorter).
struct Arm {
  NodeId first;  // the neighbour the walk left through
  NodeId end;
  std::size_t inner_begin, inner_end;  // inner nodes in the shared list
  double length;
  Point p, q;
};

double line_distance(Point p, Point a, Point b) {
  const double dx = b.x - a.x, dy = b.y - a.y;
  const double len = std::hypot(dx, dy);
  if (!(len > 0.0)) return distance(p, a);
  return std::fabs((p.x - a.x) * dy - (p.y - a.y) * dx) / len;
}

}  // namespace

Graph merge_straight_crossings(Graph graph, std::vector<double>& clearance, double radius,
                               double link_factor, double max_turn, const StrokeIndex* strokes) {
  graph_detail::check_edges(graph, "merge_straight_crossings");
  const std::size_t n = graph.nodes.size();
  if (clearance.size() != n) throw InvariantError("merge_straight_crossings: one clearance per node expected");
  graph_detail::Adjacency adj = graph_detail::build_adjacency(graph);
  // The arms of junction j; their inner nodes go to the end of `inner`.
  auto arms_of = [&](NodeId j, std::vector<Arm>& arms, std::vector<NodeId>& inner, std::vector<Point>& pts) {
    arms.clear();
    for (const NodeId* it = adj.begin(j); it != adj.end(j); ++it) {
      Arm arm{*it, *it, inner.size(), inner.size(), 0.0, {}, {}};
      pts.assign(1, graph.nodes[j]);
      NodeId prev = j, cur = *it;
      for (std::size_t steps = 0;; ++steps) {
        pts.push_back(graph.nodes[cur]);
        arm.length += distance(graph.nodes[prev], graph.nodes[cur]);
        if (adj.degree(cur) != 2 || steps > graph.edges.size()) break;
        inner.push_back(cur);
        const NodeId next = adj.begin(cur)[0] == prev ? adj.begin(cur)[1] : adj.begin(cur)[0];
        prev = cur;
        cur = next;
      }
      arm.end = cur;
      arm.inner_end = inner.size();
      arm.p = point_along(pts, 2.0 * radius);
      arm.q = point_along(pts, 4.0 * radius);
      arms.push_back(arm);
    }
  };
  auto continues = [&](const Arm& a, const Arm& b) {
    const double ax = a.q.x - a.p.x, ay = a.q.y - a.p.y, bx = b.q.x - b.p.x, by = b.q.y - b.p.y;
    const double la = std::hypot(ax, ay), lb = std::hypot(bx, by);
    if (!(la > 0.0 && lb > 0.0)) return false;
    const double cosine = -(ax * bx + ay * by) / (la * lb);
    return cosine >= std::cos(max_turn) && line_distance(b.p, a.p, a.q) <= radius &&
           line_distance(b.q, a.p, a.q) <= radius && line_distance(a.p, b.p, b.q) <= radius &&
           line_distance(a.q, b.p, b.q) <= radius;
  };

  struct Merge {
    double length;
    NodeId a, b;
    std::size_t inner_begin, inner_end;  // link nodes in `link_nodes`
    Point at;
  };
  struct Merges {
    std::vector<Merge> merges;
    std::vector<NodeId> link_nodes;
  };
  // The split crossings found from the junctions [begin, end) of
  // `junctions`, in order; each reads the graph only.
  const std::vector<NodeId> junctions = cleanup_detail::junctions_of(adj, n);
  auto find_merges = [&](std::size_t begin, std::size_t end, Merges& found) {
    std::vector<NodeId> inner;
    std::vector<Point> pts;
    std::vector<Arm> arms_a, arms_b;
    for (std::size_t k = begin; k < end; ++k) {
      const NodeId j = junctions[k];
      if (adj.degree(j) != 3) continue;
      inner.clear();
      arms_of(j, arms_a, inner, pts);
      for (const Arm& link : arms_a) {
        const NodeId e = link.end;
        if (e <= j || adj.degree(e) != 3) continue;
        if (!(link.length <= link_factor * (clearance[j] + clearance[e]))) continue;
        const std::size_t mark = inner.size();
        arms_of(e, arms_b, inner, pts);
        std::vector<const Arm*> outer_a, outer_b;
        for (const Arm& x : arms_a) {
          if (&x != &link) outer_a.push_back(&x);
        }
        for (const Arm& y : arms_b) {
          if (!(y.end == j && y.inner_end - y.inner_begin == link.inner_end - link.inner_begin)) outer_b.push_back(&y);
        }
        inner.resize(mark);
        if (outer_a.size() != 2 || outer_b.size() != 2) continue;
        for (int swap = 0; swap < 2; ++swap) {
          const Arm& a1 = *outer_a[0];
          const Arm& a2 = *outer_a[1];
          const Arm& b1 = *outer_b[swap];
          const Arm& b2 = *outer_b[1 - swap];
          if (!continues(a1, b1) || !continues(a2, b2)) continue;
          // Both strokes run through the link: it is their crossing, not a
          // bar between two strokes whose lines meet elsewhere.
          const Point mid{(graph.nodes[j].x + graph.nodes[e].x) * 0.5, (graph.nodes[j].y + graph.nodes[e].y) * 0.5};
          if (line_distance(mid, a1.q, b1.q) > radius || line_distance(mid, a2.q, b2.q) > radius) continue;
          // Asked last, of a pair that would merge (the dearest question): junctions
          // within whose discs strokes meet apart keep their link.
          if (strokes != nullptr &&
              meets_apart(*strokes, {{graph.nodes[j], clearance[j]}, {graph.nodes[e], clearance[e]}}, radius,
                          kMeetAngle)) {
            break;
          }
          // Where the two strokes' lines cross: a1.q - b1.q and a2.q - b2.q.
          const Point u{b1.q.x - a1.q.x, b1.q.y - a1.q.y}, v{b2.q.x - a2.q.x, b2.q.y - a2.q.y};
          const double den = u.x * v.y - u.y * v.x;
          Point at = mid;
          if (std::fabs(den) > 1e-3 * std::hypot(u.x, u.y) * std::hypot(v.x, v.y)) {
            const double t = ((a2.q.x - a1.q.x) * v.y - (a2.q.y - a1.q.y) * v.x) / den;
            const Point x{a1.q.x + u.x * t, a1.q.y + u.y * t};
            if (distance(x, at) <= 0.5 * link.length + radius) at = x;
          }
          found.merges.push_back({link.length, j, e, found.link_nodes.size(), 0, at});
          found.link_nodes.insert(found.link_nodes.end(),
                                  inner.begin() + static_cast<std::ptrdiff_t>(link.inner_begin),
                                  inner.begin() + static_cast<std::ptrdiff_t>(link.inner_end));
          found.merges.back().inner_end = found.link_nodes.size();
          break;
        }
      }
    }
  };
  std::vector<Merge> merges;
  std::vector<NodeId> link_nodes;
  for (Merges& part : parallel_parts<Merges>(junctions.size(), kJunctionsPerTask, find_merges)) {
    for (Merge m : part.merges) {
      m.inner_begin += link_nodes.size();
      m.inner_end += link_nodes.size();
      merges.push_back(m);
    }
    link_nodes.insert(link_nodes.end(), part.link_nodes.begin(), part.link_nodes.end());
  }
  if (merges.empty()) return graph;
  std::stable_sort(merges.begin(), merges.end(),
                   [](const Merge& x, const Merge& y) { return x.length < y.length; });
  adj = {};
  std::vector<NodeId> parent(n);
  for (std::size_t v = 0; v < n; ++v) parent[v] = static_cast<NodeId>(v);
  std::vector<char> removed(n, 0), used(n, 0);
  std::vector<std::pair<NodeId, Point>> moved;
  for (const Merge& m : merges) {
    // One merge per junction: a junction of the pair already merged is now
    // of degree 4 and no longer part of a split crossing.
    if (used[m.a] || used[m.b]) continue;
    used[m.a] = used[m.b] = 1;
    parent[std::max(m.a, m.b)] = std::min(m.a, m.b);
    moved.push_back({std::min(m.a, m.b), m.at});
    for (std::size_t k = m.inner_begin; k < m.inner_end; ++k) removed[link_nodes[k]] = 1;
  }
  std::sort(moved.begin(), moved.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
  return collapse(graph, parent, removed, moved, clearance, false);
}

}  // namespace strokegraph
