// Bands of strokes drawn back and forth over themselves.
//
// Such a stroke offsets into one outline that crosses itself at almost every
// pair of its edges, and the offsetter's own union pays for every crossing:
// a few thousand points take minutes, in one library call that cannot be
// stopped. Its band is built instead from the bands of short pieces of the
// stroke, united pairwise up a balanced tree: pieces that cover the same
// ground unite into few vertices, so every step stays small, and the call
// can stop between steps. The clean pipeline uses it; topologize keeps the
// one offset call.
#pragma once

#include <vector>

#include "common/geometry.h"

namespace strokegraph {

// Whether the band of `curve` at `radius` would cover the curve's bounding
// box (grown by the radius) many times over, with enough points for the
// crossings to cost.
bool retraces_itself(const Polyline& curve, double radius);

// The band of such a curve (square joins and caps, as the one offset call
// gives): outer rings of positive area and holes of negative area.
std::vector<Ring> retraced_band(const Polyline& curve, double radius, double feature_size);

}  // namespace strokegraph
