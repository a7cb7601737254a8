#include "pipeline/widths.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/progress.h"

namespace strokegraph {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::size_t kLeaf = 8;

double coord(const Point& p, int axis) { return axis == 0 ? p.x : p.y; }

double squared_distance(const Point& p, const Point& q) {
  const double dx = p.x - q.x;
  const double dy = p.y - q.y;
  return dx * dx + dy * dy;
}

bool finite(const Point& p) { return std::isfinite(p.x) && std::isfinite(p.y); }

}  // namespace

// A vertex with a non-finite coordinate is at distance +inf or NaN from every
// point, so it never lowers the minimum and stays out of the tree.
NearestVertex::NearestVertex(const std::vector<Point>& vertices) {
  pts_.reserve(vertices.size());
  for (const Point& v : vertices) {
    if (finite(v)) pts_.push_back(v);
  }
  build(0, pts_.size(), 0);
}

void NearestVertex::build(std::size_t lo, std::size_t hi, int axis) {
  // Depth is logarithmic: every level halves the range.
  if (hi - lo <= kLeaf) return;
  const std::size_t mid = lo + (hi - lo) / 2;
  std::nth_element(pts_.begin() + lo, pts_.begin() + mid, pts_.begin() + hi,
                   [axis](const Point& a, const Point& b) { return coord(a, axis) < coord(b, axis); });
  build(lo, mid, 1 - axis);
  build(mid + 1, hi, 1 - axis);
}

// Pruning is exact: for a vertex q beyond the splitting line at s,
// |p - q| >= |p - s| holds after rounding too (rounding is monotone), so its
// squared distance is at least the squared gap to the line.
void NearestVertex::query(std::size_t lo, std::size_t hi, int axis, const Point& p,
                          double& best) const {
  if (hi - lo <= kLeaf) {
    for (std::size_t i = lo; i < hi; ++i) best = std::min(best, squared_distance(p, pts_[i]));
    return;
  }
  const std::size_t mid = lo + (hi - lo) / 2;
  const Point& split = pts_[mid];
  best = std::min(best, squared_distance(p, split));
  const double gap = coord(p, axis) - coord(split, axis);
  const bool left_first = gap < 0.0;
  if (left_first) {
    query(lo, mid, 1 - axis, p, best);
    if (gap * gap < best) query(mid + 1, hi, 1 - axis, p, best);
  } else {
    query(mid + 1, hi, 1 - axis, p, best);
    if (gap * gap < best) query(lo, mid, 1 - axis, p, best);
  }
}

double NearestVertex::min_squared_distance(const Point& p) const {
  // From a non-finite point every distance is +inf or NaN.
  if (!finite(p)) return kInf;
  double best = kInf;
  query(0, pts_.size(), 0, p, best);
  return best;
}

std::vector<std::vector<double>> measure_widths(const std::vector<Polyline>& chains,
                                                const std::vector<Point>& boundary_vertices) {
  const NearestVertex index(boundary_vertices);
  std::vector<std::vector<double>> widths;
  widths.reserve(chains.size());
  for (const Polyline& chain : chains) {
    poll(widths.size());
    std::vector<double> w;
    w.reserve(chain.size());
    for (const Point& p : chain) w.push_back(2.0 * std::sqrt(index.min_squared_distance(p)));
    widths.push_back(std::move(w));
  }
  return widths;
}

std::vector<Point> ring_vertices(const std::vector<BufferPolygon>& polygons) {
  std::vector<Point> vertices;
  for (const BufferPolygon& polygon : polygons) {
    vertices.insert(vertices.end(), polygon.outer.begin(), polygon.outer.end());
    for (const Ring& hole : polygon.holes) vertices.insert(vertices.end(), hole.begin(), hole.end());
  }
  return vertices;
}

}  // namespace strokegraph
