// What the strokes ending near a skeleton tip say of it. A stroke that
// another branches off near its end: its last stretch past the branch is an
// overshoot (as in a cursive n, whose stem runs a little above where the
// arch leaves it), not an arm of the drawing. Two strokes ending together
// and parting: the tip is their corner.
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

// Whether two different strokes both end within `end_reach` of `tip` and of
// each other, come there from the same side, and each lies more than a band
// radius from the other's centerline 4 band radii back from its end: a
// corner where two strokes are drawn to one point (the foot of a V, an M's
// outer corners), not a stroke drawn again nor a broken stroke's pieces.
// Curves shorter than that have no say.
bool strokes_end_at_corner(const StrokeIndex& strokes, Point tip, double end_reach);

}  // namespace strokegraph
