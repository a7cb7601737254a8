#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <random>
#include <string>

#include "boundary/curvature_index.h"
#include "boundary/local_simplify.h"
#include "boundary/preprocess.h"
#include "boundary/resample.h"
#include "boundary_test_util.h"
#include "common/errors.h"
#include "common/rdp.h"

using namespace strokegraph;
using namespace boundary_test;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kOff = 0.0;  // boundary_simplification that keeps every vertex

std::vector<BufferPolygon> one(const Ring& ring) { return {{ring, {}}}; }

Ring preprocess_ring(const Ring& ring, double feature_size, double buffer_distance,
                     std::optional<double> ratio, std::optional<double> resample) {
  return preprocess_boundaries(one(ring), feature_size, buffer_distance, ratio, resample, kOff)[0]
      .outer;
}

std::string memory_message(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const MemoryLimitError& e) {
    return e.what();
  }
  return "no MemoryLimitError";
}

}  // namespace

TEST(SubdivideRing, SplitsLongEdgesIncludingTheClosingOne) {
  EXPECT_EQ(subdivide_ring(square(10), 3.0).size(), 16u);
  EXPECT_EQ(subdivide_ring(square(3), 3.0), square(3));  // exactly max_edge: kept
  const Ring out = subdivide_ring({{0, 0}, {6.6, 0}, {0, 1}}, 3.0);  // 2.2 x max_edge
  ASSERT_GE(out.size(), 3u);
  EXPECT_DOUBLE_EQ(out[1].x, 6.6 * (1.0 / 3.0));
  EXPECT_DOUBLE_EQ(out[2].x, 6.6 * (2.0 / 3.0));
  EXPECT_EQ(subdivide_ring({{0, 0}, {3.1, 0}}, 3.0).size(), 4u);  // there and back
  EXPECT_TRUE(subdivide_ring({}, 1.0).empty());
  EXPECT_EQ(subdivide_ring({{1, 1}}, 1.0).size(), 1u);
}

TEST(Preprocess, SquareBySubdivisionWithoutRefinement) {
  for (const double b : {0.0, -1.0, kNaN}) {
    const auto out = preprocess_boundaries(one(square(10)), 2.0, b, std::nullopt, std::nullopt,
                                           std::nullopt);
    EXPECT_EQ(out[0].outer.size(), 16u) << b;
  }
}

TEST(Preprocess, SwitchesThatSelectPlainSubdivision) {
  const Ring plain = subdivide_ring(square(10), 1.5);
  const Ring refined = preprocess_ring(square(10), 1.0, 1.0, std::nullopt, std::nullopt);
  EXPECT_GT(refined.size(), plain.size());
  EXPECT_TRUE(in_order(refined, plain));
  for (const double ratio : {0.0, -1.0, kNaN}) {
    EXPECT_EQ(preprocess_ring(square(10), 1.0, 1.0, ratio, std::nullopt), plain);
  }
  for (const double resample : {0.0, -2.0, kNaN}) {
    EXPECT_EQ(preprocess_ring(square(10), 1.0, 1.0, std::nullopt, resample), refined);
  }
  EXPECT_EQ(preprocess_ring(square(10), 1.0, 0.0, 0.5, std::nullopt), plain);
}

TEST(Preprocess, ZeroBufferDistanceSwitchesRefinementOff) {
  // The hole's right-angle corner sits exactly on the midpoint of the outer
  // ring's bottom edge; refining there with buffer_distance 0 would ask for
  // pieces of length 0.
  const std::vector<BufferPolygon> in{{square(10), {{{5, 0}, {6, 1}, {4, 1}}}}};
  const auto out = preprocess_boundaries(in, 10.0, 0.0, 0.5, std::nullopt, kOff);
  EXPECT_EQ(out, in);
}

TEST(Preprocess, RatioBelowOneHundredthActsAsOneHundredth) {
  const Ring floor = preprocess_ring(square(10), 1.0, 1.0, 0.01, std::nullopt);
  EXPECT_EQ(preprocess_ring(square(10), 1.0, 1.0, 0.001, std::nullopt), floor);
  EXPECT_NE(preprocess_ring(square(10), 1.0, 1.0, 0.02, std::nullopt), floor);
}

