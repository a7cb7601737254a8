// Chordal-axis skeleton of triangulated polygons.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <numeric>
#include <utility>
#include <vector>

#include "skeleton_cdt/skeleton.h"

#include "ring_test_util.h"

namespace strokegraph {
namespace {

using test::square;

// The closed outline through `corners`, every edge longer than 2 split into
// pieces of at most `step`; shorter edges (the caps) stay whole.
Ring sampled(const std::vector<Point>& corners, double step) {
  Ring ring;
  for (std::size_t k = 0; k < corners.size(); ++k) {
    const Point a = corners[k];
    const Point b = corners[(k + 1) % corners.size()];
    const double length = std::hypot(b.x - a.x, b.y - a.y);
    const int pieces = length <= 2 ? 1 : static_cast<int>(std::ceil(length / step));
    for (int j = 0; j < pieces; ++j) {
      const double t = static_cast<double>(j) / pieces;
      ring.push_back({a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t});
    }
  }
  return ring;
}

// Segments joined where their endpoints are bit-identical.
struct SegmentGraph {
  std::vector<Point> nodes;
  std::vector<int> degree;
  std::vector<std::pair<int, int>> edges;
  int components = 0;
};

SegmentGraph graph_of(const std::vector<Segment>& segments) {
  SegmentGraph g;
  std::map<std::pair<double, double>, int> ids;
  auto id = [&](const Point& p) {
    auto [it, added] = ids.try_emplace({p.x, p.y}, static_cast<int>(g.nodes.size()));
    if (added) {
      g.nodes.push_back(p);
      g.degree.push_back(0);
    }
    return it->second;
  };
  for (const Segment& s : segments) {
    const int a = id(s.a);
    const int b = id(s.b);
    g.edges.emplace_back(a, b);
    ++g.degree[a];
    ++g.degree[b];
  }
  std::vector<int> parent(g.nodes.size());
  std::iota(parent.begin(), parent.end(), 0);
  auto find = [&](int v) {
    while (parent[v] != v) v = parent[v] = parent[parent[v]];
    return v;
  };
  for (auto [a, b] : g.edges) parent[find(a)] = find(b);
  for (int v = 0; v < static_cast<int>(parent.size()); ++v) g.components += find(v) == v;
  return g;
}

int count_degree(const SegmentGraph& g, int d) {
  return static_cast<int>(std::count(g.degree.begin(), g.degree.end(), d));
}

bool bit_identical(const std::vector<Segment>& a, const std::vector<Segment>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(Segment)) == 0);
}

TEST(Skeletonize, TriangleAndQuadrilateralGiveNothing) {
  EXPECT_TRUE(skeletonize({{0, 0}, {4, 0}, {0, 3}}, {}).empty());
  EXPECT_TRUE(skeletonize(square(0, 0, 1), {}).empty());
  EXPECT_TRUE(skeletonize({{0, 0}, {5, 0}, {6, 3}, {2, 5}, {-1, 2}}, {}).empty());
}

TEST(Skeletonize, ThinRectangleGivesOnePathThatStopsShortOfTheEnds) {
  const Ring outer = sampled({{0, 0}, {100, 0}, {100, 2}, {0, 2}}, 0.5);
  const std::vector<Segment> segments = skeletonize(outer, {});
  const SegmentGraph g = graph_of(segments);
  EXPECT_EQ(g.components, 1);
  EXPECT_EQ(count_degree(g, 1), 2);
  EXPECT_EQ(count_degree(g, 2), static_cast<int>(g.nodes.size()) - 2);
  EXPECT_EQ(g.edges.size(), g.nodes.size() - 1);
  double lo = std::numeric_limits<double>::infinity();
  double hi = -lo;
  for (const Point& p : g.nodes) {
    EXPECT_NEAR(p.y, 1.0, 1e-8);
    lo = std::min(lo, p.x);
    hi = std::max(hi, p.x);
  }
  // The first interior edge joins ring vertices three steps apart, at x >= 0.5.
  EXPECT_GT(lo, 0.5 - 1e-8);
  EXPECT_LT(lo, 1.0);
  EXPECT_LT(hi, 99.5 + 1e-8);
  EXPECT_GT(hi, 99.0);
}

