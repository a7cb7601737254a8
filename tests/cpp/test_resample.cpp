#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "boundary/resample.h"
#include "boundary_test_util.h"

using namespace strokegraph;
using namespace boundary_test;

namespace {

std::vector<double> xs(const std::vector<Point>& points) {
  std::vector<double> out;
  for (const Point& p : points) out.push_back(p.x);
  return out;
}

}  // namespace

TEST(RingSpan, WrapsForwardAndWholeRingForEqualEnds) {
  const Ring ring{{0, 0}, {1, 0}, {2, 0}, {3, 0}};
  EXPECT_EQ(xs(ring_span(ring, 2, 1)), (std::vector<double>{2, 3, 0, 1}));
  EXPECT_EQ(xs(ring_span(ring, 1, 1)), (std::vector<double>{1, 2, 3, 0, 1}));
}

struct SpanCase {
  double length;
  double spacing;
  std::size_t pieces;
};

class UniformSpan : public testing::TestWithParam<SpanCase> {};

TEST_P(UniformSpan, RoundsPieceCountHalfAwayFromZero) {
  const auto [length, spacing, pieces] = GetParam();
  const std::vector<Point> out = resample_span_open({{0, 0}, {length, 0}}, spacing);
  ASSERT_EQ(out.size(), pieces + 1);
  for (std::size_t s = 0; s <= pieces; ++s) EXPECT_DOUBLE_EQ(out[s].x, length * s / pieces);
  EXPECT_EQ(out.front(), (Point{0, 0}));
}

INSTANTIATE_TEST_SUITE_P(Lengths, UniformSpan,
                         testing::Values(SpanCase{10, 3, 3}, SpanCase{2.5, 1, 3},
                                         SpanCase{1.49, 1, 1}, SpanCase{1.5, 1, 2},
                                         SpanCase{10, std::nan(""), 1}));

TEST(UniformSpan, DegenerateInputs) {
  EXPECT_TRUE(resample_span_open({}, 1.0).empty());
  EXPECT_EQ(resample_span_open({{1, 2}}, 1.0).size(), 1u);
  EXPECT_EQ(resample_span_open({{1, 2}, {1, 2}, {1, 2}}, 1.0).size(), 2u);
  // A zero-length segment gets no sample inside it: the target 1.0 stays on
  // the end of the first segment.
  const auto out = resample_span_open({{0, 0}, {1, 0}, {1, 0}, {2, 0}}, 1.0);
  EXPECT_EQ(out, (std::vector<Point>{{0, 0}, {1, 0}, {2, 0}}));
}

TEST(ResampleRing, SquareKeepsCornersAndSplitsSides) {
  const Ring out = resample_ring(square(10), 3.0, kPi / 3);
  ASSERT_EQ(out.size(), 12u);
  for (std::size_t c = 0; c < 4; ++c) EXPECT_EQ(out[3 * c], square(10)[c]);
  EXPECT_DOUBLE_EQ(out[1].x, 10.0 / 3);
  EXPECT_DOUBLE_EQ(out[2].x, 20.0 / 3);
  EXPECT_EQ(resample_ring(square(10), 100.0, kPi / 3), square(10));
}

struct LoopCase {
  double spacing;
  std::size_t size;  // 0: the input comes back unchanged
};

class ResampleDodecagon : public testing::TestWithParam<LoopCase> {};

TEST_P(ResampleDodecagon, ResamplesAsOneClosedLoop) {
  const Ring ring = regular_polygon(12, 5.0);  // perimeter 60, turns of 30 degrees
  const Ring out = resample_ring(ring, GetParam().spacing, kPi / 3);
  if (GetParam().size == 0) {
    EXPECT_EQ(out, ring);
  } else {
    ASSERT_EQ(out.size(), GetParam().size);
    EXPECT_EQ(out[0], ring[0]);
  }
}

INSTANTIATE_TEST_SUITE_P(Spacings, ResampleDodecagon,
                         testing::Values(LoopCase{5, 12}, LoopCase{2.5, 24}, LoopCase{25, 0},
                                         LoopCase{40, 0}, LoopCase{50, 0}, LoopCase{0, 0},
                                         LoopCase{-1, 0}));

// A circle of 24 points (turns of 15 degrees) with one vertex pulled out into
// a spike, rotated so that the spike is point 5.
Ring teardrop() {
  Ring ring = regular_polygon(24, 2.0);
  ring[5] = {ring[5].x * 1.5, ring[5].y * 1.5};
  return ring;
}

TEST(ResampleRing, OneAnchorStartsTheResult) {
  const Ring ring = teardrop();
  ASSERT_EQ(corner_anchors(ring, kPi / 3), (std::vector<std::size_t>{5}));
  const Ring out = resample_ring(ring, 1.0, kPi / 3);
  EXPECT_EQ(out[0], ring[5]);
  EXPECT_EQ(std::count(out.begin(), out.end(), ring[5]), 1);
  EXPECT_GT(out.size(), 40u);
}

