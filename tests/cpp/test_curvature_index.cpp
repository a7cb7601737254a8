#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "boundary/curvature_index.h"
#include "boundary_test_util.h"

using namespace strokegraph;
using namespace boundary_test;

struct AddRingCase {
  double min_angle;
  std::size_t expected;
};

class AddRingSquare : public testing::TestWithParam<AddRingCase> {};

TEST_P(AddRingSquare, RecordsRightAnglesUpToThreshold) {
  CurvatureIndex index = make_curvature_index(4.0);
  add_ring(index, square(10), GetParam().min_angle);
  ASSERT_EQ(index.corners.size(), GetParam().expected);
  for (const CornerEntry& e : index.corners) EXPECT_DOUBLE_EQ(e.angle, kPi / 2);
  std::size_t listed = 0;
  for (const auto& [key, positions] : index.cells) listed += positions.size();
  EXPECT_EQ(listed, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Thresholds, AddRingSquare,
                         testing::Values(AddRingCase{kPi / 4, 4}, AddRingCase{kPi / 2, 4},
                                         AddRingCase{1.6, 0}, AddRingCase{0.0, 4},
                                         AddRingCase{-1.0, 4},
                                         AddRingCase{std::numeric_limits<double>::quiet_NaN(), 0}));

TEST(CurvatureIndex, ThresholdsOfZeroOrBelowRecordStraightVertices) {
  for (const double min_angle : {0.0, -1.0}) {
    CurvatureIndex index = make_curvature_index(1.0);
    add_ring(index, {{0, 0}, {5, 0}, {10, 0}, {10, 10}, {0, 10}}, min_angle);
    ASSERT_EQ(index.corners.size(), 5u);
    EXPECT_EQ(index.corners[1].angle, 0.0);
  }
}

TEST(CurvatureIndex, DegenerateVerticesAreSkipped) {
  CurvatureIndex index = make_curvature_index(1.0);
  // The repeated corner at (10, 0) has a zero edge on either side.
  add_ring(index, {{0, 0}, {10, 0}, {10, 0}, {10, 10}, {0, 10}}, 0.1);
  ASSERT_EQ(index.corners.size(), 3u);
  EXPECT_EQ(index.corners[0].x, 0.0);
  EXPECT_EQ(index.corners[1].y, 10.0);
  add_ring(index, {{0, 0}, {5, 5}}, 0.0);
  EXPECT_EQ(index.corners.size(), 3u);
}

TEST(CurvatureIndex, CellKeysFloorAndSaturate) {
  EXPECT_EQ(make_curvature_index(0.0).cell_size, 1.0);
  EXPECT_EQ(make_curvature_index(std::numeric_limits<double>::infinity()).cell_size, 1.0);
  const CurvatureIndex index = make_curvature_index(1.0);
  EXPECT_EQ(cell_key(index, -0.5, 0.5), (CellKey{-1, 0}));
  EXPECT_EQ(cell_key(index, 1e300, -1e300), (CellKey{INT64_MAX, INT64_MIN}));
  EXPECT_EQ(cell_key(index, std::nan(""), 2.0), (CellKey{0, 2}));
}

struct WeightCase {
  double distance;
  double expected;
};

class MaxAngleWeight : public testing::TestWithParam<WeightCase> {};

TEST_P(MaxAngleWeight, FallsLinearlyBetweenRadii) {
  CurvatureIndex index = make_curvature_index(4.0);
  record(index, 5.0, 5.0, kPi / 2);
  EXPECT_DOUBLE_EQ(max_angle_near(index, 5.0 + GetParam().distance, 5.0, 3.0, 4.0),
                   GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Distances, MaxAngleWeight,
                         testing::Values(WeightCase{2.0, kPi / 2}, WeightCase{3.5, kPi / 4},
                                         WeightCase{4.0, 0.0}, WeightCase{4.01, 0.0}));

TEST(CurvatureIndex, QueriesReachAcrossCellBordersAndAxes) {
  CurvatureIndex index = make_curvature_index(1.0);
  record(index, -0.1, -0.1, 1.0);
  record(index, 2.99, 0.5, 2.0);
  EXPECT_EQ(max_angle_near(index, 0.1, 0.1, 0.5, 1.0), 1.0);
  EXPECT_EQ(max_angle_near(index, 3.01, 0.5, 0.5, 1.0), 2.0);
  EXPECT_EQ(max_angle_near(make_curvature_index(1.0), 0, 0, 3, 4), 0.0);
  EXPECT_EQ(max_angle_near(index, 50, 50, -1, 0), 0.0);
}

TEST(CurvatureIndex, InfiniteRadiusScansEntriesInsteadOfCells) {
  CurvatureIndex index = make_curvature_index(1.0);
  record(index, 1e6, -1e6, 0.7);
  record(index, 3.0, 4.0, 1.2);
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(max_angle_near(index, 0.0, 0.0, inf, inf), 1.2);
}

class GridQuery : public testing::TestWithParam<int> {};

// 300 entries: windows walk their cells; 12: a pass over the occupied cells.
INSTANTIATE_TEST_SUITE_P(Entries, GridQuery, testing::Values(300, 12));

TEST_P(GridQuery, MatchesBruteForce) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> coord(-20.0, 20.0), angle(0.0, kPi);
  CurvatureIndex index = make_curvature_index(4.0);
  for (int i = 0; i < GetParam(); ++i) record(index, coord(rng), coord(rng), angle(rng));
  // Random queries, then a walk in small steps whose blocks of cells repeat,
  // each answered alone and with the entries carried from the query before.
  NearCorners near;
  for (int q = 0; q < 600; ++q) {
    const bool walk = q >= 300;
    const double x = walk ? -20.0 + 0.15 * (q - 300) : coord(rng);
    const double y = walk ? 0.5 * std::sin(0.1 * q) : coord(rng);
    const double inner = walk ? 3.0 : q % 7, outer = walk ? 4.0 : inner + 1.0 + q % 3;
    double best = 0.0;
    for (const CornerEntry& e : index.corners) {
      const double d = std::sqrt((e.y - y) * (e.y - y) + (e.x - x) * (e.x - x));
      if (d > outer) continue;
      const double w = d <= inner ? 1.0 : 1.0 - (d - inner) / (outer - inner);
      best = std::max(best, w * e.angle);
    }
    ASSERT_DOUBLE_EQ(max_angle_near(index, x, y, inner, outer), best) << q;
    ASSERT_DOUBLE_EQ(max_angle_near(index, x, y, inner, outer, &near), best) << q;
  }
}

TEST(CornerAnchors, StrictCosineTest) {
  EXPECT_EQ(corner_anchors(square(10), kPi / 3), (std::vector<std::size_t>{0, 1, 2, 3}));
  EXPECT_TRUE(corner_anchors(regular_polygon(8, 1.0), kPi / 3).empty());
  EXPECT_TRUE(corner_anchors({{1, 1}, {1, 1}, {1, 1}}, kPi / 3).empty());
  // The cosine at vertex 1 evaluates to exactly 0.5, below cos(pi/3) =
  // 0.5000000000000001: an anchor. One ulp further it is 0.5000000000000001.
  const auto at_one = [](double vy) {
    const auto a = corner_anchors({{-1, 0}, {0, 0}, {1, vy}}, kPi / 3);
    return std::find(a.begin(), a.end(), 1u) != a.end();
  };
  EXPECT_TRUE(at_one(1.7320508075688774));
  EXPECT_FALSE(at_one(1.7320508075688772));
}
