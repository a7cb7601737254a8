// Offsetting of curves into bands, union into polygons with holes, and the
// front of the pipelines that ends there.
#include <clipper2/clipper.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <ostream>
#include <random>

#include "common/errors.h"
#include "common/rdp.h"
#include "conditioning/merge.h"
#include "inflate/inflate.h"
#include "pipeline/front.h"
#include "pipeline/intermediates.h"

namespace strokegraph {
namespace {

double area_of(const Ring& r) {
  double sum = 0.0;
  for (std::size_t k = 0; k < r.size(); ++k) {
    const Point& a = r[k];
    const Point& b = r[(k + 1) % r.size()];
    sum += a.x * b.y - b.x * a.y;
  }
  return 0.5 * sum;
}

double open_length(const Ring& r) {
  double length = 0.0;
  for (std::size_t k = 1; k < r.size(); ++k)
    length += std::hypot(r[k].x - r[k - 1].x, r[k].y - r[k - 1].y);
  return length;
}

bool inside(Point p, const Ring& r) {
  bool in = false;
  for (std::size_t i = 0, j = r.size() - 1; i < r.size(); j = i++) {
    if ((r[i].y > p.y) != (r[j].y > p.y) &&
        p.x < r[i].x + (p.y - r[i].y) * (r[j].x - r[i].x) / (r[j].y - r[i].y)) {
      in = !in;
    }
  }
  return in;
}

Polyline square_loop(double lo, double hi) {
  return {{lo, lo}, {hi, lo}, {hi, hi}, {lo, hi}, {lo, lo}};
}

// Everything inflation promises about its polygons.
void expect_guarantees(const std::vector<BufferPolygon>& polygons, double fs) {
  double previous_length = 0.0;
  for (const BufferPolygon& polygon : polygons) {
    ASSERT_GE(polygon.outer.size(), 3u);
    const double outer_area = area_of(polygon.outer);
    EXPECT_GT(outer_area, 0.0);
    const double length = open_length(polygon.outer);
    EXPECT_GE(length, previous_length);
    previous_length = length;
    auto expect_no_near_duplicates = [](const Ring& ring) {
      for (std::size_t k = 1; k < ring.size(); ++k) {
        const double dx = ring[k].x - ring[k - 1].x, dy = ring[k].y - ring[k - 1].y;
        EXPECT_GT(dx * dx + dy * dy, 1e-10);
      }
    };
    expect_no_near_duplicates(polygon.outer);
    for (const Ring& hole : polygon.holes) expect_no_near_duplicates(hole);
    for (const Ring& hole : polygon.holes) {
      ASSERT_GE(hole.size(), 3u);
      const double a = area_of(hole);
      EXPECT_LT(a, 0.0);
      EXPECT_GE(-a, 0.1 * fs * fs);
      EXPECT_LT(-a, outer_area);
      EXPECT_TRUE(inside(hole[0], polygon.outer));
    }
  }
}

class Rectangle : public testing::TestWithParam<std::pair<double, double>> {};

TEST_P(Rectangle, TwoPointStrokeGivesCappedBand) {
  const auto [d, r] = GetParam();
  for (const std::optional<WidthLists>& widths :
       {std::optional<WidthLists>{}, std::optional(WidthLists{{r, r}})}) {
    const std::vector<BufferPolygon> out = inflate({{{2, 3}, {2 + d, 3}}}, widths, r, 1.0);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_TRUE(out[0].holes.empty());
    ASSERT_EQ(out[0].outer.size(), 4u);
    const Bounds b = bounds_of(out[0].outer);
    EXPECT_NEAR(b.xmin, 2 - r, 1e-6);
    EXPECT_NEAR(b.xmax, 2 + d + r, 1e-6);
    EXPECT_NEAR(b.ymin, 3 - r, 1e-6);
    EXPECT_NEAR(b.ymax, 3 + r, 1e-6);
    EXPECT_NEAR(area_of(out[0].outer), (d + 2 * r) * 2 * r, 1e-4);
  }
}

INSTANTIATE_TEST_SUITE_P(Inflate, Rectangle,
                         testing::Values(std::pair{10.0, 1.0}, std::pair{3.0, 0.25},
                                         std::pair{0.5, 2.0}));

// How far a band reaches past the end (10, 0) of a stroke along +x, and
// across it at the end's abscissa.
struct CapReach {
  double along = -1e9;
  double across = 0.0;
};

CapReach reach_of(const std::vector<Ring>& rings) {
  CapReach out;
  for (const Ring& ring : rings) {
    for (const Point& p : ring) {
      out.along = std::max(out.along, p.x - 10.0);
      if (p.x >= 10.0 - 1e-9) out.across = std::max(out.across, std::fabs(p.y));
    }
  }
  return out;
}

TEST(Inflate, EachEndTakesItsCap) {
  const std::vector<Polyline> curves = {{{0, 0}, {5, 0.5}, {6, 0}, {10, 0}}};
  const double r = 1.0;
  struct Case {
    Cap cap;
    double along_min, along_max;
  };
  for (const Case& c : {Case{Cap::Butt, 0.0, 0.0}, Case{Cap::Square, 1.0, 1.0 + 1e-6},
                        Case{Cap::Round, 0.95, 1.0 + 1e-6}}) {
    for (const EndCaps& ends : {EndCaps{c.cap, c.cap}, EndCaps{Cap::Butt, c.cap}}) {
      if (ends.front == Cap::Square && ends.back == Cap::Square) continue;  // exact layer's band
      const std::vector<EndCaps> caps = {ends};
      const CapReach reach = reach_of(offset_bands(curves, std::nullopt, r, r, &caps));
      EXPECT_GE(reach.along, c.along_min - 1e-6) << int(c.cap);
      EXPECT_LE(reach.along, c.along_max) << int(c.cap);
      // Variable widths of the same radius give the same reach.
      const CapReach variable =
          reach_of(inflate_curve_variable(curves[0], {r, r, r, r}, r, ends));
      EXPECT_NEAR(variable.along, reach.along, 1e-6) << int(c.cap);
      // A round cap is no wider than the band; a square one reaches its corners.
      if (c.cap == Cap::Round) {
        EXPECT_LE(reach.across, r + 1e-6);
      }
    }
  }
  // Without caps every band is the exact layer's (square caps and joins).
  const std::vector<EndCaps> squared = {{Cap::Square, Cap::Square}};
  EXPECT_EQ(offset_bands(curves, std::nullopt, r, r),
            offset_bands(curves, std::nullopt, r, r, &squared));
}

TEST(Inflate, NothingToOffset) {
  EXPECT_TRUE(inflate({}, std::nullopt, 1.0, 1.0).empty());
  EXPECT_TRUE(inflate({{}, {{1, 1}}}, std::nullopt, 1.0, 1.0).empty());
  EXPECT_TRUE(inflate({{}, {{1, 1}}}, WidthLists{{}, {1.0}}, 1.0, 1.0).empty());
}

TEST(Inflate, CrossingStrokesGiveOnePolygon) {
  const auto out = inflate({{{0, 0}, {10, 0}}, {{5, -5}, {5, 5}}}, std::nullopt, 1.0, 1.0);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_TRUE(out[0].holes.empty());
  EXPECT_NEAR(area_of(out[0].outer), 24.0 + 24.0 - 4.0, 1e-6);
}

TEST(Inflate, ClosedLoopHasAHoleUnlessTheGapIsSmall) {
  const auto big = inflate({square_loop(0, 10)}, std::nullopt, 1.0, 1.0);
  ASSERT_EQ(big.size(), 1u);
  ASSERT_EQ(big[0].holes.size(), 1u);
  EXPECT_NEAR(area_of(big[0].holes[0]), -64.0, 1e-6);
  expect_guarantees(big, 1.0);
  // A 2.3 loop leaves a 0.3 x 0.3 gap: 0.09 < 0.1 x fs^2, filled.
  const auto small = inflate({square_loop(0, 2.3)}, std::nullopt, 1.0, 1.0);
  ASSERT_EQ(small.size(), 1u);
  EXPECT_TRUE(small[0].holes.empty());
  // With fs 0.9 the threshold drops to 0.081 and the gap stays a hole.
  const auto kept = inflate({square_loop(0, 2.3)}, std::nullopt, 1.0, 0.9);
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].holes.size(), 1u);
}

