#include "boundary/curvature_index.h"

#include <cmath>
#include <limits>

#include "boundary/point_budget.h"
#include "common/progress.h"

namespace strokegraph {

CurvatureIndex make_curvature_index(double cell_size) {
  CurvatureIndex index;
  index.cell_size = std::isfinite(cell_size) && cell_size > 0.0 ? cell_size : 1.0;
  return index;
}

CellKey cell_key(const CurvatureIndex& index, double x, double y) {
  const double inv = 1.0 / index.cell_size;
  return {saturating_i64(std::floor(x * inv)), saturating_i64(std::floor(y * inv))};
}

std::optional<double> turning_cosine(const Ring& ring, std::size_t i) {
  const std::size_t n = ring.size();
  const Point& p0 = ring[(i + n - 1) % n];
  const Point& p1 = ring[i];
  const Point& p2 = ring[(i + 1) % n];
  const double ux = p1.x - p0.x, uy = p1.y - p0.y;
  const double vx = p2.x - p1.x, vy = p2.y - p1.y;
  const double lu = std::sqrt(uy * uy + ux * ux);
  const double lv = std::sqrt(vy * vy + vx * vx);
  if (lu < 1e-12 || lv < 1e-12) return std::nullopt;
  double q = (uy * vy + ux * vx) / (lu * lv);
  if (q < -1.0) q = -1.0;
  if (q > 1.0) q = 1.0;
  return q;
}

std::vector<CornerEntry> ring_corners(const Ring& ring, double min_angle) {
  std::vector<CornerEntry> found;
  if (ring.size() < 3) return found;
  // A cosine this far above cos(min_angle) is of an angle below it whatever
  // the rounding of either cosine (the arc cosine falls at least as fast as
  // its argument rises): its arc cosine is not needed. Every angle passes a
  // threshold of 0 or below.
  const double gentle = min_angle > 0.0 ? std::cos(min_angle) + 1e-12
                                         : std::numeric_limits<double>::infinity();
  for (std::size_t i = 0; i < ring.size(); ++i) {
    poll(i);
    const std::optional<double> q = turning_cosine(ring, i);
    if (!q || *q > gentle) continue;
    const double angle = std::acos(*q);
    if (!(angle >= min_angle)) continue;
    found.push_back({ring[i].x, ring[i].y, angle});
  }
  return found;
}

void add_corners(CurvatureIndex& index, const std::vector<CornerEntry>& corners) {
  for (const CornerEntry& corner : corners) {
    index.cells[cell_key(index, corner.x, corner.y)].push_back(index.corners.size());
    index.corners.push_back(corner);
  }
}

void add_ring(CurvatureIndex& index, const Ring& ring, double min_angle) {
  add_corners(index, ring_corners(ring, min_angle));
}

namespace {

struct QueryWindow {
  double x, y, inner, outer, outer_sq;
  double best = 0.0;

  void consider(const CornerEntry& e) {
    const double dy = e.y - y, dx = e.x - x;
    const double d2 = dy * dy + dx * dx;
    if (std::isnan(d2) || d2 > outer_sq) return;
    const double d = std::sqrt(d2);
    const double w = d <= inner ? 1.0 : 1.0 - (d - inner) / (outer - inner);
    const double candidate = w * e.angle;
    if (candidate > best) best = candidate;
  }
};

// Below this many entries in the index per cell of a window, one pass over
// all entries costs less than looking the cells up.
constexpr double kEntriesPerCellWalked = 4.0;

}  // namespace

double max_angle_near(const CurvatureIndex& index, double x, double y, double inner_radius,
                      double outer_radius, NearCorners* near) {
  const double inv = 1.0 / index.cell_size;
  const double r_out = outer_radius;
  const std::int64_t col_lo = saturating_i64(std::floor((x - r_out) * inv));
  const std::int64_t col_hi = saturating_i64(std::floor((x + r_out) * inv));
  const std::int64_t row_lo = saturating_i64(std::floor((y - r_out) * inv));
  const std::int64_t row_hi = saturating_i64(std::floor((y + r_out) * inv));
  if (col_lo > col_hi || row_lo > row_hi) return 0.0;

  QueryWindow window{x, y, inner_radius, outer_radius, r_out * r_out};
  // A window with few entries in the index against its cells (huge radii,
  // or a small index) is answered by one pass over the occupied cells,
  // taking the entries of those inside it: the same entries as a cell walk,
  // so the same maximum (which no order of the entries changes).
  const double cell_count = (static_cast<double>(col_hi) - static_cast<double>(col_lo) + 1.0) *
                            (static_cast<double>(row_hi) - static_cast<double>(row_lo) + 1.0);
  if (kEntriesPerCellWalked * cell_count > static_cast<double>(index.corners.size())) {
    for (const auto& [key, positions] : index.cells) {
      if (key.x < col_lo || key.x > col_hi || key.y < row_lo || key.y > row_hi) continue;
      for (const std::size_t position : positions) window.consider(index.corners[position]);
    }
    return window.best;
  }
  const CellKey low{col_lo, row_lo}, high{col_hi, row_hi};
  if (near != nullptr && near->valid && near->low == low && near->high == high) {
    for (const std::size_t position : near->positions) window.consider(index.corners[position]);
    return window.best;
  }
  if (near != nullptr) near->valid = false, near->positions.clear();
  for (std::int64_t column = col_lo;; ++column) {
    for (std::int64_t row = row_lo;; ++row) {
      if (const std::vector<std::size_t>* positions = index.cells.find({column, row})) {
        for (const std::size_t position : *positions) window.consider(index.corners[position]);
        if (near != nullptr) near->positions.insert(near->positions.end(), positions->begin(), positions->end());
      }
      if (row == row_hi) break;
    }
    if (column == col_hi) break;
  }
  if (near != nullptr) near->valid = true, near->low = low, near->high = high;
  return window.best;
}

std::vector<std::size_t> corner_anchors(const Ring& ring, double corner_angle) {
  std::vector<std::size_t> anchors;
  const double t = std::cos(corner_angle);
  for (std::size_t i = 0; i < ring.size(); ++i) {
    poll(i);
    const std::optional<double> q = turning_cosine(ring, i);
    if (q && *q < t) anchors.push_back(i);
  }
  return anchors;
}

}  // namespace strokegraph
