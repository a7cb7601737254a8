// The outline of one stroke's band drawn directly, without resolving it: one
// ring that may cross itself, whose points of positive winding number are the
// band. The clean pipeline unites all outlines of a group at once with the
// Positive fill rule, which resolves each outline on the way, instead of
// resolving every band in a union call of its own first.
#pragma once

#include <vector>

#include "common/geometry.h"

namespace strokegraph {

// Appends the outline of the band of radius `r` around `pts` (at least one
// point, finite) to `out`: the right side forward, the cap at the last point,
// the left side back, the cap at the first point, counter-clockwise where the
// band is simple. Caps are round, butt or square as given (not both square:
// those bands take square joins, which this does not draw); joins are round,
// drawn as arcs within `arc_tolerance` of the circle, as a single miter
// vertex where the turn is so small that the miter stays within a quarter of it,
// and on the inner side of a turn through the vertex itself (three points,
// whose reversed loop the Positive rule drops), or as the single inner miter
// vertex where both edges are long enough to hold it. Points closer than a
// millionth of a unit to the previous one are dropped; a stroke left with a
// single point becomes a disc.
void stroke_outline(const std::vector<Point>& pts, double r, EndCaps caps, double arc_tolerance,
                    std::vector<Point>& out);

// The points of a stroke its band is drawn through: both ends and the fewest
// others (Ramer-Douglas-Peucker) that keep every dropped point within
// `tolerance` of the segment between the kept points around it. Distances are
// to the segment, not its line, so that a stroke turning back on itself keeps
// its tip. Jittery strokes sampled every few hundredths of their band's
// radius drop most of their points: every point kept costs the union an edge
// on both sides of the band, and every wobble a crossing with the bands it
// overlaps.
std::vector<Point> band_path(const std::vector<Point>& pts, double tolerance);

}  // namespace strokegraph
