// The skeleton the clean-up starts from: of the united bands in one piece,
// or tile by tile (here or assembled from tiles run elsewhere), with the ring
// vertices for widths and what clearances are measured against.
#include "pipeline/clean_parts.h"

#include <algorithm>
#include <atomic>
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

// A polygon whose outer ring has this many points and gives no skeleton at all
// had its triangulation refused.
constexpr std::size_t kRefusedRing = 64;

}  // namespace

CleanSkeleton tiled_clean_skeleton(TiledSkeleton skeleton, std::vector<Point> ends) {
  CleanSkeleton out;
  out.segments = std::move(skeleton.segments);
  out.boundary = std::move(skeleton.boundary);
  out.tile_edges = std::move(skeleton.edges);
  out.stroke_ends = std::move(ends);
  out.grid = std::move(skeleton.grid);
  return out;
}

// The skeleton of the united bands, in one piece or tile by tile.
CleanSkeleton local_skeleton(const std::vector<Polyline>& curves, double radius,
                             double feature_size, const TopologizeOptions& options,
                             const TileChoice& tiles, const std::vector<Cap>& caps) {
  enter_stage("inflate", 0.0, 0.4);
  const double front_scale = front_scale_of(radius, feature_size);
  const BoundaryOptions boundary_options = boundary_options_of(options);
  CleanFront front = clean_front(curves, radius, feature_size, options, tiles, caps);
  release_free_memory(working_set_of(curves));  // what conditioning held
  enter_stage("skeleton", 0.4, 0.8);
  auto run_tiles = [&](double side) {
    if (front.united) {
      // The tiles clip the united rings, outer rings and holes alike: each
      // tile's union of its pieces gives the region back.
      front.bands.clear();
      for (BufferPolygon& polygon : *front.united) {
        front.bands.push_back(std::move(polygon.outer));
        for (Ring& hole : polygon.holes) front.bands.push_back(std::move(hole));
      }
      front.united.reset();
    }
    CleanSkeleton tiled = tiled_clean_skeleton(
        tiled_skeleton(resolved_bands(front, radius, feature_size), front.widest_band, radius,
                       feature_size, boundary_options,
                       clean_tile_options(side, front_scale), options.compute_widths),
        std::move(front.stroke_ends));
    tiled.first = std::move(front.first);
    return tiled;
  };
  if (front.side) return run_tiles(*front.side);
  // Left to choose, a drawing that one large polygon would lose (its
  // triangulation refused) is done again in tiles, which retry such polygons
  // with other clips and without ring simplification.
  const bool may_rescue = std::holds_alternative<std::monostate>(tiles);
  CleanSkeleton out;
  // The rescue rebuilds the bands resolved from the conditioned curves; the
  // united rings the front kept stay there for it, read but not copied.
  std::vector<BufferPolygon> owned;
  if (!front.united) {
    owned = unite_bands(may_rescue && !front.outlines ? std::vector<Ring>(front.bands)
                                                      : std::move(front.bands),
                        front_scale);
  } else if (!may_rescue) {
    owned = std::move(*front.united);
  }
  const std::vector<BufferPolygon>& united = front.united && may_rescue ? *front.united : owned;
  out.polygons = preprocess_stage(united, radius, feature_size, boundary_options);
  // A large polygon without skeleton had its triangulation refused, mostly
  // because simplification made two of its rings cross: it is done again
  // without (the union's own rings do not cross).
  BoundaryOptions unsimplified = boundary_options;
  unsimplified.boundary_simplification = 0.0;
  std::vector<std::vector<Segment>> parts(out.polygons.size());
  std::vector<char> refused_at(out.polygons.size(), 0);
  std::atomic<std::size_t> done{0};
  parallel_for(
      out.polygons.size(),
      [&](std::size_t k) {
        checkpoint();
        BufferPolygon& polygon = out.polygons[k];
        if (polygon.outer.size() >= 3) {
          parts[k] = skeletonize(polygon.outer, polygon.holes);
          if (parts[k].empty() && polygon.outer.size() >= kRefusedRing) {
            polygon = std::move(
                preprocess_stage({united[k]}, radius, feature_size, unsimplified)[0]);
            parts[k] = skeletonize(polygon.outer, polygon.holes);
            refused_at[k] = parts[k].empty();
          }
        }
        advance(double(++done) / double(out.polygons.size()));
      },
      ring_points(out.polygons) >= kParallelRingPoints);
  if (parts.size() == 1) {
    out.segments = std::move(parts[0]);  // most drawings: nothing to join
  } else {
    std::size_t total = 0;
    for (const std::vector<Segment>& part : parts) total += part.size();
    out.segments.reserve(total);
    for (std::vector<Segment>& part : parts) {
      out.segments.insert(out.segments.end(), part.begin(), part.end());
      part = {};
    }
  }
  const bool refused = std::find(refused_at.begin(), refused_at.end(), 1) != refused_at.end();
  owned = {};
  if (refused && may_rescue) {
    out = {};
    return run_tiles(0.0);
  }
  if (options.compute_widths) out.boundary = ring_vertices(out.polygons);
  out.stroke_ends = std::move(front.stroke_ends);
  out.first = std::move(front.first);
  return out;
}

}  // namespace clean_detail
}  // namespace strokegraph
