#include "boundary/local_simplify.h"

#include <algorithm>
#include <cmath>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "common/numeric.h"
#include "common/progress.h"
#include "common/rdp.h"
#include "parallel/pool.h"

namespace strokegraph {

using local_simplify_detail::CellEntry;
using local_simplify_detail::sort_entries;

namespace {

// Polygons of fewer points are simplified inline: the pool's hand-over costs
// more than they take.
constexpr std::size_t kParallelPoints = 4096;

// A ring cut into pieces: piece k runs from vertex cuts[k] to vertex
// cuts[k + 1] (the last one round to cuts[0]), both ends kept.
struct RingPieces {
  std::vector<std::size_t> cuts;
  std::vector<std::uint32_t> piece_of;  // per vertex: the piece its outgoing edge lies in
  std::vector<char> keep;               // per vertex
  std::vector<char> as_given;           // per piece: put back as it was
};

CellKey cell_of(Point p, double cell) {
  return {saturating_i64(std::floor(p.x / cell)), saturating_i64(std::floor(p.y / cell))};
}

// Edges in piece k of a ring of n vertices: the whole ring when it is the
// only piece.
std::size_t piece_length(const RingPieces& r, std::size_t k, std::size_t n) {
  const std::size_t a = r.cuts[k], b = r.cuts[(k + 1) % r.cuts.size()];
  return b > a ? b - a : b + n - a;
}

// Cuts the ring, then simplifies every piece on its own.
RingPieces simplify_pieces(const Ring& ring, double epsilon, double cell) {
  const std::size_t n = ring.size();
  RingPieces r;
  CellKey before = cell_of(ring[n - 1], cell);
  for (std::size_t i = 0; i < n; ++i) {
    const CellKey here = cell_of(ring[i], cell);
    if (!(here == before)) r.cuts.push_back(i);
    before = here;
  }
  if (r.cuts.empty()) {
    std::size_t low = 0;
    for (std::size_t i = 1; i < n; ++i) {
      if (ring[i].x < ring[low].x || (ring[i].x == ring[low].x && ring[i].y < ring[low].y)) low = i;
    }
    r.cuts.push_back(low);
  }
  r.piece_of.assign(n, 0);
  r.keep.assign(n, 0);
  r.as_given.assign(r.cuts.size(), 0);
  std::vector<Point> span;
  std::vector<char> kept;
  std::vector<std::pair<std::size_t, std::size_t>> spans;
  for (std::size_t k = 0; k < r.cuts.size(); ++k) {
    const std::size_t a = r.cuts[k], length = piece_length(r, k, n);
    for (std::size_t j = 0; j < length; ++j) r.piece_of[(a + j) % n] = static_cast<std::uint32_t>(k);
    if (a + length < n) {  // the piece does not wrap: marked in place
      rdp_mark(ring.data() + a, length + 1, epsilon, r.keep.data() + a, spans);
      continue;
    }
    span.clear();
    for (std::size_t j = 0; j <= length; ++j) span.push_back(ring[(a + j) % n]);
    kept.assign(length + 1, 0);
    rdp_mark(span.data(), span.size(), epsilon, kept.data(), spans);
    for (std::size_t j = 0; j <= length; ++j) r.keep[(a + j) % n] |= kept[j];
  }
  return r;
}

double cross(Point o, Point a, Point b) { return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x); }

// Whether two segments cross, touch or pass within `hair` of each other.
bool too_close(Point a, Point b, Point c, Point d, double hair) {
  if (std::max(a.x, b.x) + hair < std::min(c.x, d.x) || std::max(c.x, d.x) + hair < std::min(a.x, b.x) ||
      std::max(a.y, b.y) + hair < std::min(c.y, d.y) || std::max(c.y, d.y) + hair < std::min(a.y, b.y))
    return false;
  const double o1 = cross(a, b, c), o2 = cross(a, b, d), o3 = cross(c, d, a), o4 = cross(c, d, b);
  if (((o1 < 0.0 && o2 > 0.0) || (o1 > 0.0 && o2 < 0.0)) &&
      ((o3 < 0.0 && o4 > 0.0) || (o3 > 0.0 && o4 < 0.0)))
    return true;
  return std::min({point_segment_distance(c, a, b), point_segment_distance(d, a, b),
                   point_segment_distance(a, c, d), point_segment_distance(b, c, d)}) < hair;
}

struct Edge {
  Point a, b;
  std::uint32_t ring;
  std::uint32_t from, to;  // vertex indices in the ring
  bool original;           // an edge of the ring as given
};

std::uint64_t pack(std::int64_t x, std::int64_t y) {
  auto c = [](std::int64_t v) {
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX)));
  };
  return (std::uint64_t{c(x)} << 32) | c(y);
}

