// Ramer-Douglas-Peucker simplification and input decimation.
#include <gtest/gtest.h>
#include <pthread.h>

#include <cmath>
#include <ostream>
#include <random>

#include "common/rdp.h"

namespace strokegraph {

static void PrintTo(const Point& p, std::ostream* os) { *os << "(" << p.x << ", " << p.y << ")"; }

namespace {

// The textbook recursion, written as plainly as possible.
std::vector<Point> rdp_reference(const std::vector<Point>& pts, double eps) {
  const std::size_t n = pts.size();
  if (n < 3) return pts;
  const Point a = pts.front(), b = pts.back();
  const double dx = b.x - a.x, dy = b.y - a.y, l2 = dx * dx + dy * dy;
  double dmax = 0.0;
  std::size_t k = 0;
  for (std::size_t i = 1; i + 1 < n; ++i) {
    const Point p = pts[i];
    double d;
    if (l2 != 0.0) {
      const double t = (dx * (p.x - a.x) + dy * (p.y - a.y)) / l2;
      const double fx = a.x + dx * t, fy = a.y + dy * t;
      d = std::sqrt((fx - p.x) * (fx - p.x) + (fy - p.y) * (fy - p.y));
    } else {
      d = std::sqrt((p.x - a.x) * (p.x - a.x) + (p.y - a.y) * (p.y - a.y));
    }
    if (d > dmax) {
      dmax = d;
      k = i;
    }
  }
  if (dmax <= eps) return {a, b};
  std::vector<Point> left = rdp_reference({pts.begin(), pts.begin() + k + 1}, eps);
  const std::vector<Point> right = rdp_reference({pts.begin() + k, pts.end()}, eps);
  left.insert(left.end(), right.begin() + 1, right.end());
  return left;
}

struct RdpCase {
  const char* name;
  std::vector<Point> in;
  double eps;
  std::vector<Point> out;
};

class RdpCases : public testing::TestWithParam<RdpCase> {};

TEST_P(RdpCases, GivesTheExpectedPoints) {
  const RdpCase& c = GetParam();
  EXPECT_EQ(rdp(c.in, c.eps), c.out);
}

INSTANTIATE_TEST_SUITE_P(
    Rdp, RdpCases,
    testing::Values(
        RdpCase{"empty", {}, 1.0, {}}, RdpCase{"single", {{1, 2}}, 1.0, {{1, 2}}},
        RdpCase{"pair", {{0, 0}, {0, 0}}, 1.0, {{0, 0}, {0, 0}}},
        RdpCase{"collinear", {{0, 0}, {1, 0}, {2, 0}}, 0.1, {{0, 0}, {2, 0}}},
        RdpCase{"exactly_epsilon_dropped", {{0, 0}, {5, 1}, {10, 0}}, 1.0, {{0, 0}, {10, 0}}},
        RdpCase{"above_epsilon_kept", {{0, 0}, {5, 1}, {10, 0}}, 0.999, {{0, 0}, {5, 1}, {10, 0}}},
        RdpCase{"infinite_line", {{0, 0}, {20, 1}, {10, 0}}, 1.5, {{0, 0}, {10, 0}}},
        RdpCase{"closed_keeps_farthest",
                {{0, 0}, {1, 0}, {3, 0}, {1, 1}, {0, 0}},
                2.0,
                {{0, 0}, {3, 0}, {0, 0}}},
        RdpCase{"closed_all_near", {{0, 0}, {0.5, 0}, {0, 0.5}, {0, 0}}, 1.0, {{0, 0}, {0, 0}}},
        // Points 1, 2 and 3 all lie 2 from the chord; splitting at 1 first
        // drops 2, splitting at 2 first would drop 1.
        RdpCase{"first_maximum_wins",
                {{0, 0}, {1, -2}, {2, -2}, {3, 2}, {4, 0}},
                1.0,
                {{0, 0}, {1, -2}, {3, 2}, {4, 0}}}),
    [](const testing::TestParamInfo<RdpCase>& info) { return info.param.name; });

TEST(Rdp, MatchesTheRecursionOnRandomInput) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> coord(-10.0, 10.0);
  std::uniform_int_distribution<int> grid(-3, 3);  // small integers make ties and repeats
  for (int trial = 0; trial < 400; ++trial) {
    const std::size_t n = 3 + trial % 60;
    std::vector<Point> pts;
    for (std::size_t i = 0; i < n; ++i) {
      pts.push_back(trial % 2 ? Point{coord(rng), coord(rng)}
                              : Point{double(grid(rng)), double(grid(rng))});
    }
    if (trial % 5 == 0) pts.back() = pts.front();
    for (double eps : {0.01, 0.5, 1.0, 3.0}) {
      ASSERT_EQ(rdp(pts, eps), rdp_reference(pts, eps)) << "trial " << trial << " eps " << eps;
    }
  }
}

TEST(Rdp, NonPositiveOrNanEpsilonEnds) {
  const std::vector<Point> flat = {{0, 0}, {1, 0}, {2, 0}};
  // No distance exceeds 0, so there is no interior point to split at.
  EXPECT_EQ(rdp(flat, -1.0), (std::vector<Point>{{0, 0}, {2, 0}}));
  EXPECT_EQ(rdp({{0, 0}, {1, 1}, {2, 0}}, std::nan("")), (std::vector<Point>{{0, 0}, {2, 0}}));
}

// A 1,000,000-point input whose last 10,000 points form a zigzag that peels
// off one point per split (a recursion 10,000 deep), simplified on a thread
// with a 256 KiB stack.
TEST(Rdp, DeepSplitsUseNoStack) {
  constexpr std::size_t zigzag = 10000, total = 1000000;
  std::vector<Point> pts;
  for (std::size_t i = 0; i < zigzag; ++i) pts.push_back({double(i), i % 2 ? -1.0 : 1.0});
  const std::size_t bulk = total - zigzag;
  for (std::size_t i = 0; i < bulk; ++i) {
    const double t = double(i) / double(bulk - 1);
    pts.push_back({double(zigzag) + t * double(bulk), 1e6 * (1.0 - t)});
  }
  struct Job {
    const std::vector<Point>* in;
    std::vector<Point> out;
  } job{&pts, {}};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 256 * 1024);
  pthread_t thread;
  ASSERT_EQ(pthread_create(
                &thread, &attr,
                [](void* arg) -> void* {
                  auto* j = static_cast<Job*>(arg);
                  j->out = rdp(*j->in, 0.5);
                  return nullptr;
                },
                &job),
            0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
  std::vector<Point> expected(pts.begin(), pts.begin() + zigzag + 1);
  expected.push_back(pts.back());
  EXPECT_EQ(job.out, expected);
}

TEST(Decimate, KeepsEveryThirdPointOfATightLine) {
  std::vector<Point> pts;
  for (int i = 0; i <= 10; ++i) pts.push_back({0.1 * i, 0.0});
  const std::vector<Point> out = decimate_curve(pts, 0.25);
  // 0.1 steps accumulate rounding, so compare with what the squared test keeps.
  std::vector<Point> expected{pts[0]};
  Point anchor = pts[0];
  for (int i = 1; i < 10; ++i) {
    const double q = (pts[i].x - anchor.x) * (pts[i].x - anchor.x);
    if (q >= 0.0625) expected.push_back(anchor = pts[i]);
  }
  expected.push_back(pts[10]);
  EXPECT_EQ(out, expected);
  EXPECT_EQ(out, (std::vector<Point>{pts[0], pts[3], pts[6], pts[9], pts[10]}));
}

TEST(Decimate, EdgeCases) {
  EXPECT_TRUE(decimate_curve({}, 1.0).empty());
  EXPECT_EQ(decimate_curve({{1, 1}}, 1.0), (std::vector<Point>{{1, 1}}));
  EXPECT_EQ(decimate_curve({{0, 0}, {0, 0}}, 1.0), (std::vector<Point>{{0, 0}, {0, 0}}));
  // Interior points all close to the first: first and last only.
  EXPECT_EQ(decimate_curve({{0, 0}, {0.1, 0}, {0.2, 0.1}, {5, 0}}, 1.0),
            (std::vector<Point>{{0, 0}, {5, 0}}));
  // Exactly min_spacing away is kept; the last point comes even on top of it.
  EXPECT_EQ(decimate_curve({{0, 0}, {1, 0}, {1, 0}}, 1.0),
            (std::vector<Point>{{0, 0}, {1, 0}, {1, 0}}));
  // A NaN interior point is skipped, a NaN end kept.
  const double nan = std::nan("");
  const std::vector<Point> out = decimate_curve({{0, 0}, {nan, 0}, {2, 0}, {nan, 1}}, 1.0);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[1], (Point{2, 0}));
  EXPECT_TRUE(std::isnan(out[2].x));
}

TEST(Decimate, CurvesKeepCountAndOrderAndKeepAsIs) {
  const std::vector<Polyline> curves = {{}, {{0, 0}}, {{0, 0}, {0.01, 0}, {1, 0}}};
  const std::vector<Polyline> thinned = decimate_curves(curves, false, 0.15);
  EXPECT_EQ(thinned, (std::vector<Polyline>{{}, {{0, 0}}, {{0, 0}, {1, 0}}}));
  EXPECT_EQ(decimate_curves(curves, true, 0.15), curves);
}

}  // namespace
}  // namespace strokegraph
