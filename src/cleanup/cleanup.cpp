// The graph collapse that merging passes end with, and the point along a
// polyline that the passes which look at arms from a distance use.
#include "cleanup/cleanup.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "cleanup/pass_util.h"
#include "common/errors.h"
#include "common/flat_map.h"
#include "common/spare.h"
#include "graph/graph_util.h"
#include "parallel/pool.h"

namespace strokegraph {
namespace {

using graph_detail::distance;
using graph_detail::pair_key;

constexpr std::size_t kEdgesPerTask = 65536;
// Duplicate edges are looked for in up to this many shards, one per this
// many edges.
constexpr std::size_t kMaxShards = 8;
constexpr std::size_t kEdgesPerShard = 262144;

}  // namespace

namespace cleanup_detail {

// collapse's buffers, borrowed from call to call.
struct CollapseScratch {
  std::vector<std::pair<NodeId, NodeId>> members;
  std::vector<char> kept, first;
  std::vector<NodeId> rank;

  std::size_t bytes() const {
    return members.capacity() * sizeof(members[0]) + kept.capacity() + first.capacity() +
           rank.capacity() * sizeof(NodeId);
  }
};

Graph collapse(Graph& graph, std::vector<NodeId>& parent, const std::vector<char>& removed,
               const std::vector<std::pair<NodeId, Point>>& moved, std::vector<double>& clearance,
               bool average) {
  const std::size_t n = graph.nodes.size();
  // Parents come before their children: one pass in node order points every
  // node at its root.
  for (std::size_t v = 0; v < n; ++v) parent[v] = parent[parent[v]];
  // The members of merged groups as (root, node), in node order within each
  // root: few, so the groups need no arrays over all nodes.
  Borrowed<CollapseScratch> scratch;
  std::vector<std::pair<NodeId, NodeId>>& members = scratch->members;
  members.clear();
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
  std::vector<char>& kept = scratch->kept;
  kept.assign(n, 0);
  for (const auto& [a, b] : graph.edges) {
    if (removed[a] || removed[b]) continue;
    kept[parent[a]] = 1;
    kept[parent[b]] = 1;
  }
  std::vector<NodeId>& rank = scratch->rank;
  rank.assign(n, 0);
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
  if (scratch->bytes() > kSpareBytes) members = {}, kept = {};  // a large graph's, not kept
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
  std::vector<char>& first = scratch->first;
  first.assign(edge_count, 0);
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

std::vector<NodeId> junctions_of(const graph_detail::Adjacency& adj, std::size_t n) {
  std::vector<NodeId> out;
  for (std::size_t v = 0; v < n; ++v) {
    if (adj.degree(static_cast<NodeId>(v)) >= 3) out.push_back(static_cast<NodeId>(v));
  }
  return out;
}

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

}  // namespace cleanup_detail
}  // namespace strokegraph
