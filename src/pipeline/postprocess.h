// What happens to the chains after extraction: smoothing, straightening of
// free ends, simplification, node numbering and width measurement.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "common/geometry.h"
#include "graph/graph.h"

namespace strokegraph {

// Moves a free end halfway towards the line through its two neighbours; the
// end is straightened before the start. Chains of fewer than 3 points stay.
void straighten_free_ends(std::vector<Point>& points, bool start_is_tip, bool end_is_tip);

// Smooths, straightens and (when `simplification` > 0) simplifies every chain.
std::vector<Polyline> finish_chains(const std::vector<Chain>& chains, double simplification);

struct NumberedNodes {
  std::vector<Point> nodes;
  std::vector<std::pair<std::size_t, std::size_t>> chain_node_ids;
};

// Numbers the chain end nodes densely in order of first appearance; a new
// node takes the first (start) or last (end) final point of its chain.
NumberedNodes number_nodes(const std::vector<Chain>& chains,
                           const std::vector<Polyline>& final_points);

}  // namespace strokegraph