// The grid cell of p, its coordinates held within +-2^40 so that the cell
// arithmetic below never overflows (pack merges them further out anyway).
CellKey grid_cell_of(Point p, double g) {
  constexpr std::int64_t kLimit = std::int64_t{1} << 40;
  const CellKey c = cell_of(p, g);
  return {std::clamp(c.x, -kLimit, kLimit), std::clamp(c.y, -kLimit, kLimit)};
}

// Cells of side `g` that every point within `hair` of the edge lies in.
void add_cells(std::vector<CellEntry>& out, Point a, Point b, std::uint32_t id, double g, double hair) {
  const CellKey lo = grid_cell_of({std::min(a.x, b.x) - hair, std::min(a.y, b.y) - hair}, g);
  const CellKey hi = grid_cell_of({std::max(a.x, b.x) + hair, std::max(a.y, b.y) + hair}, g);
  if (hi.x - lo.x < 3 && hi.y - lo.y < 3) {
    for (std::int64_t x = lo.x; x <= hi.x; ++x)
      for (std::int64_t y = lo.y; y <= hi.y; ++y) out.push_back({pack(x, y), id});
    return;
  }
  const double dx = b.x - a.x, dy = b.y - a.y;
  // Samples every half cell: each point of the edge lies within a quarter
  // cell of one, so in its cell or a neighbour of it.
  const auto steps = static_cast<std::size_t>(std::ceil(2.0 * std::hypot(dx, dy) / g));
  for (std::size_t s = 0; s <= steps; ++s) {
    const double t = double(s) / double(steps);
    const CellKey c = grid_cell_of({a.x + t * dx, a.y + t * dy}, g);
    for (int ox = -1; ox <= 1; ++ox)
      for (int oy = -1; oy <= 1; ++oy) out.push_back({pack(c.x + ox, c.y + oy), id});
  }
}

bool adjacent(const Edge& e, const Edge& f) {
  return e.ring == f.ring && (e.from == f.to || e.to == f.from || e.from == f.from);
}

// Where each of a few 32-bit cell coordinates goes in their unsigned order
// (as the packed keys compare them: the non-negative ones first, then the
// negative ones), counted from 0 without gaps between the smallest and the
// largest of either sign; `width` places in all.
struct Places {
  std::int64_t lo[2] = {INT64_MAX, INT64_MAX}, hi[2] = {INT64_MIN, INT64_MIN};
  void add(std::uint32_t u) {
    const std::int64_t v = static_cast<std::int32_t>(u);
    const int negative = v < 0;
    lo[negative] = std::min(lo[negative], v), hi[negative] = std::max(hi[negative], v);
  }
  std::int64_t span(int negative) const { return lo[negative] > hi[negative] ? 0 : hi[negative] - lo[negative] + 1; }
  std::int64_t width() const { return span(0) + span(1); }
  std::size_t of(std::uint32_t u) const {
    const std::int64_t v = static_cast<std::int32_t>(u);
    return static_cast<std::size_t>(v >= 0 ? v - lo[0] : span(0) + (v - lo[1]));
  }
};

}  // namespace

namespace local_simplify_detail {

// Where the block of cells the entries span is small against their number,
// a counting sort on each cell's place in that block: being stable, it keeps
// each cell's entries in edge order.
void sort_entries(std::vector<CellEntry>& entries) {
  Places xs, ys;
  for (const CellEntry& e : entries) xs.add(static_cast<std::uint32_t>(e.cell >> 32)), ys.add(static_cast<std::uint32_t>(e.cell));
  // Larger sets, which come few at a time, sort in place.
  constexpr std::size_t kMostCounted = 4096;
  const std::int64_t limit = 4 * static_cast<std::int64_t>(entries.size()) + 256;
  if (entries.size() < 2 || entries.size() > kMostCounted || xs.width() > limit || ys.width() > limit || xs.width() * ys.width() > limit) {
    std::sort(entries.begin(), entries.end());
    return;
  }
  const auto rows = static_cast<std::size_t>(ys.width());
  auto place = [&](const CellEntry& e) {
    return xs.of(static_cast<std::uint32_t>(e.cell >> 32)) * rows + ys.of(static_cast<std::uint32_t>(e.cell));
  };
  const auto block = static_cast<std::size_t>(xs.width()) * rows;
  std::vector<std::uint32_t> start(block + 1, 0);
  for (const CellEntry& e : entries) ++start[place(e) + 1];
  for (std::size_t c = 0; c < block; ++c) start[c + 1] += start[c];
  std::vector<CellEntry> sorted(entries.size());
  for (const CellEntry& e : entries) sorted[start[place(e)]++] = e;
  entries.swap(sorted);
}

}  // namespace local_simplify_detail

