// Constrained Delaunay triangulation of a polygon's rings.
#pragma once

#include <vector>

#include "common/geometry.h"

namespace strokegraph {

// Triangles inside `outer` and outside `holes`; empty when the polygon cannot
// be triangulated. Never throws for bad geometry.
std::vector<Triangle> get_triangles(const Ring& outer, const std::vector<Ring>& holes);

}  // namespace strokegraph
