#include "common/format.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <system_error>

namespace strokegraph {

std::string format_float(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  // The shortest digits that read back as the same double, in scientific
  // form ("-d.ddde+XX"), then written out positionally.
  char buf[64];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  if (ec != std::errc()) return "NaN";  // unreachable: 64 bytes always suffice
  const std::string text(buf, end);
  const std::size_t e = text.find('e');
  std::string digits;
  bool negative = false;
  for (std::size_t i = 0; i < e; ++i) {
    if (text[i] == '-') negative = true;
    if (text[i] >= '0' && text[i] <= '9') digits += text[i];
  }
  // value = 0.d1d2d3... x 10^point
  const long point = std::strtol(text.c_str() + e + 1, nullptr, 10) + 1;
  const long n = static_cast<long>(digits.size());
  std::string out = negative ? "-" : "";
  if (point <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-point), '0');
    out += digits;
  } else if (point >= n) {
    out += digits;
    out.append(static_cast<std::size_t>(point - n), '0');
  } else {
    out += digits.substr(0, static_cast<std::size_t>(point));
    out += '.';
    out += digits.substr(static_cast<std::size_t>(point));
  }
  return out;
}

}  // namespace strokegraph
