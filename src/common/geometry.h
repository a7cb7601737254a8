// Plain value types shared by every stage of the pipeline.
#pragma once

#include <array>
#include <cstddef>
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

}  // namespace strokegraph
