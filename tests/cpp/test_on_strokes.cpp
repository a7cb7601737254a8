// The clean-up's last steps that read the strokes themselves: lines of
// their own for strokes the skeleton passes by, and chains laid on the
// strokes they follow.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "cleanup/on_strokes.h"
#include "cleanup/uncovered.h"
#include "conditioning/repeats.h"
#include "spatial/stroke_index.h"

namespace {

using namespace strokegraph;

// A line of nodes every `step` from a to b, appended to g.
void line(Graph& g, Point a, Point b, double step) {
  const int n = std::max(1, static_cast<int>(std::ceil(std::hypot(b.x - a.x, b.y - a.y) / step)));
  const auto first = static_cast<NodeId>(g.nodes.size());
  for (int k = 0; k <= n; ++k) {
    const double t = static_cast<double>(k) / n;
    g.nodes.push_back({a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t});
    if (k > 0) g.edges.push_back({static_cast<NodeId>(first + k - 1), static_cast<NodeId>(first + k)});
  }
}

// Distance from p to the nearest edge of g.
double to_graph(const Graph& g, Point p) {
  double best = INFINITY;
  for (const Edge& e : g.edges) best = std::min(best, point_segment_distance(p, g.nodes[e.first], g.nodes[e.second]));
  return best;
}

CoverRules cover_rules() {
  CoverRules rules;
  rules.step = 0.25;
  rules.cover = 0.55;
  rules.min_length = 3.0;
  rules.attach = 1.5;
  return rules;
}

TEST(AddUncoveredStrokes, StrokesSideBySideGetLinesOfTheirOwnAndTheLineBetweenGoes) {
  // The skeleton's line midway between two strokes 1.5 radii apart.
  const std::vector<Polyline> strokes{{{-10.0, 0.0}, {10.0, 0.0}}, {{10.0, 1.5}, {-10.0, 1.5}}};
  Graph g;
  line(g, {-10.0, 0.75}, {10.0, 0.75}, 1.0);
  const Graph out = add_uncovered_strokes(g, stroke_index(strokes, std::nullopt, 1.0), cover_rules());
  for (const Polyline& s : strokes) {
    for (double x = -10.0; x <= 10.0; x += 0.5) EXPECT_NEAR(to_graph(out, {x, s[0].y}), 0.0, 1e-9) << x;
  }
  for (const Edge& e : out.edges) {
    EXPECT_NE(out.nodes[e.first].y, 0.75);
    EXPECT_NE(out.nodes[e.second].y, 0.75);
  }
}

TEST(AddUncoveredStrokes, ACrossingStrokeIsNodedWhereTheAddedLineCrossesIt) {
  // As above, with a street across both: its line gets a node on each.
  const std::vector<Polyline> strokes{
      {{-10.0, 0.0}, {10.0, 0.0}}, {{-10.0, 1.5}, {10.0, 1.5}}, {{0.0, -8.0}, {0.0, 9.5}}};
  Graph g;
  line(g, {-10.0, 0.75}, {-1.0, 0.75}, 1.0);
  line(g, {1.0, 0.75}, {10.0, 0.75}, 1.0);
  line(g, {0.0, -8.0}, {0.0, 9.5}, 17.5);  // one edge
  const Graph out = add_uncovered_strokes(g, stroke_index(strokes, std::nullopt, 1.0), cover_rules());
  std::vector<int> degree(out.nodes.size(), 0);
  for (const Edge& e : out.edges) ++degree[e.first], ++degree[e.second];
  for (const double y : {0.0, 1.5}) {
    const auto at = std::find_if(out.nodes.begin(), out.nodes.end(), [&](const Point& p) {
      return std::hypot(p.x, p.y - y) < 1e-9;
    });
    ASSERT_NE(at, out.nodes.end()) << y;
    EXPECT_EQ(degree[static_cast<std::size_t>(at - out.nodes.begin())], 4) << y;
  }
}

TEST(AddUncoveredStrokes, NothingForStrokesOnTheGraphDrawnBackAlongThemselvesOrLeavingACorner) {
  const CoverRules rules = cover_rules();
  Graph g;
  line(g, {-10.0, 0.75}, {10.0, 0.75}, 1.0);
  // On the line; a hairpin whose two runs lie 1.5 apart; a V at 15 degrees.
  const double t = std::tan(15.0 * M_PI / 180.0);
  for (const auto& strokes : std::vector<std::vector<Polyline>>{
           {{{-10.0, 0.5}, {10.0, 0.5}}},
           {{{-10.0, 0.0}, {10.0, 0.0}, {10.0, 1.5}, {-10.0, 1.5}}},
           {{{-10.0, 0.75}, {10.0, 0.75}}, {{-10.0, 0.75}, {10.0, 0.75 + 20.0 * t}}}}) {
    EXPECT_EQ(add_uncovered_strokes(g, stroke_index(strokes, std::nullopt, 1.0), rules), g);
  }
}

StrokePlacement placement() {
  StrokePlacement rules;
  rules.step = 0.25;
  rules.switch_cost = 2.0;
  rules.skip_ends = 0.5;
  rules.unfold_step = 3.5;
  return rules;
}

TEST(PlaceOnStrokes, AChainBesideItsStrokeLiesOnItButForItsEnds) {
  // The stroke drawn once, or again reversed (the repeat is never used).
  const Polyline stroke{{-10.0, 0.0}, {-2.0, 0.1}, {10.0, 0.0}};
  for (const bool again : {false, true}) {
    std::vector<Polyline> strokes{stroke};
    if (again) strokes.push_back({stroke.rbegin(), stroke.rend()});
    const std::vector<std::size_t> first = first_drawn(strokes, std::nullopt);
    const StrokeIndex index = stroke_index(strokes, std::nullopt, 1.0, first);
    std::vector<Polyline> chains{{{-10.0, 0.4}, {10.0, 0.4}}};
    place_on_strokes(chains, index, placement());
    const Polyline& c = chains[0];
    EXPECT_EQ(c.front(), (Point{-10.0, 0.4}));
    EXPECT_EQ(c.back(), (Point{10.0, 0.4}));
    EXPECT_TRUE(std::find(c.begin(), c.end(), stroke[1]) != c.end());  // the stroke's own point
    for (std::size_t k = 1; k + 1 < c.size(); ++k) {
      if (std::fabs(std::fabs(c[k].x) - 10.0) < 0.6) continue;
      EXPECT_NEAR(point_segment_distance(c[k], stroke[0], stroke[1]) *
                      point_segment_distance(c[k], stroke[1], stroke[2]),
                  0.0, 1e-12)
          << k;
    }
  }
}

TEST(PlaceOnStrokes, ChainsAcrossStrokesOrOutsideTheirBandsStay) {
  const std::vector<Polyline> strokes{{{0.0, -10.0}, {0.0, 10.0}}};
  const StrokeIndex index = stroke_index(strokes, std::nullopt, 1.0);
  const std::vector<Polyline> chains{{{-10.0, 0.3}, {10.0, 0.3}}, {{5.0, -10.0}, {5.0, 10.0}}};
  std::vector<Polyline> placed = chains;
  place_on_strokes(placed, index, placement());
  EXPECT_EQ(placed, chains);
}

TEST(PlaceOnStrokes, ACallAnswersFromItsOwnStrokesAfterOneOnOthers) {
  // The same short chain (its points in the same cells) on two drawings,
  // each placed after the other: what one call learnt of its strokes near
  // the chain (the cells read, the strokes' chords) must not answer the next.
  const std::vector<std::vector<Polyline>> drawings{{{{-10.0, 0.0}, {-2.0, 0.1}, {10.0, 0.0}}},
                                                    {{{-10.0, 0.7}, {3.0, 0.6}, {10.0, 0.7}}, {{2.0, -9.0}, {2.0, 9.0}}}};
  const std::vector<Polyline> chain{{{0.6, 0.35}, {3.4, 0.35}}};
  std::vector<std::vector<Polyline>> first;
  for (int round = 0; round < 2; ++round) {
    for (std::size_t d = 0; d < drawings.size(); ++d) {
      std::vector<Polyline> placed = chain;
      place_on_strokes(placed, stroke_index(drawings[d], std::nullopt, 1.0), placement());
      if (round == 0) {
        EXPECT_NE(placed, chain) << d;
        first.push_back(placed);
      } else {
        EXPECT_EQ(placed, first[d]) << d;
      }
    }
  }
  EXPECT_NE(first[0], first[1]);
}

}  // namespace
