// Retraced ends inside a curve, found at its sharp turns by how closely the
// two stretches either side run together.
#include "conditioning/turn_backs.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

namespace strokegraph {
namespace {

constexpr double kTurnCos = -0.8660254037844386;  // cos 150 degrees
constexpr double kLook = 4.0;                      // x radius along either stretch
constexpr double kTogether = 0.3;                  // x radius: a retrace stays this close

double step(Point a, Point b) { return std::hypot(b.x - a.x, b.y - a.y); }

double segment_distance(Point p, Point a, Point b) {
  const double dx = b.x - a.x, dy = b.y - a.y, len2 = dx * dx + dy * dy;
  double t = len2 > 0.0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / len2 : 0.0;
  t = std::clamp(t, 0.0, 1.0);
  return std::hypot(p.x - (a.x + t * dx), p.y - (a.y + t * dy));
}

// The point `along` from point k of the curve, going the way `dir` (+1 or
// -1), and how far it got (less where the curve ends first).
std::pair<Point, double> walk(const Polyline& c, std::size_t k, int dir, double along) {
  double run = 0.0;
  std::size_t i = k;
  while ((dir > 0 ? i + 1 < c.size() : i > 0)) {
    const std::size_t j = dir > 0 ? i + 1 : i - 1;
    const double s = step(c[i], c[j]);
    if (run + s >= along && s > 0.0) {
      const double t = (along - run) / s;
      return {{c[i].x + (c[j].x - c[i].x) * t, c[i].y + (c[j].y - c[i].y) * t}, along};
    }
    run += s;
    i = j;
  }
  return {c[i], run};
}

// The distance from p to the curve's stretch from point k the way `dir`,
// over `along` of it.
double stretch_distance(const Polyline& c, std::size_t k, int dir, double along, Point p) {
  double best = std::numeric_limits<double>::infinity(), run = 0.0;
  std::size_t i = k;
  while ((dir > 0 ? i + 1 < c.size() : i > 0) && run <= along) {
    const std::size_t j = dir > 0 ? i + 1 : i - 1;
    best = std::min(best, segment_distance(p, c[i], c[j]));
    run += step(c[i], c[j]);
    i = j;
  }
  return best;
}

}  // namespace

std::vector<Point> turn_backs(const Polyline& curve, double radius) {
  std::vector<Point> out;
  for (std::size_t k = 1; k + 1 < curve.size(); ++k) {
    const Point a = curve[k - 1], b = curve[k], c = curve[k + 1];
    const double lu = step(a, b), lv = step(b, c);
    if (!(lu > 0.0 && lv > 0.0)) continue;
    if ((b.x - a.x) * (c.x - b.x) + (b.y - a.y) * (c.y - b.y) >= kTurnCos * lu * lv) continue;
    const auto [back, back_run] = walk(curve, k, -1, kLook * radius);
    const auto [on, on_run] = walk(curve, k, +1, kLook * radius);
    // The shorter stretch's far point against the longer stretch.
    const bool back_shorter = back_run < on_run;
    const Point p = back_shorter ? back : on;
    const double run = std::min(back_run, on_run);
    if (stretch_distance(curve, k, back_shorter ? +1 : -1, run + radius, p) <= kTogether * radius) out.push_back(b);
  }
  return out;
}

}  // namespace strokegraph
