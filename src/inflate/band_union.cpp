#include "inflate/band_union.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <queue>
#include <utility>

#include "common/progress.h"
#include "parallel/pool.h"

namespace strokegraph {
namespace {

using namespace Clipper2Lib;

constexpr int kPrecision = 6;  // decimal places of the union

// Below this many band vertices the clusters are unioned on the calling
// thread.
constexpr std::size_t kParallelVertices = 4096;

// The clusters' ring lists merged by the order one union call emits rings in
// (see union_bands).
Clipper2Lib::PathsD merge_cluster_parts(std::vector<Clipper2Lib::PathsD> parts);

// The union rounds x × scale to the nearest integer, where the scale is the
// power of two just above 10^6, exactly as the floating-point union does.
double union_scale() {
  return std::pow(2.0, std::ilogb(std::pow(10.0, kPrecision)) + 1);
}

// Grid coordinate as the union computes it, saturated far beyond the range
// the union accepts (so that differences of two stay representable).
std::int64_t to_grid(double v, double scale) {
  const double r = std::round(v * scale);
  if (std::isnan(r)) return 0;
  if (r <= -0x1p61) return -(std::int64_t{1} << 61);
  if (r >= 0x1p61) return std::int64_t{1} << 61;
  return static_cast<std::int64_t>(r);
}

bool boxes_meet(const GridBox& a, const GridBox& b) {
  return a.xmin <= b.xmax && b.xmin <= a.xmax && a.ymin <= b.ymax && b.ymin <= a.ymax;
}

// Union-find whose roots are the smallest index of their set.
struct DisjointSets {
  std::vector<std::size_t> parent;
  explicit DisjointSets(std::size_t n) : parent(n) {
    for (std::size_t i = 0; i < n; ++i) parent[i] = i;
  }
  std::size_t find(std::size_t i) {
    while (parent[i] != i) i = parent[i] = parent[parent[i]];
    return i;
  }
  void unite(std::size_t a, std::size_t b) {
    a = find(a);
    b = find(b);
    if (a < b) parent[b] = a;
    else if (b < a) parent[a] = b;
  }
};

// Boxes covering more grid cells than this are tested against every box
// instead of being entered into every cell they cover.
constexpr std::uint64_t kMaxCellsPerBox = 64;

struct CellEntry {
  std::uint64_t cy, cx;
  std::size_t box;
  bool operator<(const CellEntry& o) const {
    if (cy != o.cy) return cy < o.cy;
    if (cx != o.cx) return cx < o.cx;
    return box < o.box;
  }
};

// Ring order of one union call: it sweeps from the largest y down and emits
// rings in the order it opens them; rings opened on the same scanline are
// opened from the smallest x.
struct RingKey {
  double top;
  double left;
};

RingKey ring_key(const PathD& path) {
  RingKey key{-std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()};
  for (const PointD& p : path) {
    if (p.y > key.top) key = {p.y, p.x};
    else if (p.y == key.top && p.x < key.left) key.left = p.x;
  }
  return key;
}

bool emitted_before(const RingKey& a, const RingKey& b) {
  if (a.top != b.top) return a.top > b.top;
  return a.left < b.left;
}

}  // namespace

GridBox union_grid_box(const PathD& path) {
  if (path.empty()) return {1, 1, 0, 0};
  double xmin = path[0].x, xmax = path[0].x, ymin = path[0].y, ymax = path[0].y;
  for (const PointD& p : path) {
    xmin = std::min(xmin, p.x);
    xmax = std::max(xmax, p.x);
    ymin = std::min(ymin, p.y);
    ymax = std::max(ymax, p.y);
  }
  // Rounding is monotone: the box of the rounded vertices is the rounded box.
  const double scale = union_scale();
  return {to_grid(xmin, scale), to_grid(ymin, scale), to_grid(xmax, scale), to_grid(ymax, scale)};
}

std::vector<std::vector<std::size_t>> box_clusters(const std::vector<GridBox>& boxes) {
  const std::size_t n = boxes.size();
  DisjointSets sets(n);
  std::vector<std::size_t> live;  // boxes that can meet another
  for (std::size_t i = 0; i < n; ++i) {
    if (boxes[i].xmin <= boxes[i].xmax && boxes[i].ymin <= boxes[i].ymax) live.push_back(i);
  }
  if (live.size() > 1) {
    // A square grid whose cells are as large as most boxes: the cell side is
    // the 90th percentile of the boxes' larger extent. Two closed boxes that
    // meet share a point, and the cell holding that point is covered by both.
    std::int64_t gx = boxes[live[0]].xmin, gy = boxes[live[0]].ymin;
    std::vector<std::uint64_t> extents;
    extents.reserve(live.size());
    for (std::size_t i : live) {
      const GridBox& b = boxes[i];
      gx = std::min(gx, b.xmin);
      gy = std::min(gy, b.ymin);
      extents.push_back(std::max(static_cast<std::uint64_t>(b.xmax - b.xmin),
                                 static_cast<std::uint64_t>(b.ymax - b.ymin)));
    }
    const std::size_t q = extents.size() * 9 / 10;
    std::nth_element(extents.begin(), extents.begin() + q, extents.end());
    const std::uint64_t side = extents[q] + 1;
    auto cell = [&](std::int64_t v, std::int64_t origin) {
      return static_cast<std::uint64_t>(v - origin) / side;
    };

    std::vector<CellEntry> entries;
    std::vector<std::size_t> big;
    for (std::size_t i : live) {
      const GridBox& b = boxes[i];
      const std::uint64_t cx0 = cell(b.xmin, gx), cx1 = cell(b.xmax, gx);
      const std::uint64_t cy0 = cell(b.ymin, gy), cy1 = cell(b.ymax, gy);
      if (cx1 - cx0 >= kMaxCellsPerBox || cy1 - cy0 >= kMaxCellsPerBox ||
          (cx1 - cx0 + 1) * (cy1 - cy0 + 1) > kMaxCellsPerBox) {
        big.push_back(i);
        continue;
      }
      for (std::uint64_t cy = cy0; cy <= cy1; ++cy)
        for (std::uint64_t cx = cx0; cx <= cx1; ++cx) entries.push_back({cy, cx, i});
    }
    std::sort(entries.begin(), entries.end());
    // Within a cell the boxes are kept in groups of one set each: a box is
    // tested against the members of a group only until one meets it, and not
    // at all when it is in that group's set already. Where hundreds of boxes
    // overlap (hatching) they join one group at the first test or two,
    // instead of being tested pair by pair.
    std::vector<std::vector<std::size_t>> groups;
    for (std::size_t lo = 0; lo < entries.size();) {
      std::size_t hi = lo + 1;
      while (hi < entries.size() && entries[hi].cy == entries[lo].cy &&
             entries[hi].cx == entries[lo].cx)
        ++hi;
      groups.clear();
      for (std::size_t a = lo; a < hi; ++a) {
        const std::size_t i = entries[a].box;
        std::size_t home = groups.size();
        for (std::size_t g = 0; g < groups.size();) {
          bool joined = sets.find(groups[g].front()) == sets.find(i);
          for (std::size_t k = 0; !joined && k < groups[g].size(); ++k) {
            if (boxes_meet(boxes[i], boxes[groups[g][k]])) {
              sets.unite(i, groups[g][k]);
              joined = true;
            }
          }
          if (!joined) {
            ++g;
          } else if (home == groups.size()) {
            groups[g].push_back(i);
            home = g++;
          } else {
            groups[home].insert(groups[home].end(), groups[g].begin(), groups[g].end());
            groups.erase(groups.begin() + static_cast<std::ptrdiff_t>(g));
          }
        }
        if (home == groups.size()) groups.push_back({i});
      }
      lo = hi;
    }
    for (std::size_t i : big) {
      for (std::size_t j : live) {
        if (j != i && boxes_meet(boxes[i], boxes[j]) && sets.find(i) != sets.find(j))
          sets.unite(i, j);
      }
    }
  }

  std::vector<std::vector<std::size_t>> clusters;
  std::vector<std::size_t> cluster_of(n, n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t root = sets.find(i);
    if (cluster_of[root] == n) {
      cluster_of[root] = clusters.size();
      clusters.emplace_back();
    }
    clusters[cluster_of[root]].push_back(i);
  }
  return clusters;
}

bool single_union_requested() {
  const char* value = std::getenv("STROKEGRAPH_SINGLE_UNION");
  return value != nullptr && std::strcmp(value, "1") == 0;
}

namespace {

// The subjects united cluster by cluster with `unite` (one call per cluster
// of overlapping boxes). The clusters are independent: on larger inputs they
// are united in parallel, each into its own slot, and merged in order. The
// pool hands them out largest first (by vertices), so that no large cluster
// starts last while the other workers run out of work.
template <typename Unite>
PathsD united_by_cluster(PathsD subjects, Unite unite) {
  std::size_t vertices = 0;
  for (const PathD& path : subjects) vertices += path.size();
  std::vector<GridBox> boxes(subjects.size());
  parallel_ranges(subjects.size(), vertices >= kParallelVertices ? 256 : subjects.size(),
                  [&](std::size_t begin, std::size_t end) {
                    for (std::size_t i = begin; i < end; ++i) boxes[i] = union_grid_box(subjects[i]);
                  });
  const std::vector<std::vector<std::size_t>> clusters = box_clusters(boxes);
  if (clusters.size() == 1) return unite(std::move(subjects));
  // (complement of the vertex count, cluster): ascending is largest first.
  std::vector<std::pair<std::size_t, std::size_t>> by_size(clusters.size());
  for (std::size_t c = 0; c < clusters.size(); ++c) {
    std::size_t size = 0;
    for (std::size_t i : clusters[c]) size += subjects[i].size();
    by_size[c] = {~size, c};
  }
  std::sort(by_size.begin(), by_size.end());
  std::vector<PathsD> parts(clusters.size());
  parallel_for(
      clusters.size(),
      [&](std::size_t k) {
        const std::size_t c = by_size[k].second;
        PathsD members;
        members.reserve(clusters[c].size());
        for (std::size_t i : clusters[c]) members.push_back(std::move(subjects[i]));
        parts[c] = unite(std::move(members));
      },
      vertices >= kParallelVertices);
  subjects.clear();
  subjects.shrink_to_fit();
  return merge_cluster_parts(std::move(parts));
}

}  // namespace

PathsD union_bands(PathsD subjects, bool single_call, FillRule fill) {
  if (single_call || subjects.size() < 2) return Union(subjects, fill, kPrecision);
  return united_by_cluster(std::move(subjects),
                           [fill](PathsD members) { return Union(members, fill, kPrecision); });
}

namespace {

PathsD merge_cluster_parts(std::vector<PathsD> parts) {
  std::size_t total = 0;
  for (const PathsD& part : parts) total += part.size();

  // Merge the clusters' ring lists, each taken in its own order, by the key
  // of their next ring; equal keys go to the lower cluster.
  std::vector<std::vector<RingKey>> keys(parts.size());
  for (std::size_t c = 0; c < parts.size(); ++c) {
    keys[c].reserve(parts[c].size());
    for (const PathD& ring : parts[c]) keys[c].push_back(ring_key(ring));
  }
  std::vector<std::size_t> next(parts.size(), 0);
  auto later = [&](std::size_t a, std::size_t b) {  // heap order: true when a comes after b
    const RingKey& ka = keys[a][next[a]];
    const RingKey& kb = keys[b][next[b]];
    if (emitted_before(kb, ka)) return true;
    if (emitted_before(ka, kb)) return false;
    return a > b;
  };
  std::priority_queue<std::size_t, std::vector<std::size_t>, decltype(later)> heads(later);
  for (std::size_t c = 0; c < parts.size(); ++c) {
    if (!parts[c].empty()) heads.push(c);
  }
  PathsD merged;
  merged.reserve(total);
  while (!heads.empty()) {
    const std::size_t c = heads.top();
    heads.pop();
    merged.push_back(std::move(parts[c][next[c]]));
    if (++next[c] < parts[c].size()) heads.push(c);
  }
  return merged;
}

}  // namespace

namespace {

// Subjects united per call in the grouped union (4 and 8 radii long pieces
// measured best on dense traces and hatching).
constexpr std::size_t kGroupSize = 4;

// Index along a Hilbert curve of order 16 of the cell (x, y), x, y < 2^16.
std::uint64_t hilbert_index(std::uint32_t x, std::uint32_t y) {
  constexpr std::uint32_t n = 1u << 16;
  std::uint64_t d = 0;
  for (std::uint32_t s = n / 2; s > 0; s /= 2) {
    const std::uint32_t rx = (x & s) ? 1 : 0;
    const std::uint32_t ry = (y & s) ? 1 : 0;
    d += std::uint64_t{s} * s * ((3 * rx) ^ ry);
    if (ry == 0) {
      if (rx == 1) {
        x = n - 1 - x;
        y = n - 1 - y;
      }
      std::swap(x, y);
    }
  }
  return d;
}

// The subjects' order along the Hilbert curve of their box centres over the
// boxes' common bounds (ties in input order).
std::vector<std::size_t> hilbert_order(const PathsD& subjects) {
  const std::size_t n = subjects.size();
  std::vector<double> cx(n, 0.0), cy(n, 0.0);
  double xmin = std::numeric_limits<double>::infinity(), ymin = xmin;
  double xmax = -xmin, ymax = -xmin;
  for (std::size_t i = 0; i < n; ++i) {
    double x0 = std::numeric_limits<double>::infinity(), y0 = x0, x1 = -x0, y1 = -x0;
    for (const PointD& p : subjects[i]) {
      x0 = std::min(x0, p.x), x1 = std::max(x1, p.x);
      y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
    }
    if (!(x0 <= x1 && y0 <= y1)) continue;
    cx[i] = 0.5 * (x0 + x1), cy[i] = 0.5 * (y0 + y1);
    xmin = std::min(xmin, cx[i]), xmax = std::max(xmax, cx[i]);
    ymin = std::min(ymin, cy[i]), ymax = std::max(ymax, cy[i]);
  }
  const double span = std::max(xmax - xmin, ymax - ymin);
  auto cell = [&](double v, double lo) -> std::uint32_t {
    if (!(span > 0.0)) return 0;
    const double c = std::floor((v - lo) / span * 65535.0);
    return c > 0.0 ? static_cast<std::uint32_t>(std::min(c, 65535.0)) : 0;
  };
  std::vector<std::pair<std::uint64_t, std::size_t>> keyed(n);
  for (std::size_t i = 0; i < n; ++i) keyed[i] = {hilbert_index(cell(cx[i], xmin), cell(cy[i], ymin)), i};
  std::sort(keyed.begin(), keyed.end());
  std::vector<std::size_t> order(n);
  for (std::size_t i = 0; i < n; ++i) order[i] = keyed[i].second;
  return order;
}

std::size_t vertex_count(const std::vector<PathsD>& units) {
  std::size_t v = 0;
  for (const PathsD& u : units)
    for (const PathD& p : u) v += p.size();
  return v;
}


// One Positive union call, swept along the longer side of the subjects'
// bounds. The union sweeps its scanline along y, and every scanline costs
// as many edges as cross it: a long strip lying along x (hatching, a row of
// letters, a street) keeps thousands of edges of its wavy long sides under
// the scanline at once, and the union of a few such strips takes seconds.
// Wider than tall, the subjects are united with x and y swapped (exact) and
// swapped back, each ring reversed to keep its orientation; the rings are
// then put in the order one call emits them (see union_bands).
PathsD union_along_longer_side(PathsD subjects) {
  double xmin = std::numeric_limits<double>::infinity(), ymin = xmin, xmax = -xmin, ymax = -xmin;
  for (const PathD& path : subjects) {
    for (const PointD& p : path) {
      xmin = std::min(xmin, p.x), xmax = std::max(xmax, p.x);
      ymin = std::min(ymin, p.y), ymax = std::max(ymax, p.y);
    }
  }
  if (!(xmax - xmin > ymax - ymin)) return Union(subjects, FillRule::Positive, kPrecision);
  // Swapped, every ring turns the other way: its band has negative winding.
  for (PathD& path : subjects)
    for (PointD& p : path) std::swap(p.x, p.y);
  PathsD united = Union(subjects, FillRule::Negative, kPrecision);
  subjects = {};
  std::vector<std::pair<RingKey, std::size_t>> keyed;
  keyed.reserve(united.size());
  for (std::size_t k = 0; k < united.size(); ++k) {
    PathD& path = united[k];
    for (PointD& p : path) std::swap(p.x, p.y);
    std::reverse(path.begin(), path.end());
    keyed.emplace_back(ring_key(path), k);
  }
  std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
    return emitted_before(a.first, b.first);
  });
  PathsD ordered;
  ordered.reserve(united.size());
  for (const auto& [key, k] : keyed) ordered.push_back(std::move(united[k]));
  return ordered;
}