TEST(Preprocess, ResamplingPath) {
  EXPECT_EQ(preprocess_ring(square(10), 1.0, 1.0, 0.0, 3.0),
            resample_ring(square(10), 3.0, kPi / 3));
  const Ring adaptive = preprocess_ring(square(10), 1.0, 1.0, std::nullopt, 1.0);
  EXPECT_GT(adaptive.size(), 40u);  // denser than uniform spacing 1 near the corners
  EXPECT_TRUE(in_order(adaptive, square(10)));
}

TEST(Preprocess, KeepsPolygonsAndHolesInOrder) {
  const Ring hole_a = {{2, 2}, {2, 3}, {3, 3}, {3, 2}}, hole_b = {{5, 5}, {5, 7}, {7, 7}, {7, 5}};
  std::vector<BufferPolygon> in{{square(10), {hole_a, hole_b}}, {{{0, 0}, {1, 1}}, {}}};
  const auto out = preprocess_boundaries(in, 1.0, 0.5, std::nullopt, std::nullopt, kOff);
  ASSERT_EQ(out.size(), 2u);
  ASSERT_EQ(out[0].holes.size(), 2u);
  EXPECT_TRUE(in_order(out[0].holes[0], hole_a));
  EXPECT_TRUE(in_order(out[0].holes[1], hole_b));
  EXPECT_EQ(out[1].outer.size(), 2u);
}

TEST(Preprocess, HugeBufferDistanceDoesNotHang) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(preprocess_ring(square(10), 1.0, inf, std::nullopt, std::nullopt),
            subdivide_ring(square(10), 1.5));
  EXPECT_EQ(preprocess_ring(square(10), 1.0, 1e308, std::nullopt, 2.0).size(), 20u);
}

struct DensityCase {
  double feature_size, buffer_distance;
  std::optional<double> ratio, resample;
  const char* blamed;
};

class DensityGuard : public testing::TestWithParam<DensityCase> {};

TEST_P(DensityGuard, ThrowsMemoryLimitNamingTheParameter) {
  const DensityCase c = GetParam();
  const std::string message = memory_message(
      [&] { preprocess_ring(square(1000), c.feature_size, c.buffer_distance, c.ratio,
                            c.resample); });
  EXPECT_EQ(message.rfind(c.blamed, 0), 0u) << message;
  EXPECT_NE(message.find("more than 50000000 points"), std::string::npos) << message;
}

INSTANTIATE_TEST_SUITE_P(
    Parameters, DensityGuard,
    testing::Values(DensityCase{1e-9, 0.0, std::nullopt, std::nullopt, "feature_size=0.000000001"},
                    DensityCase{1.0, 0.0, std::nullopt, 1e-9, "resample=0.000000001"},
                    DensityCase{1.0, 1.0, std::nullopt, 1e-9, "resample=0.000000001"}));

TEST(DensityGuard, EveryDensifyingRoutineStopsAtItsBudget) {
  const PointBudget small{100, ""};
  CurvatureIndex index = make_curvature_index(4.0);
  record(index, 500, -1, kPi / 2);
  const Ring ring{{0, 0}, {1000, 0}, {500, -900}};
  const auto blames = [](const std::function<void()>& fn, const char* name) {
    const std::string message = memory_message(fn);
    EXPECT_EQ(message.rfind(name, 0), 0u) << message;
  };
  blames([&] { subdivide_ring(ring, 1.0, small); }, "max_edge=1");
  blames([&] { resample_ring(ring, 1.0, kPi / 3, small); }, "spacing=1");
  blames([&] { refine_ring_from_index(ring, index, 1.0, 0.01, small); }, "buffer_distance=1");
  // Steps of 100 away from the corner, about 25 near it: more than 20 points.
  CurvatureIndex wide = make_curvature_index(400.0);
  record(wide, 500, -1, kPi / 2);
  blames([&] { resample_ring_adaptive(ring, wide, 100.0, 100.0, 0.5, kPi / 3, {20, ""}); },
         "spacing=100 with buffer_distance=100");
  EXPECT_EQ(resample_ring_adaptive(ring, wide, 100.0, 100.0, 0.5, kPi / 3).size() > 20, true);
}

