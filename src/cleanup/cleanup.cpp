#include "cleanup/cleanup.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "common/errors.h"
#include "common/flat_map.h"
#include "graph/graph_util.h"
#include "pipeline/pool.h"

namespace strokegraph {
namespace {

using graph_detail::distance;
using graph_detail::pair_key;

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
// Nodes and chains per task where a stage runs on the worker pool.
constexpr std::size_t kNodesPerTask = 16384;
constexpr std::size_t kChainsPerTask = 2048;
constexpr std::size_t kEdgesPerTask = 65536;
// Duplicate edges are looked for in up to this many shards, one per this
// many edges.
constexpr std::size_t kMaxShards = 8;
constexpr std::size_t kEdgesPerShard = 262144;

// Per node, the indices of its edges in edge-list order (32-bit: a graph of
// more than two billion edges would not fit in memory anyway).
struct Incidence {
  std::vector<std::uint32_t> offset;
  std::vector<std::uint32_t> edge;
  explicit Incidence(const Graph& g) : offset(g.nodes.size() + 1, 0) {
    if (g.edges.size() > std::numeric_limits<std::uint32_t>::max() / 2) {
      throw MemoryLimitError("clean-up: too many skeleton edges");
    }
    for (const Edge& e : g.edges) {
      ++offset[e.first + 1];
      ++offset[e.second + 1];
    }
    for (std::size_t v = 0; v < g.nodes.size(); ++v) offset[v + 1] += offset[v];
    edge.resize(offset.back());
    std::vector<std::uint32_t> fill(offset.begin(), offset.end() - 1);
    for (std::size_t i = 0; i < g.edges.size(); ++i) {
      edge[fill[g.edges[i].first]++] = static_cast<std::uint32_t>(i);
      edge[fill[g.edges[i].second]++] = static_cast<std::uint32_t>(i);
    }
  }
};

using graph_detail::other_end;

NodeId find_root(std::vector<NodeId>& parent, NodeId v) {
  while (parent[v] != v) {
    parent[v] = parent[parent[v]];
    v = parent[v];
  }
  return v;
}

// The graph with every node replaced by its root and the removed nodes gone,
// compacted (nodes without edges dropped, the rest renumbered in ascending
// order); edges keep their order, duplicates go. A group hangs off its
// smallest node (parent[v] <= v). A node's position is its
// entry of `moved` (sorted by node, one entry each) or else its own; a root
// takes the mean of its group's positions when `average` is set, and the
// largest clearance of its group. The graph's nodes are freed on the way.
Graph collapse(Graph& graph, std::vector<NodeId>& parent, const std::vector<char>& removed,
               const std::vector<std::pair<NodeId, Point>>& moved, std::vector<double>& clearance,
               bool average) {
  const std::size_t n = graph.nodes.size();
  // Parents come before their children: one pass in node order points every
  // node at its root.
  for (std::size_t v = 0; v < n; ++v) parent[v] = parent[parent[v]];
  // The members of merged groups as (root, node), in node order within each
  // root: few, so the groups need no arrays over all nodes.
  std::vector<std::pair<NodeId, NodeId>> members;
  for (std::size_t v = 0; v < n; ++v) {
    if (parent[v] != v) members.push_back({parent[v], static_cast<NodeId>(v)});
  }
  std::stable_sort(members.begin(), members.end(),
                   [](const auto& x, const auto& y) { return x.first < y.first; });
  auto moved_at = moved.begin();
  auto position_of = [&](NodeId v) {
    while (moved_at != moved.end() && moved_at->first < v) ++moved_at;
    return moved_at != moved.end() && moved_at->first == v ? moved_at->second : graph.nodes[v];
  };
  std::vector<char> kept(n, 0);
  for (const auto& [a, b] : graph.edges) {
    if (removed[a] || removed[b]) continue;
    kept[parent[a]] = 1;
    kept[parent[b]] = 1;
  }
  std::vector<NodeId> rank(n, 0);
  Graph out;
  std::vector<double> out_clearance;
  const auto survivors = static_cast<std::size_t>(std::count(kept.begin(), kept.end(), 1));
  out.nodes.reserve(survivors);
  out_clearance.reserve(survivors);
  std::size_t m = 0;  // the first member of a root not below v
  for (std::size_t v = 0; v < n; ++v) {
    while (m < members.size() && members[m].first < v) ++m;
    if (!kept[v]) continue;
    Point p = position_of(static_cast<NodeId>(v));
    double clear = clearance[v];
    std::uint32_t count = 1;
    for (std::size_t k = m; k < members.size() && members[k].first == v; ++k) {
      const NodeId u = members[k].second;
      if (average) {
        p.x += graph.nodes[u].x;
        p.y += graph.nodes[u].y;
        ++count;
      }
      clear = std::max(clear, clearance[u]);
    }
    if (count > 1) {
      const double c = static_cast<double>(count);
      p = {p.x / c, p.y / c};
    }
    rank[v] = static_cast<NodeId>(out.nodes.size());
    out.nodes.push_back(p);
    out_clearance.push_back(clear);
  }
  std::vector<Point>().swap(graph.nodes);
  members = {};
  kept = {};
  // Every edge renumbered, or marked gone when removed or inside a group.
  const std::size_t edge_count = graph.edges.size();
  constexpr NodeId kGone = std::numeric_limits<NodeId>::max();
  out.edges.resize(edge_count);
  parallel_ranges(edge_count, kEdgesPerTask, [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
      const auto [a, b] = graph.edges[i];
      const NodeId ra = parent[a], rb = parent[b];
      out.edges[i] = removed[a] || removed[b] || ra == rb ? Edge{kGone, kGone} : Edge{rank[ra], rank[rb]};
    }
  });
  // Of equal edges the first stays. Edges are split by their smaller end
  // into shards, each scanning all edges in order for its own with its own
  // set: the same first ones for any number of shards.
  const std::size_t nodes = out.nodes.size();
  const std::size_t shards = std::clamp<std::size_t>(edge_count / kEdgesPerShard, 1, kMaxShards);
  std::vector<char> first(edge_count, 0);
  parallel_for(
      shards,
      [&](std::size_t k) {
        const std::size_t lo = nodes * k / shards, hi = nodes * (k + 1) / shards;
        graph_detail::PairSet seen(edge_count / shards);
        for (std::size_t i = 0; i < edge_count; ++i) {
          const auto [a, b] = out.edges[i];
          const NodeId low = std::min(a, b);
          if (a == kGone || low < lo || low >= hi) continue;
          first[i] = seen.insert(pair_key(a, b));
        }
      },
      true);
  std::size_t kept_edges = 0;
  for (std::size_t i = 0; i < edge_count; ++i) {
    if (first[i]) out.edges[kept_edges++] = out.edges[i];
  }
  out.edges.resize(kept_edges);
  clearance = std::move(out_clearance);
  return out;
}

}  // namespace