TEST(Inflate, IslandIsItsOwnPolygonAndHolesFindTheirOuterRing) {
  const auto out = inflate({square_loop(0, 20), square_loop(6, 14)}, std::nullopt, 1.0, 1.0);
  ASSERT_EQ(out.size(), 2u);
  expect_guarantees(out, 1.0);
  // The island has the shorter outer ring and comes first.
  EXPECT_NEAR(bounds_of(out[0].outer).xmin, 5.0, 1e-9);
  ASSERT_EQ(out[0].holes.size(), 1u);
  EXPECT_NEAR(area_of(out[0].holes[0]), -36.0, 1e-6);
  ASSERT_EQ(out[1].holes.size(), 1u);
  EXPECT_NEAR(area_of(out[1].holes[0]), -324.0, 1e-6);
}

TEST(Inflate, HoleOfALongRingInsideAShortFrameStaysWithItsRing) {
  const Polyline frame = square_loop(-20, 20);
  Polyline wiggly;
  for (int k = 0; k < 200; ++k) {
    const double t = 2 * M_PI * k / 200, r = 10 + 3 * std::sin(20 * t);
    wiggly.push_back({r * std::cos(t), r * std::sin(t)});
  }
  wiggly.push_back(wiggly.front());
  const auto out = inflate({frame, wiggly}, std::nullopt, 0.5, 1.0);
  ASSERT_EQ(out.size(), 2u);
  expect_guarantees(out, 1.0);
  // The frame's outer ring is the shorter one, yet only its own hole is its.
  EXPECT_NEAR(bounds_of(out[0].outer).xmax, 20.5, 1e-9);
  ASSERT_EQ(out[0].holes.size(), 1u);
  EXPECT_NEAR(bounds_of(out[0].holes[0]).xmax, 19.5, 1e-9);
  EXPECT_EQ(out[1].holes.size(), 1u);
}

