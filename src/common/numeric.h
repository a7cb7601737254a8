// Saturating conversions and grid cell keys shared by the stages that snap
// points onto square grids.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace strokegraph {

// An integral double as int64: NaN gives 0, values beyond the range the
// nearest bound.
inline std::int64_t saturating_i64(double v) {
  if (std::isnan(v)) return 0;
  if (v < -0x1p63) return INT64_MIN;
  if (v >= 0x1p63) return INT64_MAX;
  return static_cast<std::int64_t>(v);
}

// An integral double as uint32: NaN and non-positive values give 0.
inline std::uint32_t saturating_u32(double v) {
  if (std::isnan(v) || v <= 0.0) return 0;
  if (v >= 4294967295.0) return UINT32_MAX;
  return static_cast<std::uint32_t>(v);
}

// Nearest integer, halves away from zero (as std::round, but inline),
// saturated; NaN gives 0. Below 2^52 the part after the point is v less its
// truncation, exactly; from there on v is integral.
inline std::int64_t round_saturating(double v) {
  if (std::fabs(v) < 0x1p52) {  // NaN fails
    const auto t = static_cast<std::int64_t>(v);
    const double r = v - static_cast<double>(t);
    return t + std::int64_t{r >= 0.5} - std::int64_t{r <= -0.5};
  }
  return saturating_i64(v);
}

// splitmix64 finaliser: a well-spread hash for integer keys.
struct MixHash {
  std::size_t operator()(std::uint64_t v) const {
    v ^= v >> 30;
    v *= 0xbf58476d1ce4e5b9ULL;
    v ^= v >> 27;
    v *= 0x94d049bb133111ebULL;
    v ^= v >> 31;
    return static_cast<std::size_t>(v);
  }
};

// A cell of a square grid. Maps keyed by it serve lookups only.
struct CellKey {
  std::int64_t x;
  std::int64_t y;
  friend bool operator==(const CellKey&, const CellKey&) = default;
};

struct CellKeyHash {
  std::size_t operator()(const CellKey& k) const {
    const MixHash mix;
    return mix(static_cast<std::uint64_t>(k.x) ^ mix(static_cast<std::uint64_t>(k.y)));
  }
};

}  // namespace strokegraph
