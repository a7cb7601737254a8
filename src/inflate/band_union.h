// Union of the band outlines, one union call per cluster of bands whose
// bounding boxes meet.
#pragma once

#include <clipper2/clipper.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace strokegraph {

// A bounding box on the union's integer grid, closed on every side.
struct GridBox {
  std::int64_t xmin, ymin, xmax, ymax;
};

// Bounding box of a path on the grid the union rounds its input to (6
// decimal places). An empty path gets an empty box, which meets no other.
GridBox union_grid_box(const Clipper2Lib::PathD& path);

// The connected groups of boxes that overlap or touch (closed intervals),
// each listed in ascending index order; groups are ordered by their first
// index.
std::vector<std::vector<std::size_t>> box_clusters(const std::vector<GridBox>& boxes);

// True when STROKEGRAPH_SINGLE_UNION is "1": every band goes into one union
// call. Read on every call.
bool single_union_requested();

// NonZero union at 6 decimal places of all subjects. With `single_call` that
// is one union call. Otherwise each cluster of subjects whose boxes meet is
// unioned on its own, subjects in input order, and the rings of all clusters
// are merged by the order one call emits them in: largest y of the ring
// first, then smallest x among the ring's vertices at that y; equal keys keep
// cluster order, then the cluster's own order. A single cluster is exactly
// the one call.
// `fill` is the rule of every call (the exact layer's NonZero by default).
Clipper2Lib::PathsD union_bands(Clipper2Lib::PathsD subjects, bool single_call,
                                Clipper2Lib::FillRule fill = Clipper2Lib::FillRule::NonZero);

// union_bands for heavily overlapping bands (the clean pipeline): one union
// call meets every crossing of every pair of outlines, and where ten traces
// run along the same street those are most of the work. Clusters whose boxes
// meet are united on their own as in union_bands (and merged in its ring
// order); within a cluster of more than 8 subjects, each a band without
// holes, the subjects are put in order along a Hilbert curve over their box
// centres and united four at a time, in parallel (fixed groups, so the result
// does not depend on the thread count), which drops the inner outlines early;
// then the results four at a time, and so on, up to one last union. Every subject must be a whole region (a ring
// that is not a hole of another subject). Up to 8 subjects, union_bands.
// Every call fills by the Positive rule, so that a subject may be a raw
// outline that crosses itself (inflate/outline.h).
Clipper2Lib::PathsD union_bands_grouped(Clipper2Lib::PathsD subjects);

}  // namespace strokegraph