TEST(Inflate, NestedLoopsEachKeepTheHoleJustInsideThem) {
  // Concentric round loops of many points (the holes are then matched on the
  // pool): every outer ring holds all smaller holes, yet takes only the one
  // just inside it.
  std::vector<Polyline> loops;
  for (int k = 1; k <= 6; ++k) {
    Polyline loop;
    for (int i = 0; i < 1200; ++i) {
      const double t = 2 * M_PI * i / 1200;
      loop.push_back({10.0 * k * std::cos(t), 10.0 * k * std::sin(t)});
    }
    loop.push_back(loop.front());
    loops.push_back(std::move(loop));
  }
  const auto out = inflate(loops, std::nullopt, 1.0, 1.0);
  ASSERT_EQ(out.size(), 6u);
  expect_guarantees(out, 1.0);
  for (const BufferPolygon& polygon : out) {
    ASSERT_EQ(polygon.holes.size(), 1u);
    EXPECT_NEAR(bounds_of(polygon.holes[0]).xmax, bounds_of(polygon.outer).xmax - 2.0, 0.01);
  }
}

TEST(Inflate, WideningWidthsGiveAWideningBand) {
  const auto out = inflate({{{0, 0}, {5, 0}, {10, 0}}}, WidthLists{{1, 2, 3}}, 9.0, 1.0);
  ASSERT_EQ(out.size(), 1u);
  const Ring& r = out[0].outer;
  auto has = [&](Point p) {
    return std::any_of(r.begin(), r.end(),
                       [&](Point q) { return std::hypot(q.x - p.x, q.y - p.y) < 1e-6; });
  };
  EXPECT_TRUE(has({-1, 1}) && has({-1, -1}));
  EXPECT_TRUE(has({5, 2}) && has({5, -2}));
  EXPECT_TRUE(has({13, 3}) && has({13, -3}));
  EXPECT_NEAR(area_of(r), 18.0 + 40.0, 1e-6);
}

TEST(Inflate, RadiiComeFromTheCurvesOwnVertexPastDuplicates) {
  // The duplicate (5,0) is dropped before offsetting; the end cap still takes
  // the last vertex's radius 4, not the third entry 3.
  const auto out = inflate({{{0, 0}, {5, 0}, {5, 0}, {10, 0}}}, WidthLists{{1, 2, 3, 4}}, 9.0, 1.0);
  ASSERT_EQ(out.size(), 1u);
  const Bounds b = bounds_of(out[0].outer);
  EXPECT_NEAR(b.xmax, 14.0, 1e-6);
  EXPECT_NEAR(b.ymax, 4.0, 1e-6);
  EXPECT_NEAR(b.xmin, -1.0, 1e-6);
}