SegmentGrid boundary_grid(const std::vector<BufferPolygon>& polygons, double cell) {
  std::vector<Segment> edges;
  auto add_ring = [&](const Ring& ring) {
    for (std::size_t k = 0; k < ring.size(); ++k) {
      edges.push_back({ring[k], ring[k + 1 == ring.size() ? 0 : k + 1]});
    }
  };
  for (const BufferPolygon& polygon : polygons) {
    add_ring(polygon.outer);
    for (const Ring& hole : polygon.holes) add_ring(hole);
  }
  return SegmentGrid(std::move(edges), cell);
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

Graph remove_spurs(Graph graph, const std::vector<double>& clearance, const SpurRules& rules) {
  graph_detail::check_edges(graph, "remove_spurs");
  if (clearance.size() != graph.nodes.size()) {
    throw InvariantError("remove_spurs: one clearance per node expected");
  }
  const std::vector<Edge>& edges = graph.edges;
  const std::size_t n = graph.nodes.size();
  const Incidence inc(graph);
  std::vector<char> alive(edges.size(), 1);
  std::vector<std::uint32_t> degree(n, 0);
  for (const Edge& e : edges) ++degree[e.first], ++degree[e.second];

  // The first alive edge of `cur` other than `from`.
  auto next_edge = [&](NodeId cur, std::size_t from) {
    for (std::size_t k = inc.offset[cur]; k < inc.offset[cur + 1]; ++k) {
      const std::size_t i = inc.edge[k];
      if (alive[i] && i != from) return i;
    }
    return kNone;
  };
  auto near_stroke_end = [&](Point p) {
    return rules.stroke_ends == nullptr ||
           rules.stroke_ends->distance_within(p, rules.end_distance) < rules.end_distance;
  };

  struct Walk {
    NodeId tip, far;
    double length;
    std::size_t part;        // the range of tips it was found in
    std::size_t begin, end;  // edges in that range's `paths`
    bool doomed;
    bool corner;  // strokes meet at the tip: the junction moves there
    bool overshoot = false;  // the junction moves to `at`, the strokes' corner
    Point at{};
  };
  // The walks of a range of tips, with their edges.
  struct Walks {
    std::vector<Walk> walks;
    std::vector<std::uint32_t> paths;
  };
  std::vector<Walk> walks;
  std::vector<Walks> parts;
  // Walk indices + 1 fit: there are fewer walks than nodes, and node ids are
  // 32-bit.
  std::vector<std::uint32_t> frozen, tips_at(n, 0), first_tip(n, 0);
  std::vector<std::pair<NodeId, Point>> corners;  // junctions moved to a corner, in order
  // Two strokes meeting at an angle at the tip and half-way along the
  // branch: the branch runs inside both bands, where two strokes drawn to one
  // corner overlap.
  auto strokes_meet_along = [&](const Walk& w, const std::vector<std::uint32_t>& path) {
    if (rules.strokes == nullptr || !strokes_meet_at(*rules.strokes, graph.nodes[w.tip], rules.meet_angle)) {
      return false;
    }
    double run = 0.0;
    NodeId cur = w.tip;
    for (std::size_t k = w.begin; k < w.end; ++k) {
      const NodeId next = other_end(edges[path[k]], cur);
      run += distance(graph.nodes[cur], graph.nodes[next]);
      cur = next;
      if (run >= 0.5 * w.length) break;
    }
    return strokes_meet_at(*rules.strokes, graph.nodes[cur], rules.meet_angle);
  };
  // The walks from the tips in [begin, end) to the next node not of degree
  // 2, each judged on its own: it reads the graph and the frozen degrees only.
  auto walk_tips = [&](std::size_t begin, std::size_t end, Walks& found) {
    for (std::size_t j = begin; j < end; ++j) {
      if (frozen[j] != 1) continue;
      std::vector<std::uint32_t>& path = found.paths;
      Walk w{static_cast<NodeId>(j), static_cast<NodeId>(j), 0.0, begin / kNodesPerTask, path.size(), path.size(),
             false, false};
      auto cur = static_cast<NodeId>(j);
      std::size_t from = kNone;
      for (;;) {
        const std::size_t i = next_edge(cur, from);
        if (i == kNone) break;
        path.push_back(static_cast<std::uint32_t>(i));
        w.far = other_end(edges[i], cur);
        w.length += distance(graph.nodes[cur], graph.nodes[w.far]);
        if (frozen[w.far] != 2 || path.size() - w.begin > edges.size()) break;
        from = i;
        cur = w.far;
      }
      w.end = path.size();
      if (w.end == w.begin) continue;
      if (frozen[w.far] >= 3) {
        const double c = clearance[w.far];
        // An overshoot first: its junction moves to the corner, which the
        // skeleton cuts.
        if (w.length < rules.overshoot_length && rules.strokes != nullptr) {
          if (const auto at = overshoots_at(*rules.strokes, graph.nodes[j], rules.end_distance,
                                            rules.overshoot_reach, rules.meet_angle)) {
            w.doomed = w.overshoot = true;
            w.at = *at;
          }
        }
        if (!w.doomed) w.doomed = w.length < rules.factor * c;
        if (!w.doomed && w.length < rules.corner_factor * c) {
          w.doomed = w.corner = !near_stroke_end(graph.nodes[j]) || strokes_meet_along(w, path);
        }
      } else if (frozen[w.far] == 1) {
        w.doomed = w.length < rules.isolated_length;
      }
      found.walks.push_back(w);
    }
  };
  bool removed = true;
  while (removed) {
    removed = false;
    frozen = degree;
    walks.clear();
    parts = parallel_parts<Walks>(n, kNodesPerTask, walk_tips);
    for (Walks& part : parts) {
      for (const Walk& w : part.walks) {
        if (frozen[w.far] >= 3) ++tips_at[w.far];
        walks.push_back(w);
      }
      part.walks = {};
    }
    // A fork of exactly two short tips on a node of degree 3: a square cap's
    // corners; both go and the fork becomes the free end.
    // The first tip of each fork is remembered at the fork (as its index
    // + 1) until the second one comes.
    for (std::size_t k = 0; k < walks.size(); ++k) {
      Walk& w = walks[k];
      if (frozen[w.far] != 3 || tips_at[w.far] != 2) continue;
      if (first_tip[w.far] == 0) {
        first_tip[w.far] = static_cast<std::uint32_t>(k + 1);
        continue;
      }
      Walk& u = walks[first_tip[w.far] - 1];
      const double fork = rules.fork_factor * std::max(clearance[w.far], rules.fork_clearance);
      if (w.length < fork && u.length < fork) w.doomed = u.doomed = true;
    }
    for (const Walk& w : walks) {
      tips_at[w.far] = 0;
      first_tip[w.far] = 0;
      if (!w.doomed) continue;
      if (w.corner) corners.push_back({w.far, graph.nodes[w.tip]});
      if (w.overshoot) corners.push_back({w.far, w.at});
      for (std::size_t k = w.begin; k < w.end; ++k) {
        const std::size_t i = parts[w.part].paths[k];
        if (!alive[i]) continue;
        alive[i] = 0;
        --degree[edges[i].first];
        --degree[edges[i].second];
      }
      removed = true;
    }
  }

  for (const auto& [v, p] : corners) graph.nodes[v] = p;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < graph.edges.size(); ++i) {
    if (alive[i]) graph.edges[kept++] = graph.edges[i];
  }
  graph.edges.resize(kept);
  return graph;
}

