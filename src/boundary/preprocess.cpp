#include "boundary/preprocess.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>

#include "boundary/curvature_index.h"
#include "boundary/local_simplify.h"
#include "boundary/resample.h"
#include "common/format.h"
#include "common/progress.h"
#include "common/rdp.h"

namespace strokegraph {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kCornerAngle = kPi / 3.0;      // resampling anchors
constexpr double kSubdivisionIndexAngle = kPi / 4.0;

// Visits every ring: polygon by polygon, the outer ring and then its holes.
template <class Fn>
void for_each_ring(std::vector<BufferPolygon>& polygons, const Fn& fn) {
  for (BufferPolygon& polygon : polygons) {
    checkpoint();
    fn(polygon.outer);
    for (Ring& hole : polygon.holes) checkpoint(), fn(hole);
  }
}

// Counts the points held in rings and corner index during one call, so that
// every densifying routine gets what is left of kMaxBoundaryPoints.
struct PointLedger {
  std::size_t live = 0;  // points in all rings as they currently stand

  PointBudget budget_for(std::size_t ring_size, std::size_t index_entries,
                         const std::string& cause) const {
    const std::size_t others = live - ring_size + index_entries;
    return {kMaxBoundaryPoints - std::min(kMaxBoundaryPoints, others), cause};
  }
  void replace(Ring& ring, Ring next) {
    live = live - ring.size() + next.size();
    ring = std::move(next);
  }
};

// The number of points subdivision at `max_edge` gives this ring.
double subdivided_size(const Ring& ring, double max_edge) {
  const std::size_t n = ring.size();
  double total = static_cast<double>(n);
  if (n <= 1) return total;
  for (std::size_t i = 0; i < n; ++i) {
    const Point& a = ring[i];
    const Point& b = ring[(i + 1) % n];
    const double dy = b.y - a.y, dx = b.x - a.x;
    const double length = std::sqrt(dy * dy + dx * dx);
    if (!(length > max_edge)) continue;
    const std::uint32_t k = saturating_u32(std::ceil(length / max_edge));
    if (k >= 2) total += static_cast<double>(k - 1);
  }
  return total;
}

// A lower bound on the points that resampling at `spacing`, uniform or
// adaptive, gives this ring: no step is longer than max(spacing, 1e-6), and
// each span loses less than one piece to rounding.
double resampled_size_floor(const Ring& ring, double spacing) {
  const std::size_t n = ring.size();
  if (n < 3) return static_cast<double>(n);
  double perimeter = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const Point& a = ring[i];
    const Point& b = ring[(i + 1) % n];
    const double dy = b.y - a.y, dx = b.x - a.x;
    perimeter += std::sqrt(dy * dy + dx * dx);
  }
  return perimeter / std::fmax(spacing, 1e-6) - static_cast<double>(n);
}

}  // namespace

std::vector<Point> subdivide_ring(const std::vector<Point>& ring, double max_edge,
                                  const PointBudget& budget) {
  const std::size_t n = ring.size();
  if (n <= 1) return ring;
  const std::size_t limit = std::max(budget.max_points, n);
  std::vector<Point> out;
  out.reserve(std::min(2 * n, limit));
  std::size_t inserted = 0;
  for (std::size_t i = 0; i < n; ++i) {
    poll(i);
    const Point& a = ring[i];
    const Point& b = ring[(i + 1) % n];
    out.push_back(a);
    const double dy = b.y - a.y, dx = b.x - a.x;
    const double length = std::sqrt(dy * dy + dx * dx);
    if (!(length > max_edge)) continue;
    const std::uint32_t k = saturating_u32(std::ceil(length / max_edge));
    if (k < 2) continue;
    if (n + inserted + (k - 1) > limit) throw_too_dense(budget, name_value("max_edge", max_edge));
    append_edge_splits(out, a, b, k);
    inserted += k - 1;
  }
  return out;
}