TEST(Inflate, CurveCollapsingToOneIntegerPointIsSound) {
  // Both points round to the same micro-unit: a square of the radius.
  const auto square = inflate({{{1, 1}, {1.0000001, 1}}}, WidthLists{{1, 2}}, 9.0, 1.0);
  ASSERT_EQ(square.size(), 1u);
  const Bounds b = bounds_of(square[0].outer);
  EXPECT_NEAR(b.xmin, 0.0, 1e-9);
  EXPECT_NEAR(b.xmax, 2.0, 1e-9);
  // Below one integer unit nothing is drawn.
  EXPECT_TRUE(inflate({{{1, 1}, {1, 1}}}, WidthLists{{1e-7, 1e-7}}, 9.0, 1.0).empty());
  EXPECT_TRUE(inflate_curve_variable({}, {}, 1.0).empty());
}

TEST(Inflate, WidthsForSomeCurvesOnly) {
  const std::vector<Polyline> curves = {
      {{0, 0}, {10, 0}}, {{0, 20}, {10, 20}}, {{0, 40}, {10, 40}}};
  // Entry 0 explicit, entry 1 empty, entry 2 missing: 0 gets radius 2, the rest 0.5.
  const auto out = inflate(curves, WidthLists{{2, 2}, {}}, 0.5, 1.0);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_NEAR(area_of(out[0].outer), 11 * 1.0, 1e-6);
  EXPECT_NEAR(area_of(out[1].outer), 11 * 1.0, 1e-6);
  EXPECT_NEAR(area_of(out[2].outer), 14 * 4.0, 1e-6);
}

TEST(Inflate, ARadiusBelowHalfAGridUnitUnionsTheCurveAsAPolygon) {
  // The offsetter hands the open stroke back unchanged and the union fills
  // the triangle its vertex list encloses.
  for (double r : {0.0, -0.0, 4.9e-7, -4.9e-7}) {
    const auto out = inflate({{{0, 0}, {10, 0}, {10, 10}}}, std::nullopt, r, 1.0);
    ASSERT_EQ(out.size(), 1u) << r;
    EXPECT_NEAR(area_of(out[0].outer), 50.0, 1e-9) << r;
  }
  // From half a grid unit on it is a thin band around the stroke.
  const auto band = inflate({{{0, 0}, {10, 0}, {10, 10}}}, std::nullopt, 5e-7, 1.0);
  ASSERT_EQ(band.size(), 1u);
  EXPECT_LT(area_of(band[0].outer), 1e-4);
}

TEST(Inflate, MismatchedWidthsAreAnInternalError) {
  try {
    inflate_curve_variable({{0, 0}, {1, 0}}, {1, 1, 1}, 1.0);
    FAIL() << "no error";
  } catch (const InvariantError& e) {
    EXPECT_STREQ(e.what(), "inflate_curve_variable: widths.len() (3) must equal pts.len() (2)");
  }
}

TEST(Inflate, UnrepresentableCurvesAreSkipped) {
  const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
  const Polyline ok = {{0, 0}, {1, 0}};
  for (const Polyline& bad :
       {Polyline{{0, 0}, {nan, 1}}, Polyline{{inf, 0}, {1, 0}}, Polyline{{0, 0}, {1e13, 0}}}) {
    EXPECT_EQ(inflate({bad, ok}, std::nullopt, 1.0, 1.0).size(), 1u);
    EXPECT_EQ(inflate({bad, ok}, WidthLists{{1, 1}, {1, 1}}, 1.0, 1.0).size(), 1u);
  }
  for (double r : {nan, inf, 1e13}) {
    EXPECT_TRUE(inflate({ok}, std::nullopt, r, 1.0).empty());
    EXPECT_TRUE(inflate({ok}, WidthLists{{1, r}}, 1.0, 1.0).empty());
  }
}

TEST(Inflate, NegativeAndZeroWidthsDoNotFail) {
  for (const std::vector<double>& w :
       {std::vector<double>{-1, -2, -1}, std::vector<double>{0, 0, 0},
        std::vector<double>{1, -1, 1}}) {
    expect_guarantees(inflate({{{0, 0}, {5, 1}, {10, 0}}}, WidthLists{w}, 1.0, 1.0), 1.0);
  }
}

