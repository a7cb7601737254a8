// Which input curves each output chain came from.
#pragma once

#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

#include "common/geometry.h"
#include "spatial/stroke_index.h"

namespace strokegraph {

// For every chain, the sorted indices of the curves whose band covers it.
// A curve covers a chain when the part of the chain that lies within the
// curve's band (its distance to the curve at most the curve's radius there) is
// at least `radius` long, or at least half of the chain where the chain is
// shorter than two radii. Only the chain beyond 2 x `radius` from a junction
// end is looked at (the middle point when nothing is left), since every
// stroke that meets a junction covers its neighbourhood; lengths count in
// whole sampling steps of half a radius. A chain that no curve covers so but
// whose samples lie in some band gets the curves that hold the most of them.
// The strokes' bands are those of `strokes` (see stroke_index).
std::vector<std::vector<std::size_t>> chain_sources(
    const std::vector<Polyline>& chains, const std::vector<std::pair<std::size_t, std::size_t>>& ends,
    const StrokeIndex& strokes, double radius);

}  // namespace strokegraph
