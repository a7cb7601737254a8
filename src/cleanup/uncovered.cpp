// Strokes that the graph passes by, added to it. Three streets side by side
// a radius and a half apart make one band, whose skeleton runs along one of
// them or between two: the others have no line, and where a street crosses
// them it meets one line instead of three. Each stroke is read once at
// fixed steps against a grid of the graph's edges; a stretch far from every
// edge is laid into the graph along the stroke's own points, noded where it
// crosses edges and joined to the graph where it comes back to it.
#include "cleanup/uncovered.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "common/progress.h"
#include "parallel/pool.h"
#include "spatial/segment_grid.h"

namespace strokegraph {
namespace {

// x attach: a line of the graph this near to added stretches may be one
// they replace.
constexpr double kBesideAdded = 1.5;
// Radians: a stroke within this of another's direction runs its way.
constexpr double kAlong = 0.45;
// x band radius: strokes side by side keep their distance within this.
constexpr double kSpread = 0.6;
// More strokes than this running its way beside it within two band radii
// make a crowd (hatching, many traces of one street): one band of ink, no sides.
constexpr std::size_t kCrowd = 2;
// Strokes drawing apart by more than this per length run out of a corner.
constexpr double kDrawApart = 0.12;
// x band radius: a stroke's free end this near to where it comes back to
// the graph is where the band ends.
constexpr double kFreeTail = 3.0;
// x cover: the strokes that a line of the graph this near may stand for.
constexpr double kNearLine = 1.5;
// Strokes per task where they are read against the graph on the pool.
constexpr std::size_t kStrokesPerTask = 32;

double dist(Point a, Point b) { return std::hypot(a.x - b.x, a.y - b.y); }

Point lerp(Point a, Point b, double t) { return {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t}; }

// Where segment a-b crosses c-d (within a-b, anywhere on c-d): the
// parameters along both.
std::optional<std::pair<double, double>> crossing(Point a, Point b, Point c, Point d) {
  const double rx = b.x - a.x, ry = b.y - a.y, sx = d.x - c.x, sy = d.y - c.y;
  const double den = rx * sy - ry * sx;
  if (den == 0.0) return std::nullopt;
  const double t = ((c.x - a.x) * sy - (c.y - a.y) * sx) / den;
  const double u = ((c.x - a.x) * ry - (c.y - a.y) * rx) / den;
  if (!(t > 0.0 && t < 1.0 && u >= 0.0 && u <= 1.0)) return std::nullopt;
  return std::make_pair(t, u);
}

// The point at arc length s along curve c from its start, with the index of
// the curve point after it.
struct CurveWalk {
  const Polyline& c;
  std::vector<double> run;  // arc length at each point
  explicit CurveWalk(const Polyline& curve) : c(curve), run(curve.size(), 0.0) {
    for (std::size_t k = 1; k < c.size(); ++k) run[k] = run[k - 1] + dist(c[k - 1], c[k]);
  }
  double length() const { return run.back(); }
  std::size_t after(double s) const {
    const auto it = std::upper_bound(run.begin(), run.end(), s);
    return std::clamp<std::size_t>(static_cast<std::size_t>(it - run.begin()), 1, c.size() - 1);
  }
  Point at(double s) const { return at_after(s, after(s)); }
  // at(s), given k = after(s).
  Point at_after(double s, std::size_t k) const {
    const double len = run[k] - run[k - 1];
    return len > 0.0 ? lerp(c[k - 1], c[k], std::clamp((s - run[k - 1]) / len, 0.0, 1.0)) : c[k];
  }
};

// A split of edge `edge` at parameter t by node `node`.
struct Split {
  std::size_t edge;
  double t;
  NodeId node;
};

// The segments added so far, by cell, for the cover question.
class AddedSegments {
 public:
  explicit AddedSegments(double cell) : cell_(cell) {}
  void add(Segment s) {
    const auto [x0, y0] = key({std::min(s.a.x, s.b.x), std::min(s.a.y, s.b.y)});
    const auto [x1, y1] = key({std::max(s.a.x, s.b.x), std::max(s.a.y, s.b.y)});
    if (x1 - x0 > 64 || y1 - y0 > 64) return;  // far beyond the drawing's scale
    for (std::int64_t y = y0; y <= y1; ++y) {
      for (std::int64_t x = x0; x <= x1; ++x) cells_[{x, y}].push_back(s);
    }
    lo_x_ = std::min(lo_x_, x0), hi_x_ = std::max(hi_x_, x1), lo_y_ = std::min(lo_y_, y0), hi_y_ = std::max(hi_y_, y1);
  }
  bool empty() const { return cells_.empty(); }
  // Whether the distance from p to the segments in the cells around it
  // (their least point_segment_distance) is at most `bound`, or with
  // `strict` below it.
  bool within(Point p, double bound, bool strict = false) const {
    if (cells_.empty()) return false;
    const auto [kx, ky] = key(p);
    // Cells beyond those holding segments need no look.
    if (kx + 1 < lo_x_ || kx - 1 > hi_x_ || ky + 1 < lo_y_ || ky - 1 > hi_y_) return false;
    for (std::int64_t y = ky - 1; y <= ky + 1; ++y) {
      for (std::int64_t x = kx - 1; x <= kx + 1; ++x) {
        const auto it = cells_.find({x, y});
        if (it == cells_.end()) continue;
        for (const Segment& s : it->second) {
          const Point q = nearest_on_segment(p, s.a, s.b);
          if (strict ? hypot_below(p.x - q.x, p.y - q.y, bound) : hypot_within(p.x - q.x, p.y - q.y, bound)) {
            return true;
          }
        }
      }
    }
    return false;
  }

