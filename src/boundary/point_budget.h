// Guard against parameters that would densify boundary rings without bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/numeric.h"

namespace strokegraph {

// The most points boundary preprocessing may hold in its rings (and corner
// index) at once during one call. A Point is 16 bytes, so this is about
// 800 MB of ring data: far beyond any sensible drawing, far below what would
// take the machine down.
inline constexpr std::size_t kMaxBoundaryPoints = 50'000'000;

// How many points one densifying routine may return, and which parameter to
// blame when it would need more. A routine never refuses to return as many
// points as it was given.
struct PointBudget {
  std::size_t max_points = kMaxBoundaryPoints;
  // Names the parameter and its value, e.g. "resample=0.000001"; when empty
  // the routine names its own argument.
  std::string cause;
};

// Throws MemoryLimitError: "<cause> makes the boundary rings too dense (more
// than 50000000 points per call)", with `fallback_cause` when the budget
// names none.
[[noreturn]] void throw_too_dense(const PointBudget& budget, std::string_view fallback_cause);

// "<name>=<value>" with the value in shortest round-trip form.
std::string name_value(std::string_view name, double value);

}  // namespace strokegraph
