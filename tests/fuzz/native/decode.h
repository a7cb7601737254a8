// Turns a fuzzer's byte string into the plain values the core stages take.
//
// Layout (every field reads as 0 once the bytes run out):
//   u8      mask       which of the ten parameters are present
//   10 x f64 params    raw little-endian doubles, so NaN, inf and extremes occur
//   f64     scale      coordinate unit; coordinates are int16 * scale
//   then up to kMaxLines records:
//     u8 count, u8 flags (bit 0: a width per point follows),
//     count x (i16 x, i16 y), [count x u8 width, radius = byte / 16 * |scale| * 64]
// tests/fuzz/native/make_seeds.py writes the same layout.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "common/geometry.h"

namespace strokegraph::fuzz {

inline constexpr std::size_t kParams = 10;
inline constexpr std::size_t kMaxLines = 64;

class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : p_(data), n_(size) {}
  bool empty() const { return n_ == 0; }
  std::uint8_t u8() { return n_ > 0 ? (--n_, *p_++) : 0; }
  std::int16_t i16() {
    const std::uint16_t lo = u8(), hi = u8();
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(lo | (hi << 8)));
  }
  double f64() {
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= std::uint64_t{u8()} << (8 * i);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  }

 private:
  const std::uint8_t* p_;
  std::size_t n_;
};

struct Decoded {
  std::uint16_t mask = 0;
  double params[kParams] = {};
  double scale = 0.0;
  std::vector<Polyline> lines;
  WidthLists widths;  // one entry per line, empty without widths
  bool any_widths = false;

  std::optional<double> opt(std::size_t i) const {
    return (mask >> i) & 1 ? std::optional<double>(params[i]) : std::nullopt;
  }
};

inline Decoded decode(const std::uint8_t* data, std::size_t size) {
  Reader r(data, size);
  Decoded d;
  d.mask = r.u8();
  d.mask |= static_cast<std::uint16_t>((d.mask & 3) << 8);  // params 8, 9 follow params 0, 1
  for (double& p : d.params) p = r.f64();
  d.scale = r.f64();
  while (!r.empty() && d.lines.size() < kMaxLines) {
    const std::size_t count = r.u8();
    const std::uint8_t flags = r.u8();
    Polyline line(count);
    for (Point& p : line) {
      p.x = r.i16() * d.scale;
      p.y = r.i16() * d.scale;
    }
    std::vector<double> w;
    if (flags & 1) {
      w.resize(count);
      for (double& v : w) v = r.u8() / 16.0 * std::fabs(d.scale) * 64.0;
      d.any_widths = true;
    }
    d.lines.push_back(std::move(line));
    d.widths.push_back(std::move(w));
  }
  return d;
}

// Largest extent of all lines (0 without finite points); the targets use it to
// keep parameters within a density the pipeline finishes quickly.
inline double extent(const std::vector<Polyline>& lines) {
  double lo_x = INFINITY, lo_y = INFINITY, hi_x = -INFINITY, hi_y = -INFINITY;
  for (const Polyline& l : lines) {
    for (const Point& p : l) {
      if (!std::isfinite(p.x) || !std::isfinite(p.y)) continue;
      lo_x = std::fmin(lo_x, p.x), hi_x = std::fmax(hi_x, p.x);
      lo_y = std::fmin(lo_y, p.y), hi_y = std::fmax(hi_y, p.y);
    }
  }
  return hi_x < lo_x ? 0.0 : std::fmax(hi_x - lo_x, hi_y - lo_y);
}

// A length parameter is "sane" when it is not so small against the drawing
// that a single call would produce millions of points (which only measures
// how long the fuzzer is willing to wait).
inline bool dense_enough(double value, double size) {
  return !(value > 0.0) || !(size > 0.0) || value >= size * 2e-3;
}

}  // namespace strokegraph::fuzz
