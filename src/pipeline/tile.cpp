#include "pipeline/tile.h"

#include <clipper2/clipper.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <exception>
#include <functional>
#include <iterator>
#include <limits>
#include <mutex>
#include <optional>
#include <tuple>
#include <utility>

#include "common/progress.h"
#include "inflate/inflate.h"
#include "parallel/pool.h"
#include "pipeline/memory.h"
#include "skeleton_cdt/skeleton.h"

namespace strokegraph {
namespace {

// More tiles per axis than this and the grid costs more than it saves: a
// tile side given that small grows until the grid fits.
constexpr double kMaxTilesPerAxis = 4096.0;

TileRect rect_bounds(const Ring& ring) {
  const Bounds b = bounds_of(ring);
  return {b.xmin, b.ymin, b.xmax, b.ymax};
}

bool contains(const TileRect& outer, const TileRect& inner) {
  return outer.xmin <= inner.xmin && inner.xmax <= outer.xmax && outer.ymin <= inner.ymin &&
         inner.ymax <= outer.ymax;
}

// Seam coordinates covering [lo, hi]: centred on it, or at origin + k * size.
std::vector<double> seams(double lo, double hi, double size, std::optional<double> origin) {
  const double width = hi - lo;
  double first = 0.0;
  std::size_t n = 0;
  if (origin) {
    const double k = std::floor((lo - *origin) / size);
    first = *origin + k * size;
    n = static_cast<std::size_t>(std::floor((hi - first) / size)) + 1;
  } else {
    n = static_cast<std::size_t>(std::floor(width / size)) + 1;
    first = lo - (static_cast<double>(n) * size - width) * 0.5;
  }
  std::vector<double> xs(n + 1);
  for (std::size_t i = 0; i <= n; ++i) xs[i] = first + static_cast<double>(i) * size;
  return xs;
}

// Range of tiles along one axis whose grown extent meets [lo, hi].
std::pair<std::size_t, std::size_t> tile_range(const std::vector<double>& xs, double margin,
                                               double lo, double hi) {
  const std::size_t n = xs.size() - 1;
  // First tile whose grown upper edge reaches lo, last whose grown lower edge
  // is not beyond hi.
  const auto first = static_cast<std::size_t>(
      std::lower_bound(xs.begin() + 1, xs.end(), lo - margin) - (xs.begin() + 1));
  const auto past = static_cast<std::size_t>(
      std::upper_bound(xs.begin(), xs.end() - 1, hi + margin) - xs.begin());
  return {std::min(first, n), std::min(past, n)};
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
constexpr double kRetryMargins[] = {1.0, 1.25, 1.5};
static_assert(kRetryMargins[std::size(kRetryMargins) - 1] == kLargestMarginGrowth);

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

// One end of a kept piece that lies on, or near, a seam line.
struct SeamEnd {
  std::size_t line;  // vertical lines 0..nx, then horizontal lines
  double along;      // the coordinate along the line
  unsigned char side;  // 0: the tile below / left of the line, 1: above / right
  std::size_t piece;   // global piece index
  unsigned char end;   // 0: start, 1: end
  bool operator<(const SeamEnd& o) const {
    return std::tie(line, along, side, piece, end) <
           std::tie(o.line, o.along, o.side, o.piece, o.end);
  }
};

Point& end_point(std::vector<Segment>& segments, const SeamEnd& e) {
  return e.end == 0 ? segments[e.piece].a : segments[e.piece].b;
}

// Joins the pieces that neighbouring tiles cut on their shared edges, by
// moving cut ends onto each other (never by adding segments, which would
// close small loops where the tiles' skeletons disagree). Per seam line, in
// order along it:
// 1. cut ends from opposite sides within `tol` of each other pair up,
//    closest pairs first, and both move to their midpoint on the line;
// 2. a cut end left over moves onto the nearest piece end of the other side
//    within `tol` of it (the other tile's branch stopped just short of the
//    line, or its junction lies on this side);
// 3. of the cut ends still left, neighbours from the same side within `tol`
//    move onto the first of them (one tile's skeleton dipped across the line
//    and back while the other's stayed on its own side).
void stitch(std::vector<Segment>& segments, std::vector<SeamEnd> cuts, std::vector<SeamEnd> near,
            const TileGrid& grid, double tol) {
  std::sort(cuts.begin(), cuts.end());
  near.insert(near.end(), cuts.begin(), cuts.end());
  std::sort(near.begin(), near.end());
  const std::size_t nx = grid.nx();
  auto line_coordinate = [&](std::size_t line) {
    return line <= nx ? grid.xs[line] : grid.ys[line - nx - 1];
  };
  auto on_line = [&](std::size_t line, double along) {
    const double c = line_coordinate(line);
    return line <= nx ? Point{c, along} : Point{along, c};
  };
  std::vector<char> done(cuts.size(), 0);
  std::vector<std::tuple<double, std::size_t, std::size_t>> candidates;
  std::vector<std::size_t> free;
  for (std::size_t lo = 0; lo < cuts.size();) {
    std::size_t hi = lo;
    while (hi < cuts.size() && cuts[hi].line == cuts[lo].line) ++hi;
    const std::size_t line = cuts[lo].line;

    candidates.clear();
    for (std::size_t k = lo; k + 1 < hi; ++k) {
      const double gap = cuts[k + 1].along - cuts[k].along;
      if (cuts[k].side != cuts[k + 1].side && gap <= tol) candidates.emplace_back(gap, k, k + 1);
    }
    std::sort(candidates.begin(), candidates.end());
    for (const auto& [gap, i, j] : candidates) {
      if (done[i] || done[j]) continue;
      done[i] = done[j] = 1;
      const Point p = on_line(line, (cuts[i].along + cuts[j].along) * 0.5);
      end_point(segments, cuts[i]) = p;
      end_point(segments, cuts[j]) = p;
    }

    for (std::size_t k = lo; k < hi; ++k) {
      if (done[k]) continue;
      const Point p = end_point(segments, cuts[k]);
      const SeamEnd key{line, cuts[k].along - tol, 0, 0, 0};
      double best = tol * tol;
      std::optional<Point> target;
      for (auto it = std::lower_bound(near.begin(), near.end(), key);
           it != near.end() && it->line == line && it->along <= cuts[k].along + tol; ++it) {
        if (it->side == cuts[k].side) continue;
        const Point q = end_point(segments, *it);
        const double d = (q.x - p.x) * (q.x - p.x) + (q.y - p.y) * (q.y - p.y);
        if (d < best || (d == best && !target)) {
          target = q;
          best = d;
        }
      }
      if (!target) continue;
      end_point(segments, cuts[k]) = *target;
      done[k] = 1;
    }

    free.clear();
    for (std::size_t k = lo; k < hi; ++k)
      if (!done[k]) free.push_back(k);
    candidates.clear();
    for (std::size_t f = 0; f + 1 < free.size(); ++f) {
      const SeamEnd& a = cuts[free[f]];
      const SeamEnd& b = cuts[free[f + 1]];
      if (a.side == b.side && b.along - a.along <= tol)
        candidates.emplace_back(b.along - a.along, free[f], free[f + 1]);
    }
    std::sort(candidates.begin(), candidates.end());
    for (const auto& [gap, i, j] : candidates) {
      if (done[i] || done[j]) continue;
      done[i] = done[j] = 1;
      end_point(segments, cuts[j]) = end_point(segments, cuts[i]);
    }
    lo = hi;
  }
}

// Moves every inner seam of one axis within a quarter tile of where the
// regular grid put it, to where the least band outline runs along it. A
// centreline that follows a seam (a street of a city grid lying on it) would
// cross it again and again, and each tile would keep the half of it on its
// own side; crossings at an angle stitch cleanly. The cost of a seam position
// c is the extent, along the seam, of the outline edges that come within
// `reach` of it; edges across the seam add little. `along_y` selects seams
// x = c (edges weigh by their y extent) or seams y = c.
void place_seams(std::vector<double>& cs, const std::vector<Ring>& bands, double reach,
                 bool along_y) {
  if (cs.size() < 3) return;
  const double lo = cs.front(), hi = cs.back();
  const double size = (hi - lo) / static_cast<double>(cs.size() - 1);
  double bin = reach / 4.0;
  constexpr double kMaxBins = 1 << 20;
  if ((hi - lo) / bin > kMaxBins) bin = (hi - lo) / kMaxBins;
  if (!(bin > 0.0) || !std::isfinite(bin)) return;
  const auto bins = static_cast<std::size_t>(std::ceil((hi - lo) / bin)) + 1;
  auto index = [&](double v) {
    const double k = std::floor((v - lo) / bin);
    return static_cast<std::size_t>(std::clamp(k, 0.0, static_cast<double>(bins - 1)));
  };
  std::vector<double> cost(bins, 0.0);
  for (const Ring& ring : bands) {
    for (std::size_t k = 0; k < ring.size(); ++k) {
      const Point& a = ring[k];
      const Point& b = ring[k + 1 == ring.size() ? 0 : k + 1];
      const double u0 = along_y ? a.x : a.y, u1 = along_y ? b.x : b.y;
      const double weight = along_y ? std::fabs(b.y - a.y) : std::fabs(b.x - a.x);
      const std::size_t first = index(std::min(u0, u1) - reach);
      const std::size_t last = index(std::max(u0, u1) + reach);
      for (std::size_t i = first; i <= last; ++i) cost[i] += weight;
    }
  }
  for (std::size_t i = 1; i + 1 < cs.size(); ++i) {
    const double nominal = cs[i];
    std::size_t best = index(nominal);
    for (std::size_t k = index(nominal - size / 4.0); k <= index(nominal + size / 4.0); ++k) {
      const double here = lo + (static_cast<double>(k) + 0.5) * bin;
      const double there = lo + (static_cast<double>(best) + 0.5) * bin;
      if (cost[k] < cost[best] ||
          (cost[k] == cost[best] && std::fabs(here - nominal) < std::fabs(there - nominal)))
        best = k;
    }
    cs[i] = lo + (static_cast<double>(best) + 0.5) * bin;
  }
}

}  // namespace

double default_tile_margin(double radius, double feature_size) {
  return 6.0 * std::fabs(radius) + 2.0 * feature_size;
}

double default_tile_size(std::size_t band_vertices, double area, double margin) {
  const double floor_size = kMinTileToMargin * margin;
  if (band_vertices == 0 || !(area > 0.0)) return floor_size;
  const double density = static_cast<double>(band_vertices) / area;
  return std::max(floor_size, std::sqrt(kTileVertexTarget / density));
}

TileGrid plan_tiles(const std::vector<Ring>& bands, double radius, double feature_size,
                    const TileOptions& options) {
  TileGrid grid;
  TileRect all{std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(),
               -std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
  std::size_t vertices = 0;
  for (const Ring& ring : bands) {
    const TileRect b = rect_bounds(ring);
    all = {std::min(all.xmin, b.xmin), std::min(all.ymin, b.ymin), std::max(all.xmax, b.xmax),
           std::max(all.ymax, b.ymax)};
    vertices += ring.size();
  }
  if (vertices == 0 || !std::isfinite(all.xmax - all.xmin) || !std::isfinite(all.ymax - all.ymin))
    return grid;
  grid.margin = options.margin > 0.0 ? options.margin : default_tile_margin(radius, feature_size);
  const double w = all.xmax - all.xmin;
  const double h = all.ymax - all.ymin;
  double size = options.tile_size > 0.0 ? options.tile_size
                                        : default_tile_size(vertices, w * h, grid.margin);
  size = std::max(size, std::max(w, h) / kMaxTilesPerAxis);
  if (!(size > 0.0) || !std::isfinite(size)) size = std::max({w, h, 1.0});
  grid.size = size;
  std::optional<double> ox, oy;
  if (options.origin && std::isfinite(options.origin->x) && std::isfinite(options.origin->y)) {
    ox = options.origin->x;
    oy = options.origin->y;
  }
  grid.xs = seams(all.xmin, all.xmax, size, ox);
  grid.ys = seams(all.ymin, all.ymax, size, oy);
  if (!options.origin) {
    const double reach = 1.5 * (std::fabs(radius) > 0.0 ? std::fabs(radius) : feature_size);
    place_seams(grid.xs, bands, reach, true);
    place_seams(grid.ys, bands, reach, false);
  }
  return grid;
}

std::vector<CutPiece> clip_segments(const std::vector<Segment>& segments, const TileRect& rect) {
  std::vector<CutPiece> out;
  for (const Segment& s : segments) {
    if (!std::isfinite(s.a.x) || !std::isfinite(s.a.y) || !std::isfinite(s.b.x) ||
        !std::isfinite(s.b.y))
      continue;
    const double dx = s.b.x - s.a.x;
    const double dy = s.b.y - s.a.y;
    double t0 = 0.0, t1 = 1.0;
    TileEdge e0 = kNoEdge, e1 = kNoEdge;
    // Keeps the part where p * t <= q.
    auto clip = [&](double p, double q, TileEdge edge) {
      if (p == 0.0) return q >= 0.0;
      const double t = q / p;
      if (p < 0.0) {
        if (t > t1) return false;
        if (t > t0) t0 = t, e0 = edge;
      } else {
        if (t < t0) return false;
        if (t < t1) t1 = t, e1 = edge;
      }
      return true;
    };
    if (!clip(-dx, s.a.x - rect.xmin, kLeft) || !clip(dx, rect.xmax - s.a.x, kRight) ||
        !clip(-dy, s.a.y - rect.ymin, kBottom) || !clip(dy, rect.ymax - s.a.y, kTop))
      continue;
    if (!(t0 < t1)) continue;
    auto at = [&](double t, TileEdge edge) {
      if (edge == kNoEdge) return t == 0.0 ? s.a : s.b;
      Point p{s.a.x + t * dx, s.a.y + t * dy};
      p.x = std::clamp(p.x, rect.xmin, rect.xmax);
      p.y = std::clamp(p.y, rect.ymin, rect.ymax);
      if (edge == kLeft) p.x = rect.xmin;
      if (edge == kRight) p.x = rect.xmax;
      if (edge == kBottom) p.y = rect.ymin;
      if (edge == kTop) p.y = rect.ymax;
      return p;
    };
    CutPiece piece{{at(t0, e0), at(t1, e1)}, e0, e1};
    if (piece.segment.a == piece.segment.b) continue;
    out.push_back(piece);
  }
  return out;
}

std::size_t largest_cluster_vertices(const std::vector<Ring>& bands) {
  const std::size_t n = bands.size();
  std::vector<TileRect> b(n);
  std::vector<std::size_t> order, parent(n);
  for (std::size_t i = 0; i < n; ++i) {
    b[i] = rect_bounds(bands[i]);
    parent[i] = i;
    if (!bands[i].empty()) order.push_back(i);
  }
  auto find = [&](std::size_t i) {
    while (parent[i] != i) i = parent[i] = parent[parent[i]];
    return i;
  };
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t p, std::size_t q) { return b[p].xmin < b[q].xmin; });
  std::vector<std::size_t> active;
  for (std::size_t i : order) {
    std::size_t kept = 0;
    for (std::size_t j : active) {
      if (b[j].xmax < b[i].xmin) continue;  // left behind by the sweep
      active[kept++] = j;
      if (b[j].ymin <= b[i].ymax && b[i].ymin <= b[j].ymax) {
        const std::size_t ri = find(i), rj = find(j);
        if (ri != rj) parent[std::max(ri, rj)] = std::min(ri, rj);
      }
    }
    active.resize(kept);
    active.push_back(i);
  }
  std::vector<std::size_t> vertices(n, 0);
  std::size_t largest = 0;
  for (std::size_t i = 0; i < n; ++i) largest = std::max(largest, vertices[find(i)] += bands[i].size());
  return largest;
}

TilePlan plan_tile_work(const std::vector<Ring>& bands, double radius, double buffer_distance,
                        double feature_size, const BoundaryOptions& boundary,
                        const TileOptions& options, bool keep_boundary) {
  TilePlan plan;
  plan.grid = plan_tiles(bands, radius, feature_size, options);
  const TileGrid& grid = plan.grid;
  plan.settings = {grid.margin,
                   buffer_distance,
                   feature_size,
                   boundary,
                   options.hole_feature_size,
                   options.keep_edges,
                   keep_boundary};
  plan.tolerance = std::fabs(radius) > 0.0 ? std::fabs(radius) : feature_size;
  const std::size_t count = grid.count();
  plan.starts.assign(count + 1, 0);
  if (count == 0) return plan;
  const std::size_t nx = grid.nx();

  // Which bands every tile takes (at its largest margin), as one flat list
  // per tile.
  const double reach = grid.margin * kRetryMargins[std::size(kRetryMargins) - 1];
  std::vector<std::size_t>& starts = plan.starts;
  std::vector<std::pair<std::size_t, std::size_t>> xr(bands.size()), yr(bands.size());
  for (std::size_t b = 0; b < bands.size(); ++b) {
    if (bands[b].empty()) continue;
    const TileRect bounds = rect_bounds(bands[b]);
    xr[b] = tile_range(grid.xs, reach, bounds.xmin, bounds.xmax);
    yr[b] = tile_range(grid.ys, reach, bounds.ymin, bounds.ymax);
    for (std::size_t iy = yr[b].first; iy < yr[b].second; ++iy)
      for (std::size_t ix = xr[b].first; ix < xr[b].second; ++ix) ++starts[iy * nx + ix + 1];
  }
  for (std::size_t t = 0; t < count; ++t) starts[t + 1] += starts[t];
  plan.members.resize(starts[count]);
  std::vector<std::size_t> fill(starts.begin(), starts.end() - 1);
  for (std::size_t b = 0; b < bands.size(); ++b) {
    if (bands[b].empty()) continue;
    for (std::size_t iy = yr[b].first; iy < yr[b].second; ++iy)
      for (std::size_t ix = xr[b].first; ix < xr[b].second; ++ix)
        plan.members[fill[iy * nx + ix]++] = b;
  }
  return plan;
}

TileResult run_tile(const TileSettings& settings, const TileRect& own,
                    const std::vector<const Ring*>& bands) {
  checkpoint();
  TileResult result;
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
  return result;
}

TiledSkeleton assemble_tiles(const TileGrid& grid, double tolerance,
                             std::vector<TileResult> results, bool keep_boundary) {
  TiledSkeleton out;
  out.grid = grid;
  const std::size_t count = std::min(grid.count(), results.size());
  if (count == 0) return out;
  const std::size_t nx = grid.nx();
  const double tol = tolerance;

  // Concatenate in tile order, noting the piece ends on or near seams; the
  // outputs are sized first so that they never hold two copies while growing.
  std::vector<SeamEnd> cuts, near;
  std::size_t working_set = 0;  // bytes of what the tiles hand over
  {
    std::size_t pieces = 0, edges = 0, edge_points = 0, points = 0;
    const Segment* last = nullptr;
    for (std::size_t t = 0; t < count; ++t) {
      pieces += results[t].pieces.size();
      edges += results[t].edges.size();
      for (const Segment& e : results[t].edges) {
        edge_points += last != nullptr && std::memcmp(&last->b, &e.a, sizeof(Point)) == 0 ? 1 : 2;
        last = &e;
      }
      points += results[t].boundary.size();
    }
    out.segments.reserve(pieces);
    out.edges.points.reserve(edge_points);
    out.boundary.reserve(points);
    working_set = pieces * sizeof(CutPiece) + edges * sizeof(Segment) + points * sizeof(Point);
  }
  for (std::size_t t = 0; t < count; ++t) {
    const std::size_t ix = t % nx, iy = t / nx;
    const TileRect own = grid.rect(ix, iy);
    for (const CutPiece& piece : results[t].pieces) {
      const std::size_t index = out.segments.size();
      out.segments.push_back(piece.segment);
      for (unsigned char end = 0; end < 2; ++end) {
        const TileEdge edge = end == 0 ? piece.start_edge : piece.end_edge;
        const Point p = end == 0 ? piece.segment.a : piece.segment.b;
        if (edge == kLeft) cuts.push_back({ix, p.y, 1, index, end});
        if (edge == kRight) cuts.push_back({ix + 1, p.y, 0, index, end});
        if (edge == kBottom) cuts.push_back({nx + 1 + iy, p.x, 1, index, end});
        if (edge == kTop) cuts.push_back({nx + 1 + iy + 1, p.x, 0, index, end});
        if (edge != kNoEdge) continue;
        if (ix > 0 && p.x - own.xmin <= tol) near.push_back({ix, p.y, 1, index, end});
        if (ix + 1 < nx && own.xmax - p.x <= tol) near.push_back({ix + 1, p.y, 0, index, end});
        if (iy > 0 && p.y - own.ymin <= tol) near.push_back({nx + 1 + iy, p.x, 1, index, end});
        if (iy + 1 < grid.ny() && own.ymax - p.y <= tol)
          near.push_back({nx + 1 + iy + 1, p.x, 0, index, end});
      }
    }
    std::vector<CutPiece>().swap(results[t].pieces);
    out.refused += results[t].failed;
    for (const Segment& e : results[t].edges) out.edges.add(e);
    std::vector<Segment>().swap(results[t].edges);
    if (keep_boundary) {
      out.boundary.insert(out.boundary.end(), results[t].boundary.begin(),
                          results[t].boundary.end());
      std::vector<Point>().swap(results[t].boundary);
    }
    // What the tiles held goes back as it is copied, not all at the end.
    if (t % 64 == 63) release_free_memory(working_set);
  }
  stitch(out.segments, std::move(cuts), std::move(near), grid, tol);
  return out;
}

TiledSkeleton tiled_skeleton(std::vector<Ring> bands, double radius,
                             double buffer_distance, double feature_size,
                             const BoundaryOptions& boundary, const TileOptions& options,
                             bool keep_boundary) {
  const TilePlan plan = plan_tile_work(bands, radius, buffer_distance, feature_size, boundary,
                                       options, keep_boundary);
  const TileGrid& grid = plan.grid;
  const std::size_t count = grid.count();
  if (count == 0) {
    TiledSkeleton out;
    out.grid = grid;
    return out;
  }
  // A band is freed once every tile that reads it has run. Tiles start in
  // index order, so only the bands of the rows in flight stay: the bands
  // whose last tile is t are listed from last_start[t].
  std::vector<std::size_t> last_start(count + 1, 0), last_bands;
  {
    std::vector<std::size_t> last(bands.size(), count);
    for (std::size_t t = 0; t < count; ++t)
      for (std::size_t k = plan.starts[t]; k < plan.starts[t + 1]; ++k) last[plan.members[k]] = t;
    for (std::size_t b = 0; b < bands.size(); ++b)
      if (last[b] < count) ++last_start[last[b] + 1];
    for (std::size_t t = 0; t < count; ++t) last_start[t + 1] += last_start[t];
    last_bands.resize(last_start[count]);
    std::vector<std::size_t> at(last_start.begin(), last_start.end() - 1);
    for (std::size_t b = 0; b < bands.size(); ++b)
      if (last[b] < count) last_bands[at[last[b]]++] = b;
  }
  std::size_t working_set = 0;  // bytes of the bands, and about as many of pieces
  for (const Ring& band : bands) working_set += 2 * sizeof(Point) * band.size();
  std::mutex done_mu;
  std::vector<char> done(count, 0);
  std::size_t below = 0;  // every tile below this one has run
  auto tile_done = [&](std::size_t t) {
    std::lock_guard<std::mutex> lock(done_mu);
    done[t] = 1;
    const std::size_t before = below;
    for (; below < count && done[below]; ++below)
      for (std::size_t k = last_start[below]; k < last_start[below + 1]; ++k)
        Ring().swap(bands[last_bands[k]]);
    if (below / 32 != before / 32) release_free_memory(working_set);  // what the freed bands held
  };
  struct OnExit {
    decltype(tile_done)& done;
    std::size_t t;
    ~OnExit() { done(t); }
  };
  std::vector<TileResult> results(count);
  std::atomic<bool> failed{false};
  std::mutex failure_mu;
  std::exception_ptr failure;
  // Tiles on the workers check the caller's stop requests too.
  Progress* progress = current_progress();
  const std::function<void(std::size_t)> task = [&](std::size_t t) {
    ProgressScope scope(progress);
    const OnExit exit{tile_done, t};
    try {
      checkpoint();
      results[t] = run_tile(plan.settings, plan.rect_of(t), plan.bands_of(t, bands));
    } catch (...) {
      std::lock_guard<std::mutex> lock(failure_mu);
      if (!failure) failure = std::current_exception();
      failed.store(true, std::memory_order_release);
    }
  };
  const std::function<bool()> stop = [&] {
    return failed.load(std::memory_order_acquire) ||
           (progress != nullptr && progress->stop.load(std::memory_order_relaxed));
  };
  if (options.parallel && count > 1 && !on_pool_worker()) {
    run_on_pool(count, task, stop);
  } else {
    for (std::size_t t = 0; t < count && !stop(); ++t) task(t);
  }
  if (failure) std::rethrow_exception(failure);
  checkpoint();
  // The pieces are all that is left to keep.
  std::vector<Ring>().swap(bands);
  release_free_memory(working_set);
  return assemble_tiles(grid, plan.tolerance, std::move(results), keep_boundary);
}

}  // namespace strokegraph
