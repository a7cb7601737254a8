// Junction merging: junctions joined by short links of degree-2 nodes
// collapse into one node, shortest links first; the graph is compacted.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "common/errors.h"
#include "common/flat_map.h"
#include "graph/graph.h"
#include "graph/graph_util.h"

namespace strokegraph {
namespace {

using graph_detail::pair_key;

struct Candidate {
  double length;
  NodeId start;
  NodeId end;
  std::size_t path_begin;  // range of the walked nodes in the shared path list
  std::size_t path_end;
};

// Lengths ascending, a NaN length after every number. No NaN can pass the
// length test of the walk, but the order stays total whatever comes in.
bool shorter(const Candidate& a, const Candidate& b) {
  if (std::isnan(a.length)) return false;
  return std::isnan(b.length) || a.length < b.length;
}

NodeId find_root(std::vector<NodeId>& parent, NodeId v) {
  // Path halving: the same root as plainly following the links, in fewer steps.
  while (parent[v] != v) {
    parent[v] = parent[parent[v]];
    v = parent[v];
  }
  return v;
}

// Kept ids marked in `kept`, numbered by rank in ascending id order.
std::vector<NodeId> rank_ids(const std::vector<char>& kept) {
  std::vector<NodeId> rank(kept.size(), 0);
  NodeId next = 0;
  for (std::size_t v = 0; v < kept.size(); ++v) {
    if (kept[v]) rank[v] = next++;
  }
  return rank;
}

// Input nodes without edges are dropped, the others renumbered in ascending
// order; edges keep their order and orientation.
Graph compact(const Graph& graph) {
  std::vector<char> kept(graph.nodes.size(), 0);
  for (const Edge& e : graph.edges) kept[e.first] = kept[e.second] = 1;
  const std::vector<NodeId> rank = rank_ids(kept);
  Graph out;
  for (std::size_t v = 0; v < kept.size(); ++v) {
    if (kept[v]) out.nodes.push_back(graph.nodes[v]);
  }
  graph_detail::PairSet seen(graph.edges.size());
  for (const auto& [a, b] : graph.edges) {
    if (seen.insert(pair_key(rank[a], rank[b]))) out.edges.emplace_back(rank[a], rank[b]);
  }
  return out;
}

}  // namespace

Graph merge_close_junctions(const Graph& graph, double max_distance) {
  graph_detail::check_edges(graph, "merge_close_junctions");
  const std::size_t n = graph.nodes.size();
  const graph_detail::Adjacency adj = graph_detail::build_adjacency(graph);

  // Every junction-to-junction link is walked once from each end.
  std::vector<Candidate> candidates;
  std::vector<NodeId> paths;
  FlatMap<std::uint64_t, char, MixHash> taken;
  std::vector<NodeId> walk;
  for (std::size_t jj = 0; jj < n; ++jj) {
    const auto j = static_cast<NodeId>(jj);
    if (adj.degree(j) <= 2) continue;
    for (const NodeId* it = adj.begin(j); it != adj.end(j); ++it) {
      walk.assign(1, j);
      NodeId prev = j;
      NodeId cur = *it;
      double length = 0.0;
      for (;;) {
        walk.push_back(cur);
        length += graph_detail::distance(graph.nodes[prev], graph.nodes[cur]);
        if (adj.degree(cur) != 2) break;
        const NodeId* next = std::find_if(adj.begin(cur), adj.end(cur), [&](NodeId v) { return v != prev; });
        if (next == adj.end(cur)) break;
        // Degree-2 nodes are entered through a junction only, so a walk
        // never runs round a cycle on a valid graph.
        if (walk.size() > graph.edges.size() + 1) throw InvariantError("merge_close_junctions: walk does not end");
        prev = cur;
        cur = *next;
      }
      const NodeId e = walk.back();
      if (adj.degree(e) < 3) continue;
      if (!(length <= max_distance)) continue;
      if (!taken.try_emplace(pair_key(j, e), 1).second) continue;
      candidates.push_back({length, j, e, paths.size(), paths.size() + walk.size()});
      paths.insert(paths.end(), walk.begin(), walk.end());
    }
  }
  if (candidates.empty()) return compact(graph);

  std::stable_sort(candidates.begin(), candidates.end(), shorter);

  std::vector<NodeId> parent(n);
  for (std::size_t v = 0; v < n; ++v) parent[v] = static_cast<NodeId>(v);
  std::vector<Point> position = graph.nodes;
  std::vector<char> removed(n, 0);
  for (const Candidate& c : candidates) {
    const NodeId ra = find_root(parent, c.start);
    const NodeId rb = find_root(parent, c.end);
    if (ra == rb) continue;
    position[ra] = Point{(position[ra].x + position[rb].x) * 0.5, (position[ra].y + position[rb].y) * 0.5};
    parent[rb] = ra;
    for (std::size_t k = c.path_begin + 1; k + 1 < c.path_end; ++k) removed[paths[k]] = 1;
  }

  std::vector<char> kept(n, 0);
  for (const auto& [a, b] : graph.edges) {
    if (removed[a] || removed[b]) continue;
    kept[find_root(parent, a)] = 1;
    kept[find_root(parent, b)] = 1;
  }
  const std::vector<NodeId> rank = rank_ids(kept);
  Graph out;
  for (std::size_t v = 0; v < n; ++v) {
    if (kept[v]) out.nodes.push_back(position[v]);
  }
  graph_detail::PairSet seen(graph.edges.size());
  for (const auto& [a, b] : graph.edges) {
    if (removed[a] || removed[b]) continue;
    const NodeId ra = find_root(parent, a);
    const NodeId rb = find_root(parent, b);
    if (ra == rb) continue;
    if (seen.insert(pair_key(rank[ra], rank[rb]))) out.edges.emplace_back(rank[ra], rank[rb]);
  }
  return out;
}

}  // namespace strokegraph
