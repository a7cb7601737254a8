#include "spatial/segment_grid.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <utility>

#include "parallel/pool.h"

namespace strokegraph {
namespace {

// Cell entries are capped so that a few huge segments cannot blow up memory:
// the cell grows until the segments fit in this many (cell, segment) pairs.
constexpr double kMaxEntries = 8.0e6;
// Segments per task where the grid is built on the worker pool, and the
// number of row bands that a dense grid is filled in (at most 16).
constexpr std::size_t kSegmentsPerTask = 65536;
constexpr std::int64_t kBands = 16;
// Segments per task of the first walk over fewer than kSegmentsPerTask, and
// the (cell, segment) pairs each keeps at most (32 a segment).
constexpr std::size_t kSegmentsPerWalk = 8192;
constexpr std::size_t kMaxKeptPairs = 32 * kSegmentsPerWalk;

bool finite(const Point& p) { return std::isfinite(p.x) && std::isfinite(p.y); }

double length(const Segment& s) { return std::hypot(s.b.x - s.a.x, s.b.y - s.a.y); }

// std::ceil(length(s) * inv), the square root standing in for hypot where
// the product lies far from a whole number (their difference, a few units
// in the last place, cannot cross one then).
double ceil_length(const Segment& s, double inv) {
  const double dx = s.b.x - s.a.x, dy = s.b.y - s.a.y;
  const double d2 = dx * dx + dy * dy;
  if (d2 > 1e-280 && d2 < 1e280) {
    const double v = std::sqrt(d2) * inv;
    const double c = std::ceil(v);
    if (c - v > 1e-9 * c && v - (c - 1.0) > 1e-9 * c) return c;
  }
  return std::ceil(length(s) * inv);
}

}  // namespace

namespace {

PointRuns runs_of(const std::vector<Segment>& segments) {
  PointRuns runs;
  std::size_t points = 0;
  for (std::size_t i = 0; i < segments.size(); ++i)
    points += i > 0 && std::memcmp(&segments[i - 1].b, &segments[i].a, sizeof(Point)) == 0 ? 1 : 2;
  runs.points.reserve(points);
  for (const Segment& s : segments) runs.add(s);
  return runs;
}

}  // namespace

SegmentGrid::SegmentGrid(const std::vector<Segment>& segments, double cell)
    : SegmentGrid(runs_of(segments), cell, RunsTag{}) {}

SegmentGrid::SegmentGrid(PointRuns runs, double cell, RunsTag) : points_(std::move(runs.points)) {
  // Point i starts a segment when point i + 1 is of the same run and both
  // are finite.
  std::vector<char> present(points_.size(), 0);
  std::size_t begin = 0;
  for (std::size_t end : runs.ends) {
    for (std::size_t i = begin; i + 1 < end; ++i) {
      present[i] = finite(points_[i]) && finite(points_[i + 1]);
      size_ += present[i];
    }
    begin = end;
  }
  std::vector<std::size_t>().swap(runs.ends);
  cells_ = CellIndex(points_, present, cell);
}

CellIndex::CellIndex(std::size_t count, const std::function<Segment(std::size_t)>& segment, double cell,
                     const std::function<bool(std::size_t)>& present)
    : index_(0) {
  if (present) {
    build(count, segment, cell, present);
  } else {
    build(count, segment, cell, [](std::size_t) { return true; });
  }
}

CellIndex::CellIndex(const std::vector<Segment>& segments, double cell) : index_(0) {
  build(
      segments.size(), [&](std::size_t i) { return segments[i]; }, cell, [](std::size_t) { return true; });
}

CellIndex::CellIndex(const std::vector<Point>& points, const std::vector<char>& present, double cell)
    : index_(0) {
  build(
      present.size(), [&](std::size_t i) { return Segment{points[i], points[i + 1]}; }, cell,
      [&](std::size_t i) { return present[i] != 0; });
}

CellIndex::CellIndex(const std::vector<Polyline>& curves, const std::vector<std::uint32_t>& owner,
                     const std::vector<std::uint32_t>& vertex, double cell)
    : index_(0) {
  build(
      owner.size(),
      [&](std::size_t i) {
        const Polyline& c = curves[owner[i]];
        return Segment{c[vertex[i] - 1], c[vertex[i]]};
      },
      cell, [](std::size_t) { return true; });
}

template <class SegmentAt, class Listed>
void CellIndex::build(std::size_t slots, const SegmentAt& segment, double cell, const Listed& listed) {
  // The total length and the count of listed segments, summed by fixed
  // ranges on the pool. The length needs a square root per segment; the sum
  // of |dx| + |dy|, never below it, mostly shows that the cell need not grow
  // without it.
  struct Sum {
    double length = 0.0;
    double bound = 0.0;
    std::size_t count = 0;
  };
  // Summed in locals (neighbouring parts share cache lines).
  auto sum_bounds = [&](std::size_t begin, std::size_t end, Sum& part) {
    Sum sum;
    for (std::size_t i = begin; i < end; ++i) {
      if (!listed(i)) continue;
      const Segment s = segment(i);
      sum.bound += std::fabs(s.b.x - s.a.x) + std::fabs(s.b.y - s.a.y);
      ++sum.count;
    }
    part = sum;
  };
  auto sum_lengths = [&](std::size_t begin, std::size_t end, Sum& part) {
    Sum sum;
    for (std::size_t i = begin; i < end; ++i) {
      if (!listed(i)) continue;
      const double l = length(segment(i));
      if (std::isfinite(l)) sum.length += l;  // longer than any grid: see pairs_of
    }
    part = sum;
  };
  double span_bound = 0.0;
  std::size_t segment_count = 0;
  for (const Sum& sum : parallel_parts<Sum>(slots, kSegmentsPerTask, sum_bounds)) {
    span_bound += sum.bound;
    segment_count += sum.count;
  }
  if (!(cell > 0.0) || !std::isfinite(cell)) cell = 1.0;
  // A cell so small that its inverse overflows (a subnormal radius) would
  // make every piece count infinite or NaN.
  while (!std::isfinite(1.0 / cell)) cell *= 2.0;
  // Each segment is cut into pieces of at most one cell; every piece touches
  // at most four cells. Only the pieces beyond one per segment shrink as the
  // cell grows: with many segments the cap rises with their count.
  const double count = static_cast<double>(segment_count);
  const double cap = 4.0 * count < kMaxEntries ? kMaxEntries : 4.0 * count + kMaxEntries;
  if (!(4.0 * (span_bound * (1.0 + 1e-9) / cell + count) <= cap)) {
    double total = 0.0;
    for (const Sum& sum : parallel_parts<Sum>(slots, kSegmentsPerTask, sum_lengths)) total += sum.length;
    while (4.0 * (total / cell + count) > cap && std::isfinite(2.0 * cell)) cell *= 2.0;
  }
  cell_ = cell;
  inv_cell_ = 1.0 / cell;

  // Calls visit(cell, i) for every cell of rows [row_lo, row_hi] that
  // segment i crosses; the walks below repeat it rather than store the pairs.
  auto pairs_of = [&](std::size_t i, std::int64_t row_lo, std::int64_t row_hi, auto&& visit) {
    const Segment s = segment(i);
    // A segment longer than the largest double (ends near +-1e308) has no
    // pieces to list: no query can reach along it. One within a cell by
    // |dx| + |dy|, never below its length (short of a cell by far more than
    // the rounding of either), is one piece without measuring it.
    std::size_t n = 1;
    if (!((std::fabs(s.b.x - s.a.x) + std::fabs(s.b.y - s.a.y)) * inv_cell_ <= 1.0 - 1e-9)) {
      const double raw = ceil_length(s, inv_cell_);
      if (!(raw <= 0x1p53)) return;
      n = std::max<std::size_t>(1, static_cast<std::size_t>(raw));
    }
    std::int64_t last_x0 = 0, last_y0 = 0, last_x1 = -1, last_y1 = -1;
    // Piece k runs from a + (b - a) k / n to a + (b - a) (k + 1) / n: each
    // starts where the last ended, the first at a (its cells those of
    // a + (b - a) 0), the last at a + (b - a) 1.
    Point p = s.a;
    for (std::size_t k = 0; k < n; ++k) {
      const double t1 = k + 1 == n ? 1.0 : static_cast<double>(k + 1) / static_cast<double>(n);
      const Point q{s.a.x + (s.b.x - s.a.x) * t1, s.a.y + (s.b.y - s.a.y) * t1};
      const std::int64_t x0 = key(std::min(p.x, q.x)), x1 = key(std::max(p.x, q.x));
      const std::int64_t y0 = key(std::min(p.y, q.y)), y1 = key(std::max(p.y, q.y));
      for (std::int64_t y = std::max(y0, row_lo); y <= std::min(y1, row_hi); ++y) {
        for (std::int64_t x = x0; x <= x1; ++x) {
          // Consecutive pieces share cells; skip what the last piece listed.
          if (x >= last_x0 && x <= last_x1 && y >= last_y0 && y <= last_y1) continue;
          visit(CellKey{x, y}, static_cast<std::uint32_t>(i));
        }
      }
      last_x0 = x0, last_x1 = x1, last_y0 = y0, last_y1 = y1;
      p = q;
    }
  };
  // Every (cell, segment) pair, in segment order.
  auto for_each_pair = [&](auto&& visit) {
    for (std::size_t i = 0; i < slots; ++i)
      if (listed(i)) pairs_of(i, INT64_MIN, INT64_MAX, visit);
  };
  struct Bounds {
    std::size_t pairs = 0;
    std::int64_t x_lo = INT64_MAX, x_hi = INT64_MIN, y_lo = INT64_MAX, y_hi = INT64_MIN;
  };
  // Fewer than kSegmentsPerTask segments are walked in ranges of
  // kSegmentsPerWalk that keep their pairs, up to kMaxKeptPairs each, for
  // the walks below.
  struct Pair {
    CellKey key;
    std::uint32_t segment;
  };
  const bool keep = slots < kSegmentsPerTask;
  const std::size_t grain = keep ? kSegmentsPerWalk : kSegmentsPerTask;
  struct Walk {
    Bounds bounds;
    std::vector<Pair> kept;
    bool full = false;  // more pairs than the range may keep
  };
  // Counted in locals and handed over at the end: neighbouring ranges' parts
  // share cache lines.
  auto bound = [&](std::size_t begin, std::size_t end, Walk& part) {
    Walk w;
    Bounds& b = w.bounds;
    if (keep) w.kept.reserve(2 * (end - begin));
    for (std::size_t i = begin; i < end; ++i) {
      if (!listed(i)) continue;
      pairs_of(i, INT64_MIN, INT64_MAX, [&](CellKey k, std::uint32_t j) {
        ++b.pairs;
        b.x_lo = std::min(b.x_lo, k.x), b.x_hi = std::max(b.x_hi, k.x);
        b.y_lo = std::min(b.y_lo, k.y), b.y_hi = std::max(b.y_hi, k.y);
        if (!keep || w.full) return;
        if (w.kept.size() < kMaxKeptPairs) {
          w.kept.push_back({k, j});
        } else {
          w.full = true;
          std::vector<Pair>().swap(w.kept);
        }
      });
    }
    part = std::move(w);
  };
  std::vector<Walk> walks = parallel_parts<Walk>(slots, grain, bound);
  Bounds all;
  bool keeping = keep;
  for (const Walk& w : walks) {
    const Bounds& b = w.bounds;
    all.pairs += b.pairs;
    all.x_lo = std::min(all.x_lo, b.x_lo), all.x_hi = std::max(all.x_hi, b.x_hi);
    all.y_lo = std::min(all.y_lo, b.y_lo), all.y_hi = std::max(all.y_hi, b.y_hi);
    keeping = keeping && !w.full;
  }
  if (!keeping) std::vector<Walk>().swap(walks);
  const std::size_t pairs = all.pairs;
  if (pairs == 0) return;
  // Every kept pair, in segment order.
  auto each_kept = [&](auto&& visit) {
    for (const Walk& w : walks)
      for (const Pair& pair : w.kept) visit(pair.key, pair.segment);
  };
  auto each_pair = [&](auto&& visit) {
    if (!keeping) return for_each_pair(visit);
    each_kept(visit);
  };
  // Bucket the pairs by cell without sorting; every cell's entries keep pair
  // order, which is segment order.
  const double span = (static_cast<double>(all.x_hi) - static_cast<double>(all.x_lo) + 1.0) *
                      (static_cast<double>(all.y_hi) - static_cast<double>(all.y_lo) + 1.0);
  std::vector<std::uint32_t> start;
  if (span <= std::max(4.0 * static_cast<double>(pairs), 65536.0)) {
    ox_ = all.x_lo, oy_ = all.y_lo, nx_ = all.x_hi - all.x_lo + 1, ny_ = all.y_hi - all.y_lo + 1;
    auto slot = [&](CellKey k) { return static_cast<std::size_t>((k.y - oy_) * nx_ + (k.x - ox_)); };
    if (keeping) {
      start.assign(static_cast<std::size_t>(nx_ * ny_) + 1, 0);
      each_kept([&](CellKey k, std::uint32_t) { ++start[slot(k) + 1]; });
      for (std::size_t c = 0; c + 1 < start.size(); ++c) start[c + 1] += start[c];
      entries_.assign(pairs, 0);
      std::vector<std::uint32_t> fill(start.begin(), start.end() - 1);
      each_kept([&](CellKey k, std::uint32_t i) { entries_[fill[slot(k)]++] = i; });
      start_ = std::move(start);
      return;
    }
    // The rows go in bands, each counted and filled on its own from the
    // segments that may reach it: a band writes only its own cells, and
    // within a cell the segments come in order whatever the band.
    // Few pairs go in one band, on the calling thread: waking the pool
    // costs more than they take.
    const std::int64_t band_count = pairs < kSegmentsPerTask ? 1 : kBands;
    const std::int64_t rows = (ny_ + band_count - 1) / band_count;
    const std::int64_t bands = (ny_ + rows - 1) / rows;
    auto band_of = [&](std::int64_t row) -> std::int64_t {
      if (row <= oy_) return 0;
      const std::uint64_t d = static_cast<std::uint64_t>(row) - static_cast<std::uint64_t>(oy_);
      return d >= static_cast<std::uint64_t>(ny_) ? bands - 1 : static_cast<std::int64_t>(d) / rows;
    };
    // Per segment its first and last band, four bits each (a slot without a
    // segment: past the last band, before the first).
    std::vector<std::uint8_t> reach(slots, 0xF0);
    parallel_ranges(slots, kSegmentsPerTask, [&](std::size_t begin, std::size_t end) {
      for (std::size_t i = begin; i < end; ++i) {
        if (!listed(i)) continue;
        const Segment s = segment(i);
        // A cell beyond the ends' rows, and more where coordinates are too
        // large for the cell to resolve: the pieces' ends are rounded.
        const double lo = std::min(s.a.y, s.b.y), hi = std::max(s.a.y, s.b.y);
        const double slack = cell_ + 0x1p-48 * std::max(std::fabs(lo), std::fabs(hi));
        reach[i] = static_cast<std::uint8_t>(band_of(key(lo - slack)) << 4 | band_of(key(hi + slack)));
      }
    });
    auto for_band = [&](std::int64_t band, auto&& visit) {
      const std::int64_t row_lo = oy_ + band * rows, row_hi = row_lo + std::min(rows, ny_ - band * rows) - 1;
      for (std::size_t i = 0; i < slots; ++i) {
        if (reach[i] >> 4 <= band && band <= (reach[i] & 15)) pairs_of(i, row_lo, row_hi, visit);
      }
    };
    start.assign(static_cast<std::size_t>(nx_ * ny_) + 1, 0);
    auto count_band = [&](std::size_t band) {
      for_band(static_cast<std::int64_t>(band), [&](CellKey k, std::uint32_t) { ++start[slot(k) + 1]; });
    };
    // Handing the bands of a small index to the pool costs more than it saves
    // (waking the workers takes longer than a small drawing's whole index).
    const bool on_pool = slots >= kSegmentsPerTask;
    parallel_for(static_cast<std::size_t>(bands), count_band, on_pool);
    for (std::size_t c = 0; c + 1 < start.size(); ++c) start[c + 1] += start[c];
    entries_.assign(pairs, 0);
    std::vector<std::uint32_t> fill(start.begin(), start.end() - 1);
    auto fill_band = [&](std::size_t band) {
      for_band(static_cast<std::int64_t>(band), [&](CellKey k, std::uint32_t i) { entries_[fill[slot(k)]++] = i; });
    };
    parallel_for(static_cast<std::size_t>(bands), fill_band, on_pool);
    start_ = std::move(start);
    return;
  }
  // Slots in order of first appearance, found through the table; a range
  // holds its slot in `begin` (with `end` 0) until the entries are placed.
  index_ = FlatMap<CellKey, Range, CellKeyHash>(pairs / 2 + 1);
  start.push_back(0);
  each_pair([&](CellKey k, std::uint32_t) {
    auto [range, inserted] =
        index_.try_emplace(k, Range{static_cast<std::uint32_t>(start.size() - 1), 0});
    if (inserted) start.push_back(0);
    ++start[range->begin + 1];
  });
  for (std::size_t c = 0; c + 1 < start.size(); ++c) start[c + 1] += start[c];
  entries_.assign(pairs, 0);
  std::vector<std::uint32_t> fill(start.begin(), start.end() - 1);
  each_pair([&](CellKey k, std::uint32_t i) { entries_[fill[index_.find(k)->begin]++] = i; });
  each_pair([&](CellKey k, std::uint32_t) {
    Range* range = index_.find(k);
    if (range->end != 0) return;
    const std::uint32_t slot = range->begin;
    range->begin = start[slot];
    range->end = start[slot + 1];
  });
}

double SegmentGrid::distance_within(Point p, double reach) const {
  double best = reach;
  cells_.visit_box({p.x - reach, p.y - reach}, {p.x + reach, p.y + reach}, [&](std::size_t i) {
    // Measured only where the segment may come nearer than the best so far.
    best = std::min(best, point_segment_distance_within(p, segment(i), best));
  });
  return best;
}

double SegmentGrid::ray_distance(Point p, Point d, double reach) const {
  const Point q{p.x + d.x * reach, p.y + d.y * reach};
  double best = reach;
  cells_.visit_box({std::min(p.x, q.x), std::min(p.y, q.y)}, {std::max(p.x, q.x), std::max(p.y, q.y)},
            [&](std::size_t i) {
              const Segment s = segment(i);
              const double ex = s.b.x - s.a.x, ey = s.b.y - s.a.y;
              const double denom = d.x * ey - d.y * ex;
              if (denom == 0.0) return;
              const double wx = s.a.x - p.x, wy = s.a.y - p.y;
              const double t = (wx * ey - wy * ex) / denom;  // along the ray
              const double u = (wx * d.y - wy * d.x) / denom;  // along the segment
              if (t >= 0.0 && t < best && u >= 0.0 && u <= 1.0) best = t;
            });
  return best;
}

}  // namespace strokegraph