TEST(ResampleRing, ShortSpanBetweenAdjacentAnchorsGivesItsFirstAnchorOnly) {
  const Ring ring{{0, 0}, {10, 0}, {10, 0.5}, {0, 0.5}};
  const Ring out = resample_ring(ring, 3.0, kPi / 3);
  ASSERT_EQ(out.size(), 8u);
  EXPECT_EQ(out[3], ring[1]);
  EXPECT_EQ(out[4], ring[2]);
}

TEST(ResampleRing, TooFewPointsComeBackUnchanged) {
  const Ring two{{0, 0}, {10, 0}};
  EXPECT_EQ(resample_ring(two, 1.0, kPi / 3), two);
  // Two anchors whose spans are single pieces leave only two points.
  const Ring sliver{{0, 0}, {1, 0}, {0.5, 0.01}};
  ASSERT_EQ(corner_anchors(sliver, kPi / 3).size(), 2u);
  EXPECT_EQ(resample_ring(sliver, 10.0, kPi / 3), sliver);
  const CurvatureIndex index = make_curvature_index(4.0);
  EXPECT_EQ(resample_ring_adaptive(two, index, 1.0, 1.0, 0.5, kPi / 3), two);
  EXPECT_EQ(resample_ring_adaptive(square(10), index, 0.0, 1.0, 0.5, kPi / 3), square(10));
}

TEST(AdaptiveSpan, StepsBySpacingAwayFromCorners) {
  const CurvatureIndex index = make_curvature_index(4.0);
  const auto out = adaptive_resample_span_open({{0, 0}, {10, 0}}, index, 3.0, 1.0, 0.5);
  EXPECT_EQ(xs(out), (std::vector<double>{0, 3, 6, 10}));
}

TEST(AdaptiveSpan, ShrinksStepNearCorner) {
  CurvatureIndex index = make_curvature_index(4.0);
  record(index, 0.0, 0.0, kPi / 2);
  // Within 3 of the corner: h = 4 * sqrt((4 / (pi/2)) / 10); beyond 4: h = 4.
  const double h = 4.0 * std::sqrt((4.0 / (kPi / 2)) / 10.0);
  const auto out = adaptive_resample_span_open({{0, 0}, {20, 0}}, index, 4.0, 1.0, 0.5);
  const std::vector<double> expected{0, h, h + h, h + h + 4, h + h + 8, h + h + 12, 20};
  ASSERT_EQ(out.size(), expected.size());
  for (std::size_t i = 0; i < out.size(); ++i) EXPECT_NEAR(out[i].x, expected[i], 1e-12);
  // With spacing 1 the step would be about 0.25 and is raised to b * Q = 0.5.
  const auto fine = adaptive_resample_span_open({{0, 0}, {2, 0}}, index, 1.0, 1.0, 0.5);
  EXPECT_EQ(xs(fine), (std::vector<double>{0, 0.5, 1.0, 1.5, 2.0}));
}

TEST(RefineRing, LeavesRingsFarFromCornersAlone) {
  CurvatureIndex index = make_curvature_index(4.0);
  record(index, 100, 100, kPi / 2);
  EXPECT_EQ(refine_ring_from_index(square(10), index, 1.0, 0.5), square(10));
  EXPECT_EQ(refine_ring_from_index(square(10), make_curvature_index(4.0), 1.0, 0.0), square(10));
}

struct RefineCase {
  double angle;
  double ratio;
  double edge;
  std::size_t inserted;
};

class RefineEdge : public testing::TestWithParam<RefineCase> {};

TEST_P(RefineEdge, TargetLengthFollowsWeightedAngle) {
  const auto [angle, ratio, edge, inserted] = GetParam();
  CurvatureIndex index = make_curvature_index(4.0);
  record(index, 0.0, -1.0, angle);  // within 3 of the long edge's midpoint
  const Ring ring{{0, 0}, {edge, 0}, {edge / 2, -30}};
  const Ring out = refine_ring_from_index(ring, index, 1.0, ratio);
  ASSERT_EQ(out.size(), 3 + inserted);
  EXPECT_TRUE(in_order(out, ring));
  for (std::size_t j = 1; j <= inserted; ++j) {
    EXPECT_DOUBLE_EQ(out[j].x, edge * (static_cast<double>(j) / (inserted + 1)));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Angles, RefineEdge,
    testing::Values(RefineCase{kPi / 2, 0.5, 2.0, 3},  // D = 0.5
                    RefineCase{kPi, 0.5, 2.0, 3},      // capped at 90 degrees
                    RefineCase{kPi / 12, 0.5, 2.0, 1},  // D = b
                    RefineCase{std::nextafter(kPi / 12, 0.0), 0.5, 2.0, 0},
                    RefineCase{kPi / 2, 1.0, 2.5, 2},   // D = b for Q = 1
                    RefineCase{kPi / 4, 0.5, 2.0, 2}));  // D = 0.92 b