TEST(Inflate, RandomStrokesKeepEveryGuarantee) {
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> coord(0.0, 40.0), step(-3.0, 3.0), radius(0.2, 1.5);
  for (int trial = 0; trial < 6; ++trial) {
    std::vector<Polyline> curves;
    WidthLists widths;
    for (int c = 0; c < 60; ++c) {
      Polyline curve{{coord(rng), coord(rng)}};
      std::vector<double> w{radius(rng)};
      for (int k = 0; k < 8; ++k) {
        curve.push_back({curve.back().x + step(rng), curve.back().y + step(rng)});
        w.push_back(radius(rng));
      }
      curves.push_back(std::move(curve));
      widths.push_back(c % 2 ? std::move(w) : std::vector<double>{});
    }
    const auto uniform = inflate(curves, std::nullopt, 0.6, 0.5);
    const auto variable = inflate(curves, widths, 0.6, 0.5);
    expect_guarantees(uniform, 0.5);
    expect_guarantees(variable, 0.5);
    EXPECT_EQ(inflate(curves, widths, 0.6, 0.5), variable);  // bit for bit on a second run
  }
}

// Union and classification written out plainly: every hole is tested against
// every polygon with the direct crossing test and goes to the smallest
// polygon that contains it.
std::vector<BufferPolygon> inflate_reference(const std::vector<Polyline>& curves, double r,
                                             double fs) {
  using namespace Clipper2Lib;
  PathsD subjects;
  for (const Polyline& c : curves) {
    PathD path;
    for (const Point& p : c) path.emplace_back(p.x, p.y);
    for (PathD& band :
         InflatePaths({path}, r, JoinType::Square, EndType::Square, 0.0, 6, 0.2 * fs)) {
      subjects.push_back(band);
    }
  }
  struct Candidate {
    Ring ring;
    double key;
    double area;
    bool taken = false;
  };
  std::vector<Candidate> outers, holes;
  for (const PathD& path : Union(subjects, FillRule::NonZero, 6)) {
    if (path.size() < 2) continue;
    Ring ring{{path[0].x, path[0].y}};
    for (const PointD& q : path) {
      if (std::pow(q.x - ring.back().x, 2) + std::pow(q.y - ring.back().y, 2) > 1e-10)
        ring.push_back({q.x, q.y});
    }
    if (ring.size() < 3) continue;
    Ring raw;
    for (const PointD& q : path) raw.push_back({q.x, q.y});
    const double a = area_of(raw);
    if (a > 0)
      outers.push_back({ring, open_length(ring), a});
    else if (-a >= 0.1 * fs * fs)
      holes.push_back({ring, 0.0, -a});
  }
  std::stable_sort(outers.begin(), outers.end(),
                   [](const Candidate& a, const Candidate& b) { return a.key < b.key; });
  std::vector<BufferPolygon> out;
  for (const Candidate& o : outers) out.push_back({o.ring, {}});
  for (const Candidate& h : holes) {
    std::optional<std::size_t> owner;
    for (std::size_t k = 0; k < outers.size(); ++k) {
      if (h.area < outers[k].area && inside(h.ring[0], outers[k].ring) &&
          (!owner || outers[k].area < outers[*owner].area)) {
        owner = k;
      }
    }
    if (owner) out[*owner].holes.push_back(h.ring);
  }
  return out;
}

TEST(Inflate, ClassificationMatchesThePlainAlgorithm) {
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int trial = 0; trial < 4; ++trial) {
    std::vector<Polyline> curves;
    // Nested square loops of many sizes and centres, plus random scribbles,
    // so that holes have several candidate outer rings.
    for (int c = 0; c < 50; ++c) {
      const double cx = 60 * u(rng), cy = 60 * u(rng), h = 2 + 20 * u(rng);
      curves.push_back({{cx - h, cy - h},
                        {cx + h, cy - h},
                        {cx + h, cy + h},
                        {cx - h, cy + h},
                        {cx - h, cy - h}});
    }
    for (int c = 0; c < 30; ++c) {
      Polyline s{{80 * u(rng), 80 * u(rng)}};
      for (int k = 0; k < 6; ++k)
        s.push_back({s.back().x + 10 * u(rng) - 5, s.back().y + 10 * u(rng) - 5});
      curves.push_back(s);
    }
    const std::vector<BufferPolygon> got = inflate(curves, std::nullopt, 0.4, 0.5);
    EXPECT_EQ(got, inflate_reference(curves, 0.4, 0.5));
    std::size_t hole_count = 0;
    for (const BufferPolygon& p : got) hole_count += p.holes.size();
    EXPECT_GT(hole_count, 20u);
  }
}

