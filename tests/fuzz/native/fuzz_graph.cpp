// The graph stages and chain post-processing on a decoded segment soup: every
// pair of consecutive points of a line is one segment.
#include <cmath>

#include "decode.h"
#include "common/errors.h"
#include "graph/graph.h"
#include "pipeline/postprocess.h"

using namespace strokegraph;

namespace {

void check(const Graph& g) {
  for (const Edge& e : g.edges) {
    if (e.first >= g.nodes.size() || e.second >= g.nodes.size()) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Decoded d = fuzz::decode(data, size);
  std::vector<Segment> segments;
  for (const Polyline& l : d.lines) {
    for (std::size_t i = 1; i < l.size(); ++i) segments.push_back({l[i - 1], l[i]});
  }
  if (!(d.params[0] > 0.0)) return 0;  // the pipeline's snap tolerance is positive
  try {
    Graph g = segments_to_graph(segments, d.params[0]);
    check(g);
    if (d.params[1] > 0.0) g = prune_short_tips(g, d.params[1]);
    check(g);
    if (d.params[2] > 0.0) g = merge_close_junctions(g, d.params[2]);
    check(g);
    const std::vector<Chain> chains = extract_chains(g);
    for (const Chain& c : chains) {
      if (c.points.empty()) __builtin_trap();
      (void)smooth_chain_taubin(c.points, d.mask & 7, d.params[3], d.params[4]);
    }
    const std::vector<Polyline> finished = finish_chains(chains, d.params[5]);
    const NumberedNodes numbered = number_nodes(chains, finished);
    for (const auto& [a, b] : numbered.chain_node_ids) {
      if (a >= numbered.nodes.size() || b >= numbered.nodes.size()) __builtin_trap();
    }
  } catch (const MemoryLimitError&) {
  }
  return 0;
}