// Random star-shaped rings, some with repeated and collinear vertices.
TEST(BoundaryProperties, RandomRings) {
  std::mt19937_64 rng(20240611);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int trial = 0; trial < 200; ++trial) {
    const int n = 3 + static_cast<int>(unit(rng) * 40);
    const double scale = 0.5 + unit(rng) * 30;
    Ring ring;
    for (int i = 0; i < n; ++i) {
      const double a = 2 * kPi * (i + 0.8 * unit(rng)) / n;
      const double r = scale * (0.3 + unit(rng));
      ring.push_back({r * std::cos(a), r * std::sin(a)});
      if (unit(rng) < 0.1) ring.push_back(ring.back());
    }
    const double b = 0.1 + unit(rng) * 3, q = 0.01 + unit(rng), s = 0.2 + unit(rng) * 5;
    CurvatureIndex index = make_curvature_index(4 * b);
    add_ring(index, ring, unit(rng) * kPi / 2);
    const auto finite = [](const Ring& out) {
      return std::all_of(out.begin(), out.end(),
                         [](const Point& p) { return std::isfinite(p.x) && std::isfinite(p.y); });
    };
    Ring anchors;
    for (const std::size_t i : corner_anchors(ring, kPi / 3)) anchors.push_back(ring[i]);

    const Ring uniform = resample_ring(ring, s, kPi / 3);
    const Ring adaptive = resample_ring_adaptive(ring, index, s, b, q, kPi / 3);
    const Ring refined = refine_ring_from_index(ring, index, b, q);
    const Ring subdivided = subdivide_ring(ring, s);
    for (const Ring* out : {&uniform, &adaptive, &refined, &subdivided}) {
      ASSERT_TRUE(finite(*out)) << trial;
    }
    for (const Ring* out : {&uniform, &adaptive}) {
      if (*out == ring || anchors.empty()) continue;
      EXPECT_EQ(out->front(), anchors.front()) << trial;
      EXPECT_TRUE(in_order(*out, anchors)) << trial;
    }
    EXPECT_TRUE(in_order(refined, ring)) << trial;
    const std::size_t cut = 1 + trial % (ring.size() - 1);
    Ring joined = refine_ring_stretch(ring, index, b, q, 0, cut);
    const Ring rest = refine_ring_stretch(ring, index, b, q, cut, ring.size());
    joined.insert(joined.end(), rest.begin(), rest.end());
    EXPECT_EQ(joined, refined) << trial;
    EXPECT_TRUE(in_order(subdivided, ring)) << trial;
    const auto whole = preprocess_boundaries(one(ring), s, b, q, std::nullopt, kOff);
    EXPECT_TRUE(in_order(whole[0].outer, ring)) << trial;
  }
}

// Drawings large enough to be done on the pool come out as the steps done
// ring by ring in order: simplification, subdivision, one corner index over
// all rings, refinement.
class ManyRings : public testing::TestWithParam<bool> {};

TEST_P(ManyRings, SameAsRingByRing) {
  const bool locally = GetParam();
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const auto star = [&](double cx, double cy, double scale, int n) {
    Ring ring;
    for (int i = 0; i < n; ++i) {
      const double a = 2 * kPi * (i + 0.5 * unit(rng)) / n, r = scale * (0.6 + 0.4 * unit(rng));
      ring.push_back({cx + r * std::cos(a), cy + r * std::sin(a)});
    }
    return ring;
  };
  std::vector<BufferPolygon> in;
  for (int k = 0; k < 40; ++k) {
    BufferPolygon polygon{star(100.0 * k, 0, 40, 150), {}};
    for (int h = 0; h < k % 4; ++h) polygon.holes.push_back(star(100.0 * k - 15 + 10 * h, 0, 4, 30));
    in.push_back(polygon);
  }
  const double feature = 2.0, b = 1.0, tolerance = 0.1;
  std::vector<BufferPolygon> want = in;
  std::vector<Ring*> rings;
  for (BufferPolygon& polygon : want) {
    if (locally) simplify_polygon_locally(polygon, tolerance, kLocalSimplificationCell * tolerance);
    rings.push_back(&polygon.outer);
    for (Ring& hole : polygon.holes) rings.push_back(&hole);
  }
  CurvatureIndex index = make_curvature_index(4.0 * b);
  for (Ring* ring : rings) {
    if (!locally) *ring = rdp(*ring, tolerance);
    *ring = subdivide_ring(*ring, 1.5 * feature);
    add_ring(index, *ring, kPi / 4);
  }
  for (Ring* ring : rings) *ring = refine_ring_from_index(*ring, index, b, 0.5);
  EXPECT_EQ(preprocess_boundaries(in, feature, b, std::nullopt, std::nullopt, tolerance, locally),
            want);
}

INSTANTIATE_TEST_SUITE_P(Simplification, ManyRings, testing::Bool());
