// A uniform grid over line segments for nearest-distance, coverage and ray
// queries. Built once, read-only afterwards; visiting order is fixed by cell
// and segment index, so results never depend on hashing.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "common/flat_map.h"
#include "common/geometry.h"
#include "common/numeric.h"

namespace strokegraph {

// The cells of a uniform grid, each listing (in index order) the segments
// 0..count-1 that cross it; the segments themselves stay with the caller.
class CellIndex {
 public:
  CellIndex() : index_(0) {}
  // `cell` is the side of a cell; it is raised when the segments would fill
  // too many cells. Every segment must be finite. With `present`, only the
  // indices it accepts are segments (the others are never read nor listed).
  CellIndex(std::size_t count, const std::function<Segment(std::size_t)>& segment, double cell,
            const std::function<bool(std::size_t)>& present = {});
  // As above, over the segments given (all of them present).
  CellIndex(const std::vector<Segment>& segments, double cell);
  // As above, over the segments from points[i] to points[i + 1] for every i
  // with present[i] set.
  CellIndex(const std::vector<Point>& points, const std::vector<char>& present, double cell);
  // As above, over segment i from point vertex[i] - 1 to point vertex[i] of
  // curves[owner[i]], for every i (all of them present).
  CellIndex(const std::vector<Polyline>& curves, const std::vector<std::uint32_t>& owner,
            const std::vector<std::uint32_t>& vertex, double cell);

  double cell() const { return cell_; }

  // The cells a box touches, as visit_box reads them: two boxes with equal
  // ranges visit the same segments in the same order.
  struct Cells {
    std::int64_t x0 = 0, y0 = 0, x1 = -1, y1 = -1;  // inclusive; none when x1 < x0
    bool operator==(const Cells&) const = default;
  };
  // A box is clamped to kMaxSpan + 1 cells a side from its low corner.
  Cells cells(Point lo, Point hi) const {
    if (entries_.empty()) return {};
    const std::int64_t x0 = key(lo.x), x1 = key(hi.x), y0 = key(lo.y), y1 = key(hi.y);
    if (x1 < x0 || y1 < y0) return {};
    return {x0, y0, x0 + std::min<std::int64_t>(x1 - x0, kMaxSpan), y0 + std::min<std::int64_t>(y1 - y0, kMaxSpan)};
  }

  // Calls visit(i) for the segments listed in every cell of `range`, row
  // by row; a segment spanning several cells is visited once per cell.
  template <class Visit>
  void visit_cells(const Cells& range, Visit&& visit) const {
    if (range.x1 < range.x0 || range.y1 < range.y0) return;
    if (!start_.empty()) {  // dense
      for (std::int64_t y = std::max(range.y0, oy_); y <= std::min(range.y1, oy_ + ny_ - 1); ++y) {
        for (std::int64_t x = std::max(range.x0, ox_); x <= std::min(range.x1, ox_ + nx_ - 1); ++x) {
          const auto c = static_cast<std::size_t>((y - oy_) * nx_ + (x - ox_));
          for (std::uint32_t k = start_[c]; k < start_[c + 1]; ++k) visit(static_cast<std::size_t>(entries_[k]));
        }
      }
      return;
    }
    for (std::int64_t y = range.y0; y <= range.y1; ++y) {
      for (std::int64_t x = range.x0; x <= range.x1; ++x) {
        const Range* r = index_.find(CellKey{x, y});
        if (r == nullptr) continue;
        for (std::uint32_t k = r->begin; k < r->end; ++k) visit(static_cast<std::size_t>(entries_[k]));
      }
    }
  }

  // Calls visit(i) for the segments listed in every cell that the box
  // [lo, hi] touches (see cells and visit_cells).
  template <class Visit>
  void visit_box(Point lo, Point hi, Visit&& visit) const {
    visit_cells(cells(lo, hi), std::forward<Visit>(visit));
  }

 private:
  static constexpr std::int64_t kMaxSpan = 64;
  // What the constructors share: segment(i) gives segment i of slots
  // 0..count-1, listed(i) whether it is one.
  template <class SegmentAt, class Listed>
  void build(std::size_t count, const SegmentAt& segment, double cell, const Listed& listed);
  struct Range {
    std::uint32_t begin = 0;
    std::uint32_t end = 0;
  };
  // Cell coordinates stop at +-2^61, so that walks over a range of cells
  // (up to and including its last) and the span of two keys never overflow:
  // far beyond any drawing, cells merge instead.
  static constexpr std::int64_t kKeyLimit = std::int64_t{1} << 61;
  std::int64_t key(double v) const {
    return std::clamp(saturating_i64(std::floor(v * inv_cell_)), -kKeyLimit, kKeyLimit);
  }

  double cell_ = 1.0;
  double inv_cell_ = 1.0;
  std::vector<std::uint32_t> entries_;
  // Cells of a compact layout sit in a dense array (`start_`, row by row
  // from cell (ox_, oy_)); a sparse one keeps only its cells in a table.
  std::vector<std::uint32_t> start_;
  std::int64_t ox_ = 0, oy_ = 0, nx_ = 0, ny_ = 0;
  FlatMap<CellKey, Range, CellKeyHash> index_;
};

// The segments are kept as runs of points (16 bytes a segment along a ring
// instead of 32); a segment is known by the index of its first point.
class SegmentGrid {
 public:
  // `cell` is the side of a cell; it is raised when the segments would fill
  // too many cells. Non-finite segments are left out.
  SegmentGrid(const std::vector<Segment>& segments, double cell);
  // The segments of `runs`, kept without a copy.
  static SegmentGrid of_runs(PointRuns runs, double cell) {
    return SegmentGrid(std::move(runs), cell, RunsTag{});
  }

  // Segments listed (the finite ones).
  std::size_t size() const { return size_; }
  double cell() const { return cells_.cell(); }
  // The segment whose first point is points[i]: what visit_box hands out.
  Segment segment(std::size_t i) const { return {points_[i], points_[i + 1]}; }

  // As CellIndex::visit_box, with indices for segment().
  template <class Visit>
  void visit_box(Point lo, Point hi, Visit&& visit) const {
    cells_.visit_box(lo, hi, std::forward<Visit>(visit));
  }

  // Smallest distance from p to any segment within `reach` of it; `reach`
  // when there is none.
  double distance_within(Point p, double reach) const;

  // Distance along the unit direction d from p to the first segment crossed
  // within `reach`; `reach` when none is.
  double ray_distance(Point p, Point d, double reach) const;

 private:
  struct RunsTag {};
  SegmentGrid(PointRuns runs, double cell, RunsTag);

  std::vector<Point> points_;
  std::size_t size_ = 0;
  CellIndex cells_;
};

}  // namespace strokegraph
