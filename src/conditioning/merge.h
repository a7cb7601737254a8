// Joining of curves whose ends meet.
#pragma once

#include <optional>
#include <vector>

#include "common/geometry.h"

namespace strokegraph {

struct MergedCurves {
  std::vector<Polyline> curves;
  std::optional<WidthLists> widths;  // present exactly when widths were given
  // Present exactly when caps were given: per curve, the caps of the input
  // curves whose free ends became its first and last point.
  std::optional<std::vector<EndCaps>> caps;
};

// `caps`, when given, holds one cap per input curve.
MergedCurves merge_connected(const std::vector<Polyline>& curves,
                             const std::optional<WidthLists>& per_curve_widths,
                             double buffer_distance, double tolerance,
                             const std::vector<Cap>* caps = nullptr);

}  // namespace strokegraph
