#include "graph/graph.h"

namespace strokegraph {

// Placeholders until the graph stages land.
Graph segments_to_graph(const std::vector<Segment>&, double) { return {}; }
Graph prune_short_tips(const Graph& graph, double) { return graph; }
Graph merge_close_junctions(const Graph& graph, double) { return graph; }
std::vector<Chain> extract_chains(const Graph&) { return {}; }
std::vector<Point> smooth_chain_taubin(const std::vector<Point>& points, unsigned, double, double) {
  return points;
}

}  // namespace strokegraph
