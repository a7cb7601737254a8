// Chain extraction: the graph cut into paths between nodes of degree other
// than 2, then the loops that consist of degree-2 nodes only.
#include <cstdint>

#include "common/flat_map.h"
#include "graph/graph.h"
#include "graph/graph_util.h"

namespace strokegraph {

std::vector<Chain> extract_chains(Graph graph) {
  graph_detail::check_edges(graph, "extract_chains");
  const std::size_t n = graph.nodes.size();
  const graph_detail::Adjacency adj = graph_detail::build_adjacency(graph);
  graph_detail::PairSet visited(graph.edges.size());
  std::vector<Edge>().swap(graph.edges);
  std::vector<Chain> chains;

  // Every step marks an unvisited edge, so a walk ends after at most all edges.
  auto walk = [&](NodeId s, NodeId first) {
    if (!visited.insert(graph_detail::pair_key(s, first))) return;
    Chain chain;
    chain.points = {graph.nodes[s], graph.nodes[first]};
    NodeId prev = s;
    NodeId cur = first;
    while (adj.degree(cur) == 2) {
      NodeId next = adj.begin(cur)[0];
      if (next == prev) next = adj.begin(cur)[1];
      if (next == prev) break;
      if (!visited.insert(graph_detail::pair_key(cur, next))) break;
      chain.points.push_back(graph.nodes[next]);
      prev = cur;
      cur = next;
    }
    chain.start_node = s;
    chain.end_node = cur;
    chain.start_is_tip = adj.degree(s) == 1;
    chain.end_is_tip = adj.degree(cur) == 1;
    chains.push_back(std::move(chain));
  };

  for (std::size_t s = 0; s < n; ++s) {
    if (adj.degree(static_cast<NodeId>(s)) == 2) continue;
    for (const NodeId* it = adj.begin(static_cast<NodeId>(s)); it != adj.end(static_cast<NodeId>(s)); ++it) {
      walk(static_cast<NodeId>(s), *it);
    }
  }
  // What is left unvisited lies on closed loops of degree-2 nodes.
  for (std::size_t s = 0; s < n; ++s) {
    for (const NodeId* it = adj.begin(static_cast<NodeId>(s)); it != adj.end(static_cast<NodeId>(s)); ++it) {
      walk(static_cast<NodeId>(s), *it);
    }
  }
  return chains;
}

}  // namespace strokegraph
