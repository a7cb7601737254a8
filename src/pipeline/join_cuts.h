// Skeleton segments that a seam cut in two, made whole again.
#pragma once

#include "graph/graph.h"
#include "pipeline/tile.h"

namespace strokegraph {

// Where a skeleton segment crossed a seam, each tile kept its piece of it,
// and the graph has a node of degree 2 on the seam line between two
// collinear edges. Where the two tiles agreed on the segment, that node goes
// (it is left without edges) and its two edges become the one segment again,
// so that the chains through it are those of the skeleton in one piece.
// Edge order is kept: the joined edge takes the place of the first of the two.
Graph join_seam_cuts(Graph graph, const TileGrid& grid);

}  // namespace strokegraph
