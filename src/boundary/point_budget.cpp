#include "boundary/point_budget.h"

#include "common/errors.h"
#include "common/format.h"

namespace strokegraph {

void throw_too_dense(const PointBudget& budget, std::string_view fallback_cause) {
  const std::string cause = budget.cause.empty() ? std::string(fallback_cause) : budget.cause;
  throw MemoryLimitError(cause + " makes the boundary rings too dense (more than " +
                         std::to_string(kMaxBoundaryPoints) + " points per call)");
}

std::string name_value(std::string_view name, double value) {
  return std::string(name) + "=" + format_float(value);
}

}  // namespace strokegraph
