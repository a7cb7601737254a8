#include "inflate/retrace.h"

#include <clipper2/clipper.h>

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "common/progress.h"

namespace strokegraph {
namespace {

using namespace Clipper2Lib;

constexpr int kPrecision = 6;          // decimal places, as the bands' offset
constexpr std::size_t kMinPoints = 256;  // fewer points cross too rarely to cost
constexpr double kCoverage = 8.0;        // band area over grown box area
constexpr std::size_t kPiece = 64;       // points per piece

// A square cap of half width r beyond `end`, away from `from`.
PathD cap(Point from, Point end, double r) {
  const double dx = end.x - from.x, dy = end.y - from.y;
  const double len = std::hypot(dx, dy);
  const double ux = dx / len * r, uy = dy / len * r;  // along, r long
  return {PointD(end.x - uy, end.y + ux), PointD(end.x + ux - uy, end.y + uy + ux),
          PointD(end.x + ux + uy, end.y + uy - ux), PointD(end.x + uy, end.y - ux)};
}

}  // namespace

bool retraces_itself(const Polyline& curve, double radius) {
  // Below half a grid unit the offsetter hands a curve back as it is; far
  // out it refuses it: both stay with the one offset call.
  if (curve.size() < kMinPoints || !(radius >= 1e-6) || !(radius <= 1e12)) return false;
  double length = 0.0, xmin = INFINITY, xmax = -INFINITY, ymin = INFINITY, ymax = -INFINITY;
  for (std::size_t k = 0; k < curve.size(); ++k) {
    const Point p = curve[k];
    if (!(std::fabs(p.x) <= 1e12) || !(std::fabs(p.y) <= 1e12)) return false;
    xmin = std::min(xmin, p.x), xmax = std::max(xmax, p.x);
    ymin = std::min(ymin, p.y), ymax = std::max(ymax, p.y);
    if (k > 0) length += std::hypot(p.x - curve[k - 1].x, p.y - curve[k - 1].y);
  }
  const double box = (xmax - xmin + 2.0 * radius) * (ymax - ymin + 2.0 * radius);
  return 2.0 * radius * length > kCoverage * box;
}

std::vector<Ring> retraced_band(const Polyline& curve, double radius, double feature_size) {
  // Pieces overlap by one segment and end flat, so that every segment's
  // rectangle and every inner vertex's join is in some piece; the stroke's
  // own ends get square caps of their own.
  std::vector<PathsD> parts;
  for (std::size_t a = 0; a + 1 < curve.size(); a += kPiece) {
    checkpoint();
    const std::size_t b = std::min(curve.size(), a + kPiece + 1);
    PathD path;
    for (std::size_t k = a; k < b; ++k) path.emplace_back(curve[k].x, curve[k].y);
    parts.push_back(InflatePaths(PathsD{std::move(path)}, radius, JoinType::Square, EndType::Butt, 0.0,
                                 kPrecision, 0.2 * feature_size));
  }
  // Each end's cap points along the stroke's last move off that end.
  for (const bool at_end : {false, true}) {
    const std::size_t n = curve.size();
    const Point p = at_end ? curve[n - 1] : curve[0];
    for (std::size_t k = 1; k < n; ++k) {
      const Point q = at_end ? curve[n - 1 - k] : curve[k];
      if (p.x == q.x && p.y == q.y) continue;
      PathD square = cap(q, p, radius);
      if (Area(square) < 0.0) std::reverse(square.begin(), square.end());
      parts.push_back({std::move(square)});
      break;
    }
  }
  // Pairwise up the tree, in a fixed order.
  while (parts.size() > 1) {
    std::vector<PathsD> next;
    for (std::size_t k = 0; k < parts.size(); k += 2) {
      checkpoint();
      if (k + 1 == parts.size()) {
        next.push_back(std::move(parts[k]));
        continue;
      }
      PathsD both = std::move(parts[k]);
      both.insert(both.end(), parts[k + 1].begin(), parts[k + 1].end());
      next.push_back(Union(both, FillRule::NonZero, kPrecision));
    }
    parts = std::move(next);
  }
  std::vector<Ring> rings;
  if (parts.empty()) return rings;
  for (const PathD& path : parts[0]) {
    Ring ring;
    ring.reserve(path.size());
    for (const PointD& q : path) ring.push_back({q.x, q.y});
    rings.push_back(std::move(ring));
  }
  return rings;
}

}  // namespace strokegraph
