#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "boundary/local_simplify.h"
#include "common/rdp.h"

using namespace strokegraph;

namespace {

bool has(const Ring& ring, Point p) { return std::find(ring.begin(), ring.end(), p) != ring.end(); }

// A strip whose top wobbles by less than the tolerance, cut off at x = `end`.
Ring wobbly_strip(double end) {
  Ring ring;
  for (int i = 0; i * 0.1 <= end + 1e-9; ++i) ring.push_back({i * 0.1, 3.0 + 0.03 * std::sin(i * 0.7)});
  ring.push_back({end, 1.0});
  ring.push_back({0.0, 1.0});
  std::reverse(ring.begin(), ring.end());
  return ring;
}

}  // namespace

// A stretch of outline simplifies the same way in a long ring and in the
// same ring cut short (as a tile cuts a drawing), away from the cut.
TEST(LocalSimplification, AStretchDoesNotDependOnTheRestOfItsRing) {
  BufferPolygon whole{wobbly_strip(20.0), {}}, cut{wobbly_strip(12.0), {}};
  simplify_polygon_locally(whole, 0.05, 2.0);
  simplify_polygon_locally(cut, 0.05, 2.0);
  auto before = [](const Ring& ring, double x) {
    std::vector<Point> out;
    for (Point p : ring)
      if (p.x <= x && p.y > 2.0) out.push_back(p);
    std::sort(out.begin(), out.end(), [](Point a, Point b) { return a.x < b.x; });
    return out;
  };
  const std::vector<Point> kept = before(whole.outer, 8.0);
  EXPECT_LT(kept.size(), 40u);  // simplified, not kept as is
  EXPECT_EQ(kept, before(cut.outer, 8.0));
}

// A notch of the outer ring shallower than the tolerance goes, unless a hole
// reaches into it: then its piece stays as it was and the rings do not cross.
TEST(LocalSimplification, PiecesThatWouldCrossAnotherRingStayAsGiven) {
  const Ring outer{{0, 1}, {4, 1}, {5, 0.96}, {6, 1}, {10, 1}, {10, 10}, {0, 10}};
  const Ring hole{{4.8, 0.98}, {5, 3}, {5.2, 0.98}};
  BufferPolygon alone{outer, {}}, with_hole{outer, {hole}};
  simplify_polygon_locally(alone, 0.05, 2.0);
  simplify_polygon_locally(with_hole, 0.05, 2.0);
  EXPECT_FALSE(has(alone.outer, {5, 0.96}));
  EXPECT_TRUE(has(with_hole.outer, {5, 0.96}));
  EXPECT_EQ(with_hole.holes[0], hole);
}

// A tolerance far below the drawing's scale, also far from the origin where
// the lattice's cell numbers pass every integer type: the ring comes back as
// it was, without a lattice of billions of cells (and without overflowing
// the cell arithmetic).
TEST(LocalSimplification, ToleranceFarBelowTheScaleKeepsTheRing) {
  for (double x0 : {0.0, 1e15, -1e14}) {
    Ring outer{{0, 1}, {4, 1}, {5, 0.96}, {6, 1}, {10, 1}, {10, 10}, {0, 10}};
    Ring hole{{4.8, 0.98}, {5, 3}, {5.2, 0.98}};
    for (Point& p : outer) p.x += x0;
    for (Point& p : hole) p.x += x0;
    BufferPolygon polygon{outer, {hole}};
    simplify_polygon_locally(polygon, 1e-9, 40e-9);
    EXPECT_EQ(polygon.outer, outer) << x0;
    EXPECT_EQ(polygon.holes[0], hole) << x0;
  }
}

// The lattice's entries come in edge order and go into (cell, edge) order,
// whatever the signs of the cells' coordinates and however far the cells
// spread (the packed keys compare their halves as unsigned numbers).
TEST(LocalSimplification, EntriesSortLikeTheirKeys) {
  using local_simplify_detail::CellEntry;
  auto packed = [](std::int32_t x, std::int32_t y) {
    return (std::uint64_t{static_cast<std::uint32_t>(x)} << 32) | static_cast<std::uint32_t>(y);
  };
  for (const std::int32_t spread : {3, 20, 2000000000}) {
    std::vector<CellEntry> entries;
    std::uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1103515245u + 12345u; };
    for (std::uint32_t edge = 0; edge < 200; ++edge) {
      for (int k = 0; k < 4; ++k) {
        const auto x = static_cast<std::int32_t>(next() % (2u * spread + 1)) - spread;
        const auto y = static_cast<std::int32_t>(next() % (2u * spread + 1)) - spread;
        entries.push_back({packed(x, y), edge});
      }
    }
    std::vector<CellEntry> expected = entries;
    std::sort(expected.begin(), expected.end());
    local_simplify_detail::sort_entries(entries);
    ASSERT_EQ(entries.size(), expected.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
      ASSERT_EQ(entries[i].cell, expected[i].cell) << spread << " " << i;
      ASSERT_EQ(entries[i].edge, expected[i].edge) << spread << " " << i;
    }
  }
}

// A polygon large enough to be simplified on the pool: each cluster of its
// holes, far from the others, comes out as it does in a polygon of its own,
// the pieces put back where rings come close included.
TEST(LocalSimplification, LargePolygonAsItsClustersAlone) {
  const Ring notch{{0, 1}, {4, 1}, {5, 0.96}, {6, 1}, {10, 1}, {10, 10}, {0, 10}};
  const Ring tooth{{4.8, 0.98}, {5, 3}, {5.2, 0.98}};
  const auto shifted = [](Ring ring, double dx) {
    for (Point& p : ring) p.x += dx;
    return ring;
  };
  BufferPolygon large{{{-100, -100}, {-100, 100}, {4100, 100}, {4100, -100}}, {}};
  std::vector<BufferPolygon> alone;
  for (int k = 0; k < 40; ++k) {
    const double dx = 100.0 * k;
    alone.push_back({shifted(notch, dx), {shifted(tooth, dx), shifted(wobbly_strip(12.0), dx + 20.0)}});
    large.holes.push_back(alone.back().outer);
    for (const Ring& hole : alone.back().holes) large.holes.push_back(hole);
  }
  simplify_polygon_locally(large, 0.05, 2.0);
  for (std::size_t k = 0; k < alone.size(); ++k) {
    simplify_polygon_locally(alone[k], 0.05, 2.0);
    EXPECT_EQ(large.holes[3 * k], alone[k].outer) << k;
    EXPECT_EQ(large.holes[3 * k + 1], alone[k].holes[0]) << k;
    EXPECT_EQ(large.holes[3 * k + 2], alone[k].holes[1]) << k;
  }
  EXPECT_TRUE(has(large.holes[0], {5, 0.96}));
  EXPECT_LT(large.holes[2].size(), 40u);
}