 private:
  std::pair<std::int64_t, std::int64_t> key(Point p) const {
    auto k = [&](double v) {
      return static_cast<std::int64_t>(std::clamp(std::floor(v / cell_), -9.0e15, 9.0e15));
    };
    return {k(p.x), k(p.y)};
  }
  double cell_;
  std::map<std::pair<std::int64_t, std::int64_t>, std::vector<Segment>> cells_;
  // The range of the cells holding segments.
  std::int64_t lo_x_ = std::numeric_limits<std::int64_t>::max(), hi_x_ = std::numeric_limits<std::int64_t>::min();
  std::int64_t lo_y_ = std::numeric_limits<std::int64_t>::max(), hi_y_ = std::numeric_limits<std::int64_t>::min();
};

// Whether a stroke other than curve `ci` passes within `near` of p: a
// stroke ending there ends on it (streets stored piece by piece).
bool touches_another(const StrokeIndex& strokes, std::size_t ci, Point p, double near) {
  bool found = false;
  strokes.grid.visit_box({p.x - near, p.y - near}, {p.x + near, p.y + near}, [&](std::size_t i) {
    if (!found && strokes.stroke_of(i) != ci && point_segment_distance(p, strokes.segment(i)) <= near) found = true;
  });
  return found;
}

// Whether the stretch s0..s1 of curve `ci` runs beside another stroke, a
// band radius r or more from its ends: at every point a step apart some
// other stroke within 2 r runs its way (within kAlong), and the nearest such
// stroke keeps its distance within kSpread x r and does not draw away
// (kDrawApart), and no crowd (kCrowd) runs there. Streets side by side
// do; a stroke drawn back along itself has no other, two strokes leaving an
// acute corner draw apart, and a stroke among many is one band's ink.
bool beside_another(const StrokeIndex& strokes, const CurveWalk& walk, std::size_t ci, double s0, double s1,
                    double step) {
  const double r = strokes.max_reach;
  const double max_cos = std::cos(kAlong);
  double lo = std::numeric_limits<double>::infinity(), hi = 0.0;
  double first_s = 0.0, first_gap = -1.0, last_s = 0.0, last_gap = 0.0;
  std::vector<std::size_t> others;  // strokes running its way near the point
  for (double s = s0 + r; s <= s1 - r; s += step) {
    const Point p = walk.at(s), a = walk.at(s - step), b = walk.at(s + step);
    const double dl = dist(a, b);
    if (!(dl > 0.0)) continue;
    const Point d{(b.x - a.x) / dl, (b.y - a.y) / dl};
    double best = 2.0 * r;
    bool found = false;
    others.clear();
    strokes.grid.visit_box({p.x - 2.0 * r, p.y - 2.0 * r}, {p.x + 2.0 * r, p.y + 2.0 * r}, [&](std::size_t i) {
      const std::size_t stroke = strokes.stroke_of(i);
      if (stroke == ci || others.size() > kCrowd) return;  // a crowd is a crowd whatever else is near
      const Segment seg = strokes.segment(i);
      // Boxes farther than 2 r from p hold nothing within 2 r.
      if (std::min(seg.a.x, seg.b.x) - p.x > 2.0 * r || p.x - std::max(seg.a.x, seg.b.x) > 2.0 * r ||
          std::min(seg.a.y, seg.b.y) - p.y > 2.0 * r || p.y - std::max(seg.a.y, seg.b.y) > 2.0 * r) {
        return;
      }
      const double len = dist(seg.a, seg.b);
      if (!(len > 0.0) || std::fabs((seg.b.x - seg.a.x) * d.x + (seg.b.y - seg.a.y) * d.y) < max_cos * len) return;
      const Point q = nearest_on_segment(p, seg.a, seg.b);
      if (!hypot_within(p.x - q.x, p.y - q.y, 2.0 * r)) return;
      const double gap = dist(p, q);
      // Counted only beside the point, not ahead or behind (the pieces of
      // a street stored piece by piece go on along it).
      if (std::fabs((q.x - p.x) * d.x + (q.y - p.y) * d.y) <= 0.5 * gap &&
          std::find(others.begin(), others.end(), stroke) == others.end()) {
        others.push_back(stroke);
      }
      if (gap <= best) best = gap, found = true;
    });
    if (!found || others.size() > kCrowd) return false;
    lo = std::min(lo, best);
    hi = std::max(hi, best);
    if (hi - lo > kSpread * r) return false;  // it no longer keeps its distance
    if (first_gap < 0.0) first_s = s, first_gap = best;
    last_s = s, last_gap = best;
  }
  return hi - lo <= kSpread * r && std::fabs(last_gap - first_gap) <= kDrawApart * (last_s - first_s);
}

// Whether every stroke within `near` of p is drawn by an added stretch at
// its point nearest p (a line with no stroke that near stands for none).
// `nearest` is a buffer for the strokes found, with their distance and point.
bool strokes_all_added(const StrokeIndex& strokes, const AddedSegments& added, Point p, double near, double on,
                       std::vector<std::pair<std::size_t, std::pair<double, Point>>>& nearest) {
  nearest.clear();
  strokes.grid.visit_box({p.x - near, p.y - near}, {p.x + near, p.y + near}, [&](std::size_t i) {
    const Segment seg = strokes.segment(i);
    const Point q = nearest_on_segment(p, seg.a, seg.b);
    if (!hypot_within(p.x - q.x, p.y - q.y, near)) return;
    const double gap = dist(p, q);
    const std::size_t stroke = strokes.stroke_of(i);
    for (auto& [k, best] : nearest) {
      if (k != stroke) continue;
      if (gap < best.first) best = {gap, q};
      return;
    }
    nearest.push_back({stroke, {gap, q}});
  });
  for (const auto& [k, best] : nearest) {
    if (!added.within(best.second, on)) return false;
  }
  return true;
}

// Drops every path of the graph's own edges (a run through nodes of degree
// 2, its edges among the first `old_edges` and the `split_edges` appended
// when they were split) whose points, but for those within `attach` of
// either end, all lie beside added stretches where every stroke near them
// is drawn by one: the line the skeleton drew midway between strokes now
// drawn each on its own. So does a short branch from a junction out to
// where an added stretch ends free (one of `free_ends`).
void drop_replaced(Graph& graph, std::size_t old_edges, std::size_t split_edges, const StrokeIndex& strokes,
                   const AddedSegments& added, const std::vector<Point>& free_ends, const CoverRules& rules) {
  const std::size_t n = graph.nodes.size(), m = graph.edges.size();
  std::vector<char> own(m, 0);
  for (std::size_t i = 0; i < old_edges; ++i) own[i] = 1;
  for (std::size_t i = m - split_edges; i < m; ++i) own[i] = 1;
  // The edges at each node (a node's run of `at` from first[v], in edge order).
  std::vector<std::size_t> first(n + 1, 0), at(2 * m);
  for (const Edge& e : graph.edges) ++first[e.first + 1], ++first[e.second + 1];
  for (std::size_t v = 0; v < n; ++v) first[v + 1] += first[v];
  {
    std::vector<std::size_t> fill(first.begin(), first.end() - 1);
    for (std::size_t i = 0; i < m; ++i) at[fill[graph.edges[i].first]++] = i, at[fill[graph.edges[i].second]++] = i;
  }
  auto degree = [&](NodeId v) { return first[v + 1] - first[v]; };
  std::vector<std::pair<std::size_t, std::pair<double, Point>>> nearest;
  std::vector<char> seen(m, 0), gone(m, 0);
  std::vector<std::size_t> path;
  std::vector<Point> points;
  for (std::size_t start = 0; start < m; ++start) {
    if (!own[start] || seen[start]) continue;
    // The run through degree-2 nodes along own edges, both ways from `start`.
    path.assign(1, start);
    seen[start] = 1;
    NodeId ends[2] = {graph.edges[start].first, graph.edges[start].second};
    for (int side = 0; side < 2; ++side) {
      std::size_t edge = start;
      NodeId v = side == 0 ? graph.edges[start].second : graph.edges[start].first;
      while (degree(v) == 2) {
        const std::size_t next = at[first[v]] == edge ? at[first[v] + 1] : at[first[v]];
        if (!own[next] || seen[next]) break;
        seen[next] = 1;
        path.push_back(next);
        v = graph.edges[next].first == v ? graph.edges[next].second : graph.edges[next].first;
        edge = next;
      }
      ends[side] = v;
    }
    double length = 0.0;
    for (std::size_t e : path) length += dist(graph.nodes[graph.edges[e].first], graph.nodes[graph.edges[e].second]);
    // A short branch of the skeleton out to where an added stretch ends
    // free: the band's end of that stroke, now drawn by the stretch.
    bool branch = false;
    for (int side = 0; side < 2 && !branch; ++side) {
      if (degree(ends[side]) != 1 || degree(ends[1 - side]) < 3) continue;
      if (!(length <= kFreeTail * strokes.max_reach)) continue;
      for (const Point& q : free_ends) branch = branch || dist(q, graph.nodes[ends[side]]) <= rules.attach;
    }
    if (branch) {
      for (std::size_t e : path) gone[e] = 1;
      continue;
    }
    // Its points: every edge's ends and points a step apart between.
    if (!(length > 2.0 * rules.attach)) continue;
    bool replaced = true;
    std::size_t tested = 0;
    for (std::size_t e : path) {
      const Point a = graph.nodes[graph.edges[e].first], b = graph.nodes[graph.edges[e].second];
      const double len = dist(a, b);
      if (!(len > 0.0)) continue;
      const auto pieces = static_cast<std::size_t>(std::min(std::ceil(len / rules.step), 1.0e6));
      for (std::size_t k = 0; k <= pieces && replaced; ++k) {
        const Point p = lerp(a, b, pieces > 0 ? static_cast<double>(k) / static_cast<double>(pieces) : 0.0);
        const Point e0 = graph.nodes[ends[0]], e1 = graph.nodes[ends[1]];
        if (hypot_below(p.x - e0.x, p.y - e0.y, rules.attach) || hypot_below(p.x - e1.x, p.y - e1.y, rules.attach)) {
          continue;
        }
        ++tested;
        replaced = added.within(p, kBesideAdded * rules.attach) &&
                   strokes_all_added(strokes, added, p, kNearLine * rules.cover, 0.1 * rules.cover, nearest);
      }
      if (!replaced) break;
    }
    if (!replaced || tested == 0) continue;
    for (std::size_t e : path) gone[e] = 1;
  }
  std::size_t kept = 0;
  for (std::size_t i = 0; i < m; ++i) {
    if (!gone[i]) graph.edges[kept++] = graph.edges[i];
  }
  graph.edges.resize(kept);
}

}  // namespace

Graph add_uncovered_strokes(Graph graph, const StrokeIndex& strokes, const CoverRules& rules) {
  if (strokes.curves == nullptr || graph.edges.empty() || !(rules.step > 0.0) || !(rules.cover > 0.0) ||
      !(rules.min_length > 0.0)) {
    return graph;
  }
  const std::vector<Polyline>& curves = *strokes.curves;
  const std::size_t old_edges = graph.edges.size();
  // The graph's own edges as they are before any is added or split.
  std::vector<Segment> edge_segments(old_edges);
  for (std::size_t i = 0; i < old_edges; ++i) {
    edge_segments[i] = {graph.nodes[graph.edges[i].first], graph.nodes[graph.edges[i].second]};
  }
  auto edge_segment = [&](std::size_t i) { return edge_segments[i]; };
  const double reach = std::max(rules.cover, rules.attach) * 2.0;
  const CellIndex grid(edge_segments, 2.0 * rules.cover);
  // The edges at each node, in one run per node (from at_first[v]).
  std::vector<std::size_t> at_first(graph.nodes.size() + 1, 0), at_edge(2 * old_edges);
  for (const Edge& e : graph.edges) ++at_first[e.first + 1], ++at_first[e.second + 1];
  for (std::size_t v = 0; v + 1 < at_first.size(); ++v) at_first[v + 1] += at_first[v];
  {
    std::vector<std::size_t> fill(at_first.begin(), at_first.end() - 1);
    for (std::size_t i = 0; i < old_edges; ++i) {
      at_edge[fill[graph.edges[i].first]++] = i, at_edge[fill[graph.edges[i].second]++] = i;
    }
  }
  // Whether an edge of the graph passes within `within` of p (squared
  // distances, the first such edge ends the search). The edge found last,
  // and then those sharing a node with it, are asked first: along a stroke
  // the graph's line beside it mostly stays near. They answer alone only
  // well inside `within` (and where coordinates leave the reach far above
  // their rounding), where the grid surely lists them too.
  auto near_graph = [&](Point p, double within, std::size_t& last_near) {
    const double w2 = within * within;
    auto gap2 = [&](std::size_t i) {
      const Segment s = edge_segment(i);
      const Point q = nearest_on_segment(p, s.a, s.b);
      return (q.x - p.x) * (q.x - p.x) + (q.y - p.y) * (q.y - p.y);
    };
    if (last_near < old_edges && within > 1e-9 * (std::fabs(p.x) + std::fabs(p.y))) {
      if (gap2(last_near) < 0.81 * w2) return true;
      for (const NodeId v : {graph.edges[last_near].first, graph.edges[last_near].second}) {
        for (std::size_t k = at_first[v]; k < at_first[v + 1]; ++k) {
          if (at_edge[k] != last_near && gap2(at_edge[k]) < 0.81 * w2) {
            last_near = at_edge[k];
            return true;
          }
        }
      }
    }
    bool found = false;
    grid.visit_box({p.x - within, p.y - within}, {p.x + within, p.y + within}, [&](std::size_t i) {
      if (found) return;
      found = gap2(i) < w2;
      if (found) last_near = i;
    });
    return found;
  };

  std::vector<std::uint32_t> degree(graph.nodes.size(), 0);
  for (const Edge& e : graph.edges) ++degree[e.first], ++degree[e.second];
  std::vector<NodeId> junctions;
  for (std::size_t v = 0; v < degree.size(); ++v) {
    if (degree[v] >= 3) junctions.push_back(static_cast<NodeId>(v));
  }
  std::vector<Segment> junction_points(junctions.size());
  for (std::size_t k = 0; k < junctions.size(); ++k) junction_points[k] = {graph.nodes[junctions[k]], graph.nodes[junctions[k]]};
  const CellIndex junction_grid(junction_points, reach);
  // The first junction of the graph within `cover` of the stroke going on
  // from arc length `from` towards `to` (within kFreeTail band radii): the
  // place where the stroke meets the graph, with the arc length there.
  auto junction_along = [&](const CurveWalk& walk, double from, double to) -> std::optional<std::pair<double, NodeId>> {
    const double dir = to < from ? -1.0 : 1.0;
    for (double t = 0.0; t <= std::fabs(to - from); t += rules.step) {
      const Point p = walk.at(from + dir * t);
      double near = rules.cover;
      std::size_t found = junctions.size();
      junction_grid.visit_box({p.x - near, p.y - near}, {p.x + near, p.y + near}, [&](std::size_t k) {
        const double d = dist(p, graph.nodes[junctions[k]]);
        if (d < near || (d == near && k < found)) near = d, found = k;
      });
      if (found < junctions.size()) return std::make_pair(from + dir * t, junctions[found]);
    }
    return std::nullopt;
  };
  AddedSegments added(reach);
  std::vector<Split> splits;

  // Joins stroke point p to the graph near it: a new node splitting the
  // nearest edge at its point nearest p (the graph's own inner points lie
  // wherever the skeleton put them; meetings close together become one
  // node below).
  auto join = [&](Point p) -> std::optional<NodeId> {
    double best = reach;
    std::size_t edge = old_edges;
    grid.visit_box({p.x - reach, p.y - reach}, {p.x + reach, p.y + reach}, [&](std::size_t i) {
      const double d = point_segment_distance(p, edge_segment(i));
      if (d < best || (d == best && i < edge)) best = d, edge = i;
    });
    if (edge == old_edges) return std::nullopt;
    const Segment s = edge_segment(edge);
    const double t = nearest_param(p, s.a, s.b);
    const Point x = lerp(s.a, s.b, t);
    const auto node = static_cast<NodeId>(graph.nodes.size());
    graph.nodes.push_back(x);
    splits.push_back({edge, t, node});
    return node;
  };

  // Per stroke read, whether each of its samples lies farther than `cover`
  // from the graph's own edges; left empty where none does. The graph is
  // only read here, so the strokes are read on the pool, each range with its
  // own last edge found.
  auto sample_count = [&](double length) {
    return static_cast<std::size_t>(std::min(std::ceil(length / rules.step), 1.0e7));
  };
  std::vector<std::vector<char>> off_graph(curves.size());
  parallel_ranges(curves.size(), kStrokesPerTask, [&](std::size_t begin, std::size_t end) {
    std::size_t last_near = old_edges;
    for (std::size_t ci = begin; ci < end; ++ci) {
      checkpoint();
      const Polyline& c = curves[ci];
      if (c.size() < 2 || (!strokes.first.empty() && strokes.first[ci] != ci)) continue;
      const CurveWalk walk(c);
      const double length = walk.length();
      if (!(length >= rules.min_length) || !std::isfinite(length)) continue;
      const std::size_t count = sample_count(length);
      std::vector<char> far(count + 1, 0);
      bool any = false;
      // The samples' arc lengths only grow: the first point beyond each is
      // found walking on from the last one's.
      std::size_t beyond = 0;
      for (std::size_t k = 0; k <= count; ++k) {
        const double s = length * static_cast<double>(k) / static_cast<double>(count);
        while (beyond < c.size() && walk.run[beyond] <= s) ++beyond;
        far[k] = !near_graph(walk.at_after(s, std::clamp<std::size_t>(beyond, 1, c.size() - 1)), rules.cover,
                             last_near);
        any = any || far[k];
      }
      if (any) off_graph[ci] = std::move(far);
    }
  });

  std::vector<Point> path;
  std::map<std::pair<double, double>, NodeId> ends;  // stroke ends where stretches end
  std::vector<Point> free_ends;  // of the added stretches
  for (std::size_t ci = 0; ci < curves.size(); ++ci) {
    if (off_graph[ci].empty()) continue;
    checkpoint();
    const Polyline& c = curves[ci];
    const CurveWalk walk(c);
    const double length = walk.length();
    const std::size_t count = sample_count(length);
    // Far from the graph, and from the stretches added so far.
    std::vector<char> far = std::move(off_graph[ci]);
    for (std::size_t k = 0; k <= count; ++k) {
      if (far[k]) far[k] = !added.within(walk.at(length * static_cast<double>(k) / static_cast<double>(count)),
                                         rules.cover, true);
    }
    for (std::size_t k = 0; k <= count;) {
      if (!far[k]) {
        ++k;
        continue;
      }
      std::size_t j = k;
      while (j + 1 <= count && far[j + 1]) ++j;
      double s0 = length * static_cast<double>(k) / static_cast<double>(count);
      double s1 = length * static_cast<double>(j) / static_cast<double>(count);
      const std::size_t next = j + 1;
      if (s1 - s0 < rules.min_length || !beside_another(strokes, walk, ci, s0, s1, rules.step)) {
        k = next;
        continue;
      }
      // A stretch that comes back to the graph only where the band ends
      // (strokes side by side ending together, the skeleton's end between
      // them) runs on to the stroke's free end.
      const double tail_reach = kFreeTail * strokes.max_reach;
      bool from_end = k == 0, to_end = j == count;
      if (!from_end && s0 <= tail_reach && !touches_another(strokes, ci, c.front(), rules.cover)) {
        s0 = 0.0, from_end = true;
      }
      if (!to_end && length - s1 <= tail_reach && !touches_another(strokes, ci, c.back(), rules.cover)) {
        s1 = length, to_end = true;
      }
      // Where a junction lies on the stroke a little on, the stretch runs
      // on to it: the stroke meets the graph there.
      std::optional<NodeId> head_at, tail_at;
      if (!from_end) {
        if (const auto j0 = junction_along(walk, s0, std::max(0.0, s0 - tail_reach))) s0 = j0->first, head_at = j0->second;
      }
      if (!to_end) {
        if (const auto j1 = junction_along(walk, s1, std::min(length, s1 + tail_reach))) s1 = j1->first, tail_at = j1->second;
      }
      // The stretch from s0 to s1 along the stroke's own points.
      path.clear();
      path.push_back(walk.at(s0));
      for (std::size_t v = walk.after(s0); v < c.size() && walk.run[v] < s1; ++v) {
        if (walk.run[v] > s0) path.push_back(c[v]);
      }
      path.push_back(walk.at(s1));
      path.erase(std::unique(path.begin(), path.end()), path.end());
      // Its ends: joined to the graph where the stroke goes on near it.
      // At a stroke's end: the node an earlier stretch left there (streets
      // stored piece by piece), or the graph within reach where another
      // stroke meets that end, or else a free end.
      auto end_node = [&](Point p) -> std::optional<NodeId> {
        const auto it = ends.find({p.x, p.y});
        if (it != ends.end()) return it->second;
        return touches_another(strokes, ci, p, rules.cover) ? join(p) : std::nullopt;
      };
      const std::optional<NodeId> head = from_end ? end_node(c.front()) : head_at ? head_at : join(walk.at(s0));
      const std::optional<NodeId> tail = to_end ? end_node(c.back()) : tail_at ? tail_at : join(walk.at(s1));
      // Nodes along it, with those where it crosses an edge of the graph.
      NodeId prev = head ? *head : static_cast<NodeId>(graph.nodes.size());
      if (!head) graph.nodes.push_back(path.front()), free_ends.push_back(path.front());
      auto link = [&](NodeId a, NodeId b) {
        if (a == b) return;
        graph.edges.push_back({a, b});
      };
      if (head) {
        const auto node = static_cast<NodeId>(graph.nodes.size());
        graph.nodes.push_back(path.front());
        link(prev, node);
        prev = node;
      }
      if (from_end) ends.insert({{c.front().x, c.front().y}, head ? *head : prev});
      for (std::size_t v = 1; v < path.size(); ++v) {
        const Point a = path[v - 1], b = path[v];
        // Edges it crosses, in order along a-b.
        std::vector<std::pair<double, std::pair<std::size_t, double>>> cuts;
        grid.visit_box({std::min(a.x, b.x), std::min(a.y, b.y)}, {std::max(a.x, b.x), std::max(a.y, b.y)},
                       [&](std::size_t i) {
                         const Segment s = edge_segment(i);
                         if (const auto x = crossing(a, b, s.a, s.b)) cuts.push_back({x->first, {i, x->second}});
                       });
        std::sort(cuts.begin(), cuts.end());
        cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
        for (const auto& [t, at] : cuts) {
          // A crossing by a junction of the graph (where strokes meet) goes
          // through that junction; near a free end of the stroke it
          // is the skeleton's end fanning out where bands end together, and
          // no meeting.
          const Point x = lerp(a, b, t);
          if ((from_end && !head && dist(x, c.front()) <= tail_reach) ||
              (to_end && !tail && dist(x, c.back()) <= tail_reach)) {
            continue;
          }
          const Edge e = graph.edges[at.first];
          NodeId node = static_cast<NodeId>(graph.nodes.size());
          if (degree[e.first] >= 3 && dist(x, graph.nodes[e.first]) <= rules.cover) {
            node = e.first;
          } else if (degree[e.second] >= 3 && dist(x, graph.nodes[e.second]) <= rules.cover) {
            node = e.second;
          } else {
            graph.nodes.push_back(x);
            splits.push_back({at.first, at.second, node});
          }
          link(prev, node);
          prev = node;
        }
        const auto node = static_cast<NodeId>(graph.nodes.size());
        graph.nodes.push_back(b);
        link(prev, node);
        prev = node;
        added.add({a, b});
      }
      if (tail) link(prev, *tail);
      if (to_end) ends.insert({{c.back().x, c.back().y}, tail ? *tail : prev});
      if (!tail) free_ends.push_back(path.back());
      k = next;
    }
  }
  // Edges split where added stretches meet them, in order along each.
  std::stable_sort(splits.begin(), splits.end(), [](const Split& x, const Split& y) {
    return x.edge != y.edge ? x.edge < y.edge : x.t < y.t;
  });
  // Meetings closer than `cover` along an edge, or to a junction that ends
  // it, are one node: the first (or the junction).
  std::vector<NodeId> alias(graph.nodes.size());
  for (std::size_t v = 0; v < alias.size(); ++v) alias[v] = static_cast<NodeId>(v);
  const std::size_t before_splits = graph.edges.size();
  for (std::size_t s = 0; s < splits.size();) {
    std::size_t e = s;
    while (e < splits.size() && splits[e].edge == splits[s].edge) ++e;
    const std::size_t edge = splits[s].edge;
    const NodeId first = graph.edges[edge].first, last = graph.edges[edge].second;
    NodeId from = first;
    std::vector<NodeId> chain{first};
    for (std::size_t k = s; k < e; ++k) {
      const NodeId v = splits[k].node;
      if (dist(graph.nodes[v], graph.nodes[from]) <= rules.cover && (from != first || degree[first] >= 3)) {
        alias[v] = from;
        continue;
      }
      chain.push_back(v);
      from = v;
    }
    if (chain.size() > 1 && degree[last] >= 3 && dist(graph.nodes[chain.back()], graph.nodes[last]) <= rules.cover) {
      alias[chain.back()] = last;
      chain.pop_back();
    }
    chain.push_back(last);
    graph.edges[edge] = {chain[0], chain[1]};
    for (std::size_t k = 2; k < chain.size(); ++k) graph.edges.push_back({chain[k - 1], chain[k]});
    s = e;
  }
  const std::size_t split_edges = graph.edges.size() - before_splits;
  for (Edge& e : graph.edges) e = {alias[e.first], alias[e.second]};
  // With nothing added, no line of the graph is replaced.
  if (!added.empty() || !free_ends.empty()) drop_replaced(graph, old_edges, split_edges, strokes, added, free_ends, rules);
  std::erase_if(graph.edges, [](const Edge& e) { return e.first == e.second; });
  return graph;
}

}  // namespace strokegraph
