// Plain value types shared by every stage of the pipeline.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

namespace strokegraph {

struct Point {
  double x = 0.0;
  double y = 0.0;
  friend bool operator==(const Point&, const Point&) = default;
};

// An ordered list of points: input strokes and output chains.
using Polyline = std::vector<Point>;

// A polygon boundary, closed implicitly: the last point joins the first and is
// not repeated. Every ring routine also walks the closing edge.
using Ring = std::vector<Point>;

// One radius list per curve; an empty (or missing) entry means the curve uses
// the uniform buffer distance.
using WidthLists = std::vector<std::vector<double>>;

// How a band ends at a free end of its stroke (as an SVG stroke-linecap):
// flat at the end point, squared off a radius beyond it, or round.
enum class Cap : unsigned char { Butt, Square, Round };

// The caps at a curve's first and at its last point.
struct EndCaps {
  Cap front = Cap::Square;
  Cap back = Cap::Square;
  friend bool operator==(const EndCaps&, const EndCaps&) = default;
};

// An outer ring (counter-clockwise) with its holes (clockwise).
struct BufferPolygon {
  Ring outer;
  std::vector<Ring> holes;
  friend bool operator==(const BufferPolygon&, const BufferPolygon&) = default;
};

// One piece of the skeleton, from `a` to `b`.
struct Segment {
  Point a;
  Point b;
  friend bool operator==(const Segment&, const Segment&) = default;
};

// Line segments kept as runs of points, half the bytes of Segments where
// consecutive segments share their ends (ring edges): run r holds
// points[ends[r - 1]] to points[ends[r] - 1] (ends[-1] taken as 0) and its
// segments join consecutive points. The segments keep their order.
struct PointRuns {
  std::vector<Point> points;
  std::vector<std::size_t> ends;

  // Appends s, continuing the last run when s.a has the bits of its last point.
  void add(const Segment& s) {
    if (!points.empty() && std::memcmp(&points.back(), &s.a, sizeof(Point)) == 0) {
      points.push_back(s.b);
      ends.back() = points.size();
      return;
    }
    points.push_back(s.a);
    points.push_back(s.b);
    ends.push_back(points.size());
  }
  std::size_t segment_count() const { return points.size() - ends.size(); }
};

// Three corners of one triangle of a polygon's constrained triangulation.
using Triangle = std::array<Point, 3>;

// Axis-aligned bounds; empty (inverted, infinite) until a point is added.
struct Bounds {
  double xmin = std::numeric_limits<double>::infinity();
  double xmax = -std::numeric_limits<double>::infinity();
  double ymin = std::numeric_limits<double>::infinity();
  double ymax = -std::numeric_limits<double>::infinity();
};

inline Bounds bounds_of(const Ring& ring) {
  Bounds b;
  for (const Point& p : ring) {
    b.xmin = std::min(b.xmin, p.x);
    b.xmax = std::max(b.xmax, p.x);
    b.ymin = std::min(b.ymin, p.y);
    b.ymax = std::max(b.ymax, p.y);
  }
  return b;
}

// Where along the segment from a to b (0 at a, 1 at b) its point nearest
// p lies; 0 for a segment of no length.
inline double nearest_param(Point p, Point a, Point b) {
  const double dx = b.x - a.x, dy = b.y - a.y;
  const double len2 = dx * dx + dy * dy;
  return len2 > 0.0 ? std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / len2, 0.0, 1.0) : 0.0;
}

// The point of the segment from a to b nearest p.
inline Point nearest_on_segment(Point p, Point a, Point b) {
  const double t = nearest_param(p, a, b);
  return {a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)};
}

// Distance from p to the segment from a to b.
inline double point_segment_distance(Point p, Point a, Point b) {
  const Point q = nearest_on_segment(p, a, b);
  return std::hypot(p.x - q.x, p.y - q.y);
}

inline double point_segment_distance(Point p, const Segment& s) { return point_segment_distance(p, s.a, s.b); }

// point_segment_distance(p, s) where it is at most `reach`, else (surely
// farther) infinity: the square root is taken only near and within the
// reach, where its exact value counts. The margin lies far above the few
// units in the last place that the squares and their sum can be off.
inline double point_segment_distance_within(Point p, const Segment& s, double reach) {
  const Point q = nearest_on_segment(p, s.a, s.b);
  const double ex = p.x - q.x, ey = p.y - q.y;
  if (ex * ex + ey * ey > reach * reach * (1.0 + 1e-9)) return std::numeric_limits<double>::infinity();
  return std::hypot(ex, ey);
}

// How std::hypot(dx, dy) compares with `bound` where the squared distance
// settles it (its rounding lies far below the margin): -1 below, 1 above;
// 0 near the bound and where squares could overflow or fall into
// subnormals, for hypot itself to decide.
inline int hypot_side(double dx, double dy, double bound) {
  if (!(bound > 1e-100 && bound < 1e100)) return 0;
  const double d2 = dx * dx + dy * dy, b2 = bound * bound;
  return d2 < b2 * (1.0 - 1e-9) ? -1 : d2 > b2 * (1.0 + 1e-9) ? 1 : 0;
}

// Whether std::hypot(dx, dy) <= bound, answered as that comparison would.
inline bool hypot_within(double dx, double dy, double bound) {
  const int side = hypot_side(dx, dy, bound);
  return side != 0 ? side < 0 : std::hypot(dx, dy) <= bound;
}

// Whether std::hypot(dx, dy) < bound, answered as that comparison would.
inline bool hypot_below(double dx, double dy, double bound) {
  const int side = hypot_side(dx, dy, bound);
  return side != 0 ? side < 0 : std::hypot(dx, dy) < bound;
}

}  // namespace strokegraph
