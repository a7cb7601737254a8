#include "common/format.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace strokegraph {

std::string format_float(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  // Fixed notation of the smallest subnormal needs 324 digits after the point;
  // the largest double needs 309 before it.
  char buf[400];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
  if (ec != std::errc()) return "NaN";  // unreachable: the buffer always suffices
  return std::string(buf, end);
}

}  // namespace strokegraph
