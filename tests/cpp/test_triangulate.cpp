// Constrained triangulation of polygon rings: input preparation, the
// triangulator wrapper's refusals, and get_triangles.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "skeleton_cdt/triangulate.h"

#include "ring_test_util.h"

namespace strokegraph {
namespace {

using test::square;

double area(const Triangle& t) {
  return ((t[1].x - t[0].x) * (t[2].y - t[0].y) - (t[2].x - t[0].x) * (t[1].y - t[0].y)) * 0.5;
}

Point centroid(const Triangle& t) {
  return {(t[0].x + t[1].x + t[2].x) / 3, (t[0].y + t[1].y + t[2].y) / 3};
}

bool bit_identical(const std::vector<Triangle>& a, const std::vector<Triangle>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(Triangle)) == 0);
}

TEST(TriangulatorInput, SkipsShortRingsAndJittersByGlobalIndex) {
  const Ring outer = square(0, 0, 10);
  const std::vector<Ring> holes{{{1, 1}, {2, 2}}, square(3, 3, 2), {}};
  const TriangulatorInput in = prepare_triangulator_input(outer, holes);
  ASSERT_EQ(in.points.size(), 8u);
  ASSERT_EQ(in.contours.size(), 2u);
  EXPECT_EQ(in.contours[0], (std::vector<std::uint32_t>{0, 1, 2, 3, 0}));
  EXPECT_EQ(in.contours[1], (std::vector<std::uint32_t>{4, 5, 6, 7, 4}));
  EXPECT_EQ(in.ring_of, (std::vector<std::uint32_t>{0, 0, 0, 0, 1, 1, 1, 1}));
  EXPECT_EQ(in.position, (std::vector<std::uint32_t>{0, 1, 2, 3, 0, 1, 2, 3}));
  EXPECT_EQ(in.ring_size, (std::vector<std::uint32_t>{4, 4}));
  // Vertex 0 moves by exactly (0, 1e-9).
  EXPECT_EQ(in.points[0].x, 0.0);
  EXPECT_EQ(in.points[0].y, 1e-9);
  const double i = 5.0;  // the hole's second point, global index 5
  EXPECT_EQ(in.points[5].x, 5.0 + std::sin(1.1 * i) * 1e-9);
  EXPECT_EQ(in.points[5].y, 3.0 + std::cos(1.3 * i) * 1e-9);
}

TEST(TriangulatorInput, ShortOuterRingIsSkippedLikeAnyRing) {
  const TriangulatorInput in = prepare_triangulator_input({{0, 0}, {1, 1}}, {square(0, 0, 1)});
  ASSERT_EQ(in.points.size(), 4u);
  EXPECT_EQ(in.ring_of, (std::vector<std::uint32_t>{0, 0, 0, 0}));
  EXPECT_TRUE(prepare_triangulator_input({{0, 0}, {1, 1}}, {{{5, 5}}}).points.empty());
  EXPECT_TRUE(get_triangles({}, {}).empty());
}

TEST(TriangulatorInput, RefilledOverALargerOneEqualsAFreshOne) {
  TriangulatorInput in;
  fill_triangulator_input(square(0, 0, 10), {square(1, 1, 2), square(5, 5, 2)}, in);
  const std::vector<Ring> holes{{{1, 1}, {2, 2}}, square(1, 1, 1)};
  fill_triangulator_input(square(0, 0, 4), holes, in);
  const TriangulatorInput fresh = prepare_triangulator_input(square(0, 0, 4), holes);
  EXPECT_EQ(in.points, fresh.points);
  EXPECT_EQ(in.contours, fresh.contours);
  EXPECT_EQ(in.ring_of, fresh.ring_of);
  EXPECT_EQ(in.position, fresh.position);
  EXPECT_EQ(in.ring_size, fresh.ring_size);
  fill_triangulator_input({{0, 0}, {1, 1}}, {}, in);
  EXPECT_TRUE(in.points.empty() && in.contours.empty() && in.ring_size.empty());
}

TEST(GetTriangles, TriangleGivesItselfWithinJitter) {
  const Ring ring{{0, 0}, {4, 0}, {0, 3}};
  const std::vector<Triangle> tris = get_triangles(ring, {});
  ASSERT_EQ(tris.size(), 1u);
  for (const Point& corner : tris[0]) {
    double best = std::numeric_limits<double>::infinity();
    for (const Point& p : ring) best = std::min(best, std::hypot(p.x - corner.x, p.y - corner.y));
    EXPECT_LT(best, 1.5e-9);
  }
  EXPECT_NEAR(std::abs(area(tris[0])), 6.0, 1e-8);
}

