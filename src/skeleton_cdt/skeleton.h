// Chordal-axis skeleton of a triangulated polygon.
#pragma once

#include <vector>

#include "common/geometry.h"

namespace strokegraph {

std::vector<Segment> skeletonize(const Ring& outer, const std::vector<Ring>& holes);

}  // namespace strokegraph
