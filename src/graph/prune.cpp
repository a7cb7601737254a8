// Short tip pruning: dangling branches shorter than a threshold disappear,
// pass after pass, until no branch is removed.
#include <cstdint>
#include <limits>

#include "common/errors.h"
#include "graph/graph.h"
#include "graph/graph_util.h"

namespace strokegraph {
namespace {

constexpr NodeId kNoNode = std::numeric_limits<NodeId>::max();

// Per node, the indices of the edges that touch it, in edge-list order. The
// first alive edge of a node's list that leaves towards a node other than
// `prev` is the first such edge of the whole edge list, so a walk step costs
// the length of one short list instead of a scan of all edges. Dead entries
// are dropped from a list whenever it is scanned, keeping the order.
struct Incidence {
  std::vector<std::size_t> offset;  // start of each node's slice
  std::vector<std::size_t> size;    // live length of each node's slice
  std::vector<std::size_t> edge;

  explicit Incidence(const Graph& g) : offset(g.nodes.size() + 1, 0), size(g.nodes.size(), 0) {
    for (const Edge& e : g.edges) {
      ++size[e.first];
      if (e.second != e.first) ++size[e.second];
    }
    for (std::size_t v = 0; v < size.size(); ++v) offset[v + 1] = offset[v] + size[v];
    edge.resize(offset.back());
    std::vector<std::size_t> fill(offset.begin(), offset.end() - 1);
    for (std::size_t i = 0; i < g.edges.size(); ++i) {
      edge[fill[g.edges[i].first]++] = i;
      if (g.edges[i].second != g.edges[i].first) edge[fill[g.edges[i].second]++] = i;
    }
  }
};

}  // namespace

// Every pass but the last removes at least one branch, and a node that
// becomes a tip at the start of a pass lost two or more branches in the pass
// before, so the number of passes grows with the logarithm of the edge count
// on trees; each pass is linear in nodes plus edges walked.
Graph prune_short_tips(const Graph& graph, double threshold) {
  graph_detail::check_edges(graph, "prune_short_tips");
  const std::vector<Edge>& edges = graph.edges;
  const std::size_t n = graph.nodes.size();
  std::vector<char> alive(edges.size(), 1);
  Incidence inc(graph);

  std::vector<std::size_t> degree(n, 0);  // alive edges per node, kept current
  for (const Edge& e : edges) {
    ++degree[e.first];
    if (e.second != e.first) ++degree[e.second];
  }

  // The first alive edge at `cur` leaving towards a node other than `prev`,
  // or edges.size() when there is none; its far node goes to `far`.
  auto next_edge = [&](NodeId cur, NodeId prev, NodeId& far) {
    std::size_t* list = inc.edge.data() + inc.offset[cur];
    std::size_t& len = inc.size[cur];
    std::size_t found = edges.size();
    std::size_t out = 0;
    for (std::size_t k = 0; k < len; ++k) {
      const std::size_t i = list[k];
      if (!alive[i]) continue;
      list[out++] = i;
      if (found != edges.size()) continue;
      const auto [a, b] = edges[i];
      if (a == cur && b != prev) {
        found = i;
        far = b;
      } else if (b == cur && a != prev) {
        found = i;
        far = a;
      }
    }
    len = out;
    return found;
  };

  std::vector<std::size_t> frozen;
  std::vector<std::size_t> path;
  bool removed = true;
  while (removed) {
    removed = false;
    frozen = degree;
    for (std::size_t j = 0; j < n; ++j) {
      if (frozen[j] != 1) continue;
      path.clear();
      double length = 0.0;
      NodeId prev = kNoNode;
      auto cur = static_cast<NodeId>(j);
      for (;;) {
        NodeId far = kNoNode;
        const std::size_t i = next_edge(cur, prev, far);
        if (i == edges.size()) break;
        path.push_back(i);
        length += graph_detail::distance(graph.nodes[edges[i].first], graph.nodes[edges[i].second]);
        if (frozen[far] != 2) break;
        // Through nodes of degree 2 a walk never meets an edge twice on a
        // valid graph; only an edge that joins a node to itself could.
        if (path.size() > edges.size()) throw InvariantError("prune_short_tips: walk does not end");
        prev = cur;
        cur = far;
      }
      if (!path.empty() && length < threshold) {
        for (std::size_t i : path) {
          if (!alive[i]) continue;
          alive[i] = 0;
          --degree[edges[i].first];
          if (edges[i].second != edges[i].first) --degree[edges[i].second];
        }
        removed = true;
      }
    }
  }

  Graph out;
  out.nodes = graph.nodes;
  out.edges.reserve(edges.size());
  for (std::size_t i = 0; i < edges.size(); ++i) {
    if (alive[i]) out.edges.push_back(edges[i]);
  }
  return out;
}

}  // namespace strokegraph
