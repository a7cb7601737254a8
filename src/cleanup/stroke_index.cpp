#include "cleanup/stroke_index.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "common/errors.h"

namespace strokegraph {

StrokeIndex stroke_index(const std::vector<Polyline>& curves, const std::optional<WidthLists>& widths,
                         double radius) {
  StrokeIndex index{CellIndex(), &curves, {}, {}, {}, radius};
  if (curves.size() > std::numeric_limits<std::uint32_t>::max()) {
    throw MemoryLimitError("stroke index: too many curves");
  }
  // Radii per segment only where some curve has its own widths.
  bool uniform = true;
  for (std::size_t c = 0; c < curves.size() && widths; ++c) {
    if (c < widths->size() && (*widths)[c].size() == curves[c].size() && curves[c].size() >= 2) uniform = false;
  }
  for (std::size_t c = 0; c < curves.size(); ++c) {
    const Polyline& curve = curves[c];
    if (curve.size() < 2) continue;  // no band
    if (curve.size() > std::numeric_limits<std::uint32_t>::max()) {
      throw MemoryLimitError("stroke index: a curve has too many points");
    }
    const bool own = widths && c < widths->size() && (*widths)[c].size() == curve.size();
    for (std::size_t k = 1; k < curve.size(); ++k) {
      double r = radius;
      if (own) r = std::max(std::fabs((*widths)[c][k - 1]), std::fabs((*widths)[c][k]));
      const Point a = curve[k - 1], b = curve[k];
      if (!std::isfinite(r) || !std::isfinite(a.x) || !std::isfinite(a.y) || !std::isfinite(b.x) ||
          !std::isfinite(b.y)) {
        continue;
      }
      index.owner.push_back(static_cast<std::uint32_t>(c));
      index.vertex.push_back(static_cast<std::uint32_t>(k));
      if (!uniform) index.reach.push_back(r);
      index.max_reach = std::max(index.max_reach, r);
    }
  }
  index.grid = CellIndex(index.owner.size(), [&](std::size_t i) { return index.segment(i); },
                         2.0 * index.max_reach);
  return index;
}

bool strokes_meet_at(const StrokeIndex& strokes, Point p, double min_angle) {
  const double r = strokes.max_reach;
  const double max_cos = std::cos(min_angle);
  // The direction of the nearest segment of each stroke that holds p.
  std::vector<std::pair<std::size_t, std::size_t>> nearest;  // (curve, segment)
  std::vector<double> best;
  strokes.grid.visit_box({p.x - r, p.y - r}, {p.x + r, p.y + r}, [&](std::size_t i) {
    const double d = point_segment_distance(p, strokes.segment(i));
    if (d > strokes.reach_of(i)) return;
    const std::size_t c = strokes.owner[i];
    for (std::size_t k = 0; k < nearest.size(); ++k) {
      if (nearest[k].first != c) continue;
      if (d < best[k] || (d == best[k] && i < nearest[k].second)) best[k] = d, nearest[k].second = i;
      return;
    }
    nearest.push_back({c, i});
    best.push_back(d);
  });
  std::vector<Point> dirs;
  for (const auto& [c, i] : nearest) {
    const Polyline& curve = (*strokes.curves)[c];
    const double reach = strokes.reach_of(i);
    std::size_t lo = strokes.vertex[i] - 1, hi = strokes.vertex[i];
    for (double run = 0.0; lo > 0 && run < reach; --lo) {
      run += std::hypot(curve[lo].x - curve[lo - 1].x, curve[lo].y - curve[lo - 1].y);
    }
    for (double run = 0.0; hi + 1 < curve.size() && run < reach; ++hi) {
      run += std::hypot(curve[hi + 1].x - curve[hi].x, curve[hi + 1].y - curve[hi].y);
    }
    const double dx = curve[hi].x - curve[lo].x, dy = curve[hi].y - curve[lo].y;
    const double len = std::hypot(dx, dy);
    if (len > 0.0) dirs.push_back({dx / len, dy / len});
  }
  for (std::size_t a = 0; a < dirs.size(); ++a) {
    for (std::size_t b = a + 1; b < dirs.size(); ++b) {
      if (std::fabs(dirs[a].x * dirs[b].x + dirs[a].y * dirs[b].y) < max_cos) return true;
    }
  }
  return false;
}

}  // namespace strokegraph