Graph merge_crossings(Graph graph, std::vector<double>& clearance, double factor,
                      const SegmentGrid& boundary, double min_waist) {
  graph_detail::check_edges(graph, "merge_crossings");
  const std::size_t n = graph.nodes.size();
  if (clearance.size() != n) throw InvariantError("merge_crossings: one clearance per node expected");
  graph_detail::Adjacency adj = graph_detail::build_adjacency(graph);

  struct Link {
    double length;
    NodeId start, end;
    std::size_t begin, stop;  // walked nodes in `paths`
    std::uint64_t key;        // names the link: found twice, it counts once
  };
  struct Links {
    std::vector<Link> links;
    std::vector<NodeId> paths;
  };
  // The links short enough to merge from the junctions in [begin, end), in
  // order; every walk reads the graph only.
  auto find_links = [&](std::size_t begin, std::size_t end, Links& found) {
    std::vector<NodeId> walk;
    for (std::size_t jj = begin; jj < end; ++jj) {
      const auto j = static_cast<NodeId>(jj);
      if (adj.degree(j) < 3) continue;
      for (const NodeId* it = adj.begin(j); it != adj.end(j); ++it) {
        walk.assign(1, j);
        NodeId prev = j, cur = *it;
        double length = 0.0;
        for (;;) {
          walk.push_back(cur);
          length += distance(graph.nodes[prev], graph.nodes[cur]);
          if (adj.degree(cur) != 2 || walk.size() > graph.edges.size() + 1) break;
          const NodeId next = adj.begin(cur)[0] == prev ? adj.begin(cur)[1] : adj.begin(cur)[0];
          prev = cur;
          cur = next;
        }
        const NodeId e = walk.back();
        if (adj.degree(e) < 3) continue;
        const double limit = e == j ? 2.0 * factor * clearance[j] : factor * (clearance[j] + clearance[e]);
        if (!(length <= limit)) continue;
        // A link that narrows in its middle is a bar between two strokes.
        if (e != j && min_waist > 0.0) {
          double run = 0.0;
          std::size_t k = 1;
          for (; k + 1 < walk.size(); ++k) {
            run += distance(graph.nodes[walk[k - 1]], graph.nodes[walk[k]]);
            if (run >= 0.5 * length) break;
          }
          const double need = min_waist * std::min(clearance[j], clearance[e]);
          if (boundary.distance_within(graph.nodes[walk[std::min(k, walk.size() - 1)]], need) < need) continue;
        }
        // A loop is found from both of its ends; its first inner nodes name it.
        constexpr std::uint64_t kLoop = std::uint64_t{1} << 63;
        const std::uint64_t key = e == j ? pair_key(walk[1], walk[walk.size() - 2]) | kLoop : pair_key(j, e);
        found.links.push_back({length, j, e, found.paths.size(), found.paths.size() + walk.size(), key});
        found.paths.insert(found.paths.end(), walk.begin(), walk.end());
      }
    }
  };
  std::vector<Link> links;
  std::vector<NodeId> paths;
  graph_detail::PairSet taken;
  for (Links& part : parallel_parts<Links>(n, kNodesPerTask, find_links)) {
    for (const Link& l : part.links) {
      if (!taken.insert(l.key)) continue;
      links.push_back({l.length, l.start, l.end, paths.size(), paths.size() + (l.stop - l.begin), l.key});
      paths.insert(paths.end(), part.paths.begin() + static_cast<std::ptrdiff_t>(l.begin),
                   part.paths.begin() + static_cast<std::ptrdiff_t>(l.stop));
    }
  }
  std::stable_sort(links.begin(), links.end(),
                   [](const Link& a, const Link& b) { return a.length < b.length; });
  adj = {};

  std::vector<NodeId> parent(n);
  for (std::size_t v = 0; v < n; ++v) parent[v] = static_cast<NodeId>(v);
  std::vector<char> removed(n, 0);
  for (const Link& l : links) {
    // A short loop, or a second link between junctions already merged (it
    // would become one), loses its inner nodes; a direct edge between merged
    // junctions collapses on its own.
    const NodeId ra = find_root(parent, l.start), rb = find_root(parent, l.end);
    if (ra != rb) parent[std::max(ra, rb)] = std::min(ra, rb);
    for (std::size_t k = l.begin + 1; k + 1 < l.stop; ++k) removed[paths[k]] = 1;
  }

  return collapse(graph, parent, removed, {}, clearance, true);
}