std::vector<BufferPolygon> preprocess_boundaries(std::vector<BufferPolygon> polygons,
                                                 double feature_size, double buffer_distance,
                                                 std::optional<double> subdivision_ratio,
                                                 std::optional<double> resample,
                                                 std::optional<double> boundary_simplification,
                                                 bool locally) {
  const double b = buffer_distance;
  const double tolerance = !boundary_simplification ? 0.05 * feature_size
                           : *boundary_simplification > 0.0 ? *boundary_simplification
                                                            : 0.0;
  const double max_edge = 1.5 * feature_size;
  const bool ratio_off = subdivision_ratio && !(*subdivision_ratio > 0.0);
  const double ratio = !subdivision_ratio ? 0.5
                       : ratio_off        ? 0.0
                                          : std::max(*subdivision_ratio, 0.01);
  const bool refine = b > 0.0 && !ratio_off;
  const bool resampling = resample && *resample > 0.0;

  PointLedger ledger;
  if (locally && tolerance > 0.0) {
    for (BufferPolygon& polygon : polygons) {
      simplify_polygon_locally(polygon, tolerance, kLocalSimplificationCell * tolerance);
    }
  }
  for_each_ring(polygons, [&](Ring& ring) {
    if (tolerance > 0.0 && !locally) ring = rdp(ring, tolerance);
    ledger.live += ring.size();
  });

  // Before growing anything: when the rings are certain to need more points
  // than allowed, fail now rather than after filling memory up to the limit.
  double needed = 0.0;
  for_each_ring(polygons, [&](Ring& ring) {
    needed += resampling ? resampled_size_floor(ring, *resample) : subdivided_size(ring, max_edge);
  });
  if (needed > static_cast<double>(std::max(kMaxBoundaryPoints, ledger.live))) {
    throw_too_dense({}, resampling ? name_value("resample", *resample)
                                   : name_value("feature_size", feature_size));
  }

  const std::string refined_by =
      name_value("buffer_distance", b) + " with subdivision ratio " + format_float(ratio);

  if (!resampling) {
    const std::string cause = name_value("feature_size", feature_size);
    for_each_ring(polygons, [&](Ring& ring) {
      const PointBudget budget = ledger.budget_for(ring.size(), 0, cause);
      ledger.replace(ring, subdivide_ring(ring, max_edge, budget));
    });
    if (!refine) return polygons;
    CurvatureIndex index = make_curvature_index(4.0 * b);
    for_each_ring(polygons, [&](Ring& ring) { add_ring(index, ring, kSubdivisionIndexAngle); });
    for_each_ring(polygons, [&](Ring& ring) {
      const PointBudget budget = ledger.budget_for(ring.size(), index.corners.size(), refined_by);
      ledger.replace(ring, refine_ring_from_index(ring, index, b, ratio, budget));
    });
    return polygons;
  }

  const double spacing = *resample;
  const std::string cause = name_value("resample", spacing);
  if (!refine) {
    for_each_ring(polygons, [&](Ring& ring) {
      ledger.replace(ring, resample_ring(ring, spacing, kCornerAngle,
                                         ledger.budget_for(ring.size(), 0, cause)));
    });
    return polygons;
  }
  CurvatureIndex index = make_curvature_index(4.0 * b);
  double min_angle = spacing / (10.0 * b);
  if (min_angle < 0.0) min_angle = 0.0;
  if (min_angle > kPi / 2.0) min_angle = kPi / 2.0;
  // The index records the corners as uniform resampling would leave them;
  // the rings themselves are resampled adaptively from their simplified form.
  for_each_ring(polygons, [&](Ring& ring) {
    const PointBudget budget = ledger.budget_for(0, index.corners.size(), cause);
    add_ring(index, resample_ring(ring, spacing, kCornerAngle, budget), min_angle);
  });
  const std::string adaptive_cause = cause + " (" + refined_by + ")";
  for_each_ring(polygons, [&](Ring& ring) {
    const PointBudget budget = ledger.budget_for(ring.size(), index.corners.size(), adaptive_cause);
    ledger.replace(ring,
                   resample_ring_adaptive(ring, index, spacing, b, ratio, kCornerAngle, budget));
  });
  return polygons;
}

}  // namespace strokegraph
