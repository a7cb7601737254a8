#include "graph/graph_util.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "common/errors.h"

namespace strokegraph::graph_detail {

void check_edges(const Graph& graph, const char* stage) {
  const std::size_t n = graph.nodes.size();
  for (const Edge& e : graph.edges) {
    if (e.first >= n || e.second >= n) {
      throw InvariantError(std::string(stage) + ": an edge refers to a node that does not exist");
    }
  }
}

Adjacency build_adjacency(const Graph& graph) {
  const std::size_t n = graph.nodes.size();
  if (graph.edges.size() > std::numeric_limits<std::uint32_t>::max() / 2) {
    throw MemoryLimitError("graph: too many edges");
  }
  Adjacency adj;
  adj.offset.assign(n + 1, 0);
  for (const Edge& e : graph.edges) {
    ++adj.offset[e.first + 1];
    ++adj.offset[e.second + 1];
  }
  for (std::size_t v = 0; v < n; ++v) adj.offset[v + 1] += adj.offset[v];
  adj.neighbour.resize(adj.offset[n]);
  std::vector<std::uint32_t> fill(adj.offset.begin(), adj.offset.end() - 1);
  for (const Edge& e : graph.edges) {
    adj.neighbour[fill[e.first]++] = e.second;
    adj.neighbour[fill[e.second]++] = e.first;
  }
  return adj;
}

}  // namespace strokegraph::graph_detail
