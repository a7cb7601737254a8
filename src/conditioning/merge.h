// Joining of curves whose ends meet.
#pragma once

#include <optional>
#include <vector>

#include "common/geometry.h"

namespace strokegraph {

struct MergedCurves {
  std::vector<Polyline> curves;
  std::optional<WidthLists> widths;  // present exactly when widths were given
};

MergedCurves merge_connected(const std::vector<Polyline>& curves,
                             const std::optional<WidthLists>& per_curve_widths,
                             double buffer_distance, double tolerance);

}  // namespace strokegraph
