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
Clipper2Lib::PathsD union_bands(Clipper2Lib::PathsD subjects, bool single_call);

}  // namespace strokegraph