void simplify_polygon_locally(BufferPolygon& polygon, double epsilon, double cell) {
  std::vector<Ring*> rings{&polygon.outer};
  for (Ring& h : polygon.holes) rings.push_back(&h);
  std::size_t points = 0;
  for (const Ring* ring : rings) points += ring->size();
  const bool parallel = points >= kParallelPoints;
  std::vector<RingPieces> pieces(rings.size());
  const auto simplify = [&](std::size_t r) {
    if (rings[r]->size() >= 3) pieces[r] = simplify_pieces(*rings[r], epsilon, cell);
  };
  if (parallel) {
    parallel_for(rings.size(), simplify, true);
  } else {
    for (std::size_t r = 0; r < rings.size(); ++r) simplify(r);
  }

  // Pieces whose simplified edges come too close to another edge go back to
  // their vertices as given, until none does (the rings as given do not
  // cross). First every pair of edges sharing a cell is tested, then the
  // edges of the pieces put back against the simplified edges still in place.
  const double hair = std::max(1e-4 * epsilon, 1e-9);
  std::vector<Edge> edges;
  for (std::size_t r = 0; r < rings.size(); ++r) {
    const Ring& ring = *rings[r];
    const std::size_t n = ring.size();
    if (n < 3) continue;
    std::vector<std::uint32_t> at;
    for (std::size_t i = 0; i < n; ++i)
      if (pieces[r].keep[i]) at.push_back(static_cast<std::uint32_t>(i));
    if (at.size() < 3) continue;
    for (std::size_t j = 0; j < at.size(); ++j) {
      const std::uint32_t u = at[j], v = at[(j + 1) % at.size()];
      edges.push_back({ring[u], ring[v], static_cast<std::uint32_t>(r), u, v, (u + 1) % n == v});
    }
  }
  // The grid only finds the pairs to test: any side lists every pair within
  // a hair in a shared cell, so the side may grow past the lattice's. It
  // does where edges are long against the lattice (a tolerance far below the
  // drawing's scale): the cells an edge fills stay a few per edge instead of
  // growing with its length over the tolerance.
  double grid = cell;
  {
    double length = 0.0;
    for (const Edge& e : edges) length += std::hypot(e.b.x - e.a.x, e.b.y - e.a.y);
    const double mean_scale = 2.0 * length / double(edges.size() + 1);
    if (std::isfinite(mean_scale) && mean_scale > grid) grid = mean_scale;
    while (!std::isfinite(1.0 / grid)) grid *= 2.0;
  }
  const auto list_cells = [&](std::size_t begin, std::size_t end, std::vector<CellEntry>& out) {
    for (std::size_t e = begin; e < end; ++e) {
      poll(e);
      add_cells(out, edges[e].a, edges[e].b, static_cast<std::uint32_t>(e), grid, hair);
    }
  };
  std::vector<CellEntry> entries;
  if (!parallel) {
    list_cells(0, edges.size(), entries);
    sort_entries(entries);
  } else {
    // Each range of edges lists and sorts its entries; the sorted runs are
    // then merged pairwise. Sorted by (cell, edge), equal entries alike, the
    // list is the same however it was cut.
    std::vector<std::vector<CellEntry>> runs = parallel_parts<std::vector<CellEntry>>(
        edges.size(), std::max<std::size_t>(1, edges.size() / 8),
        [&](std::size_t begin, std::size_t end, std::vector<CellEntry>& out) {
          list_cells(begin, end, out);
          std::sort(out.begin(), out.end());
        });
    while (runs.size() > 1) {
      std::vector<std::vector<CellEntry>> merged((runs.size() + 1) / 2);
      parallel_for(merged.size(), [&](std::size_t k) {
        if (2 * k + 1 == runs.size()) {
          merged[k] = std::move(runs[2 * k]);
          return;
        }
        const std::vector<CellEntry>& a = runs[2 * k];
        const std::vector<CellEntry>& b = runs[2 * k + 1];
        merged[k].resize(a.size() + b.size());
        std::merge(a.begin(), a.end(), b.begin(), b.end(), merged[k].begin());
      }, true);
      runs = std::move(merged);
    }
    if (!runs.empty()) entries = std::move(runs[0]);
  }

  std::vector<std::pair<std::uint32_t, std::uint32_t>> put_back;  // (ring, piece)
  auto doom = [&](const Edge& e) {
    RingPieces& rp = pieces[e.ring];
    const std::uint32_t k = rp.piece_of[e.from];
    if (rp.as_given[k]) return;
    rp.as_given[k] = 1;
    put_back.emplace_back(e.ring, k);
  };
  auto in_place = [&](const Edge& e) {
    return !e.original && !pieces[e.ring].as_given[pieces[e.ring].piece_of[e.from]];
  };
  // The pairs of each cell are tested on their own; the edges to put back
  // are then doomed in cell order, as one pass over the cells would.
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < entries.size(); ++i)
    if (i == 0 || entries[i].cell != entries[i - 1].cell) starts.push_back(i);
  starts.push_back(entries.size());
  const auto test_cells = [&](std::size_t begin, std::size_t end, std::vector<std::uint32_t>& found) {
    for (std::size_t c = begin; c < end; ++c) {
      poll(c);
      const std::size_t i = starts[c], j = starts[c + 1];
      for (std::size_t p = i; p < j; ++p) {
        const Edge& e = edges[entries[p].edge];
        for (std::size_t q = p + 1; q < j; ++q) {
          const Edge& f = edges[entries[q].edge];
          if ((e.original && f.original) || adjacent(e, f)) continue;
          if (!too_close(e.a, e.b, f.a, f.b, hair)) continue;
          if (!e.original) found.push_back(entries[p].edge);
          if (!f.original) found.push_back(entries[q].edge);
        }
      }
    }
  };
  const std::size_t cells_used = starts.size() - 1;
  std::vector<std::vector<std::uint32_t>> close;
  if (parallel) {
    close = parallel_parts<std::vector<std::uint32_t>>(
        cells_used, std::max<std::size_t>(1, cells_used / 64),
        [&](std::size_t begin, std::size_t end, std::vector<std::uint32_t>& found) { test_cells(begin, end, found); });
  } else {
    close.emplace_back();
    test_cells(0, cells_used, close.back());
  }
  for (const std::vector<std::uint32_t>& found : close)
    for (const std::uint32_t e : found) doom(edges[e]);
  std::vector<CellEntry> cells;
  for (std::size_t done = 0; done < put_back.size(); ++done) {
    checkpoint();
    const auto [r, k] = put_back[done];
    const Ring& ring = *rings[r];
    RingPieces& rp = pieces[r];
    const std::size_t n = ring.size(), a = rp.cuts[k], length = piece_length(rp, k, n);
    for (std::size_t j = 0; j <= length; ++j) rp.keep[(a + j) % n] = 1;
    for (std::size_t j = 0; j < length; ++j) {
      const auto u = static_cast<std::uint32_t>((a + j) % n), v = static_cast<std::uint32_t>((a + j + 1) % n);
      const Edge e{ring[u], ring[v], r, u, v, true};
      cells.clear();
      add_cells(cells, e.a, e.b, 0, grid, hair);
      for (const CellEntry& c : cells) {
        auto it = std::lower_bound(entries.begin(), entries.end(), CellEntry{c.cell, 0});
        for (; it != entries.end() && it->cell == c.cell; ++it) {
          const Edge& f = edges[it->edge];
          if (in_place(f) && !adjacent(e, f) && too_close(e.a, e.b, f.a, f.b, hair)) doom(f);
        }
      }
    }
  }

  for (std::size_t r = 0; r < rings.size(); ++r) {
    Ring& ring = *rings[r];
    if (ring.size() < 3) continue;
    std::size_t out = 0;
    for (std::size_t i = 0; i < ring.size(); ++i)
      if (pieces[r].keep[i]) ring[out++] = ring[i];
    ring.resize(out);
  }
}

}  // namespace strokegraph
