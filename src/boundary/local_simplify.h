// Ring simplification that is local and never makes rings cross.
//
// Plain simplification of a ring depends on where the ring starts and on all
// of it: the same stretch of outline comes out differently when it belongs
// to a larger or a smaller ring (a tile of a drawing cuts the drawing's rings
// short), and two rings that run close may cross once simplified, which the
// triangulation refuses. Here a ring is cut into pieces at every vertex that
// enters another cell of a square lattice fixed in the plane, and each piece
// is simplified on its own between its two ends; a piece whose simplified
// edges come within a hair of another edge of the polygon is left as it
// was. What a stretch becomes then depends only on the stretch and on what
// lies near it.
#pragma once

#include <cstdint>
#include <vector>

#include "common/geometry.h"

namespace strokegraph {

// Lattice cells are this many simplification tolerances wide.
inline constexpr double kLocalSimplificationCell = 40.0;

// Simplifies every ring of `polygon` with tolerance `epsilon` (> 0) piece by
// piece on a lattice of side `cell` (> 0), as described above. A ring that
// stays inside one cell is one piece, from its lowest vertex (least x, then
// least y) round to itself.
void simplify_polygon_locally(BufferPolygon& polygon, double epsilon, double cell);

namespace local_simplify_detail {

// An edge in one cell of the grid; cells packed into one key (x in the high
// half, y in the low), coordinates saturated to 32 bits (cells merged far out
// only make more pairs to test).
struct CellEntry {
  std::uint64_t cell;
  std::uint32_t edge;
  bool operator<(const CellEntry& o) const { return cell < o.cell || (cell == o.cell && edge < o.edge); }
};

// Sorts entries that come in edge order by (cell, edge).
void sort_entries(std::vector<CellEntry>& entries);

}  // namespace local_simplify_detail

}  // namespace strokegraph
