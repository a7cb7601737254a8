// Strokes around a skeleton tip, read from their ends: one branching off
// another near that one's end (the overshoot past the branch then goes), or
// two ending together at a corner they part from.
#include "spatial/stroke_branches.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <optional>
#include <vector>

namespace strokegraph {
namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
// x band radius: the ending stroke runs on at least this far past the
// branch. The pieces of a stroke broken in two overlap by up to two band
// radii: the one ending at the tip runs on no further past the other's end.
constexpr double kRunsOn = 3.0;
// x band radius: the other stroke leaves within this of its end, while the
// ending one still runs on (a stroke drawn again over a piece of a broken
// stroke runs on past the piece's end).
constexpr double kLook = 4.0;

bool closed(const Polyline& c) { return c.front().x == c.back().x && c.front().y == c.back().y; }

// Whether grid segment i holds its curve's first (last = false) or last point.
bool holds_end(const StrokeIndex& strokes, std::size_t i, bool last) {
  return last ? strokes.vertex[i] + 1 == (*strokes.curves)[strokes.owner[i]].size() : strokes.vertex[i] == 1;
}

// The foot of p on a segment, with its distance.
std::pair<Point, double> foot_on(Point p, const Segment& s) {
  const double dx = s.b.x - s.a.x, dy = s.b.y - s.a.y, len2 = dx * dx + dy * dy;
  double t = len2 > 0.0 ? ((p.x - s.a.x) * dx + (p.y - s.a.y) * dy) / len2 : 0.0;
  t = t < 0.0 ? 0.0 : (t > 1.0 ? 1.0 : t);
  const Point f{s.a.x + t * dx, s.a.y + t * dy};
  return {f, std::hypot(p.x - f.x, p.y - f.y)};
}

struct StrokeEnd {
  std::size_t stroke;
  std::size_t curve;
  bool last;
  Point at;
};

// The point `along` back into a curve from one of its ends; nothing when the
// curve is shorter.
std::optional<Point> back_from(const Polyline& c, bool last, double along) {
  const std::size_t n = c.size();
  double run = 0.0;
  for (std::size_t k = 1; k < n; ++k) {
    const Point a = last ? c[n - k] : c[k - 1];
    const Point b = last ? c[n - k - 1] : c[k];
    const double step = std::hypot(b.x - a.x, b.y - a.y);
    if (run + step >= along && step > 0.0) {
      const double t = (along - run) / step;
      return Point{a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t};
    }
    run += step;
  }
  return std::nullopt;
}

}  // namespace

