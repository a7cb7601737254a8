// Clean-up of the skeleton graph into the drawing's own graph: the spurs that
// band corners and bumps sprout are removed, crossings that the skeleton
// split into several junctions become one node, and free ends are moved back
// to where the strokes end. Every stage measures against the band: a node's
// clearance is its distance to the band boundary, the radius of the largest
// disc around it that stays inside the band.
#pragma once

#include <cstddef>
#include <vector>

#include "cleanup/segment_grid.h"
#include "common/geometry.h"
#include "graph/graph.h"

namespace strokegraph {

// The edges of every ring of the polygons, as a grid with cells of `cell`.
SegmentGrid boundary_grid(const std::vector<BufferPolygon>& polygons, double cell);

// Clearance of every node of degree 3 or more (0 for the others), looked for
// within `reach`; a node farther than that from the boundary gets `reach`.
std::vector<double> junction_clearance(const Graph& graph, const SegmentGrid& boundary,
                                       double reach);

// Removes, pass after pass, every branch from a free end to a junction whose
// length is below `factor` x the junction's clearance (the branch ends inside
// or just beyond the junction's disc, so it is a bump of the band, not an arm
// of the drawing), and every isolated path shorter than `isolated_length`.
// Degrees are frozen within a pass, so the two spurs of a square cap's corners
// go together and leave their fork as the stroke's free end. Nodes are kept
// as they are; the output has the surviving edges in input order.
Graph remove_spurs(const Graph& graph, const std::vector<double>& clearance, double factor,
                   double isolated_length);

// Merges junctions joined by a link (a path through degree-2 nodes) of length
// at most `factor` x the sum of their clearances: their discs overlap, so the
// link lies inside one crossing of the band. Shortest links first; a merged
// node sits at the mean of its junctions. Loops at a node shorter than
// 2 x `factor` x its clearance are dropped. The graph is compacted (nodes
// without edges go) and `clearance` is renumbered with it, a merged node
// taking the largest clearance of its junctions.
Graph merge_crossings(const Graph& graph, std::vector<double>& clearance, double factor);

// Moves every free end of the chains along the chain's direction at that end
// so that it lies one half-width short of the band's end: a square cap ends
// a half-width beyond the stroke's end, and so does a round one. The
// direction is taken over the last `radius` of the chain, the half-width is
// the clearance there, the move is at most 2 half-widths outward or one
// inward. Closed chains and junction ends stay.
void place_free_ends(std::vector<Polyline>& chains, const std::vector<Chain>& walked,
                     const SegmentGrid& boundary, double radius);

}  // namespace strokegraph
