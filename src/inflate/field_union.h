// The union of round bands of one radius, traced as the outline of the
// points within the radius of a curve (a distance field on a grid) instead
// of offsetting every curve and uniting the outlines.
#pragma once

#include <optional>
#include <vector>

#include "common/geometry.h"

namespace strokegraph {

// Where ten traces run along every street, the outlines of their bands cross
// each other all along it, and the union's cost follows those crossings. The
// union of bands with round caps and joins is the set of points within
// `radius` of a curve: its outline is found here as the level `radius` of the
// distance to the curves, sampled at the nodes of a grid of side `cell`
// (exact distances, interpolated linearly along the grid edges, saddles
// decided by the mean of the square). Off the outline's corners it lies
// within about cell^2 / (8 radius) of the true circles and lines (the
// offsetter's arcs lie up to its arc tolerance inside them); where two bands
// meet at a notch it cuts the notch by up to a cell.
//
// Rings as the union gives them: outer rings counter-clockwise, holes
// clockwise, each without repeated closing point, listed in a fixed order
// (bottom to top by the first grid edge they cross). The grid is computed in
// horizontal strips, in parallel on larger inputs; each node's value is a
// minimum over segments, so the result does not depend on the thread count.
// Nothing when a curve has a point that is not finite, or the grid would
// exceed `max_nodes` nodes.
std::optional<std::vector<Ring>> round_band_union(const std::vector<Polyline>& curves,
                                                  double radius, double cell,
                                                  double max_nodes);

}  // namespace strokegraph
