#include "cleanup/cleanup.h"

#include <algorithm>
#include <cmath>
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
        w.doomed = w.length < rules.factor * c;
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
                        double max_move) {
  graph_detail::check_edges(graph, "relocate_junctions");
  const std::size_t n = graph.nodes.size();
  if (clearance.size() != n) throw InvariantError("relocate_junctions: one clearance per node expected");
  const graph_detail::Adjacency adj = graph_detail::build_adjacency(graph);
  const std::vector<Point> original = graph.nodes;
  const double min_sin = std::sin(10.0 * 3.14159265358979323846 / 180.0);
  // Every junction reads the positions before any moved and writes only its own.
  parallel_ranges(n, kNodesPerTask, [&](std::size_t begin, std::size_t end_node) {
    std::vector<Point> pts;
    for (std::size_t jj = begin; jj < end_node; ++jj) {
      const auto j = static_cast<NodeId>(jj);
      if (adj.degree(j) < 3) continue;
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
    // The ray starts at the tip, so hit >= 0 and the move is never below
    // -half; it is at most one band width.
    const double move = std::min(hit - half, 2.0 * half);
    at(0) = Point{tip.x + d.x * move, tip.y + d.y * move};
  };
  parallel_ranges(chains.size(), kChainsPerTask, [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
      if (walked[i].start_node == walked[i].end_node) continue;
      if (walked[i].end_is_tip) place(chains[i], true);
      if (walked[i].start_is_tip) place(chains[i], false);
    }
  });
}

}  // namespace strokegraph
