#include "skeleton_cdt/skeleton.h"

namespace strokegraph {

// Placeholder until skeleton extraction lands.
std::vector<Segment> skeletonize(const Ring&, const std::vector<Ring>&) { return {}; }

}  // namespace strokegraph
