#include "cleanup/cleanup.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "common/errors.h"
#include "common/flat_map.h"
#include "graph/graph_util.h"

namespace strokegraph {
namespace {

using graph_detail::distance;
using graph_detail::pair_key;

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

// Per node, the indices of its edges in edge-list order.
struct Incidence {
  std::vector<std::size_t> offset;
  std::vector<std::size_t> edge;
  explicit Incidence(const Graph& g) : offset(g.nodes.size() + 1, 0) {
    for (const Edge& e : g.edges) {
      ++offset[e.first + 1];
      ++offset[e.second + 1];
    }
    for (std::size_t v = 0; v < g.nodes.size(); ++v) offset[v + 1] += offset[v];
    edge.resize(offset.back());
    std::vector<std::size_t> fill(offset.begin(), offset.end() - 1);
    for (std::size_t i = 0; i < g.edges.size(); ++i) {
      edge[fill[g.edges[i].first]++] = i;
      edge[fill[g.edges[i].second]++] = i;
    }
  }
};

NodeId other_end(const Edge& e, NodeId v) { return e.first == v ? e.second : e.first; }

NodeId find_root(std::vector<NodeId>& parent, NodeId v) {
  while (parent[v] != v) {
    parent[v] = parent[parent[v]];
    v = parent[v];
  }
  return v;
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
  for (std::size_t v = 0; v < graph.nodes.size(); ++v) {
    if (degree[v] >= 3) clearance[v] = boundary.distance_within(graph.nodes[v], reach);
  }
  return clearance;
}

Graph remove_spurs(const Graph& graph, const std::vector<double>& clearance, double factor,
                   double isolated_length) {
  graph_detail::check_edges(graph, "remove_spurs");
  if (clearance.size() != graph.nodes.size()) {
    throw InvariantError("remove_spurs: one clearance per node expected");
  }
  const std::vector<Edge>& edges = graph.edges;
  const std::size_t n = graph.nodes.size();
  const Incidence inc(graph);
  std::vector<char> alive(edges.size(), 1);
  std::vector<std::size_t> degree(n, 0);
  for (const Edge& e : edges) ++degree[e.first], ++degree[e.second];

  // The first alive edge of `cur` other than `from`.
  auto next_edge = [&](NodeId cur, std::size_t from) {
    for (std::size_t k = inc.offset[cur]; k < inc.offset[cur + 1]; ++k) {
      const std::size_t i = inc.edge[k];
      if (alive[i] && i != from) return i;
    }
    return kNone;
  };

  std::vector<std::size_t> frozen, path;
  bool removed = true;
  while (removed) {
    removed = false;
    frozen = degree;
    for (std::size_t j = 0; j < n; ++j) {
      if (frozen[j] != 1) continue;
      path.clear();
      double length = 0.0;
      auto cur = static_cast<NodeId>(j);
      std::size_t from = kNone;
      NodeId far = cur;
      for (;;) {
        const std::size_t i = next_edge(cur, from);
        if (i == kNone) break;
        path.push_back(i);
        far = other_end(edges[i], cur);
        length += distance(graph.nodes[cur], graph.nodes[far]);
        if (frozen[far] != 2 || path.size() > edges.size()) break;
        from = i;
        cur = far;
      }
      if (path.empty()) continue;
      const double limit = frozen[far] >= 3 ? factor * clearance[far]
                           : frozen[far] == 1 ? isolated_length
                                              : 0.0;
      if (!(length < limit)) continue;
      for (std::size_t i : path) {
        if (!alive[i]) continue;
        alive[i] = 0;
        --degree[edges[i].first];
        --degree[edges[i].second];
      }
      removed = true;
    }
  }

  Graph out;
  out.nodes = graph.nodes;
  for (std::size_t i = 0; i < edges.size(); ++i) {
    if (alive[i]) out.edges.push_back(edges[i]);
  }
  return out;
}

Graph merge_crossings(const Graph& graph, std::vector<double>& clearance, double factor) {
  graph_detail::check_edges(graph, "merge_crossings");
  const std::size_t n = graph.nodes.size();
  if (clearance.size() != n) throw InvariantError("merge_crossings: one clearance per node expected");
  const graph_detail::Adjacency adj = graph_detail::build_adjacency(graph);

  struct Link {
    double length;
    NodeId start, end;
    std::size_t begin, stop;  // walked nodes in `paths`
  };
  std::vector<Link> links;
  std::vector<NodeId> paths, walk;
  FlatMap<std::uint64_t, char, MixHash> taken(graph.edges.size());
  for (std::size_t jj = 0; jj < n; ++jj) {
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
      // A loop is found from both of its ends; its first inner nodes name it.
      constexpr std::uint64_t kLoop = std::uint64_t{1} << 63;
      const std::uint64_t key = e == j ? pair_key(walk[1], walk[walk.size() - 2]) | kLoop : pair_key(j, e);
      if (!taken.try_emplace(key, 1).second) continue;
      links.push_back({length, j, e, paths.size(), paths.size() + walk.size()});
      paths.insert(paths.end(), walk.begin(), walk.end());
    }
  }
  std::stable_sort(links.begin(), links.end(),
                   [](const Link& a, const Link& b) { return a.length < b.length; });

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

  // A merged node sits at the mean of its junctions and takes the largest
  // of their clearances.
  std::vector<Point> position = graph.nodes;
  std::vector<double> clear = clearance;
  std::vector<double> count(n, 1.0);
  for (std::size_t v = 0; v < n; ++v) {
    const NodeId r = find_root(parent, static_cast<NodeId>(v));
    if (r == v) continue;
    position[r].x += graph.nodes[v].x;
    position[r].y += graph.nodes[v].y;
    count[r] += 1.0;
    clear[r] = std::max(clear[r], clearance[v]);
  }
  for (std::size_t v = 0; v < n; ++v) {
    if (count[v] > 1.0) position[v] = {position[v].x / count[v], position[v].y / count[v]};
  }
  std::vector<char> kept(n, 0);
  for (const auto& [a, b] : graph.edges) {
    if (removed[a] || removed[b]) continue;
    kept[find_root(parent, a)] = 1;
    kept[find_root(parent, b)] = 1;
  }
  std::vector<NodeId> rank(n, 0);
  Graph out;
  std::vector<double> out_clearance;
  for (std::size_t v = 0; v < n; ++v) {
    if (!kept[v]) continue;
    rank[v] = static_cast<NodeId>(out.nodes.size());
    out.nodes.push_back(position[v]);
    out_clearance.push_back(clear[v]);
  }
  FlatMap<std::uint64_t, char, MixHash> seen(graph.edges.size());
  for (const auto& [a, b] : graph.edges) {
    if (removed[a] || removed[b]) continue;
    const NodeId ra = find_root(parent, a), rb = find_root(parent, b);
    if (ra == rb) continue;
    if (seen.try_emplace(pair_key(rank[ra], rank[rb]), 1).second) out.edges.emplace_back(rank[ra], rank[rb]);
  }
  clearance = std::move(out_clearance);
  return out;
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
    at(0) = Point{tip.x + d.x * move, tip.y + d.y * move};
  };
  for (std::size_t i = 0; i < chains.size(); ++i) {
    if (walked[i].start_node == walked[i].end_node) continue;
    if (walked[i].end_is_tip) place(chains[i], true);
    if (walked[i].start_is_tip) place(chains[i], false);
  }
}

}  // namespace strokegraph