// The pipeline front: validation, merging, decimation and inflation.

TEST(InflateCurves, ValidationMessages) {
  const std::vector<Polyline> one = {{{0, 0}, {1, 0}}};
  struct Case {
    std::vector<Polyline> curves;
    double fs;
    std::optional<WidthLists> widths;
    std::string message;
  };
  const double nan = std::nan("");
  for (const Case& c : std::vector<Case>{
           {one, 0.0, {}, "feature_size must be a positive finite number, got 0"},
           {one, -0.0, {}, "feature_size must be a positive finite number, got -0"},
           {one, nan, {}, "feature_size must be a positive finite number, got NaN"},
           {{},
            1.0,
            WidthLists{{1, 1}},
            "per_curve_widths has an entry for curve 0 but only 0 curve(s) were given"},
           {one, 1.0, WidthLists{{1}},
            "per_curve_widths[0] has 1 entries but curve 0 has 2 points; they must match (or pass "
            "an "
            "empty list to use the uniform buffer)"}}) {
    const auto result = inflate_curves(c.curves, 1.0, c.fs, c.widths, std::nullopt);
    ASSERT_TRUE(std::holds_alternative<PipelineError>(result)) << c.message;
    EXPECT_EQ(std::get<PipelineError>(result).message, c.message);
  }
  EXPECT_TRUE(std::holds_alternative<std::vector<BufferPolygon>>(
      inflate_curves(one, 1.0, 1.0, WidthLists{{}, {}, {}}, std::nullopt)));
}

TEST(InflateCurves, RunsMergeDecimateInflateInOrder) {
  const std::vector<Polyline> curves = {
      {{0, 0}, {0.05, 0.05}, {3, 0}}, {{3, 0}, {3, 0.1}, {3, 4}}, {{3, 4}, {0, 4}}, {{7, 7}}};
  for (std::optional<double> tol : {std::optional<double>{}, std::optional<double>{0.5}}) {
    const double fs = 1.0;
    const MergedCurves merged = merge_connected(curves, std::nullopt, 0.5, tol.value_or(0.01 * fs));
    ASSERT_EQ(merged.curves.size(), 2u);
    const auto expected =
        inflate(decimate_curves(merged.curves, false, 0.15 * fs), std::nullopt, 0.5, fs);
    const auto got = inflate_curves(curves, 0.5, fs, std::nullopt, tol);
    ASSERT_TRUE(std::holds_alternative<std::vector<BufferPolygon>>(got));
    EXPECT_EQ(std::get<0>(got), expected);
    // topologize and triangulate_curves take their polygons from the same stage.
    EXPECT_EQ(inflate_stage(curves, 0.5, fs, std::nullopt, tol), expected);
  }
  // Merging off: the three strokes are inflated apart and still unioned.
  for (double off : {0.0, -1.0, std::nan("")}) {
    const auto got = inflate_curves(curves, 0.5, 1.0, std::nullopt, off);
    EXPECT_EQ(std::get<0>(got),
              inflate(decimate_curves(curves, false, 0.15), std::nullopt, 0.5, 1.0));
  }
}

TEST(InflateCurves, EmptyWidthListSkipsDecimationWithAndWithoutMerging) {
  // (0.1, 0) lies within the decimation spacing and is dropped unless widths
  // are in force; keeping it turns the start cap.
  const std::vector<Polyline> curves = {{{0, 0}, {0.1, 0}, {0.1, 5}}};
  const auto decimated = inflate(decimate_curves(curves, false, 0.15), std::nullopt, 1.0, 1.0);
  const auto kept_uniform = inflate(curves, std::nullopt, 1.0, 1.0);
  const auto kept_variable = inflate(curves, WidthLists{{1, 1, 1}}, 1.0, 1.0);
  ASSERT_NE(decimated, kept_uniform);
  EXPECT_EQ(std::get<0>(inflate_curves(curves, 1.0, 1.0, WidthLists{}, std::nullopt)),
            kept_variable);
  EXPECT_EQ(std::get<0>(inflate_curves(curves, 1.0, 1.0, WidthLists{}, 0.0)), kept_uniform);
  EXPECT_EQ(std::get<0>(inflate_curves(curves, 1.0, 1.0, std::nullopt, std::nullopt)), decimated);
}

}  // namespace
}  // namespace strokegraph
