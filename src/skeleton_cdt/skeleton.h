// Chordal-axis skeleton of a triangulated polygon.
#pragma once

#include <vector>

#include "common/geometry.h"

namespace strokegraph {

// An empty list for degenerate input and for a triangulation that fails;
// `failed`, when given, is set in the latter case only.
std::vector<Segment> skeletonize(const Ring& outer, const std::vector<Ring>& holes,
                                 bool* failed = nullptr);

}  // namespace strokegraph
