// What the tile steps share: a band's bounding box as a tile rectangle, and
// the margins a tile that retries grows by (planning takes every band a
// tile's largest retry reads).
#pragma once

#include <iterator>

#include "common/geometry.h"
#include "pipeline/tile.h"

namespace strokegraph {

inline TileRect rect_bounds(const Ring& ring) {
  const Bounds b = bounds_of(ring);
  return {b.xmin, b.ymin, b.xmax, b.ymax};
}

inline constexpr double kRetryMargins[] = {1.0, 1.25, 1.5};
static_assert(kRetryMargins[std::size(kRetryMargins) - 1] == kLargestMarginGrowth);

}  // namespace strokegraph
