// Raw band outlines: resolved by the Positive rule they are the band, as the
// offsetter's own bands are, and united raw they give the region the tiles'
// resolved bands give.
#include <clipper2/clipper.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

#include "common/geometry.h"
#include "inflate/inflate.h"
#include "inflate/outline.h"

namespace strokegraph {
namespace {

using namespace Clipper2Lib;

constexpr double kTolerance = 0.05;  // arc tolerance, x the radius

PathsD resolved(const std::vector<Point>& ring) {
  PathD path;
  for (const Point& p : ring) path.emplace_back(p.x, p.y);
  return Union(PathsD{path}, FillRule::Positive, 6);
}

double distance_to(Point p, const std::vector<Point>& curve) {
  double best = std::hypot(p.x - curve[0].x, p.y - curve[0].y);
  for (std::size_t k = 1; k < curve.size(); ++k) {
    const Point a = curve[k - 1], b = curve[k];
    const double dx = b.x - a.x, dy = b.y - a.y, l2 = dx * dx + dy * dy;
    const double t = l2 > 0.0 ? std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / l2, 0.0, 1.0) : 0.0;
    best = std::min(best, std::hypot(p.x - a.x - t * dx, p.y - a.y - t * dy));
  }
  return best;
}

// Wandering strokes whose turns range from gentle to folding back, with
// repeated points, at a spacing from well below the radius to above it.
std::vector<Point> wandering(std::mt19937& rng, double spacing, double turn) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::uniform_int_distribution<int> count(2, 40);
  std::vector<Point> pts{{u(rng) * 10.0, u(rng) * 10.0}};
  double heading = u(rng) * std::numbers::pi;
  const int n = count(rng);
  for (int k = 1; k < n; ++k) {
    if (u(rng) > 0.9) {
      pts.push_back(pts.back());
      continue;
    }
    heading += turn * u(rng);
    const double step = spacing * (1.0 + 0.5 * u(rng));
    pts.push_back({pts.back().x + step * std::cos(heading), pts.back().y + step * std::sin(heading)});
  }
  return pts;
}

struct Case {
  double spacing, turn;
  EndCaps caps;
};

class OutlineCases : public ::testing::TestWithParam<Case> {};

