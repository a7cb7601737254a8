#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "pipeline/widths.h"

using namespace strokegraph;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double brute_force(const Point& p, const std::vector<Point>& vertices) {
  double m = kInf;
  for (const Point& q : vertices) {
    const double dx = p.x - q.x;
    const double dy = p.y - q.y;
    const double d = dx * dx + dy * dy;
    if (d < m) m = d;  // NaN never compares less
  }
  return m;
}

}  // namespace

TEST(NearestVertex, MatchesBruteForceExactlyOnRandomClouds) {
  std::mt19937_64 rng(7);
  for (int round = 0; round < 20; ++round) {
    std::uniform_real_distribution<double> coord(-50.0, 50.0);
    // Grid-snapped coordinates create many ties and points on split lines.
    const bool snapped = round % 2 == 0;
    std::vector<Point> vertices(1 + rng() % 400);
    for (Point& v : vertices) {
      v = {coord(rng), coord(rng)};
      if (snapped) v = {std::round(v.x), std::round(v.y)};
    }
    NearestVertex index(vertices);
    for (int q = 0; q < 200; ++q) {
      Point p{coord(rng) * 1.5, coord(rng) * 1.5};
      if (snapped && q % 3 == 0) p = vertices[rng() % vertices.size()];
      ASSERT_EQ(index.min_squared_distance(p), brute_force(p, vertices));
    }
  }
}

TEST(NearestVertex, NonFiniteValuesFollowTheBruteForceRule) {
  std::vector<Point> vertices{{kNaN, 0}, {kInf, 1}, {3, 4}, {-kInf, -kInf}};
  NearestVertex index(vertices);
  for (Point p : {Point{0, 0}, Point{kNaN, 0}, Point{kInf, 1}, Point{1e308, -1e308}}) {
    EXPECT_EQ(index.min_squared_distance(p), brute_force(p, vertices));
  }
  EXPECT_EQ(NearestVertex({}).min_squared_distance({0, 0}), kInf);
}

TEST(MeasureWidths, TwiceTheDistanceToTheNearestVertex) {
  std::vector<Point> boundary{{0, -1}, {10, -1}, {10, 1}, {0, 1}};
  auto w = measure_widths({{{0, 0}, {5, 0}}, {}}, boundary);
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(w[0], (std::vector<double>{2.0, 2.0 * std::sqrt(26.0)}));
  EXPECT_TRUE(w[1].empty());
  EXPECT_EQ(measure_widths({{{1, 1}}}, {})[0][0], kInf);
}
