// What the clean-up passes share: how much work one task of the worker pool
// takes, the roots of merged nodes, the graph collapsed onto those roots, and
// the point at a given distance along a polyline.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "common/geometry.h"
#include "graph/graph.h"
#include "graph/graph_util.h"

namespace strokegraph::cleanup_detail {

// Nodes and chains per task where a stage runs on the worker pool.
inline constexpr std::size_t kNodesPerTask = 16384;
inline constexpr std::size_t kChainsPerTask = 2048;
// Junctions per task where each asks the stroke index around it (tens of
// microseconds a junction): a drawing of a few hundred junctions already
// spreads over the pool, one of a few runs inline.
inline constexpr std::size_t kJunctionsPerTask = 16;

// The nodes of degree 3 and more, in order.
std::vector<NodeId> junctions_of(const graph_detail::Adjacency& adj, std::size_t n);

inline NodeId find_root(std::vector<NodeId>& parent, NodeId v) {
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
               bool average);

Point point_along(const std::vector<Point>& pts, double at);

}  // namespace strokegraph::cleanup_detail