// The resolved outline's boundary keeps to the circle of the radius round
// the stroke (inside by at most the arc tolerance at chords, outside by at
// most a quarter of it at miters), and covers the area the offsetter's band does
// within what those allowances add up to.
TEST_P(OutlineCases, ResolvedOutlineIsTheBand) {
  const Case c = GetParam();
  std::mt19937 rng(7);
  for (int trial = 0; trial < 60; ++trial) {
    const double r = 0.5 + trial % 4;
    // The first stroke is one point drawn twice: a disc.
    const std::vector<Point> curve =
        trial == 0 ? std::vector<Point>{{1.0, 2.0}, {1.0, 2.0}} : wandering(rng, c.spacing * r, c.turn);
    std::vector<Point> ring;
    stroke_outline(curve, r, c.caps, kTolerance * r, ring);
    const PathsD band = resolved(ring);
    ASSERT_FALSE(band.empty());
    const bool square = c.caps.front == Cap::Square || c.caps.back == Cap::Square;
    for (const PathD& path : band) {
      for (std::size_t k = 0; k < path.size(); ++k) {
        const PointD a = path[k], b = path[(k + 1) % path.size()];
        for (const Point p : {Point{a.x, a.y}, Point{0.5 * (a.x + b.x), 0.5 * (a.y + b.y)}}) {
          const double d = distance_to(p, curve) / r;
          // Butt and square ends cross the stroke's end.
          const bool near_end = std::hypot(p.x - curve.front().x, p.y - curve.front().y) < 1.5 * r ||
                                std::hypot(p.x - curve.back().x, p.y - curve.back().y) < 1.5 * r;
          if (!(near_end && !(c.caps == EndCaps{Cap::Round, Cap::Round}))) {
            EXPECT_GE(d, 1.0 - kTolerance - 1e-5) << trial;
          }
          // A square cap's corners lie sqrt(2) radii from its end.
          EXPECT_LE(d, (square ? std::sqrt(2.0) : 1.0 + 0.25 * kTolerance) + 1e-5) << trial;
        }
      }
    }
    if (c.caps.front == c.caps.back) {
      PathD path;
      for (const Point& p : curve) path.emplace_back(p.x, p.y);
      const EndType end = c.caps.front == Cap::Round ? EndType::Round
                          : c.caps.front == Cap::Butt ? EndType::Butt
                                                      : EndType::Square;
      const PathsD theirs = InflatePaths(PathsD{path}, r, JoinType::Round, end, 0.0, 6, kTolerance * r);
      const double difference = Area(Xor(band, theirs, FillRule::NonZero, 6));
      EXPECT_LE(difference, 0.02 * Area(theirs)) << trial;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Strokes, OutlineCases,
    ::testing::Values(Case{0.3, 0.3, {Cap::Round, Cap::Round}}, Case{0.3, 2.5, {Cap::Round, Cap::Round}},
                      Case{1.5, 3.1, {Cap::Round, Cap::Round}}, Case{0.2, 3.1, {Cap::Butt, Cap::Butt}},
                      Case{1.0, 1.0, {Cap::Round, Cap::Square}}, Case{0.5, 1.5, {Cap::Butt, Cap::Round}}));

// The clean pipeline's raw outlines, united, cover what its resolved bands
// (the tiles' input) cover, hole for hole.
TEST(Outline, RawAndResolvedBandsUniteToTheSameRegion) {
  std::mt19937 rng(11);
  std::vector<Polyline> curves;
  for (int k = 0; k < 40; ++k) curves.push_back(wandering(rng, 0.8, 1.2));
  curves.push_back({{0.0, 0.0}, {6.0, 0.0}, {6.0, 6.0}, {0.0, 6.0}, {0.0, 0.0}});  // a ring with a hole
  const std::vector<EndCaps> caps(curves.size(), EndCaps{Cap::Round, Cap::Round});
  const double r = 1.0;
  auto united = [&](bool raw) {
    PathsD out;
    for (const BufferPolygon& polygon :
         unite_bands(offset_bands(curves, std::nullopt, r, r, &caps, raw), r)) {
      std::vector<const Ring*> rings{&polygon.outer};
      for (const Ring& hole : polygon.holes) rings.push_back(&hole);
      for (const Ring* ring : rings) {
        out.emplace_back();
        for (const Point& p : *ring) out.back().emplace_back(p.x, p.y);
      }
    }
    return out;
  };
  const PathsD raw = united(true), resolved_bands = united(false);
  ASSERT_EQ(raw.size(), resolved_bands.size());
  EXPECT_LE(Area(Xor(raw, resolved_bands, FillRule::NonZero, 6)), 1e-6 * Area(raw));
}

// The thinned path keeps both ends, keeps every point of the stroke within
// the tolerance of it, and keeps the tip where a stroke turns straight back
// (its points on the line of the ends).
TEST(Outline, BandPathKeepsEveryPointWithinTheTolerance) {
  std::mt19937 rng(5);
  for (int k = 0; k < 60; ++k) {
    const std::vector<Point> pts = wandering(rng, 0.1 + 0.02 * k, 0.1 + 0.05 * k);
    const double tolerance = 0.03 * (1 + k % 4);
    const std::vector<Point> kept = band_path(pts, tolerance);
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(kept.front(), pts.front());
    EXPECT_EQ(kept.back(), pts.back());
    EXPECT_LE(kept.size(), pts.size());
    for (const Point& p : pts) EXPECT_LE(distance_to(p, kept), tolerance * (1.0 + 1e-12));
  }
  const std::vector<Point> back{{0.0, 0.0}, {1.0, 0.0}, {2.0, 0.0}, {1.5, 0.0}, {0.5, 0.0}};
  EXPECT_EQ(band_path(back, 0.1), (std::vector<Point>{{0.0, 0.0}, {2.0, 0.0}, {0.5, 0.0}}));
  EXPECT_EQ(band_path({{1.0, 1.0}, {2.0, 1.0}}, 0.1).size(), 2u);
}

}  // namespace
}  // namespace strokegraph
