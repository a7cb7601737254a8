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


// The tile side to use (not positive: chosen from the bands), or nothing when
// the skeleton is computed in one piece.
std::optional<double> tile_side(const TileChoice& tiles, const std::vector<Ring>& bands,
                                double margin) {
  if (const double* side = std::get_if<double>(&tiles)) return *side;
  if (const bool* always = std::get_if<bool>(&tiles)) {
    return *always ? std::optional<double>(0.0) : std::nullopt;
  }
  if (tiling_pays_off(largest_cluster_vertices(bands), tiles_crowded(bands, margin))) return 0.0;
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
  CleanFront front;
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
