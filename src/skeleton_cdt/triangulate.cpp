#include "skeleton_cdt/triangulate.h"

namespace strokegraph {

// Placeholder until triangulation lands.
std::vector<Triangle> get_triangles(const Ring&, const std::vector<Ring>&) { return {}; }

}  // namespace strokegraph
