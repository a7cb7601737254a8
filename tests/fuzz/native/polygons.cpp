#include "decode.h"

namespace strokegraph::fuzz {

// Decoded lines as polygons: a line whose record has flag bit 1 becomes a
// hole of the polygon before it; every other line starts a new polygon.
std::vector<BufferPolygon> polygons_of(const std::uint8_t* data, std::size_t size,
                                       const Decoded& d) {
  // Re-read only the record flags: they are not kept by decode().
  Reader r(data, size);
  r.u8();
  for (std::size_t i = 0; i < kParams + 1; ++i) r.f64();
  std::vector<BufferPolygon> polygons;
  for (const Polyline& line : d.lines) {
    const std::size_t count = r.u8();
    const std::uint8_t flags = r.u8();
    for (std::size_t k = 0; k < 2 * count; ++k) r.i16();
    if (flags & 1) {
      for (std::size_t k = 0; k < count; ++k) r.u8();
    }
    if ((flags & 2) && !polygons.empty()) {
      polygons.back().holes.push_back(line);
    } else {
      polygons.push_back({line, {}});
    }
  }
  return polygons;
}

}  // namespace strokegraph::fuzz
