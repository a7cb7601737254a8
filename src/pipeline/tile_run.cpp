// One tile's work: the bands it takes clipped to its grown square, united,
// preprocessed, triangulated and skeletonised, and the skeleton kept inside
// its own square; a tile whose large polygons gave no skeleton runs again
// with other margins, then without ring simplification, then with touching
// holes filled.
#include "pipeline/tile.h"

#include <clipper2/clipper.h>

#include <algorithm>
#include <iterator>
#include <utility>

#include "common/progress.h"
#include "inflate/inflate.h"
#include "pipeline/tile_bounds.h"
#include "skeleton_cdt/skeleton.h"

namespace strokegraph {
namespace {

bool contains(const TileRect& outer, const TileRect& inner) {
  return outer.xmin <= inner.xmin && inner.xmax <= outer.xmax && outer.ymin <= inner.ymin &&
         inner.ymax <= outer.ymax;
}

// Bands that overlap many times over (hatching: hundreds of strokes across
// the same strip) are united in neighbourly groups by unite_bands
// (inflate/band_union.h): the clean pipeline's band pieces have no holes,
// and a clip of a ring without holes has none either.

// A polygon whose outer ring has this many points after preprocessing is
// more than a blob: no skeleton at all means its triangulation was refused,
// mostly because simplification made two of its rings cross. Which rings
// cross depends on where the simplification of a clipped ring starts, so the
// tile is run again with another margin (kRetryMargins), and the first run
// without such a failure is kept; failing that, once more without ring
// simplification (the union's own rings do not cross), and last with the
// holes that touch another ring filled; the run with the fewest failures is
// kept. Filling comes last because it changes the region: such a hole is
// mostly a block between streets that the clip closed against the grown
// edge, and filled it gets a skeleton of its own, straight across the block,
// that breaks the junctions and streets around it.
constexpr std::size_t kLargeRing = 64;

// Whether a vertex of hole h lies within a grid unit (1e-6) of an edge of
// another ring of the polygon.
bool touches_other_ring(const BufferPolygon& polygon, std::size_t h) {
  constexpr double kTouch = 1e-6;
  const Ring& hole = polygon.holes[h];
  TileRect b = rect_bounds(hole);
  b = {b.xmin - kTouch, b.ymin - kTouch, b.xmax + kTouch, b.ymax + kTouch};
  auto near = [&](const Ring& ring) {
    for (std::size_t k = 0; k < ring.size(); ++k) {
      const Point& p = ring[k];
      const Point& q = ring[k + 1 == ring.size() ? 0 : k + 1];
      if (std::max(p.x, q.x) < b.xmin || std::min(p.x, q.x) > b.xmax ||
          std::max(p.y, q.y) < b.ymin || std::min(p.y, q.y) > b.ymax)
        continue;
      for (const Point& v : hole)
        if (point_segment_distance(v, p, q) <= kTouch) return true;
    }
    return false;
  };
  if (near(polygon.outer)) return true;
  for (std::size_t o = 0; o < polygon.holes.size(); ++o)
    if (o != h && near(polygon.holes[o])) return true;
  return false;
}

// One run of a tile: the bands (with their bounding boxes) clipped to the
// tile grown by `margin`, united, preprocessed with `boundary`, skeletonised.
TileResult run_tile_once(const std::vector<const Ring*>& bands,
                         const std::vector<TileRect>& band_bounds, const TileRect& own,
                         double margin, const TileSettings& settings,
                         const BoundaryOptions& boundary, bool fill_touching) {
  using namespace Clipper2Lib;
  const double buffer_distance = settings.buffer_distance;
  const double feature_size = settings.feature_size;
  const TileRect grown{own.xmin - margin, own.ymin - margin, own.xmax + margin,
                       own.ymax + margin};
  std::vector<Ring> inside;
  PathsD crossing;
  for (std::size_t b = 0; b < bands.size(); ++b) {
    const Ring& band = *bands[b];
    if (contains(grown, band_bounds[b])) {
      inside.push_back(band);
    } else {
      PathD path;
      path.reserve(band.size());
      for (const Point& p : band) path.emplace_back(p.x, p.y);
      crossing.push_back(std::move(path));
    }
  }
  if (!crossing.empty()) {
    const PathsD clipped =
        RectClip(RectD(grown.xmin, grown.ymin, grown.xmax, grown.ymax), crossing, 6);
    for (const PathD& path : clipped) {
      Ring ring;
      ring.reserve(path.size());
      for (const PointD& q : path) ring.push_back({q.x, q.y});
      inside.push_back(std::move(ring));
    }
  }
  TileResult out;
  if (inside.empty()) return out;
  const std::vector<BufferPolygon> polygons =
      preprocess_stage(unite_bands(std::move(inside),
                                   settings.hole_feature_size.value_or(feature_size)),
                       buffer_distance, feature_size, boundary);
  std::vector<Segment> segments;
  for (const BufferPolygon& polygon : polygons) {
    if (polygon.outer.size() < 3) continue;
    // A polygon within the margin only shapes its neighbours' refinement.
    const TileRect b = rect_bounds(polygon.outer);
    if (b.xmax < own.xmin || b.xmin > own.xmax || b.ymax < own.ymin || b.ymin > own.ymax) continue;
    std::vector<Segment> part = skeletonize(polygon.outer, polygon.holes);
    if (fill_touching && part.empty() && polygon.outer.size() >= kLargeRing &&
        !polygon.holes.empty()) {
      // A hole that touches another ring (the union and the clip leave such
      // pinches) can still cross it after jitter: fill the holes that come
      // within a grid unit of another ring, as the union fills holes too
      // small to keep. Only as the last resort (see kRetryMargins).
      std::vector<Ring> apart;
      for (std::size_t h = 0; h < polygon.holes.size(); ++h)
        if (!touches_other_ring(polygon, h)) apart.push_back(polygon.holes[h]);
      if (apart.size() < polygon.holes.size()) part = skeletonize(polygon.outer, apart);
    }
    if (part.empty() && polygon.outer.size() >= kLargeRing) ++out.failed;
    segments.insert(segments.end(), part.begin(), part.end());
  }
  out.pieces = clip_segments(segments, own);
  if (settings.keep_boundary) {
    auto keep = [&](const Ring& ring) {
      for (const Point& p : ring) {
        if (own.xmin <= p.x && p.x < own.xmax && own.ymin <= p.y && p.y < own.ymax) {
          out.boundary.push_back(p);
        }
      }
    };
    for (const BufferPolygon& polygon : polygons) {
      keep(polygon.outer);
      for (const Ring& hole : polygon.holes) keep(hole);
    }
  }
  if (settings.keep_edges) {
    std::vector<Segment> edges;
    auto add = [&](const Ring& ring) {
      for (std::size_t k = 0; k < ring.size(); ++k)
        edges.push_back({ring[k], ring[k + 1 == ring.size() ? 0 : k + 1]});
    };
    for (const BufferPolygon& polygon : polygons) {
      add(polygon.outer);
      for (const Ring& hole : polygon.holes) add(hole);
    }
    for (const CutPiece& piece : clip_segments(edges, own)) out.edges.push_back(piece.segment);
  }
  return out;
}

}  // namespace

TileResult run_tile(const TileSettings& settings, const TileRect& own,
                    const std::vector<const Ring*>& bands) {
  checkpoint();
  TileResult result;
  result.plan = settings.plan;
  if (bands.empty()) return result;
  std::vector<TileRect> bounds(bands.size());
  for (std::size_t b = 0; b < bands.size(); ++b) bounds[b] = rect_bounds(*bands[b]);
  BoundaryOptions unsimplified = settings.boundary;
  unsimplified.boundary_simplification = 0.0;
  const std::size_t attempts = std::size(kRetryMargins) + 2;
  for (std::size_t a = 0; a < attempts; ++a) {
    const bool unsimplified_run = a == std::size(kRetryMargins);
    const bool fill = a + 1 == attempts;
    const double grow = a < std::size(kRetryMargins) ? kRetryMargins[a] : 1.0;
    TileResult attempt =
        run_tile_once(bands, bounds, own, settings.margin * grow, settings,
                      unsimplified_run ? unsimplified : settings.boundary, fill);
    if (a == 0 || attempt.failed < result.failed) result = std::move(attempt);
    if (result.failed == 0) break;
  }
  result.plan = settings.plan;
  return result;
}

}  // namespace strokegraph
