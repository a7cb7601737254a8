// The topologize pipeline with the skeleton computed tile by tile, for one
// drawing too large to union in one piece.
#pragma once

#include <vector>

#include "common/errors.h"
#include "common/geometry.h"
#include "pipeline/thresholds.h"
#include "pipeline/tile.h"
#include "pipeline/topologize.h"

namespace strokegraph {

// As topologize_inner, with inflation, boundary preprocessing and skeleton
// run per tile (pipeline/tile.h); the graph and everything after it are the same.
// Does not check feature_size.
Result<TopologizeOutput> topologize_tiled(const std::vector<Polyline>& curves,
                                          double buffer_distance, double feature_size,
                                          const TopologizeOptions& options,
                                          const TileOptions& tiles);

// The largest band radius in force: the uniform radius, or a per-vertex width
// of a curve that has widths.
double largest_radius(double buffer_distance, const std::optional<WidthLists>& widths);

}  // namespace strokegraph