TEST(Skeletonize, PlusShapeGivesThreeArmedStarsJoiningFourArms) {
  const Ring outer = sampled({{-1, -6}, {1, -6}, {1, -1}, {6, -1}, {6, 1}, {1, 1},
                              {1, 6}, {-1, 6}, {-1, 1}, {-6, 1}, {-6, -1}, {-1, -1}},
                             0.25);
  const std::vector<Segment> segments = skeletonize(outer, {});
  const SegmentGraph g = graph_of(segments);
  EXPECT_EQ(g.components, 1);
  EXPECT_EQ(g.edges.size(), g.nodes.size() - 1);  // a tree
  EXPECT_EQ(count_degree(g, 1), 4);                // one free end per arm
  const int junctions = count_degree(g, 3);
  EXPECT_GE(junctions, 1);
  EXPECT_EQ(count_degree(g, 1) + count_degree(g, 2) + junctions, static_cast<int>(g.nodes.size()));
  for (int v = 0; v < static_cast<int>(g.nodes.size()); ++v) {
    if (g.degree[v] != 3) continue;
    // A star: three segments from edge midpoints that all end at the centroid,
    // which lies near the crossing.
    int arms = 0;
    for (std::size_t k = 0; k < segments.size(); ++k) arms += g.edges[k].second == v;
    EXPECT_EQ(arms, 3);
    EXPECT_LT(std::abs(g.nodes[v].x), 1.0);
    EXPECT_LT(std::abs(g.nodes[v].y), 1.0);
  }
  for (int v = 0; v < static_cast<int>(g.nodes.size()); ++v) {
    if (g.degree[v] != 1) continue;
    EXPECT_GT(std::max(std::abs(g.nodes[v].x), std::abs(g.nodes[v].y)), 5.0);
  }
}

class BandAroundHole : public testing::TestWithParam<bool> {};

TEST_P(BandAroundHole, EdgesBetweenRingsAreInteriorWhateverTheirPositions) {
  const std::vector<Segment> segments = skeletonize(square(0, 0, 10), {square(3, 3, 4, GetParam())});
  ASSERT_EQ(segments.size(), 8u);
  const SegmentGraph g = graph_of(segments);
  EXPECT_EQ(g.components, 1);
  EXPECT_EQ(g.nodes.size(), 8u);
  EXPECT_EQ(count_degree(g, 2), 8);  // one closed loop around the hole
}

INSTANTIATE_TEST_SUITE_P(HoleOrientation, BandAroundHole, testing::Bool());

TEST(Skeletonize, TwoPointHoleIsIgnored) {
  const Ring outer = sampled({{0, 0}, {30, 0}, {30, 2}, {0, 2}}, 0.5);
  const std::vector<Segment> plain = skeletonize(outer, {});
  EXPECT_FALSE(plain.empty());
  EXPECT_TRUE(bit_identical(skeletonize(outer, {{{5, 1}, {6, 1}}}), plain));
}

TEST(Skeletonize, NonFiniteCoordinatesGiveEmptyResult) {
  for (double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                     -std::numeric_limits<double>::infinity()}) {
    Ring outer = sampled({{0, 0}, {30, 0}, {30, 2}, {0, 2}}, 0.5);
    outer[7].y = bad;
    EXPECT_TRUE(skeletonize(outer, {}).empty());
    Ring hole = square(3, 3, 2);
    hole[0].x = bad;
    EXPECT_TRUE(skeletonize(square(0, 0, 10), {hole}).empty());
  }
}

TEST(Skeletonize, CrossingRingsGiveEmptyResult) {
  EXPECT_TRUE(skeletonize({{0, 0}, {10, 10}, {10, 0}, {0, 10}}, {}).empty());
  EXPECT_TRUE(skeletonize(square(0, 0, 10), {square(8, 8, 4)}).empty());
}

TEST(Skeletonize, TwoRunsAreBitIdentical) {
  const Ring outer = sampled({{-1, -6}, {1, -6}, {1, -1}, {6, -1}, {6, 1}, {1, 1},
                              {1, 6}, {-1, 6}, {-1, 1}, {-6, 1}, {-6, -1}, {-1, -1}},
                             0.3);
  const std::vector<Ring> holes{square(-0.5, -0.5, 0.4, false)};
  const std::vector<Segment> first = skeletonize(outer, holes);
  EXPECT_FALSE(first.empty());
  EXPECT_TRUE(bit_identical(first, skeletonize(outer, holes)));
}

}  // namespace
}  // namespace strokegraph
