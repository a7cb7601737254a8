// Inflation and union, uniform and per-vertex radius.
#include <cmath>

#include "decode.h"
#include "inflate/inflate.h"

using namespace strokegraph;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Decoded d = fuzz::decode(data, size);
  const double bd = d.params[0], fs = d.params[1];
  if (!(fs > 0.0) || !std::isfinite(fs)) return 0;
  std::optional<WidthLists> widths;
  if (d.any_widths) widths = d.widths;
  const std::vector<BufferPolygon> polygons = inflate(d.lines, widths, bd, fs);
  for (const BufferPolygon& p : polygons) {
    for (const Point& q : p.outer) {
      if (std::isnan(q.x) || std::isnan(q.y)) __builtin_trap();
    }
  }
  for (std::size_t i = 0; i < d.lines.size(); ++i) {
    if (d.widths[i].size() == d.lines[i].size() && !d.widths[i].empty()) {
      (void)inflate_curve_variable(d.lines[i], d.widths[i], fs);
    }
  }
  return 0;
}
