// Helpers shared by the graph stages: edge validation, unordered pair keys
// and adjacency lists in compressed form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/numeric.h"
#include "graph/graph.h"

namespace strokegraph::graph_detail {

// Throws InvariantError when an edge refers to a node that does not exist.
void check_edges(const Graph& graph, const char* stage);

// The unordered pair {a, b} as one 64-bit key.
inline std::uint64_t pair_key(NodeId a, NodeId b) {
  const NodeId lo = a < b ? a : b;
  const NodeId hi = a < b ? b : a;
  return (std::uint64_t{lo} << 32) | hi;
}

// Neighbour lists, built by walking the edges in order and appending b to the
// list of a and a to the list of b; a node's list length is its degree.
struct Adjacency {
  std::vector<std::size_t> offset;  // nodes + 1 entries
  std::vector<NodeId> neighbour;
  std::size_t degree(NodeId v) const { return offset[v + 1] - offset[v]; }
  const NodeId* begin(NodeId v) const { return neighbour.data() + offset[v]; }
  const NodeId* end(NodeId v) const { return neighbour.data() + offset[v + 1]; }
};

Adjacency build_adjacency(const Graph& graph);

double distance(const Point& p, const Point& q);

}  // namespace strokegraph::graph_detail
