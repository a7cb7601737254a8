// The union of round bands traced from the distance to the curves, against
// the offset bands united by Clipper2: the same region up to the grid's and
// the arcs' tolerance, rings oriented as the union orients them.
#include <clipper2/clipper.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "inflate/field_union.h"
#include "inflate/inflate.h"

namespace strokegraph {
namespace {

using namespace Clipper2Lib;

PathsD as_paths(const std::vector<Ring>& rings) {
  PathsD out;
  for (const Ring& ring : rings) {
    PathD p;
    for (const Point& q : ring) p.emplace_back(q.x, q.y);
    out.push_back(p);
  }
  return out;
}

// The offset bands (round caps and joins, arcs within r / 200) united.
PathsD offset_union(const std::vector<Polyline>& curves, double r) {
  const std::vector<EndCaps> caps(curves.size(), EndCaps{Cap::Round, Cap::Round});
  // A small feature size gives fine arcs (tolerance 0.2 x feature size).
  return Union(as_paths(offset_bands(curves, std::nullopt, r, r / 40.0, &caps)), FillRule::NonZero, 6);
}

struct Case {
  const char* name;
  std::vector<Polyline> curves;
  std::size_t outers, holes;
};

std::vector<Polyline> noisy_traces(unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, 0.35);
  std::vector<Polyline> out;
  for (int t = 0; t < 8; ++t) {
    Polyline c;
    for (int k = 0; k <= 30; ++k) c.push_back({k + noise(rng), noise(rng)});
    for (int k = 1; k <= 30; ++k) c.push_back({30 + noise(rng), k + noise(rng)});
    out.push_back(c);
  }
  return out;
}

// Segments apart from each other at slopes from nearly flat to nearly
// upright (either side of where a segment's rows are cut to its rectangle),
// far from the origin.
std::vector<Polyline> sloped_segments() {
  std::vector<Polyline> out;
  const double degrees[] = {0.03, 0.1, 7.0, 45.0, 83.0, 89.95, 135.0};
  for (std::size_t k = 0; k < std::size(degrees); ++k) {
    const double a = degrees[k] * M_PI / 180.0;
    const Point mid{1e4 + 30.0 * double(k), -2e4 + 0.37 * double(k)};
    out.push_back({{mid.x - 5.0 * std::cos(a), mid.y - 5.0 * std::sin(a)},
                   {mid.x + 5.0 * std::cos(a), mid.y + 5.0 * std::sin(a)}});
  }
  return out;
}

std::vector<Case> cases() {
  return {
      {"one segment", {{{0, 0}, {10, 0}}}, 1, 0},
      {"a point drawn twice", {{{3, 3}, {3, 3}}}, 1, 0},
      {"a square loop with its hole", {{{0, 0}, {20, 0}, {20, 20}, {0, 20}, {0, 0}}}, 1, 1},
      {"two apart, one crossing", {{{0, 0}, {10, 0}}, {{5, -5}, {5, 5}}, {{30, 0}, {40, 3}}}, 2, 0},
      {"a hairpin", {{{0, 0}, {10, 0}, {10, 1}, {0, 1.2}}}, 1, 0},
      {"noisy traces on a corner", noisy_traces(3), 1, 0},
      {"segments at many slopes", sloped_segments(), 7, 0},
  };
}

class FieldUnion : public ::testing::TestWithParam<Case> {};

TEST_P(FieldUnion, SameRegionAsTheOffsetBandsUnited) {
  const Case& c = GetParam();
  const double r = 1.5, cell = r / 6.0;
  const auto rings = round_band_union(c.curves, r, cell, 1e8);
  ASSERT_TRUE(rings.has_value());
  std::size_t outers = 0, holes = 0;
  for (const PathD& ring : as_paths(*rings)) {
    ASSERT_GE(ring.size(), 3u);
    (Area(ring) > 0.0 ? outers : holes) += 1;  // counter-clockwise: outer
  }
  EXPECT_EQ(outers, c.outers) << c.name;
  EXPECT_EQ(holes, c.holes) << c.name;
  // Same region: what lies in one and not the other is a thin sliver along
  // the outline, well under a tenth of a cell wide on average.
  const PathsD field = as_paths(*rings), exact = offset_union(c.curves, r);
  const double outline = [&] {
    double length = 0.0;
    for (const PathD& p : exact)
      for (std::size_t k = 0; k < p.size(); ++k)
        length += std::hypot(p[(k + 1) % p.size()].x - p[k].x, p[(k + 1) % p.size()].y - p[k].y);
    return length;
  }();
  const double apart = std::fabs(Area(Xor(field, exact, FillRule::NonZero, 6)));
  EXPECT_LT(apart, 0.05 * cell * outline) << c.name;
  // And the area as a whole agrees closely.
  EXPECT_NEAR(Area(field), Area(exact), 0.02 * cell * outline) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Shapes, FieldUnion, ::testing::ValuesIn(cases()),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           for (char& ch : name)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return name;
                         });

TEST(FieldUnion, NothingToUniteOrTooLarge) {
  EXPECT_TRUE(round_band_union({}, 1.0, 0.2, 1e8)->empty());
  EXPECT_TRUE(round_band_union({{{1, 1}}}, 1.0, 0.2, 1e8)->empty());  // one point: no band
  EXPECT_FALSE(round_band_union({{{0, 0}, {NAN, 1}}}, 1.0, 0.2, 1e8).has_value());
  EXPECT_FALSE(round_band_union({{{0, 0}, {1e6, 0}}}, 1.0, 0.2, 1e6).has_value());
  EXPECT_FALSE(round_band_union({{{0, 0}, {1, 0}}}, 0.0, 0.2, 1e8).has_value());
}

TEST(FieldUnion, SameRingsWhateverTheOrderOfTheCurves) {
  std::vector<Polyline> curves = noisy_traces(5);
  const auto forward = round_band_union(curves, 1.5, 0.25, 1e8);
  std::reverse(curves.begin(), curves.end());
  const auto backward = round_band_union(curves, 1.5, 0.25, 1e8);
  ASSERT_TRUE(forward && backward);
  EXPECT_EQ(*forward, *backward);
}

}  // namespace
}  // namespace strokegraph
