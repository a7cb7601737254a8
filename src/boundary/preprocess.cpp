#include "boundary/preprocess.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>

#include "boundary/curvature_index.h"
#include "boundary/local_simplify.h"
#include "boundary/resample.h"
#include "common/errors.h"
#include "common/format.h"
#include "common/progress.h"
#include "common/rdp.h"
#include "parallel/pool.h"

namespace strokegraph {

namespace {

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

constexpr double kPi = std::numbers::pi;
constexpr double kCornerAngle = kPi / 3.0;      // resampling anchors
constexpr double kSubdivisionIndexAngle = kPi / 4.0;

// Below this many points in all rings every step runs inline: the pool's
// hand-over costs more than small drawings take.
constexpr std::size_t kParallelPoints = 4096;
// Long rings are refined in stretches of this many vertices.
constexpr std::size_t kStretch = 2048;

// Every ring, polygon by polygon, the outer ring and then its holes.
std::vector<Ring*> rings_of(std::vector<BufferPolygon>& polygons) {
  std::vector<Ring*> rings;
  for (BufferPolygon& polygon : polygons) {
    rings.push_back(&polygon.outer);
    for (Ring& hole : polygon.holes) rings.push_back(&hole);
  }
  return rings;
}

std::size_t points_in(const std::vector<Ring*>& rings) {
  std::size_t n = 0;
  for (const Ring* ring : rings) n += ring->size();
  return n;
}

// Runs fn(i) for every ring i, each on its own, in ranges of rings that do
// not depend on the worker count; on the pool when `parallel`.
template <class Fn>
void each_ring(std::size_t count, bool parallel, const Fn& fn) {
  const auto body = [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) checkpoint(), fn(i);
  };
  if (!parallel) return body(0, count);
  parallel_ranges(count, std::max<std::size_t>(1, count / 64), body);
}

// One ring's vertices [begin, end), grown on their own.
struct Stretch {
  std::size_t ring, begin, end;
};

// Replaces every ring by the joined results of grow(stretch, budget) over
// its stretches of at most `longest` vertices, a densifying routine that only
// adds points, while rings and index (`index_entries`) together stay within
// kMaxBoundaryPoints, refusing with `cause` otherwise. Done ring by ring with
// each ring's budget what is left after the others, that pass refuses
// exactly when the rings grow by more than `room` points in all: the first
// ring whose growth takes the total past it has no budget left for it. Here
// the stretches grow side by side, each allowed the room the others have not
// yet claimed, which holds memory to about that room per worker; whether the
// total fits is decided once all are done, so the same drawings are refused
// with the same message.
template <class Grow>
void grow_rings(const std::vector<Ring*>& rings, std::size_t index_entries, std::size_t longest,
                const std::string& cause, bool parallel, const Grow& grow) {
  if (!parallel) {  // ring by ring, each with what the others leave
    std::size_t live = points_in(rings);
    for (std::size_t r = 0; r < rings.size(); ++r) {
      checkpoint();
      Ring& ring = *rings[r];
      const std::size_t others = live - ring.size() + index_entries;
      Ring next = grow(Stretch{r, 0, ring.size()},
                       PointBudget{kMaxBoundaryPoints - std::min(kMaxBoundaryPoints, others), cause});
      live = live - ring.size() + next.size();
      ring = std::move(next);
    }
    return;
  }
  const std::size_t held = points_in(rings) + index_entries;
  const std::size_t room = held < kMaxBoundaryPoints ? kMaxBoundaryPoints - held : 0;
  std::vector<Stretch> stretches;
  for (std::size_t r = 0; r < rings.size(); ++r) {
    const std::size_t n = rings[r]->size();
    for (std::size_t begin = 0; begin < n; begin += std::min(longest, n - begin)) {
      stretches.push_back({r, begin, begin + std::min(longest, n - begin)});
    }
  }
  std::atomic<std::size_t> claimed{0};
  std::atomic<bool> over{false};
  std::vector<std::vector<Point>> grown(stretches.size());
  each_ring(stretches.size(), parallel, [&](std::size_t i) {
    const std::size_t before = claimed.load();
    if (before > room || over.load()) return over.store(true);
    const Stretch& stretch = stretches[i];
    const std::size_t count = stretch.end - stretch.begin;
    try {
      grown[i] = grow(stretch, PointBudget{count + (room - before), cause});
    } catch (const MemoryLimitError&) {
      return over.store(true);
    }
    claimed += grown[i].size() - count;
  });
  if (over.load() || claimed.load() > room) throw_too_dense({}, cause);
  for (std::size_t i = 0; i < stretches.size();) {
    Ring& ring = *rings[stretches[i].ring];
    if (stretches[i].end == ring.size()) {  // the only stretch of its ring
      ring = std::move(grown[i++]);
      continue;
    }
    std::size_t size = 0, j = i;
    for (; j < stretches.size() && stretches[j].ring == stretches[i].ring; ++j) size += grown[j].size();
    ring.clear();
    ring.reserve(size);
    for (; i < j; ++i) ring.insert(ring.end(), grown[i].begin(), grown[i].end()), grown[i] = {};
  }
}

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

