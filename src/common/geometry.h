// Plain value types shared by every stage of the pipeline.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
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

}  // namespace strokegraph