namespace {

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

Point point_along(const std::vector<Point>& pts, double at) {
  double run = 0.0;
  for (std::size_t k = 1; k < pts.size(); ++k) {
    const double step = distance(pts[k - 1], pts[k]);
    if (run + step >= at && step > 0.0) {
      const double t = (at - run) / step;
      return {pts[k - 1].x + (pts[k].x - pts[k - 1].x) * t, pts[k - 1].y + (pts[k].y - pts[k - 1].y) * t};
    }
    run += step;
  }
  return pts.back();
}

double line_distance(Point p, Point a, Point b) {
  const double dx = b.x - a.x, dy = b.y - a.y;
  const double len = std::hypot(dx, dy);
  if (!(len > 0.0)) return distance(p, a);
  return std::fabs((p.x - a.x) * dy - (p.y - a.y) * dx) / len;
}

}  // namespace

Graph merge_straight_crossings(Graph graph, std::vector<double>& clearance, double radius,
                               double link_factor, double max_turn) {
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
  // The split crossings found from the junctions in [begin, end), in order;
  // each reads the graph only.
  auto find_merges = [&](std::size_t begin, std::size_t end, Merges& found) {
    std::vector<NodeId> inner;
    std::vector<Point> pts;
    std::vector<Arm> arms_a, arms_b;
    for (std::size_t jj = begin; jj < end; ++jj) {
      const auto j = static_cast<NodeId>(jj);
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
  for (Merges& part : parallel_parts<Merges>(n, kNodesPerTask, find_merges)) {
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

void relocate_junctions(Graph& graph, const std::vector<double>& clearance, double radius,
                        double max_move, const StrokeIndex* strokes, double stroke_reach) {
  graph_detail::check_edges(graph, "relocate_junctions");
  const std::size_t n = graph.nodes.size();
  if (clearance.size() != n) throw InvariantError("relocate_junctions: one clearance per node expected");
  const graph_detail::Adjacency adj = graph_detail::build_adjacency(graph);
  const std::vector<Point> original = graph.nodes;
  const double min_angle = 10.0 * 3.14159265358979323846 / 180.0;
  const double min_sin = std::sin(min_angle);
  // Every junction reads the positions before any moved and writes only its own.
  parallel_ranges(n, kNodesPerTask, [&](std::size_t begin, std::size_t end_node) {
    std::vector<Point> pts, arm_points;
    for (std::size_t jj = begin; jj < end_node; ++jj) {
      const auto j = static_cast<NodeId>(jj);
      if (adj.degree(j) < 3) continue;
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

Graph settle_links(Graph graph, const std::vector<Point>& before, std::vector<double>& clearance,
                   double merge_distance) {
  graph_detail::check_edges(graph, "settle_links");
  const std::size_t n = graph.nodes.size();
  if (clearance.size() != n || before.size() != n) {
    throw InvariantError("settle_links: one clearance and one earlier position per node expected");
  }
  graph_detail::Adjacency adj = graph_detail::build_adjacency(graph);
  // A path through degree-2 nodes from a junction to a free end, to a
  // larger junction or back to itself (a loop, found from its smaller first
  // inner node).
  struct Link {
    NodeId a, b;
    std::size_t begin, end;  // inner nodes in `inner`
    bool to_junction;
    bool loop;
  };
  struct Links {
    std::vector<Link> links;
    std::vector<NodeId> inner;
  };
  auto find_links = [&](std::size_t begin, std::size_t end, Links& found) {
    for (std::size_t jj = begin; jj < end; ++jj) {
      const auto j = static_cast<NodeId>(jj);
      if (adj.degree(j) < 3) continue;
      for (const NodeId* it = adj.begin(j); it != adj.end(j); ++it) {
        const std::size_t mark = found.inner.size();
        NodeId prev = j, cur = *it;
        for (std::size_t steps = 0; adj.degree(cur) == 2 && steps <= graph.edges.size(); ++steps) {
          found.inner.push_back(cur);
          const NodeId next = adj.begin(cur)[0] == prev ? adj.begin(cur)[1] : adj.begin(cur)[0];
          prev = cur;
          cur = next;
        }
        const bool to_junction = adj.degree(cur) >= 3;
        const bool loop = cur == j && found.inner.size() > mark + 1 && found.inner[mark] < found.inner.back();
        if (adj.degree(cur) == 2 || (to_junction && cur < j) || (cur == j && !loop)) {
          found.inner.resize(mark);
          continue;
        }
        found.links.push_back({j, cur, mark, found.inner.size(), to_junction, loop});
      }
    }
  };
  std::vector<Link> links;
  std::vector<NodeId> inner;
  for (Links& part : parallel_parts<Links>(n, kNodesPerTask, find_links)) {
    for (Link l : part.links) {
      l.begin += inner.size();
      l.end += inner.size();
      links.push_back(l);
    }
    inner.insert(inner.end(), part.inner.begin(), part.inner.end());
  }
  std::vector<char> junction(n, 0);
  for (std::size_t v = 0; v < n; ++v) junction[v] = adj.degree(static_cast<NodeId>(v)) >= 3;
  adj = {};
  std::vector<Point>& pos = graph.nodes;
  auto moved = [&](NodeId v) { return pos[v].x != before[v].x || pos[v].y != before[v].y; };
  // The inner nodes a moved junction has passed: from the junction along the
  // link, each node after which the link turns back towards the junction,
  // among those no farther from where the junction was than it moved (and a
  // merge distance).
  auto passed = [&](NodeId j, std::size_t count, auto&& node_at, Point last) {
    std::size_t k = 0;
    if (!moved(j)) return k;
    const double limit = distance(pos[j], before[j]) + merge_distance;
    for (; k < count; ++k) {
      const Point p = pos[node_at(k)];
      const Point next = k + 1 < count ? pos[node_at(k + 1)] : last;
      if (distance(p, before[j]) > limit) break;
      if ((p.x - pos[j].x) * (next.x - p.x) + (p.y - pos[j].y) * (next.y - p.y) >= 0.0) break;
    }
    return k;
  };
  // Inner nodes passed from either end of link l, seen from each end alone
  // so that the answer does not depend on which end the link was walked
  // from; nodes passed from both go to the nearer end (ties to the one
  // lying first in x, then y).
  auto trims = [&](const Link& l) {
    const std::size_t count = l.end - l.begin;
    const std::size_t front =
        passed(l.a, count, [&](std::size_t k) { return inner[l.begin + k]; }, pos[l.b]);
    const std::size_t back =
        l.to_junction ? passed(l.b, count, [&](std::size_t k) { return inner[l.end - 1 - k]; }, pos[l.a]) : 0;
    if (front + back <= count) return std::pair{front, back};
    const Point a = pos[l.a], b = pos[l.b];
    const bool a_first = a.x < b.x || (a.x == b.x && a.y < b.y);
    std::size_t split = count - back;
    for (; split < front; ++split) {
      const Point p = pos[inner[l.begin + split]];
      const double da = distance(p, a), db = distance(p, b);
      if (db < da || (db == da && !a_first)) break;
    }
    return std::pair{split, count - split};
  };
  const double max_cos = std::cos(150.0 * 3.14159265358979323846 / 180.0);
  // Turning by more than 150 degrees at `cur`.
  auto turns_back = [&](Point prev, Point cur, Point next) {
    const double ux = cur.x - prev.x, uy = cur.y - prev.y, vx = next.x - cur.x, vy = next.y - cur.y;
    const double lu = std::hypot(ux, uy), lv = std::hypot(vx, vy);
    return lu > 0.0 && lv > 0.0 && (ux * vx + uy * vy) < max_cos * lu * lv;
  };
  auto folds = [&](const Link& l) {
    const auto [front, back] = trims(l);
    const Point a = pos[l.a], b = pos[l.b];
    const std::size_t begin = l.begin + front, end = l.end - back;
    if (begin >= end) {
      return (b.x - a.x) * (before[l.b].x - before[l.a].x) + (b.y - a.y) * (before[l.b].y - before[l.a].y) < 0.0;
    }
    const Point first = pos[inner[begin]], last = pos[inner[end - 1]];
    const Point after_first = begin + 1 < end ? pos[inner[begin + 1]] : b;
    const Point before_last = end - 1 > begin ? pos[inner[end - 2]] : a;
    return turns_back(a, first, after_first) || turns_back(before_last, last, b);
  };
  auto close = [&](const Link& l) { return distance(pos[l.a], pos[l.b]) <= merge_distance; };
  // Folded links with their ends apart move neither end; a junction put
  // back may fold another of its links, so this goes on until none folds
  // (every pass puts back at least one junction for good).
  // Each pass judges every link on the positions it starts with, so that
  // the outcome does not depend on the order of the links.
  std::vector<NodeId> put_back;
  for (bool changed = true; changed;) {
    put_back.clear();
    for (const Link& l : links) {
      if (!l.to_junction || l.loop || close(l) || !folds(l)) continue;
      for (const NodeId v : {l.a, l.b}) {
        if (moved(v)) put_back.push_back(v);
      }
    }
    for (const NodeId v : put_back) pos[v] = before[v];
    changed = !put_back.empty();
  }
  std::vector<NodeId> parent(n);
  for (std::size_t v = 0; v < n; ++v) parent[v] = static_cast<NodeId>(v);
  auto join = [&](NodeId x, NodeId y) {
    const NodeId rx = find_root(parent, x), ry = find_root(parent, y);
    if (rx != ry) parent[std::max(rx, ry)] = std::min(rx, ry);
  };
  std::vector<char> removed(n, 0);
  bool changed = false;
  for (const Link& l : links) {
    // Ends brought together become one junction, when the link lies between
    // where they were and where they meet (not a loop around a hole).
    if (l.to_junction && !l.loop && close(l)) {
      const Point m{(pos[l.a].x + pos[l.b].x) * 0.5, (pos[l.a].y + pos[l.b].y) * 0.5};
      const double span = std::max(distance(before[l.a], m), distance(before[l.b], m)) + merge_distance;
      bool between = true;
      for (std::size_t k = l.begin; k < l.end && between; ++k) between = distance(pos[inner[k]], m) <= span;
      if (between) {
        join(l.a, l.b);
        for (std::size_t k = l.begin; k < l.end; ++k) removed[inner[k]] = 1;
        changed = true;
        continue;
      }
    }
    // Nodes a junction passed on its way join it.
    const auto [front, back] = trims(l);
    for (std::size_t k = 0; k < front; ++k) join(l.a, inner[l.begin + k]);
    for (std::size_t k = 0; k < back; ++k) join(l.b, inner[l.end - 1 - k]);
    changed = changed || front + back > 0;
  }
  if (!changed) return graph;
  // Every group at the mean of its junctions (inner nodes, of degree 2, do
  // not count).
  std::vector<std::pair<NodeId, Point>> at;
  std::vector<std::pair<NodeId, NodeId>> members;  // (root, node)
  std::vector<Point> group;
  for (std::size_t v = 0; v < n; ++v) {
    const NodeId root = find_root(parent, static_cast<NodeId>(v));
    if (root != v) members.push_back({root, static_cast<NodeId>(v)}), members.push_back({root, root});
  }
  std::sort(members.begin(), members.end());
  members.erase(std::unique(members.begin(), members.end()), members.end());
  for (std::size_t k = 0; k < members.size();) {
    const NodeId root = members[k].first;
    // Summed in the order of their positions: the same mean however the
    // nodes are numbered.
    group.clear();
    std::size_t e = k;
    for (; e < members.size() && members[e].first == root; ++e) {
      if (junction[members[e].second]) group.push_back(pos[members[e].second]);
    }
    std::sort(group.begin(), group.end(), [](Point x, Point y) { return x.x < y.x || (x.x == y.x && x.y < y.y); });
    Point sum{0.0, 0.0};
    for (const Point& p : group) sum.x += p.x, sum.y += p.y;
    const double count = static_cast<double>(group.size());
    if (!group.empty()) at.push_back({root, Point{sum.x / count, sum.y / count}});
    k = e;
  }
  return collapse(graph, parent, removed, at, clearance, false);
}

void place_free_ends(std::vector<Polyline>& chains, const std::vector<Chain>& walked,
                     const SegmentGrid& boundary, double radius) {
  if (chains.size() != walked.size()) throw InvariantError("place_free_ends: one chain per walk expected");
  auto place = [&](Polyline& p, bool at_end) {
    const std::size_t n = p.size();
    if (n < 2) return;
    auto at = [&](std::size_t k) -> Point& { return at_end ? p[n - 1 - k] : p[k]; };
    const Point tip = at(0);
    // The point a radius back along the chain (or the far end).
    double run = 0.0;
    std::size_t k = 1;
    Point back = at(1);
    for (; k < n; ++k) {
      const double step = distance(at(k - 1), at(k));
      if (run + step >= radius && step > 0.0) {
        const double t = (radius - run) / step;
        back = {at(k - 1).x + (at(k).x - at(k - 1).x) * t, at(k - 1).y + (at(k).y - at(k - 1).y) * t};
        break;
      }
      run += step;
      back = at(k);
    }
    const double len = distance(back, tip);
    if (!(len > 0.0)) return;
    const Point d{(tip.x - back.x) / len, (tip.y - back.y) / len};
    const double reach = 4.0 * radius;
    const double half = boundary.distance_within(back, reach);
    if (!(half > 0.0) || half >= reach) return;
    const double hit = boundary.ray_distance(tip, d, reach);
    if (hit >= reach) return;
    const double move = std::clamp(hit - half, -half, 2.0 * half);
    const Point placed{tip.x + d.x * move, tip.y + d.y * move};
    // The skeleton of a round cap fans out into spokes, one to every vertex of
    // its arc, and the chain may run out along one and turn back: the points
    // past the placed end go, so that the chain does not fold there.
    std::size_t past = 0;
    while (past + 2 < n) {
      const Point& q = at(past + 1);
      if ((q.x - placed.x) * d.x + (q.y - placed.y) * d.y < 0.0) break;
      ++past;
    }
    if (past > 0) {
      if (at_end) {
        p.erase(p.end() - static_cast<std::ptrdiff_t>(past), p.end());
      } else {
        p.erase(p.begin(), p.begin() + static_cast<std::ptrdiff_t>(past));
      }
    }
    (at_end ? p.back() : p.front()) = placed;
  };
  parallel_ranges(chains.size(), kChainsPerTask, [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
      if (walked[i].start_node == walked[i].end_node) continue;
      if (walked[i].end_is_tip) place(chains[i], true);
      if (walked[i].start_is_tip) place(chains[i], false);
    }
  });
}

void unfold_chains(std::vector<Polyline>& chains, double max_step) {
  const double max_cos = std::cos(150.0 * 3.14159265358979323846 / 180.0);
  // Whether the chain turns back at b, between a and c, with a short step.
  auto spike = [&](Point a, Point b, Point c) {
    const double ux = b.x - a.x, uy = b.y - a.y, vx = c.x - b.x, vy = c.y - b.y;
    const double lu = std::hypot(ux, uy), lv = std::hypot(vx, vy);
    if (!(lu > 0.0 && lv > 0.0) || std::min(lu, lv) > max_step) return false;
    return ux * vx + uy * vy < max_cos * lu * lv;
  };
  parallel_ranges(chains.size(), kChainsPerTask, [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
      Polyline& p = chains[i];
      if (p.size() < 3) continue;
      std::size_t kept = 1;
      for (std::size_t k = 1; k < p.size(); ++k) {
        p[kept++] = p[k];
        while (kept >= 3 && spike(p[kept - 3], p[kept - 2], p[kept - 1])) {
          p[kept - 2] = p[kept - 1];
          --kept;
        }
      }
      p.resize(kept);
    }
  });
}

}  // namespace strokegraph