// The hierarchy of group unions over one cluster's subjects, ending in one
// union of what is left.
PathsD united_in_groups(PathsD subjects) {
  std::vector<PathsD> units;
  units.reserve(subjects.size());
  for (std::size_t i : hilbert_order(subjects)) units.push_back(PathsD{std::move(subjects[i])});
  subjects = {};
  std::size_t vertices = vertex_count(units);
  while (units.size() > 2 * kGroupSize) {
    const std::size_t groups = (units.size() + kGroupSize - 1) / kGroupSize;
    std::vector<PathsD> next(groups);
    parallel_for(
        groups,
        [&](std::size_t g) {
          checkpoint();
          PathsD members;
          for (std::size_t i = g * kGroupSize; i < std::min(units.size(), (g + 1) * kGroupSize); ++i)
            for (PathD& p : units[i]) members.push_back(std::move(p));
          next[g] = union_along_longer_side(std::move(members));
        },
        vertices >= kParallelVertices);
    units = std::move(next);
    vertices = vertex_count(units);
  }
  for (PathsD& unit : units)
    for (PathD& p : unit) subjects.push_back(std::move(p));
  return union_along_longer_side(std::move(subjects));
}

}  // namespace

PathsD union_bands_grouped(PathsD subjects) {
  if (subjects.size() <= 2 * kGroupSize)
    return union_bands(std::move(subjects), false, FillRule::Positive);
  // Clusters apart from each other (letters, separate figures) are united on
  // their own, as union_bands does; the large ones in groups.
  return united_by_cluster(std::move(subjects), [](PathsD members) {
    return members.size() > 2 * kGroupSize ? united_in_groups(std::move(members))
                                           : union_along_longer_side(std::move(members));
  });
}

}  // namespace strokegraph
