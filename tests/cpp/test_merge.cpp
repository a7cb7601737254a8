// Joining of curves whose ends meet.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>

#include "common/errors.h"
#include "conditioning/merge.h"

namespace strokegraph {

static void PrintTo(const Point& p, std::ostream* os) { *os << "(" << p.x << ", " << p.y << ")"; }

namespace {

struct MergeCase {
  const char* name;
  std::vector<Polyline> in;
  double tolerance;
  std::vector<Polyline> out;
};

class MergeCases : public testing::TestWithParam<MergeCase> {};

TEST_P(MergeCases, JoinsTheExpectedCurves) {
  const MergeCase& c = GetParam();
  const MergedCurves merged = merge_connected(c.in, std::nullopt, 1.0, c.tolerance);
  EXPECT_EQ(merged.curves, c.out);
  EXPECT_FALSE(merged.widths.has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Merge, MergeCases,
    testing::Values(
        MergeCase{
            "end_to_start", {{{0, 0}, {1, 0}}, {{1, 0}, {2, 0}}}, 0.01, {{{0, 0}, {1, 0}, {2, 0}}}},
        MergeCase{"end_to_end_reverses",
                  {{{0, 0}, {1, 0}}, {{2, 0}, {1, 0}}},
                  0.01,
                  {{{0, 0}, {1, 0}, {2, 0}}}},
        MergeCase{"grows_backward",
                  {{{1, 0}, {2, 0}}, {{0, 0}, {1, 0}}},
                  0.01,
                  {{{0, 0}, {1, 0}, {2, 0}}}},
        MergeCase{"start_to_start_backward",
                  {{{1, 0}, {2, 0}}, {{1, 0}, {0, 0}}},
                  0.01,
                  {{{0, 0}, {1, 0}, {2, 0}}}},
        MergeCase{"joint_keeps_own_point",
                  {{{0, 0}, {1, 0}}, {{1.001, 0}, {2, 0}}},
                  0.01,
                  {{{0, 0}, {1, 0}, {2, 0}}}},
        MergeCase{"junction_never_joins",
                  {{{0, 0}, {1, 0}}, {{1, 0}, {2, 0}}, {{1, 0}, {1, 1}}},
                  0.01,
                  {{{0, 0}, {1, 0}}, {{1, 0}, {2, 0}}, {{1, 0}, {1, 1}}}},
        MergeCase{"loop_stays_open",
                  {{{0, 0}, {1, 0}, {1, 1}}, {{1, 1}, {0, 1}, {0, 0}}},
                  0.01,
                  {{{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}}}},
        MergeCase{"single_points_behind_empties_dropped",
                  {{{5, 5}}, {}, {{0, 0}, {1, 0}}, {{2, 0}, {1, 0}}, {{7, 7}}},
                  0.01,
                  {{{0, 0}, {1, 0}, {2, 0}}, {{5, 5}}, {{7, 7}}}},
        MergeCase{"long_chain_both_ways",
                  {{{2, 0}, {3, 0}}, {{4, 0}, {3, 0}}, {{1, 0}, {2, 0}}, {{1, 0}, {0, 0}}},
                  0.01,
                  {{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}}}},
        MergeCase{"halves_round_away_from_zero",
                  {{{-5, 0}, {0.49, 0}}, {{0.51, 0}, {9, 0}}},
                  1.0,
                  {{{-5, 0}, {0.49, 0}}, {{0.51, 0}, {9, 0}}}},
        MergeCase{"same_cell_joins",
                  {{{-5, 0}, {0.51, 0}}, {{1.49, 0}, {9, 0}}},
                  1.0,
                  {{{-5, 0}, {0.51, 0}, {9, 0}}}},
        MergeCase{"negative_halves",
                  {{{-3, 0}, {-0.5, 0}}, {{-1.4, 0}, {-9, 0}}},
                  1.0,
                  {{{-3, 0}, {-0.5, 0}, {-9, 0}}}}),
    [](const testing::TestParamInfo<MergeCase>& info) { return info.param.name; });

TEST(Merge, WidthsTravelWithTheirVertices) {
  const std::vector<Polyline> curves = {{{0, 0}, {1, 0}}, {{1, 0}, {2, 0}}};
  const MergedCurves merged = merge_connected(curves, WidthLists{{1.0, 2.0}}, 5.0, 0.01);
  EXPECT_EQ(merged.curves, (std::vector<Polyline>{{{0, 0}, {1, 0}, {2, 0}}}));
  ASSERT_TRUE(merged.widths.has_value());
  EXPECT_EQ(*merged.widths, (WidthLists{{1.0, 2.0, 5.0}}));
}

TEST(Merge, ReversedAndPrependedWidthsFollowTheirPoints) {
  // Seed 0 grows forward into 1 (reversed) and backward into 2 (reversed).
  const std::vector<Polyline> curves = {
      {{1, 0}, {2, 0}}, {{3, 0}, {2.5, 0}, {2, 0}}, {{1, 0}, {0.5, 0}, {0, 0}}};
  const WidthLists widths = {{10, 20}, {33, 32, 31}, {11, 12, 13}};
  const MergedCurves merged = merge_connected(curves, widths, 9.0, 0.01);
  EXPECT_EQ(merged.curves,
            (std::vector<Polyline>{{{0, 0}, {0.5, 0}, {1, 0}, {2, 0}, {2.5, 0}, {3, 0}}}));
  EXPECT_EQ(*merged.widths, (WidthLists{{13, 12, 10, 20, 32, 33}}));
}

TEST(Merge, EveryCurveGetsExplicitWidthsOnceWidthsAreGiven) {
  const std::vector<Polyline> curves = {{{0, 0}, {1, 0}}, {{5, 5}, {6, 6}}, {{9, 9}}, {}};
  for (const WidthLists& given : {WidthLists{}, WidthLists{{}, {1, 2}, {}, {}}}) {
    const MergedCurves merged = merge_connected(curves, given, 0.5, 0.01);
    ASSERT_TRUE(merged.widths.has_value());
    ASSERT_EQ(merged.widths->size(), merged.curves.size());
    for (std::size_t i = 0; i < merged.curves.size(); ++i) {
      EXPECT_EQ((*merged.widths)[i].size(), merged.curves[i].size());
    }
    EXPECT_EQ((*merged.widths)[0], (std::vector<double>{0.5, 0.5}));
    EXPECT_EQ((*merged.widths)[2], (std::vector<double>{0.5}));
  }
}

TEST(Merge, NonFiniteAndHugeCoordinatesShareSaturatedCells) {
  const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
  // NaN falls in cell 0 and joins the curve ending at the origin; both
  // infinities land in the last cell of their side.
  const std::vector<Polyline> curves = {
      {{-1, 0}, {0, 0}}, {{nan, nan}, {-2, 0}}, {{inf, 1}, {3, 3}}, {{4, 4}, {1e300, 1}}};
  const MergedCurves merged = merge_connected(curves, std::nullopt, 1.0, 0.01);
  ASSERT_EQ(merged.curves.size(), 2u);
  EXPECT_EQ(merged.curves[0].size(), 3u);
  EXPECT_EQ(merged.curves[1], (Polyline{{4, 4}, {inf, 1}, {3, 3}}));
}

TEST(Merge, CapsFollowTheFreeEnds) {
  // Seed 0 grows forward into 1 and backward into 2; 3 stays alone.
  const std::vector<Polyline> curves = {
      {{1, 0}, {2, 0}}, {{3, 0}, {2, 0}}, {{1, 0}, {0, 0}}, {{9, 9}}};
  const std::vector<Cap> caps = {Cap::Square, Cap::Round, Cap::Butt, Cap::Round};
  const MergedCurves merged = merge_connected(curves, std::nullopt, 1.0, 0.01, &caps);
  ASSERT_EQ(merged.curves.size(), 2u);
  ASSERT_TRUE(merged.caps.has_value());
  EXPECT_EQ(*merged.caps,
            (std::vector<EndCaps>{{Cap::Butt, Cap::Round}, {Cap::Round, Cap::Round}}));
  EXPECT_FALSE(merge_connected(curves, std::nullopt, 1.0, 0.01).caps.has_value());
}

TEST(Merge, MismatchedWidthsAreAnInternalError) {
  EXPECT_THROW(merge_connected({{{0, 0}, {1, 0}}}, WidthLists{{1.0}}, 1.0, 0.01), InvariantError);
}

}  // namespace
}  // namespace strokegraph