TEST(GetTriangles, SquareGivesTwoTrianglesSharingADiagonal) {
  const std::vector<Triangle> tris = get_triangles(square(0, 0, 1), {});
  ASSERT_EQ(tris.size(), 2u);
  int shared = 0;
  for (const Point& p : tris[0]) {
    for (const Point& q : tris[1]) shared += p == q;
  }
  EXPECT_EQ(shared, 2);
  EXPECT_NEAR(std::abs(area(tris[0])) + std::abs(area(tris[1])), 1.0, 1e-8);
}

class SquareWithHole : public testing::TestWithParam<bool> {};

TEST_P(SquareWithHole, EightTrianglesFillTheBandWhicheverWayTheHoleTurns) {
  const std::vector<Triangle> tris = get_triangles(square(0, 0, 10), {square(3, 3, 4, GetParam())});
  ASSERT_EQ(tris.size(), 8u);
  double sum = 0;
  for (const Triangle& t : tris) {
    sum += std::abs(area(t));
    const Point c = centroid(t);
    EXPECT_FALSE(c.x > 3 && c.x < 7 && c.y > 3 && c.y < 7) << c.x << ", " << c.y;
  }
  EXPECT_NEAR(sum, 100.0 - 16.0, 1e-7);
}

INSTANTIATE_TEST_SUITE_P(HoleOrientation, SquareWithHole, testing::Bool());

TEST(GetTriangles, TwoPointHoleIsIgnored) {
  const Ring outer{{0, 0}, {5, 0}, {6, 3}, {2, 5}, {-1, 2}};
  EXPECT_TRUE(bit_identical(get_triangles(outer, {{{1, 1}, {2, 2}}}), get_triangles(outer, {})));
  EXPECT_EQ(get_triangles(outer, {}).size(), 3u);
}

TEST(GetTriangles, NestedRingsAlternateByParity) {
  // Outer, hole, island inside the hole: the island is kept.
  const std::vector<Triangle> tris =
      get_triangles(square(0, 0, 10), {square(2, 2, 6, false), square(4, 4, 2)});
  double sum = 0;
  for (const Triangle& t : tris) sum += std::abs(area(t));
  EXPECT_NEAR(sum, 100.0 - 36.0 + 4.0, 1e-7);
}

TEST(GetTriangles, TwoRunsAreBitIdentical) {
  Ring outer;
  for (int k = 0; k < 200; ++k) {
    const double a = k * 2 * M_PI / 200;
    const double r = 10 + 3 * std::sin(5 * a);
    outer.push_back({r * std::cos(a), r * std::sin(a)});
  }
  const std::vector<Ring> holes{square(-1, -1, 2, false)};
  const std::vector<Triangle> first = get_triangles(outer, holes);
  EXPECT_EQ(first.size(), 200u + 4u + 2u * 1u - 2u);  // n + 2h - 2 for a polygon with h holes
  EXPECT_TRUE(bit_identical(first, get_triangles(outer, holes)));
}

struct BadCoordinate {
  const char* name;
  double value;
};

class NonFiniteCoordinate : public testing::TestWithParam<BadCoordinate> {};

