// The centerline graph and its stages: construction, pruning, junction
// merging, chain extraction and smoothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "common/geometry.h"

namespace strokegraph {

using NodeId = std::uint32_t;
using Edge = std::pair<NodeId, NodeId>;

// Node positions and undirected edges. The order of `edges` and the
// orientation of each pair are meaningful: later stages walk them in order.
struct Graph {
  std::vector<Point> nodes;
  std::vector<Edge> edges;
  friend bool operator==(const Graph&, const Graph&) = default;
};

// A walked path of the graph between two nodes of degree other than 2.
struct Chain {
  std::vector<Point> points;
  NodeId start_node = 0;
  NodeId end_node = 0;
  bool start_is_tip = false;
  bool end_is_tip = false;
  friend bool operator==(const Chain&, const Chain&) = default;
};

// Snaps segment ends within about `tolerance` into nodes. A node sits at
// the first end snapped to it or, with `lowest_end`, at the lowest of them
// (least x, then least y): the latter does not depend on the segments' order,
// so the same skeleton listed in another order gives its nodes the same places.
Graph segments_to_graph(const std::vector<Segment>& segments, double tolerance,
                        bool lowest_end = false);
Graph prune_short_tips(const Graph& graph, double threshold);
Graph merge_close_junctions(const Graph& graph, double max_distance);
// Takes the graph over: its edges are freed once the walk no longer needs them.
std::vector<Chain> extract_chains(Graph graph);
std::vector<Point> smooth_chain_taubin(const std::vector<Point>& points, unsigned iterations,
                                       double lambda, double mu);

}  // namespace strokegraph
