// Spatial grid of sharply turning ring vertices, and the corner test used to
// anchor resampling.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "common/flat_map.h"
#include "common/geometry.h"
#include "common/numeric.h"

namespace strokegraph {

struct CornerEntry {
  double x = 0.0;
  double y = 0.0;
  double angle = 0.0;  // turning angle in radians, in [0, pi]
};

// The occupied cells of a grid, each with its list of entry positions, in the
// order the cells were first named; found through a flat table of slots.
struct CornerCells {
  std::vector<std::pair<CellKey, std::vector<std::size_t>>> lists;
  FlatMap<CellKey, std::size_t, CellKeyHash> slot;

  // The list of cell k, empty when k is named for the first time.
  std::vector<std::size_t>& operator[](const CellKey& k) {
    const auto [at, added] = slot.try_emplace(k, lists.size());
    if (added) lists.emplace_back(k, std::vector<std::size_t>{});
    return lists[*at].second;
  }
  const std::vector<std::size_t>* find(const CellKey& k) const {
    const std::size_t* at = slot.find(k);
    return at == nullptr ? nullptr : &lists[*at].second;
  }
  auto begin() const { return lists.begin(); }
  auto end() const { return lists.end(); }
};

// Corner entries are stored once, in insertion order; every occupied cell
// lists the positions of its entries. Only ever grows.
struct CurvatureIndex {
  double cell_size = 1.0;
  CornerCells cells;
  std::vector<CornerEntry> corners;
};

// An empty index; a cell size that is not finite and positive becomes 1.0.
CurvatureIndex make_curvature_index(double cell_size);

// The cell holding (x, y): floor of each coordinate times 1 / cell_size,
// saturated to the 64-bit range (NaN gives 0).
CellKey cell_key(const CurvatureIndex& index, double x, double y);

// Cosine of the turning angle at vertex i of a ring (closed implicitly),
// clamped to [-1, 1]; none when the incoming or outgoing edge is shorter
// than 1e-12. A NaN cosine stays NaN.
std::optional<double> turning_cosine(const Ring& ring, std::size_t i);

// Every vertex whose turning angle is at least `min_angle`, in ring order.
// Rings of fewer than 3 points have none.
std::vector<CornerEntry> ring_corners(const Ring& ring, double min_angle);

// Records the corners, in their order.
void add_corners(CurvatureIndex& index, const std::vector<CornerEntry>& corners);

// Records every corner of the ring: add_corners(ring_corners(ring, min_angle)).
void add_ring(CurvatureIndex& index, const Ring& ring, double min_angle);

// The entries of the block of cells the last query walked, kept for the
// next query that walks the same block (queries along a ring mostly do).
struct NearCorners {
  bool valid = false;
  CellKey low{0, 0}, high{0, 0};
  std::vector<std::size_t> positions;
};

// The largest recorded angle within `outer_radius` of (x, y), weighted 1 up
// to `inner_radius` and falling linearly to 0 at `outer_radius`; 0 if none.
// `near`, when given, carries the entries of the last walked block from one
// query to the next on the same, unchanged index.
double max_angle_near(const CurvatureIndex& index, double x, double y, double inner_radius,
                      double outer_radius, NearCorners* near = nullptr);

// Ascending indices of the vertices whose turning angle exceeds
// `corner_angle`, decided on cosines: cos(turn) < cos(corner_angle) strictly.
// Expects at least 3 points.
std::vector<std::size_t> corner_anchors(const Ring& ring, double corner_angle);

}  // namespace strokegraph
