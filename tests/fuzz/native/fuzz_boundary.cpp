// Boundary preprocessing of decoded polygons: a line with flag bit 1 set is a
// hole of the polygon before it.
#include <cmath>

#include "boundary/preprocess.h"
#include "common/errors.h"
#include "decode.h"

using namespace strokegraph;

namespace strokegraph::fuzz {

std::vector<BufferPolygon> polygons_of(const std::uint8_t* data, std::size_t size,
                                       const Decoded& d);

}  // namespace strokegraph::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Decoded d = fuzz::decode(data, size);
  std::vector<BufferPolygon> polygons = fuzz::polygons_of(data, size, d);
  const double fs = d.params[1], bd = d.params[0];
  double perimeter = 0.0;
  for (const Polyline& l : d.lines) {
    for (std::size_t i = 0; i < l.size(); ++i) {
      const Point& a = l[i];
      const Point& b = l[(i + 1) % l.size()];
      const double s = std::hypot(b.x - a.x, b.y - a.y);
      if (std::isfinite(s)) perimeter += s;
    }
  }
  if (!(fs > 0.0) || !std::isfinite(fs) || perimeter / fs > 2e5) return 0;
  const std::optional<double> resample = d.opt(3);
  if (resample && *resample > 0.0 && perimeter / *resample > 2e5) return 0;
  try {
    const std::size_t count = polygons.size();
    std::vector<BufferPolygon> out =
        preprocess_boundaries(std::move(polygons), fs, bd, d.opt(2), resample, d.opt(4),
                              (d.mask >> 7) & 1);
    if (out.size() != count) __builtin_trap();
  } catch (const MemoryLimitError&) {
  }
  const double max_edge = d.params[5];
  if (max_edge > 0.0 && perimeter / max_edge < 2e5) {
    try {
      for (const Polyline& l : d.lines) (void)subdivide_ring(l, max_edge);
    } catch (const MemoryLimitError&) {  // an infinite edge
    }
  }
  return 0;
}
