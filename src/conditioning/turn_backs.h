// Where a curve turns back over itself: the ink ends there though the curve
// goes on (an arm's end drawn again by a stroke starting where it ends, the
// two joined into one curve that retraces its last stretch).
#pragma once

#include <vector>

#include "common/geometry.h"

namespace strokegraph {

// The inner points of `curve` at which it turns by more than 150 degrees and
// the shorter of the two stretches either side (seen up to 4 x `radius`
// along) runs back within 0.3 radius of the other one: a retrace, not a
// sharp corner, whose legs part.
std::vector<Point> turn_backs(const Polyline& curve, double radius);

}  // namespace strokegraph
