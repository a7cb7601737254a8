// What the steps of the clean pipeline hand each other: the front (bands and
// stroke ends), the skeleton the clean-up starts from, and the small rules
// they share (the clean defaults, the tile options, the timing).
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <optional>
#include <vector>

#include "common/geometry.h"
#include "pipeline/centerlines.h"
#include "pipeline/front.h"
#include "pipeline/tile.h"
#include "spatial/stroke_index.h"

namespace strokegraph::clean_detail {

inline double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

inline double effective_feature_size(double radius, const std::optional<double>& feature_size) {
  return feature_size ? *feature_size : radius * kDefaultFeatureRatio;
}

// The largest band radius in force.
inline double widest(double radius, const std::optional<WidthLists>& widths) {
  double w = radius;
  if (widths) {
    for (const std::vector<double>& list : *widths) {
      for (double v : list) {
        if (std::isfinite(v)) w = std::max(w, std::fabs(v));
      }
    }
  }
  return w;
}

// The clean pipeline's own defaults where they differ from topologize's:
// the skeleton's detail follows the band, not only the feature size. Chains
// are simplified at min(feature size, radius) / 10 (a feature size well above
// the radius would cut corners by a fifth of a radius and more), ring
// vertices closer than 0.05 x max(feature size, radius) to the ring are
// dropped (a feature size well below the radius would keep the strokes'
// jitter, which the skeleton then follows). Raw tip pruning and junction
// merging run only when asked for.
inline TopologizeOptions clean_defaults(const TopologizeOptions& given, double radius, double feature_size) {
  TopologizeOptions o = given;
  if (!o.simplification) o.simplification = std::min(feature_size, radius) / 10.0;
  if (!o.boundary_simplification) o.boundary_simplification = 0.05 * std::max(feature_size, radius);
  return o;
}

// Merging, decimation and the bands (holes below 0.1 x this squared are
// filled) work at no coarser a scale than the radius: a feature size above
// it would fill the small holes of letters whose strokes nearly touch.
inline double front_scale_of(double radius, double feature_size) { return std::min(feature_size, radius); }

inline BoundaryOptions boundary_options_of(const TopologizeOptions& options) {
  return {options.subdivision_ratio, options.resample, options.boundary_simplification, true};
}

inline TileOptions clean_tile_options(double side, double front_scale) {
  TileOptions tile_options;
  tile_options.tile_size = side;
  tile_options.hole_feature_size = front_scale;
  tile_options.keep_edges = true;
  return tile_options;
}

// The clean pipeline up to its skeleton: the bands of the conditioned
// curves, the stroke ends, and the tile side when the skeleton is computed
// tile by tile. `options` are the clean defaults.
struct CleanFront {
  // Raw outlines (inflate/outline.h) when `outlines`, for unite_bands only;
  // else resolved bands, as the tiles need them.
  std::vector<Ring> bands;
  bool outlines = false;
  ConditionedCurves conditioned;  // with outlines: what resolved_bands needs
  double widest_band = 0.0;
  std::vector<Point> stroke_ends;
  std::optional<double> side;
  std::vector<std::size_t> first;  // per curve, the first curve it repeats (first_drawn)
  // The bands already united (unite_round_bands) instead of `bands`; tiles
  // then clip the united rings.
  std::optional<std::vector<BufferPolygon>> united;
};

// Bytes the stages work with, roughly: some times the input points.
inline std::size_t working_set_of(const std::vector<Polyline>& curves) {
  std::size_t bytes = 0;
  for (const Polyline& c : curves) bytes += 4 * sizeof(Point) * c.size();
  return bytes;
}

// What the clean-up starts from: the skeleton, the ring vertices for widths,
// and what clearances are measured against (the polygons in one piece, or
// the tiles' ring edges).
struct CleanSkeleton {
  std::vector<Segment> segments;
  std::vector<Point> boundary;
  std::vector<BufferPolygon> polygons;
  std::optional<PointRuns> tile_edges;
  std::vector<Point> stroke_ends;
  std::optional<TileGrid> grid;  // of the tiles, when computed tile by tile
  std::vector<std::size_t> first;  // as CleanFront's; empty when assembled from tiles
};

CleanFront clean_front(const std::vector<Polyline>& curves, double radius, double feature_size,
                       const TopologizeOptions& options, const TileChoice& tiles,
                       const std::vector<Cap>& caps);

// The front's bands resolved, for the tiles (taken from the front).
std::vector<Ring> resolved_bands(CleanFront& front, double radius, double feature_size);

CleanSkeleton tiled_clean_skeleton(TiledSkeleton skeleton, std::vector<Point> ends);

// The skeleton of the united bands, in one piece or tile by tile.
CleanSkeleton local_skeleton(const std::vector<Polyline>& curves, double radius,
                             double feature_size, const TopologizeOptions& options,
                             const TileChoice& tiles, const std::vector<Cap>& caps);

// `assembled`: the skeleton computed tile by tile elsewhere; else computed
// here.
Result<TopologizeOutput> clean_graph(const std::vector<Polyline>& curves, double radius,
                                     double feature_size, const TopologizeOptions& given,
                                     const TileChoice& tiles, const std::vector<Cap>& caps,
                                     std::optional<StrokeIndex>& strokes,
                                     double& sources_seconds, double& cleanup_seconds,
                                     CleanSkeleton* assembled);

}  // namespace strokegraph::clean_detail
