// The front of the clean pipeline: the curves conditioned and inflated into
// bands at the clean scale, the stroke ends the clean-up measures free ends
// against, and whether the skeleton is to be computed tile by tile.
#include "pipeline/clean_parts.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <variant>

#include "cleanup/cleanup.h"
#include "common/format.h"
#include "common/progress.h"
#include "conditioning/repeats.h"
#include "conditioning/turn_backs.h"
#include "graph/graph.h"
#include "inflate/inflate.h"
#include "parallel/pool.h"
#include "pipeline/batch.h"
#include "pipeline/front.h"
#include "pipeline/join_cuts.h"
#include "pipeline/memory.h"
#include "pipeline/postprocess.h"
#include "pipeline/tile.h"
#include "pipeline/tiled.h"
#include "pipeline/widths.h"
#include "provenance/sources.h"
#include "skeleton_cdt/skeleton.h"

namespace strokegraph {
namespace clean_detail {
namespace {

// Curves go to the pool in ranges of this many, in curve order (so that what
// they collect comes out the same on every thread count); drawings of fewer
// points than kParallelPoints stay on the calling thread.
constexpr std::size_t kCurveGrain = 64;
constexpr std::size_t kParallelPoints = 4096;

std::size_t curve_grain(const std::vector<Polyline>& curves) {
  std::size_t points = 0;
  for (const Polyline& c : curves) points += c.size();
  return points < kParallelPoints ? std::max<std::size_t>(curves.size(), 1) : kCurveGrain;
}

// Both ends of every stroke of the conditioned curves (strokes whose ends
// touch already joined, end points kept by decimation); a stroke that closes
// on itself has no ends. Where a curve turns back over itself the ink ends
// too (see turn_backs).
std::vector<Point> stroke_ends(const std::vector<Polyline>& conditioned, double radius) {
  const std::vector<std::vector<Point>> parts = parallel_parts<std::vector<Point>>(
      conditioned.size(), curve_grain(conditioned),
      [&](std::size_t begin, std::size_t end, std::vector<Point>& ends) {
        for (std::size_t i = begin; i < end; ++i) {
          const Polyline& c = conditioned[i];
          if (c.size() < 2) continue;
          if (std::hypot(c.back().x - c.front().x, c.back().y - c.front().y) <= 0.5 * radius)
            continue;
          ends.push_back(c.front());
          ends.push_back(c.back());
          for (const Point& p : turn_backs(c, radius)) ends.push_back(p);
        }
      });
  std::vector<Point> ends;
  for (const std::vector<Point>& part : parts) ends.insert(ends.end(), part.begin(), part.end());
  return ends;
}


// The tile side to use (not positive: chosen from the bands), or nothing when
// the skeleton is computed in one piece.
std::optional<double> tile_side(const TileChoice& tiles, const std::vector<Ring>& bands,
                                double margin) {
  if (const double* side = std::get_if<double>(&tiles)) return *side;
  if (const bool* always = std::get_if<bool>(&tiles)) {
    return *always ? std::optional<double>(0.0) : std::nullopt;
  }
  // Crowding only matters between the two thresholds of tiling_pays_off.
  const std::size_t largest = largest_cluster_vertices(bands);
  const bool crowded = tiling_pays_off(largest, false) != tiling_pays_off(largest, true) &&
                       tiles_crowded(bands, margin);
  if (tiling_pays_off(largest, crowded)) return 0.0;
  return std::nullopt;
}

// One cap per curve (round where none is given).
std::vector<Cap> caps_per_curve(const std::vector<Cap>& caps, std::size_t curves) {
  if (caps.size() == curves) return caps;
  return std::vector<Cap>(curves, caps.empty() ? Cap::Round : caps.front());
}

// Drawings of at least this many points (after conditioning) whose bands
// are all round and of one radius are united from the distance to their
// curves: below it the bands unite in a few milliseconds anyway.
constexpr std::size_t kFieldPoints = 4096;

// The grid side of that union as a fraction of the front scale: the outline
// lies within (r / 4)^2 / 8r = r / 128 of the circles and lines of the bands
// (the offsetter's arcs lie up to r / 20 inside them). A finer grid only costs
// more: at r / 6 dense traces of 1 M points took a tenth longer, with more
// outline vertices to triangulate, and their centerlines lay no closer to the
// streets.
constexpr double kFieldCellFraction = 1.0 / 4.0;

double field_cell(double radius, double front_scale) {
  return kFieldCellFraction * std::min(std::fabs(radius), front_scale);
}

// United polygons with more outline vertices than this are skeletonised
// tile by tile when the caller leaves the choice: dense traces of 100 k points
// (94 k vertices) took 12 % more processor time in tiles, those of 1 M points
// (0.9 M) the same, which the tiles then spread over the cores.
constexpr std::size_t kUnitedTileVertices = 200000;

// Strokes that pass each square of side r they touch this many times on
// average (their length over r times the squares touched) overlap heavily:
// ten traces along every street come to about 6, hatching drawn over itself
// to far more, GPS traces sharing their routes to 1.65-1.7 (60 k points
// united in 0.40 s of the call's 0.67 s instead), overdrawn sketches to 1.5
// and lettering to 1.1 (both a little slower from the distances).
constexpr double kHeavyOverlap = 1.6;

// Whether the curves overlap heavily (kHeavyOverlap), from a bitmap of the
// squares of side r that points every r / 2 along them fall in. Bounds too
// large for such a bitmap are taken as spread out.
bool heavily_overlapping(const std::vector<Polyline>& curves, double radius) {
  const double side = std::fabs(radius);
  double xmin = std::numeric_limits<double>::infinity(), ymin = xmin, xmax = -xmin, ymax = -xmin;
  for (const Polyline& c : curves)
    for (const Point& p : c) {
      if (!std::isfinite(p.x) || !std::isfinite(p.y)) return false;
      xmin = std::min(xmin, p.x), xmax = std::max(xmax, p.x);
      ymin = std::min(ymin, p.y), ymax = std::max(ymax, p.y);
    }
  if (!(side > 0.0) || !(xmin <= xmax)) return false;
  const double w = std::floor((xmax - xmin) / side) + 1.0, h = std::floor((ymax - ymin) / side) + 1.0;
  if (!(w * h <= double(std::uint64_t{1} << 26))) return false;
  const std::size_t width = std::size_t(w);
  std::vector<std::uint64_t> bits((std::size_t(w * h) + 63) / 64, 0);
  auto mark = [&](double x, double y) {
    const std::size_t i = std::min(width - 1, std::size_t((x - xmin) / side));
    const std::size_t j = std::min(std::size_t(h) - 1, std::size_t((y - ymin) / side));
    const std::size_t k = j * width + i;
    std::atomic_ref<std::uint64_t>(bits[k / 64]).fetch_or(std::uint64_t{1} << (k % 64),
                                                          std::memory_order_relaxed);
  };
  // The curves are marked on the pool; their segments' lengths are summed
  // afterwards in curve order, as one pass would.
  std::vector<std::size_t> first(curves.size() + 1, 0);
  for (std::size_t i = 0; i < curves.size(); ++i)
    first[i + 1] = first[i] + (curves[i].size() < 2 ? 0 : curves[i].size() - 1);
  std::vector<double> lengths(first.back());
  parallel_ranges(curves.size(), curve_grain(curves), [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
      const Polyline& c = curves[i];
      if (c.size() < 2) continue;
      for (std::size_t k = 0; k + 1 < c.size(); ++k) {
        const Point a = c[k], b = c[k + 1];
        const double l = std::hypot(b.x - a.x, b.y - a.y);
        lengths[first[i] + k] = l;
        const double steps = std::ceil(l / (0.5 * side));
        for (double t = 0.0; t < steps; t += 1.0)
          mark(a.x + (b.x - a.x) * (t / steps), a.y + (b.y - a.y) * (t / steps));
      }
      mark(c.back().x, c.back().y);
    }
  });
  double length = 0.0;
  for (double l : lengths) length += l;
  std::size_t touched = 0;
  for (std::uint64_t word : bits) touched += std::size_t(std::popcount(word));
  return touched > 0 && length >= kHeavyOverlap * side * double(touched);
}

// Whether the clean front unites its bands from the distances: heavily
// overlapping curves without widths, every cap round, many points.
bool united_from_distances(const ConditionedCurves& conditioned, double radius) {
  if (conditioned.widths || !conditioned.caps) return false;
  std::size_t points = 0;
  for (const Polyline& c : conditioned.curves) points += c.size();
  if (points < kFieldPoints) return false;
  for (const EndCaps& ends : *conditioned.caps)
    if (ends.front != Cap::Round || ends.back != Cap::Round) return false;
  return heavily_overlapping(conditioned.curves, radius);
}

}  // namespace

CleanFront clean_front(const std::vector<Polyline>& curves, double radius, double feature_size,
                       const TopologizeOptions& options, const TileChoice& tiles,
                       const std::vector<Cap>& caps) {
  const double front_scale = front_scale_of(radius, feature_size);
  const std::vector<Cap> per_curve = caps_per_curve(caps, curves.size());
  // A stroke drawn again (or reversed) is drawn once: joined to its repeat at
  // their common ends it would fold into a loop without ends.
  std::vector<std::size_t> first = first_drawn(curves, options.per_curve_widths);
  std::vector<std::size_t> repeats;
  for (std::size_t i = 0; i < first.size(); ++i) {
    if (first[i] != i) repeats.push_back(i);
  }
  ConditionedCurves conditioned;
  if (repeats.empty()) {
    conditioned = condition_curves(curves, radius, front_scale, options.per_curve_widths,
                                   options.merge_tolerance, &per_curve);
  } else {
    std::vector<Polyline> once;
    std::vector<Cap> once_caps;
    std::optional<WidthLists> once_widths;
    if (options.per_curve_widths) once_widths.emplace();
    std::size_t r = 0;
    for (std::size_t i = 0; i < curves.size(); ++i) {
      if (r < repeats.size() && repeats[r] == i) {
        ++r;
        continue;
      }
      once.push_back(curves[i]);
      once_caps.push_back(per_curve[i]);
      if (once_widths && i < options.per_curve_widths->size()) {
        once_widths->resize(once.size());
        once_widths->back() = (*options.per_curve_widths)[i];
      }
    }
    conditioned = condition_curves(once, radius, front_scale, once_widths, options.merge_tolerance,
                                   &once_caps);
  }
  CleanFront front;
  if (united_from_distances(conditioned, radius)) {
    front.united = unite_round_bands(conditioned.curves, radius, field_cell(radius, front_scale),
                                     front_scale);
  }
  if (front.united) {
    // Tiles clip the united rings (their unions are then cheap); left to
    // choose, only large united polygons are skeletonised tile by tile.
    std::size_t largest = 0;
    for (const BufferPolygon& polygon : *front.united) {
      std::size_t vertices = polygon.outer.size();
      for (const Ring& hole : polygon.holes) vertices += hole.size();
      largest = std::max(largest, vertices);
    }
    front.widest_band = std::fabs(radius);
    if (const double* side = std::get_if<double>(&tiles)) {
      front.side = *side > 0.0 ? std::max(*side, default_tile_margin(front.widest_band, feature_size))
                               : *side;
    } else if (const bool* always = std::get_if<bool>(&tiles)) {
      if (*always) front.side = 0.0;
    } else if (largest > kUnitedTileVertices) {
      front.side = 0.0;
    }
    front.stroke_ends = stroke_ends(conditioned.curves, radius);
    front.first = std::move(first);
    return front;
  }
  // Told to tile, the tiles need resolved bands; else the raw outlines, which
  // the union resolves (far cheaper: no union call per band).
  const bool always_tiles = std::holds_alternative<double>(tiles) ||
                            (std::holds_alternative<bool>(tiles) && std::get<bool>(tiles));
  front.outlines = !always_tiles;
  front.bands = offset_bands(conditioned.curves, conditioned.widths, radius, front_scale,
                             &*conditioned.caps, front.outlines);
  front.widest_band = largest_radius(radius, conditioned.widths);
  front.stroke_ends = stroke_ends(conditioned.curves, radius);
  front.first = std::move(first);
  front.side = tile_side(tiles, front.bands, default_tile_margin(front.widest_band, feature_size));
  // A side below one margin only repeats the work: every tile would hold
  // all the bands within its margin, and tiles far smaller than a band cut
  // it where its skeleton meets itself.
  if (front.side && *front.side > 0.0)
    front.side = std::max(*front.side, default_tile_margin(front.widest_band, feature_size));
  if (front.side && front.outlines) {
    front.bands = offset_bands(conditioned.curves, conditioned.widths, radius, front_scale,
                               &*conditioned.caps);
    front.outlines = false;
  }
  if (front.outlines) front.conditioned = std::move(conditioned);
  return front;
}

std::vector<Ring> resolved_bands(CleanFront& front, double radius, double feature_size) {
  if (!front.outlines) return std::move(front.bands);
  front.bands = {};
  const ConditionedCurves& c = front.conditioned;
  return offset_bands(c.curves, c.widths, radius, front_scale_of(radius, feature_size), &*c.caps);
}

}  // namespace clean_detail
}  // namespace strokegraph
