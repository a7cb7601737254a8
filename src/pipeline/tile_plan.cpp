// Planning the tiles of one drawing: the grid (its side from the point
// density, its seams moved off the band outlines that run along them) and,
// per tile, the bands it takes. Planning reads only the bands' bounding boxes
// and outlines, so it is cheap beside the tiles' own work and runs first.
#include "pipeline/tile.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <optional>
#include <utility>

#include "pipeline/tile_bounds.h"

namespace strokegraph {
namespace {

// More tiles per axis than this and the grid costs more than it saves: a
// tile side given that small grows until the grid fits.
constexpr double kMaxTilesPerAxis = 4096.0;

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

// Bounding box of every band and their vertex count; the box is not finite
// without bands.
std::pair<TileRect, std::size_t> bands_extent(const std::vector<Ring>& bands) {
  TileRect all{std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(),
               -std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
  std::size_t vertices = 0;
  for (const Ring& ring : bands) {
    const TileRect b = rect_bounds(ring);
    all = {std::min(all.xmin, b.xmin), std::min(all.ymin, b.ymin), std::max(all.xmax, b.xmax),
           std::max(all.ymax, b.ymax)};
    vertices += ring.size();
  }
  return {all, vertices};
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

bool tiles_crowded(const std::vector<Ring>& bands, double margin) {
  const auto [all, vertices] = bands_extent(bands);
  const double area = (all.xmax - all.xmin) * (all.ymax - all.ymin);
  if (vertices == 0 || !(area > 0.0) || !std::isfinite(area)) return false;
  const double side = std::sqrt(kTileVertexTarget * area / static_cast<double>(vertices));
  return side < kMinTileToMargin * margin;
}

TileGrid plan_tiles(const std::vector<Ring>& bands, double radius, double feature_size,
                    const TileOptions& options) {
  TileGrid grid;
  const auto [all, vertices] = bands_extent(bands);
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

}  // namespace strokegraph
