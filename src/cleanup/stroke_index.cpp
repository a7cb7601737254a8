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
    if (const auto d = stroke_direction(strokes, i)) dirs.push_back(*d);
  }
  for (std::size_t a = 0; a < dirs.size(); ++a) {
    for (std::size_t b = a + 1; b < dirs.size(); ++b) {
      if (std::fabs(dirs[a].x * dirs[b].x + dirs[a].y * dirs[b].y) < max_cos) return true;
    }
  }
  return false;
}

std::optional<Point> stroke_direction(const StrokeIndex& strokes, std::size_t i) {
  const Polyline& curve = (*strokes.curves)[strokes.owner[i]];
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
  if (!(len > 0.0)) return std::nullopt;
  return Point{dx / len, dy / len};
}

bool overshoots_at(const StrokeIndex& strokes, Point tip, double end_reach, double beyond, double min_angle) {
  // The stroke end nearest to the tip: (distance, grid segment, at the
  // curve's last point).
  double best = end_reach;
  std::size_t seg = std::numeric_limits<std::size_t>::max();
  bool at_last = false;
  strokes.grid.visit_box({tip.x - end_reach, tip.y - end_reach}, {tip.x + end_reach, tip.y + end_reach},
                         [&](std::size_t i) {
                           const Polyline& c = (*strokes.curves)[strokes.owner[i]];
                           if (c.front().x == c.back().x && c.front().y == c.back().y) return;
                           for (int last = 0; last < 2; ++last) {
                             const bool is_end = last ? strokes.vertex[i] + 1 == c.size() : strokes.vertex[i] == 1;
                             if (!is_end) continue;
                             const Point e = last ? c.back() : c.front();
                             const double d = std::hypot(e.x - tip.x, e.y - tip.y);
                             if (d < best || (d == best && seg != std::numeric_limits<std::size_t>::max() && i < seg)) {
                               best = d, seg = i, at_last = last != 0;
                             }
                           }
                         });
  if (seg == std::numeric_limits<std::size_t>::max()) return false;
  const Polyline& own = (*strokes.curves)[strokes.owner[seg]];
  const Point end = at_last ? own.back() : own.front();
  const auto dir = stroke_direction(strokes, seg);
  if (!dir) return false;
  const double max_cos = std::cos(min_angle);
  // Another stroke's centerline within `beyond` of that end, crossing the
  // end's stroke at an angle.
  bool found = false;
  strokes.grid.visit_box({end.x - beyond, end.y - beyond}, {end.x + beyond, end.y + beyond}, [&](std::size_t i) {
    if (found || strokes.owner[i] == strokes.owner[seg]) return;
    if (point_segment_distance(end, strokes.segment(i)) > beyond * (1.0 + 1e-9)) return;
    const auto other = stroke_direction(strokes, i);
    if (other && std::fabs(other->x * dir->x + other->y * dir->y) < max_cos) found = true;
  });
  return found;
}

}  // namespace strokegraph
