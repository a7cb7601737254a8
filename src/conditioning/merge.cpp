#include "conditioning/merge.h"

namespace strokegraph {

// Placeholder until merging lands: curves and widths unchanged.
MergedCurves merge_connected(const std::vector<Polyline>& curves,
                             const std::optional<WidthLists>& per_curve_widths, double, double) {
  return MergedCurves{curves, per_curve_widths};
}

}  // namespace strokegraph
