// Chain extraction: the graph cut into paths between nodes of degree other
// than 2, then the loops that consist of degree-2 nodes only.
#include <cstdint>

#include "common/flat_map.h"
#include "graph/graph.h"
#include "graph/graph_util.h"
#include "parallel/pool.h"

namespace strokegraph {
namespace {

// Nodes per task where chains are walked on the worker pool.
constexpr std::size_t kNodesPerTask = 16384;

// Whether no node is its own neighbour and no two edges join the same nodes.
bool simple(const graph_detail::Adjacency& adj) {
  const std::size_t n = adj.offset.size() - 1;
  auto check = [&](std::size_t begin, std::size_t end, char& bad) {
    for (std::size_t v = begin; v < end && !bad; ++v) {
      for (const NodeId* a = adj.begin(static_cast<NodeId>(v)); a != adj.end(static_cast<NodeId>(v)); ++a) {
        if (*a == v) bad = 1;
        for (const NodeId* b = a + 1; b != adj.end(static_cast<NodeId>(v)); ++b) bad |= *a == *b;
      }
    }
  };
  for (char bad : parallel_parts<char>(n, kNodesPerTask, check)) {
    if (bad) return false;
  }
  return true;
}

// A simple graph's chains. Each path between nodes of degree other than 2
// is walked from both of its ends, and kept from the end that comes first
// (by node, then by the path's place among the node's neighbours): the end
// that a walk over the nodes in order, marking edges as it goes, reaches
// first. The walks only read the graph, so node ranges run on the pool and
// their chains are concatenated in range order. What no path covers lies on
// loops of degree-2 nodes alone; each is walked from its smallest node
// towards that node's first neighbour.
std::vector<Chain> simple_chains(const Graph& graph, const graph_detail::Adjacency& adj) {
  const std::size_t n = graph.nodes.size();
  // Degree-2 nodes on a kept path; each lies on one path, kept once.
  std::vector<char> covered(n, 0);
  auto walk_from = [&](std::size_t begin, std::size_t end, std::vector<Chain>& found) {
    for (std::size_t ss = begin; ss < end; ++ss) {
      const auto s = static_cast<NodeId>(ss);
      if (adj.degree(s) == 2) continue;
      for (const NodeId* it = adj.begin(s); it != adj.end(s); ++it) {
        NodeId prev = s, cur = *it;
        while (adj.degree(cur) == 2) {
          const NodeId next = adj.begin(cur)[0] == prev ? adj.begin(cur)[1] : adj.begin(cur)[0];
          prev = cur;
          cur = next;
        }
        // The path's place at its other end.
        const NodeId* back = adj.begin(cur);
        while (*back != prev) ++back;
        const auto k = it - adj.begin(s);
        const auto k_back = back - adj.begin(cur);
        if (cur < s || (cur == s && k_back < k)) continue;
        Chain chain;
        chain.points.push_back(graph.nodes[s]);
        prev = s;
        cur = *it;
        chain.points.push_back(graph.nodes[cur]);
        while (adj.degree(cur) == 2) {
          covered[cur] = 1;
          const NodeId next = adj.begin(cur)[0] == prev ? adj.begin(cur)[1] : adj.begin(cur)[0];
          prev = cur;
          cur = next;
          chain.points.push_back(graph.nodes[cur]);
        }
        chain.start_node = s;
        chain.end_node = cur;
        chain.start_is_tip = adj.degree(s) == 1;
        chain.end_is_tip = adj.degree(cur) == 1;
        found.push_back(std::move(chain));
      }
    }
  };
  std::vector<Chain> chains;
  for (std::vector<Chain>& part : parallel_parts<std::vector<Chain>>(n, kNodesPerTask, walk_from)) {
    for (Chain& c : part) chains.push_back(std::move(c));
  }
  for (std::size_t ss = 0; ss < n; ++ss) {
    const auto s = static_cast<NodeId>(ss);
    if (adj.degree(s) != 2 || covered[s]) continue;
    Chain chain;
    chain.points.push_back(graph.nodes[s]);
    covered[s] = 1;
    NodeId prev = s, cur = adj.begin(s)[0];
    while (cur != s) {
      covered[cur] = 1;
      chain.points.push_back(graph.nodes[cur]);
      const NodeId next = adj.begin(cur)[0] == prev ? adj.begin(cur)[1] : adj.begin(cur)[0];
      prev = cur;
      cur = next;
    }
    chain.points.push_back(graph.nodes[s]);
    chain.start_node = chain.end_node = s;
    chains.push_back(std::move(chain));
  }
  return chains;
}

}  // namespace

namespace graph_detail {

std::vector<Chain> walk_chains(const Graph& graph, const Adjacency& adj) {
  const std::size_t n = graph.nodes.size();
  PairSet visited(adj.neighbour.size() / 2);
  std::vector<Chain> chains;

  // Every step marks an unvisited edge, so a walk ends after at most all edges.
  auto walk = [&](NodeId s, NodeId first) {
    if (!visited.insert(pair_key(s, first))) return;
    Chain chain;
    chain.points = {graph.nodes[s], graph.nodes[first]};
    NodeId prev = s;
    NodeId cur = first;
    while (adj.degree(cur) == 2) {
      NodeId next = adj.begin(cur)[0];
      if (next == prev) next = adj.begin(cur)[1];
      if (next == prev) break;
      if (!visited.insert(pair_key(cur, next))) break;
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

}  // namespace graph_detail

std::vector<Chain> extract_chains(Graph graph) {
  graph_detail::check_edges(graph, "extract_chains");
  const graph_detail::Adjacency adj = graph_detail::build_adjacency(graph);
  std::vector<Edge>().swap(graph.edges);
  return simple(adj) ? simple_chains(graph, adj) : graph_detail::walk_chains(graph, adj);
}

}  // namespace strokegraph
