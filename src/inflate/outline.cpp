// Drawing a stroke's band outline directly (see outline.h): the offset sides
// with their joins and the caps, in one pass over the stroke, as the
// offsetter draws them before its own union, with fewer vertices where the
// stroke turns little.
#include "inflate/outline.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>
#include <numbers>

namespace strokegraph {
namespace {

constexpr double kGrid = 1e6;  // points closer than one unit of this grid are one

// A convex turn takes a single miter vertex while the miter reaches no more
// than this x the arc tolerance past the circle: up to about 18 degrees at a
// tolerance of 0.05 radii. (Half the tolerance, up to 25 degrees, cut the
// vertices a little further but moved a junction of the sketch bench.)
constexpr double kMiterShare = 0.25;

struct Side {
  double step;           // the angle between arc vertices
  double steps_per_rad;  // arc vertices per radian of turn
  double miter_cos;      // convex turns with a larger cosine take one miter vertex
};

Side side_of(double r, double arc_tolerance) {
  const double tol = std::min(arc_tolerance, r);
  const double steps_per_turn =
      tol > 0.0 ? std::numbers::pi / std::acos(1.0 - tol / r) : 64.0;
  // The miter of a turn by t reaches r (1 / cos(t / 2) - 1) past the arc;
  // allowed up to kMiterShare x the tolerance.
  const double half = 1.0 / (1.0 + kMiterShare * tol / r);
  return {2.0 * std::numbers::pi / steps_per_turn, steps_per_turn / (2.0 * std::numbers::pi),
          2.0 * half * half - 1.0};
}

Point along(Point p, Point n, double r) { return {p.x + r * n.x, p.y + r * n.y}; }

// Vertices of the arc around p from p + r a, turning counter-clockwise by
// `angle`, to p + r b; both ends included. As the offsetter steps: whole
// steps from a, the last one short.
void arc(Point p, Point a, Point b, double angle, const Side& side, double r,
         std::vector<Point>& out) {
  out.push_back(along(p, a, r));
  const int steps = static_cast<int>(std::ceil(side.steps_per_rad * angle));
  for (int i = 1; i < steps; ++i) {
    const double c = std::cos(side.step * i), s = std::sin(side.step * i);
    out.push_back(along(p, {a.x * c - a.y * s, a.x * s + a.y * c}, r));
  }
  out.push_back(along(p, b, r));
}

// The join at p of an edge with normal `a` and one with normal `b`
// (right-hand normals of the direction of travel: the band lies to the left).
// `inner_miter`: on the inner side, the crossing of the offset edges is the
// side's vertex (see inner_miters).
void join(Point p, Point a, Point b, bool inner_miter, double r, const Side& side,
          std::vector<Point>& out) {
  const double sin_t = a.x * b.y - a.y * b.x;
  const double cos_t = a.x * b.x + a.y * b.y;
  if (sin_t < 0.0 && cos_t > -0.999) {
    // Inner side: the offset edges cross short of p. Their crossing is the
    // side's vertex where it lies within both edges; otherwise the side
    // passes through p, and the loop it draws there is dropped by the union.
    if (inner_miter) {
      const double q = r / (1.0 + cos_t);
      out.push_back({p.x + (a.x + b.x) * q, p.y + (a.y + b.y) * q});
      return;
    }
    out.push_back(along(p, a, r));
    out.push_back(p);
    out.push_back(along(p, b, r));
    return;
  }
  if (cos_t >= side.miter_cos) {
    const double q = r / (1.0 + cos_t);
    out.push_back({p.x + (a.x + b.x) * q, p.y + (a.y + b.y) * q});
    return;
  }
  double angle = std::atan2(sin_t, cos_t);
  if (angle < 0.0) angle += 2.0 * std::numbers::pi;  // a reversal: round it off
  arc(p, a, b, angle, side, r, out);
}

// The cap at `tip`, where the stroke arrives with unit direction d and right
// normal n and leaves back along -d.
void cap(Point tip, Point d, Point n, Cap kind, double r, const Side& side,
         std::vector<Point>& out) {
  const Point back{-n.x, -n.y};
  switch (kind) {
    case Cap::Round:
      arc(tip, n, back, std::numbers::pi, side, r, out);
      return;
    case Cap::Square: {
      const Point ahead{tip.x + r * d.x, tip.y + r * d.y};
      out.push_back(along(ahead, n, r));
      out.push_back(along(ahead, back, r));
      return;
    }
    case Cap::Butt:
      out.push_back(along(tip, n, r));
      out.push_back(along(tip, back, r));
      return;
  }
}

// Per vertex k of the stroke (0 < k < n - 1), whether its inner side (the
// right one where the stroke turns right) takes the crossing of the offset
// edges as its vertex. That crossing lies r tan(t / 2) back along both edges
// from their offset ends (t the turn, below 90 degrees); it is taken while
// every edge holds what the crossings at its two ends on the same side take
// back from it, so that no offset edge turns round: decided vertex by vertex,
// against the crossing taken at the previous vertex and the one wanted at the
// next.
std::vector<char> inner_miters(const std::vector<Point>& normal, const std::vector<double>& length,
                               double r) {
  const std::size_t n = normal.size() + 1;
  std::vector<double> pullback(n, -1.0);  // negative: no crossing wanted
  std::vector<signed char> turn(n, 0);    // -1 right, 1 left
  for (std::size_t k = 1; k + 1 < n; ++k) {
    const Point a = normal[k - 1], b = normal[k];
    const double sin_t = a.x * b.y - a.y * b.x, cos_t = a.x * b.x + a.y * b.y;
    turn[k] = sin_t < 0.0 ? -1 : sin_t > 0.0 ? 1 : 0;
    if (turn[k] != 0 && cos_t > 0.0) pullback[k] = r * std::sqrt((1.0 - cos_t) / (1.0 + cos_t));
  }
  std::vector<char> miter(n, 0);
  for (std::size_t k = 1; k + 1 < n; ++k) {
    if (pullback[k] < 0.0) continue;
    const double before = miter[k - 1] && turn[k - 1] == turn[k] ? pullback[k - 1] : 0.0;
    const double after = turn[k + 1] == turn[k] ? std::max(pullback[k + 1], 0.0) : 0.0;
    miter[k] = pullback[k] + before <= length[k - 1] && pullback[k] + after <= length[k];
  }
  return miter;
}

// Squared distance from p to the segment a-b.
double segment_distance2(Point p, Point a, Point b) {
  const double dx = b.x - a.x, dy = b.y - a.y;
  const double l2 = dx * dx + dy * dy;
  double t = l2 > 0.0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / l2 : 0.0;
  t = std::clamp(t, 0.0, 1.0);
  const double ex = a.x + t * dx - p.x, ey = a.y + t * dy - p.y;
  return ex * ex + ey * ey;
}

}  // namespace

std::vector<Point> band_path(const std::vector<Point>& pts, double tolerance) {
  const std::size_t n = pts.size();
  if (n < 3 || !(tolerance > 0.0)) return pts;
  const double limit = tolerance * tolerance;
  std::vector<char> keep(n, 0);
  keep[0] = keep[n - 1] = 1;
  std::vector<std::pair<std::size_t, std::size_t>> spans{{0, n - 1}};
  while (!spans.empty()) {
    const auto [lo, hi] = spans.back();
    spans.pop_back();
    double worst = limit;
    std::size_t at = lo;
    for (std::size_t k = lo + 1; k < hi; ++k) {
      const double d = segment_distance2(pts[k], pts[lo], pts[hi]);
      if (d > worst || std::isnan(d)) {
        worst = std::isnan(d) ? std::numeric_limits<double>::infinity() : d;
        at = k;
      }
    }
    if (at == lo) continue;
    keep[at] = 1;
    spans.emplace_back(at, hi);
    spans.emplace_back(lo, at);
  }
  std::vector<Point> out;
  for (std::size_t k = 0; k < n; ++k)
    if (keep[k]) out.push_back(pts[k]);
  return out;
}

void stroke_outline(const std::vector<Point>& pts, double r, EndCaps caps, double arc_tolerance,
                    std::vector<Point>& out) {
  r = std::fabs(r);
  if (pts.empty() || !(r > 0.0)) return;
  const Side side = side_of(r, arc_tolerance);
  std::vector<Point> v;
  v.reserve(pts.size());
  v.push_back(pts.front());
  for (std::size_t k = 1; k < pts.size(); ++k) {
    const Point& last = v.back();
    if (std::round(pts[k].x * kGrid) == std::round(last.x * kGrid) &&
        std::round(pts[k].y * kGrid) == std::round(last.y * kGrid))
      continue;
    v.push_back(pts[k]);
  }
  const std::size_t n = v.size();
  if (n == 1) {
    const int steps = static_cast<int>(std::ceil(side.steps_per_rad * 2.0 * std::numbers::pi));
    for (int k = 0; k < steps; ++k) {
      const double t = 2.0 * std::numbers::pi * k / steps;
      out.push_back({v[0].x + r * std::cos(t), v[0].y + r * std::sin(t)});
    }
    return;
  }
  // Per edge k (v[k] -> v[k + 1]): unit direction, right normal, length.
  std::vector<Point> dir(n - 1), normal(n - 1);
  std::vector<double> length(n - 1);
  for (std::size_t k = 0; k + 1 < n; ++k) {
    const double dx = v[k + 1].x - v[k].x, dy = v[k + 1].y - v[k].y;
    const double len = std::hypot(dx, dy);
    length[k] = len;
    dir[k] = {dx / len, dy / len};
    normal[k] = {dir[k].y, -dir[k].x};
  }
  const std::vector<char> miter = inner_miters(normal, length, r);
  out.reserve(out.size() + 4 * n + 16);
  cap(v[0], {-dir[0].x, -dir[0].y}, {-normal[0].x, -normal[0].y}, caps.front, r, side, out);
  for (std::size_t k = 1; k + 1 < n; ++k)
    join(v[k], normal[k - 1], normal[k], miter[k], r, side, out);
  cap(v[n - 1], dir[n - 2], normal[n - 2], caps.back, r, side, out);
  for (std::size_t k = n - 2; k >= 1; --k)
    join(v[k], {-normal[k].x, -normal[k].y}, {-normal[k - 1].x, -normal[k - 1].y}, miter[k], r,
         side, out);
}

}  // namespace strokegraph
