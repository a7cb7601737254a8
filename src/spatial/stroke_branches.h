// Strokes that branch off another near its end: the stroke's last stretch
// past the branch is an overshoot (as in a cursive n, whose stem runs a
// little above where the arch leaves it), not an arm of the drawing.
#pragma once

#include <optional>

#include "common/geometry.h"
#include "spatial/stroke_index.h"

namespace strokegraph {

// Where another stroke leaves the stroke ending nearest to `tip` (within
// `end_reach`; curves that close on themselves have no ends): a stroke whose
// own end lies within a band radius of that curve's centerline, within
// `beyond` of its end but a band radius or more back from it, where the
// curve runs on for at least three band radii more, and that leaves it (a
// point of the other stroke lies more than a band radius from it, within
// four band radii of its end and before the curve ends), at any angle: a
// stroke drawn again over it runs along it and does not count, the pieces
// of a stroke broken in two overlap too little, and two strokes ending
// together end there. The answer is the foot of
// that other stroke's end on the ending stroke, the nearest to the end of
// such feet; nothing when there is none.
std::optional<Point> branch_near_end(const StrokeIndex& strokes, Point tip, double end_reach, double beyond);

}  // namespace strokegraph
