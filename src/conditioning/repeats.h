// Strokes drawn more than once: the same points again, in the same order or
// reversed (street data stores a two-way street once per direction, sketches
// repeat strokes). The band of a repeat adds nothing, but joining a stroke to
// its own repeat at their common ends would fold it into a loop without ends,
// so the clean pipeline draws each stroke once.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "common/geometry.h"

namespace strokegraph {

// The indices of the curves that repeat an earlier one: equal points (bit for
// bit) in the same or the reverse order, and equal widths in that order (or
// neither with widths of its own). Ascending; the first of equal curves stays.
std::vector<std::size_t> repeated_curves(const std::vector<Polyline>& curves,
                                         const std::optional<WidthLists>& widths);

// Per curve, the first curve it repeats (itself when it repeats none).
std::vector<std::size_t> first_drawn(const std::vector<Polyline>& curves, const std::optional<WidthLists>& widths);

}  // namespace strokegraph
