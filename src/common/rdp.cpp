#include "common/rdp.h"

#include <cmath>
#include <cstddef>
#include <utility>

#include "common/progress.h"

namespace strokegraph {

// The recursive split keeps the two ends of every span plus each split point,
// and concatenates left before right: that is exactly the kept indices in
// ascending order. So the spans go on an explicit stack (any order gives the
// same set) and the kept points are emitted in index order at the end.
void rdp_mark(const Point* points, std::size_t n, double epsilon, char* keep,
              std::vector<std::pair<std::size_t, std::size_t>>& spans) {
  if (n == 0) return;
  keep[0] = keep[n - 1] = 1;
  spans.assign(1, {0, n - 1});
  std::size_t round = 0;
  while (!spans.empty()) {
    poll(++round);
    const auto [lo, hi] = spans.back();
    spans.pop_back();
    if (hi - lo < 2) continue;
    const Point a = points[lo];
    const Point b = points[hi];
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    const double l2 = dx * dx + dy * dy;
    // The farthest point by its distance, the first of equals. The square
    // root is taken only of a square above the one behind the best so far:
    // any other root is at most the best.
    double dmax = 0.0, qmax = 0.0;
    std::size_t k = lo;
    for (std::size_t i = lo + 1; i < hi; ++i) {
      const Point p = points[i];
      double q;
      if (l2 != 0.0) {
        const double t = (dx * (p.x - a.x) + dy * (p.y - a.y)) / l2;
        const double fx = a.x + dx * t;
        const double fy = a.y + dy * t;
        q = (fx - p.x) * (fx - p.x) + (fy - p.y) * (fy - p.y);
      } else {
        q = (p.x - a.x) * (p.x - a.x) + (p.y - a.y) * (p.y - a.y);
      }
      if (q <= qmax) continue;
      const double d = std::sqrt(q);
      if (d > dmax) {
        dmax = d;
        qmax = q;
        k = i;
      }
    }
    // k stays at lo only when no distance exceeds 0; a non-positive epsilon
    // must not split there (the span would never shrink).
    if (!(dmax > epsilon) || k == lo) continue;
    keep[k] = 1;
    spans.emplace_back(k, hi);
    spans.emplace_back(lo, k);
  }
}

std::vector<char> rdp_kept(const std::vector<Point>& points, double epsilon) {
  std::vector<char> keep(points.size(), 0);
  std::vector<std::pair<std::size_t, std::size_t>> spans;
  rdp_mark(points.data(), points.size(), epsilon, keep.data(), spans);
  return keep;
}

std::vector<Point> rdp(const std::vector<Point>& points, double epsilon) {
  const std::size_t n = points.size();
  if (n < 3) return points;
  const std::vector<char> keep = rdp_kept(points, epsilon);
  std::vector<Point> out;
  for (std::size_t i = 0; i < n; ++i) {
    if (keep[i]) out.push_back(points[i]);
  }
  return out;
}

std::vector<Point> decimate_curve(const std::vector<Point>& points, double min_spacing) {
  const std::size_t n = points.size();
  if (n < 2) return points;
  const double min_q = min_spacing * min_spacing;
  std::vector<Point> out{points[0]};
  Point anchor = points[0];
  for (std::size_t i = 1; i + 1 < n; ++i) {
    const Point p = points[i];
    const double q = (p.x - anchor.x) * (p.x - anchor.x) + (p.y - anchor.y) * (p.y - anchor.y);
    if (q >= min_q) {  // a NaN q fails and the point is skipped
      out.push_back(p);
      anchor = p;
    }
  }
  out.push_back(points[n - 1]);
  return out;
}

std::vector<Polyline> decimate_curves(const std::vector<Polyline>& curves, bool keep_as_is,
                                      double min_spacing) {
  if (keep_as_is) return curves;
  std::vector<Polyline> out;
  out.reserve(curves.size());
  for (const Polyline& curve : curves) out.push_back(decimate_curve(curve, min_spacing));
  return out;
}

}  // namespace strokegraph
