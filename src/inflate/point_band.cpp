#include "inflate/point_band.h"

#include <climits>
#include <cmath>
#include <cstdint>

namespace strokegraph {

std::optional<Ring> wide_point_square(const std::vector<Point>& pts, double radius, double scale) {
  const double half = std::ceil(radius * scale);
  if (pts.empty() || !(half > double(INT_MAX))) return std::nullopt;
  const double x = std::round(pts[0].x * scale), y = std::round(pts[0].y * scale);
  for (const Point& p : pts) {
    if (std::round(p.x * scale) != x || std::round(p.y * scale) != y) return std::nullopt;
  }
  // Integer grid values (|v| < 2^53 within the offset limits), so the sums are exact.
  const double l = x - half, r = x + half, t = y - half, b = y + half;
  return Ring{{l / scale, t / scale}, {r / scale, t / scale}, {r / scale, b / scale},
              {l / scale, b / scale}};
}

}  // namespace strokegraph
