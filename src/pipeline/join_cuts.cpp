#include "pipeline/join_cuts.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "common/progress.h"
#include "graph/graph_util.h"

namespace strokegraph {
namespace {

constexpr std::uint32_t kDead = UINT32_MAX;

// Whether p lies on the segment from a to b, strictly between its ends, to
// within rounding.
bool on_segment(Point p, Point a, Point b) {
  const double dx = b.x - a.x, dy = b.y - a.y;
  const double length = std::hypot(dx, dy);
  if (!(length > 0.0)) return false;
  const double off = std::fabs(dx * (p.y - a.y) - dy * (p.x - a.x)) / length;
  const double scale = length + std::fabs(a.x) + std::fabs(a.y);
  return off <= 1e-9 * scale && dx * (p.x - a.x) + dy * (p.y - a.y) > 0.0 &&
         dx * (b.x - p.x) + dy * (b.y - p.y) > 0.0;
}

}  // namespace

Graph join_seam_cuts(Graph graph, const TileGrid& grid) {
  // Nodes exactly on a seam line: a cut end has the seam's own coordinate.
  std::vector<NodeId> seam_nodes;
  for (std::size_t v = 0; v < graph.nodes.size(); ++v) {
    const Point p = graph.nodes[v];
    if (std::binary_search(grid.xs.begin(), grid.xs.end(), p.x) ||
        std::binary_search(grid.ys.begin(), grid.ys.end(), p.y))
      seam_nodes.push_back(static_cast<NodeId>(v));
  }
  if (seam_nodes.empty()) return graph;
  auto slot_of = [&](NodeId v) -> std::size_t {
    const auto it = std::lower_bound(seam_nodes.begin(), seam_nodes.end(), v);
    return it != seam_nodes.end() && *it == v ? std::size_t(it - seam_nodes.begin()) : seam_nodes.size();
  };
  // Up to two edges of every seam node, and how many it has.
  std::vector<std::array<std::uint32_t, 2>> incident(seam_nodes.size(), {kDead, kDead});
  std::vector<std::uint32_t> degree(seam_nodes.size(), 0);
  for (std::size_t e = 0; e < graph.edges.size(); ++e) {
    poll(e);
    for (NodeId v : {graph.edges[e].first, graph.edges[e].second}) {
      const std::size_t s = slot_of(v);
      if (s == seam_nodes.size()) continue;
      if (degree[s] < 2) incident[s][degree[s]] = static_cast<std::uint32_t>(e);
      ++degree[s];
    }
  }
  std::vector<char> dead(graph.edges.size(), 0);
  std::vector<std::uint32_t> joined;
  for (std::size_t s = 0; s < seam_nodes.size(); ++s) {
    const NodeId v = seam_nodes[s];
    if (degree[s] != 2) continue;
    const std::uint32_t first = std::min(incident[s][0], incident[s][1]);
    const std::uint32_t second = std::max(incident[s][0], incident[s][1]);
    if (first == second) continue;
    const NodeId a = graph_detail::other_end(graph.edges[first], v);
    const NodeId b = graph_detail::other_end(graph.edges[second], v);
    if (a == b || a == v || b == v) continue;
    if (!on_segment(graph.nodes[v], graph.nodes[a], graph.nodes[b])) continue;
    Edge& kept = graph.edges[first];
    kept = kept.first == v ? Edge{b, a} : Edge{a, b};
    dead[second] = 1;
    joined.push_back(first);
    // A seam node at the other end now holds the joined edge instead.
    const std::size_t t = slot_of(b);
    if (t < seam_nodes.size()) {
      for (std::uint32_t& e : incident[t])
        if (e == second) e = first;
    }
  }
  if (joined.empty()) return graph;
  // A joined edge that another edge already runs along goes again.
  auto key = [&](std::size_t e) {
    const Edge& x = graph.edges[e];
    return std::pair{std::min(x.first, x.second), std::max(x.first, x.second)};
  };
  std::vector<std::pair<NodeId, NodeId>> keys;
  for (std::uint32_t e : joined)
    if (!dead[e]) keys.push_back(key(e));
  std::sort(keys.begin(), keys.end());
  std::vector<std::pair<std::pair<NodeId, NodeId>, std::uint32_t>> same;
  for (std::size_t e = 0; e < graph.edges.size(); ++e)
    if (!dead[e] && std::binary_search(keys.begin(), keys.end(), key(e)))
      same.push_back({key(e), static_cast<std::uint32_t>(e)});
  std::sort(same.begin(), same.end());
  for (std::size_t i = 1; i < same.size(); ++i)
    if (same[i].first == same[i - 1].first) dead[same[i].second] = 1;
  std::size_t out = 0;
  for (std::size_t e = 0; e < graph.edges.size(); ++e)
    if (!dead[e]) graph.edges[out++] = graph.edges[e];
  graph.edges.resize(out);
  return graph;
}

}  // namespace strokegraph
