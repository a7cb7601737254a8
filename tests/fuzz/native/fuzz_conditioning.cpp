// Curve conditioning: rdp, decimation and connected-curve merging.
#include <cmath>
#include <cstring>

#include "common/rdp.h"
#include "conditioning/merge.h"
#include "decode.h"

using namespace strokegraph;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Decoded d = fuzz::decode(data, size);
  if (d.lines.empty()) return 0;
  const double eps = std::fabs(d.params[0]);
  for (const Polyline& line : d.lines) {
    if (eps > 0.0) {
      const std::vector<Point> s = rdp(line, eps);
      if (s.size() > line.size()) __builtin_trap();
      if (line.size() >= 2 && (std::memcmp(&s.front(), &line.front(), sizeof(Point)) != 0 ||
                               std::memcmp(&s.back(), &line.back(), sizeof(Point)) != 0)) {
        __builtin_trap();
      }
    }
    const std::vector<Point> thin = decimate_curve(line, d.params[1]);
    if (thin.size() > line.size()) __builtin_trap();
  }
  (void)decimate_curves(d.lines, d.mask & 1, d.params[1]);

  std::optional<WidthLists> widths;
  if (d.any_widths) widths = d.widths;
  const double tolerance = d.params[2];
  if (tolerance > 0.0) {
    MergedCurves m = merge_connected(d.lines, widths, d.params[3], tolerance);
    if (m.widths.has_value() != widths.has_value()) __builtin_trap();
    std::size_t in = 0, out = 0;
    for (const Polyline& l : d.lines) in += l.size();
    for (const Polyline& l : m.curves) out += l.size();
    if (out > in) __builtin_trap();
    if (m.widths) {
      for (std::size_t i = 0; i < m.widths->size() && i < m.curves.size(); ++i) {
        const auto& w = (*m.widths)[i];
        if (!w.empty() && w.size() != m.curves[i].size()) __builtin_trap();
      }
    }
  }
  return 0;
}