std::optional<Point> branch_near_end(const StrokeIndex& strokes, Point tip, double end_reach, double beyond) {
  // The stroke end nearest to the tip: its grid segment and which end.
  double best = end_reach;
  std::size_t seg = kNone;
  bool at_last = false;
  strokes.grid.visit_box({tip.x - end_reach, tip.y - end_reach}, {tip.x + end_reach, tip.y + end_reach},
                         [&](std::size_t i) {
                           if (closed((*strokes.curves)[strokes.owner[i]])) return;
                           for (int last = 0; last < 2; ++last) {
                             if (!holds_end(strokes, i, last != 0)) continue;
                             const Polyline& c = (*strokes.curves)[strokes.owner[i]];
                             const Point e = last ? c.back() : c.front();
                             const double d = std::hypot(e.x - tip.x, e.y - tip.y);
                             if (d < best || (d == best && seg != kNone && i < seg)) best = d, seg = i, at_last = last != 0;
                           }
                         });
  if (seg == kNone) return std::nullopt;
  const std::size_t own = strokes.owner[seg];
  const std::size_t stroke = strokes.stroke_of(seg);
  const Polyline& curve = (*strokes.curves)[own];
  const Point end = at_last ? curve.back() : curve.front();
  const double r = strokes.reach_of(seg);
  // The ending curve's point nearest to p (over its points within `beyond`
  // + kLook r of the end), how far that is along it from its end, and how
  // far the curve runs on past there.
  struct Along {
    Point foot;
    double gap;
    double at;    // from the end
    double rest;  // how far it runs on past there (up to kLook r)
  };
  auto along_from_end = [&](Point p) {
    Along found{end, std::numeric_limits<double>::infinity(), 0.0, 0.0};
    double run = 0.0;
    const std::size_t n = curve.size();
    for (std::size_t k = 1; k < n; ++k) {
      const Point a = at_last ? curve[n - k] : curve[k - 1];
      const Point b = at_last ? curve[n - k - 1] : curve[k];
      const auto [f, d] = foot_on(p, {a, b});
      if (d < found.gap) found.foot = f, found.gap = d, found.at = run + std::hypot(f.x - a.x, f.y - a.y);
      run += std::hypot(b.x - a.x, b.y - a.y);
      if (run > beyond + kLook * r && run > found.at + kLook * r) break;
    }
    found.rest = std::min(run - found.at, kLook * r);
    return found;
  };
  // Whether p lies within r of the ending stroke's centerline.
  auto on_stroke = [&](Point p) {
    bool near = false;
    strokes.grid.visit_box({p.x - r, p.y - r}, {p.x + r, p.y + r}, [&](std::size_t i) {
      if (!near && strokes.stroke_of(i) == stroke) near = foot_on(p, strokes.segment(i)).second <= r;
    });
    return near;
  };
  // Whether a curve leaves the ending stroke within `look` of one of its ends.
  auto leaves = [&](const Polyline& c, bool last, double look) {
    const std::size_t n = c.size();
    double run = 0.0;
    for (std::size_t k = 1; k < n && run <= look; ++k) {
      const Point a = last ? c[n - k] : c[k - 1];
      const Point b = last ? c[n - k - 1] : c[k];
      run += std::hypot(b.x - a.x, b.y - a.y);
      if (!on_stroke(b)) return true;
    }
    return false;
  };
  std::optional<Point> corner;
  double nearest = std::numeric_limits<double>::infinity();
  strokes.grid.visit_box({end.x - beyond, end.y - beyond}, {end.x + beyond, end.y + beyond}, [&](std::size_t i) {
    if (strokes.stroke_of(i) == stroke) return;
    const Polyline& c = (*strokes.curves)[strokes.owner[i]];
    if (closed(c)) return;
    for (int last = 0; last < 2; ++last) {
      if (!holds_end(strokes, i, last != 0)) continue;
      const Point q = last ? c.back() : c.front();
      const double d = std::hypot(q.x - end.x, q.y - end.y);
      if (d > beyond * (1.0 + 1e-9) || d > nearest) continue;
      const Along on = along_from_end(q);
      if (on.gap > r || on.at < r || on.rest < kRunsOn * r || !leaves(c, last != 0, on.rest)) continue;
      // Of equally near feet, the first found: the grid visits in a fixed order.
      if (d < nearest) nearest = d, corner = on.foot;
    }
  });
  return corner;
}

bool strokes_end_at_corner(const StrokeIndex& strokes, Point tip, double end_reach) {
  std::vector<StrokeEnd> ends;
  strokes.grid.visit_box({tip.x - end_reach, tip.y - end_reach}, {tip.x + end_reach, tip.y + end_reach},
                         [&](std::size_t i) {
                           const Polyline& c = (*strokes.curves)[strokes.owner[i]];
                           if (closed(c)) return;
                           for (int last = 0; last < 2; ++last) {
                             if (!holds_end(strokes, i, last != 0)) continue;
                             const Point e = last ? c.back() : c.front();
                             if (std::hypot(e.x - tip.x, e.y - tip.y) > end_reach) continue;
                             ends.push_back({strokes.stroke_of(i), strokes.owner[i], last != 0, e});
                           }
                         });
  const double r = strokes.max_reach;
  // Whether p lies within r of a stroke's centerline.
  auto near_stroke = [&](Point p, std::size_t stroke) {
    bool near = false;
    strokes.grid.visit_box({p.x - r, p.y - r}, {p.x + r, p.y + r}, [&](std::size_t i) {
      if (!near && strokes.stroke_of(i) == stroke) near = foot_on(p, strokes.segment(i)).second <= r;
    });
    return near;
  };
  // Every pair is tried: the answer does not depend on the grid's order.
  for (std::size_t a = 0; a < ends.size(); ++a) {
    for (std::size_t b = a + 1; b < ends.size(); ++b) {
      const StrokeEnd& u = ends[a];
      const StrokeEnd& v = ends[b];
      if (u.stroke == v.stroke || std::hypot(u.at.x - v.at.x, u.at.y - v.at.y) > end_reach) continue;
      const auto p = back_from((*strokes.curves)[u.curve], u.last, kLook * r);
      const auto q = back_from((*strokes.curves)[v.curve], v.last, kLook * r);
      if (!p || !q) continue;
      if ((p->x - u.at.x) * (q->x - v.at.x) + (p->y - u.at.y) * (q->y - v.at.y) <= 0.0) continue;
      if (!near_stroke(*p, v.stroke) && !near_stroke(*q, u.stroke)) return true;
    }
  }
  return false;
}

}  // namespace strokegraph
