// The front of the clean pipeline: the curves conditioned and inflated into
// bands at the clean scale, the stroke ends the clean-up measures free ends
// against, and whether the skeleton is to be computed tile by tile.
#include "pipeline/clean_parts.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <variant>

#include "cleanup/cleanup.h"
#include "common/format.h"
#include "common/progress.h"
#include "common/rdp.h"
#include "conditioning/repeats.h"
#include "graph/graph.h"
#include "inflate/inflate.h"
#include "pipeline/batch.h"
#include "pipeline/front.h"
#include "pipeline/join_cuts.h"
#include "pipeline/memory.h"
#include "pipeline/postprocess.h"
#include "pipeline/tile.h"
#include "pipeline/tiled.h"
#include "parallel/pool.h"
#include "pipeline/widths.h"
#include "provenance/sources.h"
#include "skeleton_cdt/skeleton.h"

namespace strokegraph {
namespace clean_detail {
namespace {

// Both ends of every stroke of the conditioned curves (strokes whose ends
// touch already joined, end points kept by decimation); a stroke that closes
// on itself has no ends.
std::vector<Point> stroke_ends(const std::vector<Polyline>& conditioned, double radius) {
  std::vector<Point> ends;
  for (const Polyline& c : conditioned) {
    if (c.size() < 2) continue;
    if (std::hypot(c.back().x - c.front().x, c.back().y - c.front().y) <= 0.5 * radius) continue;
    ends.push_back(c.front());
    ends.push_back(c.back());
  }
  return ends;
}


// The bands are built from the curves simplified within this x the front
// scale (min(feature size, radius)): a band moves by no more than that, about
// what the boundary simplification later allows its rings (0.05 x max(feature
// size, radius)), while densely sampled strokes lose half to four fifths of
// their vertices, and with them as much of the offsetting, union and
// triangulation work. Measured from 0.02 to 0.2 on the real drawings and the
// tiled-against-untiled drawings: junctions on the messy glyphs and the
// streets move by a junction or two either way (no trend); 0.11 keeps every
// junction figure there at least as good as without simplification (from
// 0.05 on, the streets' end F1 drops from 0.82 to 0.81).
constexpr double kBandSimplification = 0.11;

// Curves with fewer points are simplified on the calling thread.
constexpr std::size_t kParallelSimplifyPoints = 1 << 15;

// Every curve simplified within `epsilon` (chord_kept). Curves with widths
// of their own keep every vertex: dropping one would move the band by the
// change of width along it, which no tolerance of the curve bounds.
void simplify_for_bands(ConditionedCurves& c, double epsilon) {
  std::size_t points = 0;
  for (const Polyline& curve : c.curves) points += curve.size();
  parallel_for(
      c.curves.size(),
      [&](std::size_t i) {
        Polyline& curve = c.curves[i];
        if (curve.size() < 3 || (c.widths && i < c.widths->size() && !(*c.widths)[i].empty())) return;
        const std::vector<char> keep = chord_kept(curve, epsilon);
        std::size_t out = 0;
        for (std::size_t k = 0; k < curve.size(); ++k) {
          if (keep[k]) curve[out++] = curve[k];
        }
        curve.resize(out);
      },
      points >= kParallelSimplifyPoints);
}

// The tile side to use (not positive: chosen from the bands), or nothing when
// the skeleton is computed in one piece.
std::optional<double> tile_side(const TileChoice& tiles, const std::vector<Ring>& bands) {
  if (const double* side = std::get_if<double>(&tiles)) return *side;
  if (const bool* always = std::get_if<bool>(&tiles)) {
    return *always ? std::optional<double>(0.0) : std::nullopt;
  }
  if (tiling_pays_off(largest_cluster_vertices(bands))) return 0.0;
  return std::nullopt;
}

// One cap per curve (round where none is given).
std::vector<Cap> caps_per_curve(const std::vector<Cap>& caps, std::size_t curves) {
  if (caps.size() == curves) return caps;
  return std::vector<Cap>(curves, caps.empty() ? Cap::Round : caps.front());
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
  simplify_for_bands(conditioned, kBandSimplification * front_scale);
  CleanFront front;
  front.bands = offset_bands(conditioned.curves, conditioned.widths, radius, front_scale,
                             &*conditioned.caps);
  front.widest_band = largest_radius(radius, conditioned.widths);
  front.stroke_ends = stroke_ends(conditioned.curves, radius);
  front.first = std::move(first);
  conditioned = {};
  front.side = tile_side(tiles, front.bands);
  // A side below one margin only repeats the work: every tile would hold
  // all the bands within its margin, and tiles far smaller than a band cut
  // it where its skeleton meets itself.
  if (front.side && *front.side > 0.0)
    front.side = std::max(*front.side, default_tile_margin(front.widest_band, feature_size));
  return front;
}

}  // namespace clean_detail
}  // namespace strokegraph