  std::vector<Ring*> rings = rings_of(polygons);
  const bool parallel = points_in(rings) >= kParallelPoints;
  if (locally && tolerance > 0.0) {
    const auto simplify = [&](std::size_t k) {
      simplify_polygon_locally(polygons[k], tolerance, kLocalSimplificationCell * tolerance);
    };
    each_ring(polygons.size(), parallel && polygons.size() > 1, simplify);
  } else if (tolerance > 0.0) {
    each_ring(rings.size(), parallel, [&](std::size_t i) { *rings[i] = rdp(*rings[i], tolerance); });
  }
  PointLedger ledger;
  ledger.live = points_in(rings);

  // Before growing anything: when the rings are certain to need more points
  // than allowed, fail now rather than after filling memory up to the limit.
  std::vector<double> sizes(rings.size());
  each_ring(rings.size(), parallel, [&](std::size_t i) {
    sizes[i] = resampling ? resampled_size_floor(*rings[i], *resample)
                          : subdivided_size(*rings[i], max_edge);
  });
  double needed = 0.0;
  for (const double size : sizes) needed += size;
  if (needed > static_cast<double>(std::max(kMaxBoundaryPoints, ledger.live))) {
    throw_too_dense({}, resampling ? name_value("resample", *resample)
                                   : name_value("feature_size", feature_size));
  }

  const std::string refined_by =
      name_value("buffer_distance", b) + " with subdivision ratio " + format_float(ratio);

  if (!resampling) {
    grow_rings(rings, 0, SIZE_MAX, name_value("feature_size", feature_size), parallel,
               [&](const Stretch& stretch, const PointBudget& budget) {
                 return subdivide_ring(*rings[stretch.ring], max_edge, budget);
               });
    if (!refine) return polygons;
    // The corners of every ring are found side by side, then recorded in
    // ring order.
    std::vector<std::vector<CornerEntry>> corners(rings.size());
    each_ring(rings.size(), parallel, [&](std::size_t i) {
      corners[i] = ring_corners(*rings[i], kSubdivisionIndexAngle);
    });
    CurvatureIndex index = make_curvature_index(4.0 * b);
    for (std::vector<CornerEntry>& found : corners) add_corners(index, found), found = {};
    grow_rings(rings, index.corners.size(), kStretch, refined_by, parallel,
               [&](const Stretch& s, const PointBudget& budget) {
                 const Ring& ring = *rings[s.ring];
                 if (ring.size() < 3) return ring;
                 return refine_ring_stretch(ring, index, b, ratio, s.begin, s.end, budget);
               });
    return polygons;
  }

  const auto for_each_ring = [&](const auto& fn) {
    for (Ring* ring : rings) checkpoint(), fn(*ring);
  };
  const double spacing = *resample;
  const std::string cause = name_value("resample", spacing);
  if (!refine) {
    for_each_ring([&](Ring& ring) {
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
  for_each_ring([&](Ring& ring) {
    const PointBudget budget = ledger.budget_for(0, index.corners.size(), cause);
    add_ring(index, resample_ring(ring, spacing, kCornerAngle, budget), min_angle);
  });
  const std::string adaptive_cause = cause + " (" + refined_by + ")";
  for_each_ring([&](Ring& ring) {
    const PointBudget budget = ledger.budget_for(ring.size(), index.corners.size(), adaptive_cause);
    ledger.replace(ring,
                   resample_ring_adaptive(ring, index, spacing, b, ratio, kCornerAngle, budget));
  });
  return polygons;
}

}  // namespace strokegraph
