// Small builders for graph tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "graph/graph.h"

namespace graph_test {

using strokegraph::Edge;
using strokegraph::Graph;
using strokegraph::NodeId;
using strokegraph::Point;

inline Graph make_graph(std::vector<Point> nodes, std::vector<Edge> edges) {
  return Graph{std::move(nodes), std::move(edges)};
}

// A random tree: node i hangs off an earlier node at a random distance in
// [min_len, max_len]; edges are shuffled and randomly oriented. With
// `extra` > 0 that many chords between random nodes are added (no self loops,
// no duplicate pairs), giving cycles.
inline Graph random_graph(std::size_t nodes, std::uint64_t seed, double min_len, double max_len,
                          std::size_t extra = 0) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> len(min_len, max_len);
  std::uniform_real_distribution<double> angle(0.0, 6.283185307179586);
  Graph g;
  g.nodes.push_back({0.0, 0.0});
  std::set<std::pair<NodeId, NodeId>> pairs;
  for (std::size_t i = 1; i < nodes; ++i) {
    // Recent nodes are favoured, which gives long branches as well as bushes.
    const std::size_t back = std::uniform_int_distribution<std::size_t>(1, i < 8 ? i : 8)(rng);
    const std::size_t parent = (rng() % 3 == 0) ? rng() % i : i - back;
    const double l = len(rng);
    const double a = angle(rng);
    g.nodes.push_back({g.nodes[parent].x + l * std::cos(a), g.nodes[parent].y + l * std::sin(a)});
    g.edges.emplace_back(static_cast<NodeId>(parent), static_cast<NodeId>(i));
    pairs.emplace(static_cast<NodeId>(parent), static_cast<NodeId>(i));
  }
  for (std::size_t k = 0; k < extra && nodes > 2; ++k) {
    const auto a = static_cast<NodeId>(rng() % nodes);
    const auto b = static_cast<NodeId>(rng() % nodes);
    if (a == b || pairs.count({a < b ? a : b, a < b ? b : a})) continue;
    pairs.emplace(a < b ? a : b, a < b ? b : a);
    g.edges.emplace_back(a, b);
  }
  for (std::size_t i = g.edges.size(); i > 1; --i) std::swap(g.edges[i - 1], g.edges[rng() % i]);
  for (Edge& e : g.edges) {
    if (rng() & 1) std::swap(e.first, e.second);
  }
  return g;
}

}  // namespace graph_test
