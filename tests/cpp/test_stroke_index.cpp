// The stroke index's shared questions: the strokes near a point, distances
// measured only within a reach, repeats drawn the other way, wide discs and
// the grouping of meetings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <tuple>

#include "common/geometry.h"
#include "conditioning/repeats.h"
#include "spatial/stroke_index.h"

namespace {

using namespace strokegraph;

TEST(StrokeIndex, DistanceWithinAReachIsExactlyTheDistanceOrInfinity) {
  // Points around segments of many scales, most of them near the reach (where
  // the square-root-free test must not decide wrongly): within it the exact
  // distance, bit for bit, beyond it infinity.
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (const double scale : {1e-6, 1.0, 1e3, 1e9}) {
    for (int k = 0; k < 20000; ++k) {
      const Segment s{{scale * unit(rng), scale * unit(rng)}, {scale * unit(rng), scale * unit(rng)}};
      const Point p{scale * unit(rng), scale * unit(rng)};
      const double exact = point_segment_distance(p, s);
      // The reach at the distance itself, a rounding either way, and well off.
      for (const double reach : {exact, std::nextafter(exact, 0.0), std::nextafter(exact, 1e300), 0.5 * exact,
                                 2.0 * exact}) {
        const double d = point_segment_distance_within(p, s, reach);
        if (exact <= reach) {
          EXPECT_EQ(d, exact) << scale << " " << k;
        } else {
          EXPECT_GT(d, reach) << scale << " " << k;
        }
      }
    }
  }
  // A degenerate segment, and a reach whose square overflows.
  EXPECT_EQ(point_segment_distance_within({3.0, 4.0}, {{0.0, 0.0}, {0.0, 0.0}}, 5.0), 5.0);
  EXPECT_EQ(point_segment_distance_within({3.0, 4.0}, {{0.0, 0.0}, {0.0, 0.0}}, 1e300), 5.0);
  EXPECT_EQ(point_segment_distance_within({3.0, 4.0}, {{0.0, 0.0}, {0.0, 0.0}}, 4.9),
            std::numeric_limits<double>::infinity());
}

TEST(StrokeIndex, HypotWithinAndBelowDecideAsHypotDoes) {
  // Offsets of every scale against bounds at their length, a rounding either
  // way and well off; then bounds and offsets whose squares overflow or fall
  // into subnormals, negative and not-a-number ones.
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (const double scale : {1e-160, 1e-90, 1e-6, 1.0, 1e3, 1e9, 1e90, 1e160}) {
    for (int k = 0; k < 20000; ++k) {
      const double dx = scale * unit(rng), dy = scale * unit(rng);
      const double h = std::hypot(dx, dy);
      for (const double bound : {h, std::nextafter(h, 0.0), std::nextafter(h, 1e300), 0.5 * h, 2.0 * h,
                                 h * (1.0 + 1e-12), h * (1.0 - 1e-12)}) {
        EXPECT_EQ(hypot_within(dx, dy, bound), h <= bound) << scale << " " << k;
        EXPECT_EQ(hypot_below(dx, dy, bound), h < bound) << scale << " " << k;
      }
    }
  }
  const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
  for (const double dx : {0.0, 3.0, -3.0, 1e200, 1e-200, inf, nan}) {
    for (const double bound : {0.0, 5.0, -5.0, 1e-120, 1e120, inf, nan}) {
      EXPECT_EQ(hypot_within(dx, 4.0, bound), std::hypot(dx, 4.0) <= bound) << dx << " " << bound;
      EXPECT_EQ(hypot_below(dx, 4.0, bound), std::hypot(dx, 4.0) < bound) << dx << " " << bound;
    }
  }
}

TEST(StrokeIndex, StrokesNearAPointEachWithItsNearestSegment) {
  // A bar (segments 0-1), a stem meeting it (2), the bar drawn again reversed
  // (3-4, one stroke with the bar) and a far stroke (5).
  const std::vector<Polyline> curves{{{-4.0, 0.0}, {0.0, 0.0}, {4.0, 0.0}},
                                     {{0.5, -0.6}, {0.5, -6.0}},
                                     {{4.0, 0.0}, {0.0, 0.0}, {-4.0, 0.0}},
                                     {{0.0, 20.0}, {5.0, 20.0}}};
  const StrokeIndex index = stroke_index(curves, std::nullopt, 1.0, first_drawn(curves, std::nullopt));
  ASSERT_EQ(index.stroke_of(3), 0u);
  std::vector<StrokeNear> near{{9, 9, 9.0}};  // cleared first
  strokes_near(index, {1.0, -0.5}, 1.0, near);
  ASSERT_EQ(near.size(), 2u);
  // The bar's nearest segment is its own second one (the repeat's equally
  // near segment comes later), the stem 0.5 away.
  for (const StrokeNear& n : near) {
    if (n.stroke == 0) {
      EXPECT_EQ(n.segment, 1u);
      EXPECT_EQ(n.distance, 0.5);
    } else {
      EXPECT_EQ(n.stroke, 1u);
      EXPECT_EQ(n.segment, 2u);
      EXPECT_DOUBLE_EQ(n.distance, std::hypot(0.5, 0.1));
    }
  }
  // Within half a band radius only the bar; nothing out in the open.
  strokes_near(index, {1.0, -0.5}, 0.5, near);
  ASSERT_EQ(near.size(), 1u);
  EXPECT_EQ(near[0].stroke, 0u);
  strokes_near(index, {0.0, 10.0}, 1.0, near);
  EXPECT_TRUE(near.empty());
}

TEST(StrokeIndex, RepeatsKnowWhichWayTheyRun) {
  const Polyline a{{0.0, 0.0}, {1.0, 0.0}, {2.0, 1.0}};
  const Polyline back(a.rbegin(), a.rend());
  const std::vector<Polyline> curves{a, a, back, {{5.0, 5.0}, {6.0, 5.0}}};
  const StrokeIndex index = stroke_index(curves, std::nullopt, 1.0, {0, 0, 0, 3});
  EXPECT_EQ(index.reversed, (std::vector<char>{0, 0, 1, 0}));
  // Without repeats there is nothing to know.
  EXPECT_TRUE(stroke_index(curves, std::nullopt, 1.0).reversed.empty());
}

TEST(StrokeIndex, LargeDrawingsIndexAsOnePassOverTheirCurves) {
  // Over 100 000 segments, so that the index is built in ranges that start
  // and end inside curves; curves without segments, points and widths that
  // are not finite (their segments left out) and repeats either way round.
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> step(-1.0, 1.0);
  std::vector<Polyline> curves;
  WidthLists widths;
  std::vector<std::size_t> first;
  std::size_t points = 0;
  while (points < 100000) {
    const std::size_t n = curves.size() % 7 == 3 ? curves.size() % 2 : 1 + rng() % 3000;
    Polyline c;
    std::vector<double> w;
    Point p{1000.0 * step(rng), 1000.0 * step(rng)};
    for (std::size_t k = 0; k < n; ++k, p = {p.x + step(rng), p.y + step(rng)}) {
      c.push_back(rng() % 997 == 0 ? Point{std::nan(""), p.y} : p);
      w.push_back(rng() % 991 == 0 ? std::numeric_limits<double>::infinity() : 0.5 + 0.5 * step(rng));
    }
    first.push_back(curves.size());
    const bool plain = curves.size() > 0 && curves.back().size() >= 2 &&
                       std::none_of(curves.back().begin(), curves.back().end(), [](Point q) { return std::isnan(q.x); });
    if (curves.size() % 11 == 5 && plain) {  // a repeat of the curve before, one way or the other
      c = curves.back();
      if (curves.size() % 2 == 0) std::reverse(c.begin(), c.end());
      first.back() = first[curves.size() - 1];
    }
    points += c.size();
    curves.push_back(std::move(c));
    widths.push_back(curves.size() % 4 == 0 ? std::vector<double>{} : std::move(w));
  }
  for (const bool with_widths : {false, true}) {
    const std::optional<WidthLists> given = with_widths ? std::optional(widths) : std::nullopt;
    const StrokeIndex index = stroke_index(curves, given, 0.75, first);
    std::vector<std::uint32_t> owner, vertex;
    std::vector<double> reach;
    double max_reach = 0.75;
    for (std::size_t c = 0; c < curves.size(); ++c) {
      const Polyline& curve = curves[c];
      const bool own = with_widths && widths[c].size() == curve.size();
      for (std::size_t k = 1; k < curve.size(); ++k) {
        const double r = own ? std::max(widths[c][k - 1], widths[c][k]) : 0.75;
        if (!std::isfinite(r) || !std::isfinite(curve[k - 1].x) || !std::isfinite(curve[k].x)) continue;
        owner.push_back(static_cast<std::uint32_t>(c));
        vertex.push_back(static_cast<std::uint32_t>(k));
        reach.push_back(r);
        max_reach = std::max(max_reach, r);
      }
    }
    ASSERT_EQ(index.owner, owner) << with_widths;
    EXPECT_EQ(index.vertex, vertex);
    EXPECT_EQ(index.lengths.size(), points - curves.size() + std::count_if(curves.begin(), curves.end(), [](const Polyline& c) { return c.empty(); }));
    EXPECT_EQ(index.max_reach, max_reach);
    EXPECT_EQ(index.reach, with_widths ? reach : std::vector<double>{});
    for (std::size_t c = 0; c < curves.size(); ++c) {
      EXPECT_EQ(index.reversed[c], first[c] != c && c % 2 == 0) << c;
      for (std::size_t k = 1; k < curves[c].size(); ++k) {
        const double l = std::hypot(curves[c][k].x - curves[c][k - 1].x, curves[c][k].y - curves[c][k - 1].y);
        ASSERT_TRUE(index.length(c, k) == l || (std::isnan(l) && std::isnan(index.length(c, k)))) << c << " " << k;
      }
    }
  }
}

TEST(StrokeIndex, GridsListTheSameCellsWhicheverWayTheyAreBuilt) {
  // Fewer than 65 536 segments are walked in ranges that keep their pairs
  // (or, with long segments, too many to keep); the same segments among
  // more slots are counted and filled band by band. Both list every cell
  // alike, spread out (a table of cells) or not.
  std::mt19937_64 rng(9);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (const auto& [side, length] : {std::pair{300.0, 1.0}, std::pair{300.0, 60.0}, std::pair{1e7, 1.0}}) {
    std::vector<Segment> segments;
    for (std::size_t i = 0; i < 60000; ++i) {
      const Point a{side * unit(rng), side * unit(rng)};
      segments.push_back({a, {a.x + length * unit(rng), a.y + length * unit(rng)}});
    }
    const CellIndex kept(segments, 2.0);
    const CellIndex banded(70000, [&](std::size_t i) { return segments[i % segments.size()]; }, 2.0,
                           [&](std::size_t i) { return i < segments.size(); });
    ASSERT_EQ(kept.cell(), banded.cell());
    for (int q = 0; q < 300; ++q) {
      const Point at = segments[rng() % segments.size()].a;
      const Point lo{at.x - 10.0 * unit(rng), at.y - 10.0 * unit(rng)};
      const Point hi{at.x + 10.0 * unit(rng), at.y + 10.0 * unit(rng)};
      std::vector<std::size_t> a, b;
      kept.visit_box(lo, hi, [&](std::size_t i) { a.push_back(i); });
      banded.visit_box(lo, hi, [&](std::size_t i) { b.push_back(i); });
      ASSERT_EQ(a, b) << side << " " << length << " " << q;
    }
  }
}

TEST(StrokeIndex, DiscsAreWideBeyondTheClearanceOfACrossing) {
  const std::vector<Polyline> curves{{{0.0, 0.0}, {10.0, 0.0}}};
  const StrokeIndex index = stroke_index(curves, std::nullopt, 2.0);
  EXPECT_FALSE(discs_wide(index, {{{0.0, 0.0}, 2.9}, {{5.0, 0.0}, 3.0}}));
  EXPECT_TRUE(discs_wide(index, {{{0.0, 0.0}, 2.9}, {{5.0, 0.0}, 3.1}}));
  EXPECT_TRUE(discs_wide(index, {{{0.0, 0.0}, 2.9}}, 1.0));
  EXPECT_TRUE(discs_wide(index, {{{0.0, 0.0}, 0.1}}, 0.0));
}

TEST(StrokeIndex, MeetingsChainedWithinApartAreOnePlace) {
  // A long stroke crossed by strokes every `gap` along it: the crossings
  // chain into one place while no gap exceeds `apart`, whichever order the
  // strokes come in (the meetings are grouped swept along x, the chain
  // running along x or y).
  for (const bool along_y : {false, true}) {
    for (const double wide_gap : {0.9, 1.1}) {
      std::vector<Polyline> curves{{{-1.0, 0.0}, {12.0, 0.0}}};
      // Crossings at 0, 0.9, 1.8, ... with one gap of `wide_gap` after the third.
      std::vector<double> at;
      for (double x = 0.0; at.size() < 8; x += at.size() == 3 ? wide_gap : 0.9) at.push_back(x);
      for (std::size_t k = at.size(); k-- > 0;) curves.push_back({{at[k], -5.0}, {at[k], 5.0}});
      if (along_y) {
        for (Polyline& c : curves) {
          for (Point& p : c) p = {p.y, p.x};
        }
      }
      const StrokeIndex index = stroke_index(curves, std::nullopt, 0.3);
      const Point centre = along_y ? Point{0.0, 3.5} : Point{3.5, 0.0};
      std::vector<Point> found;
      EXPECT_EQ(meets_apart(index, {{centre, 6.0}}, 1.0, 0.17, &found), wide_gap > 1.0) << along_y;
      if (wide_gap > 1.0) EXPECT_EQ(found.size(), 8u);
    }
  }
}

TEST(StrokeIndex, MeetingsGroupAsTheirChainsWithinApart) {
  // A few strokes across as many others at random places, or crossing
  // exactly `apart` from their neighbours along x: the crossings fall into
  // groups as every pair within `apart` chains them, counted here pair by
  // pair.
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> place(0.0, 4.0), spread(0.3, 2.0);
  for (int round = 0; round < 40; ++round) {
    const bool exact = round % 4 == 0;
    const double apart = exact ? 0.75 : spread(rng);
    std::vector<double> xs, ys;
    for (int k = 0; k < 3; ++k) xs.push_back(exact ? apart * k : place(rng));
    for (int k = 0; k < 3; ++k) ys.push_back(exact ? apart * k * (round % 8 == 0 ? 0.5 : 2.5) : place(rng));
    std::vector<Polyline> curves;
    for (const double x : xs) curves.push_back({{x, -5.0}, {x, 9.0}});
    for (const double y : ys) curves.push_back({{-3.0, y}, {12.0, y}});
    std::vector<Point> at;
    for (const double x : xs) {
      for (const double y : ys) at.push_back({x, y});
    }
    std::vector<std::size_t> group(at.size());
    for (std::size_t k = 0; k < at.size(); ++k) group[k] = k;
    for (bool joined = true; joined;) {
      joined = false;
      for (std::size_t a = 0; a < at.size(); ++a) {
        for (std::size_t b = 0; b < at.size(); ++b) {
          if (group[a] > group[b] && std::hypot(at[a].x - at[b].x, at[a].y - at[b].y) <= apart) {
            group[a] = group[b], joined = true;
          }
        }
      }
    }
    bool spread_out = false;
    for (const std::size_t g : group) spread_out = spread_out || g != group[0];
    const StrokeIndex index = stroke_index(curves, std::nullopt, 0.3);
    EXPECT_EQ(meets_apart(index, {{{2.0, 2.0}, 6.0}}, apart, 0.17), spread_out) << round;
  }
}

TEST(StrokeIndex, MeetingOfAStrokeEndingOutsideTheDiscsIsFound) {
  // A stroke ending just beside another, its box clear of the disc's, meets
  // it inside the disc; mirrored, it comes before or after the other along x.
  for (const double side : {1.0, -1.0}) {
    std::vector<Polyline> curves{{{1.0, 6.0}, {5.0, 2.2}},
                                 {{4.5, 1.95}, {6.0, 1.95}},
                                 {{3.5, -1.0}, {6.5, -1.0}},
                                 {{6.0, -3.0}, {6.0, 1.0}}};
    for (Polyline& c : curves) {
      for (Point& p : c) p.x *= side;
    }
    const StrokeIndex index = stroke_index(curves, std::nullopt, 0.3);
    std::vector<Point> found;
    EXPECT_TRUE(meets_apart(index, {{{5.0 * side, 0.0}, 2.0}}, 1.0, 0.17, &found)) << side;
    EXPECT_EQ(found.size(), 2u) << side;
  }
}

TEST(StrokeIndex, MeetingsFoundAreEveryPairsMeetingInsideTheDiscs) {
  // Against every pair of segments read the plain way: where two strokes at
  // an angle cross, else where an end of an open stroke lies within a band
  // radius of the other's segment; those inside some disc.
  const double r = 0.5, min_angle = 0.17;
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> at(0.0, 10.0), wide(0.5, 3.0);
  auto by_xy = [](Point a, Point b) { return a.x < b.x || (a.x == b.x && a.y < b.y); };
  std::uniform_real_distribution<double> step(-2.0, 2.0);
  for (int round = 0; round < 40; ++round) {
    // Zigzag strokes, some closing on themselves.
    std::vector<Polyline> curves(8);
    for (std::size_t c = 0; c < curves.size(); ++c) {
      curves[c] = {{at(rng), at(rng)}};
      for (int k = 0; k < 5; ++k) curves[c].push_back({curves[c].back().x + step(rng), curves[c].back().y + step(rng)});
      if (c % 4 == 3) curves[c].push_back(curves[c].front());
    }
    const StrokeIndex index = stroke_index(curves, std::nullopt, r);
    std::vector<std::pair<Point, double>> discs{{{at(rng), at(rng)}, wide(rng)}};
    if (round % 2) discs.push_back({{at(rng), at(rng)}, wide(rng)});
    std::vector<Point> expected, places, found;
    for (std::size_t u = 0; u < index.owner.size(); ++u) {
      for (std::size_t v = u + 1; v < index.owner.size(); ++v) {
        const auto du = stroke_direction(index, u), dv = stroke_direction(index, v);
        if (index.stroke_of(u) == index.stroke_of(v) || !du || !dv ||
            std::fabs(du->x * dv->x + du->y * dv->y) >= std::cos(min_angle)) {
          continue;
        }
        const Segment su = index.segment(u), sv = index.segment(v);
        const double rx = su.b.x - su.a.x, ry = su.b.y - su.a.y, sx = sv.b.x - sv.a.x, sy = sv.b.y - sv.a.y;
        const double den = rx * sy - ry * sx;
        const double t = den != 0.0 ? ((sv.a.x - su.a.x) * sy - (sv.a.y - su.a.y) * sx) / den : -1.0;
        const double w = den != 0.0 ? ((sv.a.x - su.a.x) * ry - (sv.a.y - su.a.y) * rx) / den : -1.0;
        places.clear();
        if (t >= 0.0 && t <= 1.0 && w >= 0.0 && w <= 1.0) places.push_back({su.a.x + rx * t, su.a.y + ry * t});
        for (const auto& [i, s, other] : {std::tuple{u, su, sv}, std::tuple{v, sv, su}}) {
          const Polyline& c = curves[index.owner[i]];
          const bool open = !(c.size() > 2 && std::hypot(c.front().x - c.back().x, c.front().y - c.back().y) <= r);
          for (const auto& [end, ends] : {std::pair{s.a, index.vertex[i] == 1}, std::pair{s.b, index.vertex[i] + 1 == c.size()}}) {
            const Point f = nearest_on_segment(end, other.a, other.b);
            // A crossing is the pair's one place.
            if (!(t >= 0.0 && t <= 1.0 && w >= 0.0 && w <= 1.0) && open && ends &&
                std::hypot(end.x - f.x, end.y - f.y) <= r) {
              places.push_back(f);
            }
          }
        }
        for (const Point& p : places) {
          for (const auto& [c, radius] : discs) {
            if (std::hypot(p.x - c.x, p.y - c.y) <= radius) {
              expected.push_back(p);
              break;
            }
          }
        }
      }
    }
    const bool apart = meets_apart(index, discs, 1e-6, min_angle, &found, 0.0);
    std::sort(expected.begin(), expected.end(), by_xy);
    std::sort(found.begin(), found.end(), by_xy);
    bool two = false;
    for (const Point& p : expected) two = two || std::hypot(p.x - expected[0].x, p.y - expected[0].y) > 1e-6;
    ASSERT_EQ(apart, two) << round;
    ASSERT_EQ(found.size(), apart ? expected.size() : 0u) << round;
    for (std::size_t k = 0; k < found.size(); ++k) {
      EXPECT_NEAR(found[k].x, expected[k].x, 1e-9) << round;
      EXPECT_NEAR(found[k].y, expected[k].y, 1e-9) << round;
    }
  }
}

}  // namespace