TEST_P(NonFiniteCoordinate, GivesEmptyResultWithoutThrowing) {
  Ring outer = square(0, 0, 10);
  Ring bad_outer = outer;
  bad_outer[2].x = GetParam().value;
  EXPECT_TRUE(get_triangles(bad_outer, {}).empty());
  Ring bad_hole = square(3, 3, 2);
  bad_hole[1].y = GetParam().value;
  EXPECT_TRUE(get_triangles(outer, {bad_hole}).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Values, NonFiniteCoordinate,
    testing::Values(BadCoordinate{"nan", std::numeric_limits<double>::quiet_NaN()},
                    BadCoordinate{"inf", std::numeric_limits<double>::infinity()},
                    BadCoordinate{"minus_inf", -std::numeric_limits<double>::infinity()},
                    BadCoordinate{"huge", 1e300}),
    [](const testing::TestParamInfo<BadCoordinate>& info) { return info.param.name; });

// Inputs the triangulator must refuse, given to it directly (no jitter).
struct Refused {
  const char* name;
  std::vector<Point> points;
  std::vector<std::vector<std::uint32_t>> contours;
};

class TriangulatorRefuses : public testing::TestWithParam<Refused> {};

TEST_P(TriangulatorRefuses, WithAFailureValue) {
  EXPECT_FALSE(triangulate_contours(GetParam().points, GetParam().contours).has_value());
  // Into a list of triangles left over from an earlier call: emptied.
  std::vector<IndexTriangle> triangles{{0, 1, 2}};
  EXPECT_FALSE(triangulate_contours(GetParam().points, GetParam().contours, triangles));
  EXPECT_TRUE(triangles.empty());
}

const std::vector<Point> kSquare{{0, 0}, {1, 0}, {1, 1}, {0, 1}};

INSTANTIATE_TEST_SUITE_P(
    Cases, TriangulatorRefuses,
    testing::Values(
        Refused{"no_points", {}, {}},
        Refused{"two_points", {{0, 0}, {1, 0}}, {{0, 1, 0}}},
        Refused{"open_contour", kSquare, {{0, 1, 2, 3}}},
        Refused{"empty_contour", kSquare, {{}}},
        Refused{"index_out_of_range", kSquare, {{0, 1, 2, 4, 0}}},
        Refused{"edge_to_itself", kSquare, {{0, 1, 1, 2, 3, 0}}},
        Refused{"equal_points", {{0, 0}, {1, 0}, {1, 1}, {0, 1}, {1, 0}}, {{0, 4, 2, 3, 0}}},
        Refused{"negative_zero_equals_zero", {{0, 0}, {1, 0}, {1, 1}, {-0.0, 0}}, {{0, 1, 2, 0}}},
        Refused{"bow_tie", kSquare, {{0, 2, 1, 3, 0}}},
        Refused{"crossing_rings",
                {{0, 0}, {2, 0}, {2, 2}, {0, 2}, {1, 1}, {3, 1}, {3, 3}, {1, 3}},
                {{0, 1, 2, 3, 0}, {4, 5, 6, 7, 4}}},
        Refused{"point_on_constraint", {{0, 0}, {4, 0}, {4, 4}, {2, 0}, {0, 4}},
                {{0, 1, 2, 3, 4, 0}}},
        Refused{"collinear", {{0, 0}, {1, 0}, {2, 0}}, {{0, 1, 2, 0}}}),
    [](const testing::TestParamInfo<Refused>& info) { return info.param.name; });

TEST(Triangulator, EdgeInTwoContoursSeparatesNothing) {
  // Two unit squares given as two contours over shared points: their common
  // edge counts twice, so both squares are inside.
  const std::vector<Point> points{{0, 0}, {1, 0}, {1, 1}, {0, 1}, {2, 0}, {2, 1}};
  const auto tris = triangulate_contours(points, {{0, 1, 2, 3, 0}, {1, 4, 5, 2, 1}});
  ASSERT_TRUE(tris.has_value());
  EXPECT_EQ(tris->size(), 4u);
}

TEST(Triangulator, EqualPointsAfterJitterGiveEmptyResult) {
  // At this magnitude the jitter is below the spacing of doubles, so the
  // repeated corner stays a duplicate.
  const double b = 1e10;
  const Ring outer{{b, b}, {b + 1024, b}, {b + 1024, b + 1024}, {b + 512, b + 512},
                   {b + 1024, b + 1024}, {b, b + 1024}};
  EXPECT_TRUE(get_triangles(outer, {}).empty());
}

TEST(Triangulator, EqualPointsAreRefusedWhateverTheSignOfZero) {
  // (0, 1) and (-0, 1) are one point; (1, 1) and (1, 1 + 2^-52) are two.
  const std::vector<Point> equal{{0, 0}, {1, 0}, {0, 1}, {-0.0, 1}};
  EXPECT_FALSE(triangulate_contours(equal, {{0, 1, 2, 0}}).has_value());
  const std::vector<Point> apart{{0, 0}, {1, 0}, {1, 1}, {1, 1 + 0x1p-52}, {0, 1}};
  EXPECT_TRUE(triangulate_contours(apart, {{0, 1, 2, 4, 0}}).has_value());
}

TEST(Triangulator, IndicesAreValidAndTrianglesCounterClockwise) {
  const std::vector<Point> points{{0, 0}, {3, 0}, {3, 1}, {1, 1}, {1, 3}, {0, 3}};
  const auto tris = triangulate_contours(points, {{0, 1, 2, 3, 4, 5, 0}});
  ASSERT_TRUE(tris.has_value());
  ASSERT_EQ(tris->size(), 4u);
  for (const IndexTriangle& t : *tris) {
    for (std::uint32_t i : t) EXPECT_LT(i, points.size());
    EXPECT_GT(area({points[t[0]], points[t[1]], points[t[2]]}), 0.0);
  }
}

}  // namespace
}  // namespace strokegraph
