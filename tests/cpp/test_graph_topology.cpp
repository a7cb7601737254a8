// Skeleton-like segment soups through the graph stages, as the topologize
// pipeline runs them with feature size 1: snap 0.05, tips 2.0, junctions 1.5.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <vector>

#include "graph/graph.h"

using namespace strokegraph;

namespace {

struct Soup {
  std::vector<Segment> segments;
  std::mt19937_64 rng{7};

  // Point jittered by up to 0.01, well inside one snapping cell.
  Point jitter(Point p) {
    std::uniform_real_distribution<double> d(-0.01, 0.01);
    return {p.x + d(rng), p.y + d(rng)};
  }
  // A polyline through `corners`, cut into pieces of about 0.5, with every
  // piece randomly oriented.
  void path(const std::vector<Point>& corners) {
    for (std::size_t i = 0; i + 1 < corners.size(); ++i) {
      const Point a = corners[i], b = corners[i + 1];
      const int pieces = std::max(1, static_cast<int>(std::ceil(std::hypot(b.x - a.x, b.y - a.y) / 0.5)));
      for (int k = 0; k < pieces; ++k) {
        const double t0 = double(k) / pieces, t1 = double(k + 1) / pieces;
        Segment s{jitter({a.x + (b.x - a.x) * t0, a.y + (b.y - a.y) * t0}),
                  jitter({a.x + (b.x - a.x) * t1, a.y + (b.y - a.y) * t1})};
        if (rng() & 1) std::swap(s.a, s.b);
        segments.push_back(s);
      }
    }
  }
  // The two short forks a band's square cap leaves at the end of an arm
  // running in direction (dx, dy).
  void forked_end(Point end, double dx, double dy) {
    path({end, {end.x + 0.4 * dx - 0.4 * dy, end.y + 0.4 * dy + 0.4 * dx}});
    path({end, {end.x + 0.4 * dx + 0.4 * dy, end.y + 0.4 * dy - 0.4 * dx}});
  }
};

std::vector<Chain> run(const Soup& soup) {
  Graph g = segments_to_graph(soup.segments, 1.0 / 20.0);
  g = prune_short_tips(g, 2.0);
  g = merge_close_junctions(g, 1.5);
  return extract_chains(g);
}

// How many chain ends each node carries.
std::map<NodeId, int> end_counts(const std::vector<Chain>& chains) {
  std::map<NodeId, int> count;
  for (const Chain& c : chains) ++count[c.start_node], ++count[c.end_node];
  return count;
}

std::vector<int> sorted_counts(const std::vector<Chain>& chains) {
  std::vector<int> v;
  for (const auto& [node, n] : end_counts(chains)) v.push_back(n);
  std::sort(v.begin(), v.end());
  return v;
}

}  // namespace

TEST(GraphTopology, PlusWithASplitCentreGivesFourArmsAtOneNode) {
  // The centre of a plus often skeletonises into two junctions a short link
  // apart, each carrying two arms.
  Soup s;
  s.path({{-10, 0}, {-0.3, 0}, {0, 0}, {0.3, 0}, {10, 0}});
  s.path({{-0.3, 0}, {-0.1, 0.5}, {0, 1}, {0, 10}});
  s.path({{0.3, 0}, {0.1, -0.5}, {0, -1}, {0, -10}});
  s.forked_end({-10, 0}, -1, 0);
  s.forked_end({10, 0}, 1, 0);
  s.forked_end({0, 10}, 0, 1);
  s.forked_end({0, -10}, 0, -1);
  const std::vector<Chain> chains = run(s);
  ASSERT_EQ(chains.size(), 4u);
  EXPECT_EQ(sorted_counts(chains), (std::vector<int>{1, 1, 1, 1, 4}));
  for (const Chain& c : chains) EXPECT_NE(c.start_is_tip, c.end_is_tip);
}

TEST(GraphTopology, TGivesThreeArms) {
  Soup s;
  s.path({{-10, 0}, {0, 0}, {10, 0}});
  s.path({{0, 0}, {0, -10}});
  s.forked_end({-10, 0}, -1, 0);
  s.forked_end({10, 0}, 1, 0);
  s.forked_end({0, -10}, 0, -1);
  // A short spur into the bar's far side at the junction.
  s.path({{0, 0}, {0, 0.8}});
  const std::vector<Chain> chains = run(s);
  ASSERT_EQ(chains.size(), 3u);
  EXPECT_EQ(sorted_counts(chains), (std::vector<int>{1, 1, 1, 3}));
}

TEST(GraphTopology, StraightBandGivesOneChainWithTwoFreeEnds) {
  Soup s;
  s.path({{-10, 0}, {10, 0}});
  s.forked_end({-10, 0}, -1, 0);
  s.forked_end({10, 0}, 1, 0);
  const std::vector<Chain> chains = run(s);
  ASSERT_EQ(chains.size(), 1u);
  EXPECT_TRUE(chains[0].start_is_tip && chains[0].end_is_tip);
  EXPECT_NE(chains[0].start_node, chains[0].end_node);
}

TEST(GraphTopology, SquareLoopWithInnerCornerSpursIsOneClosedChain) {
  Soup s;
  s.path({{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}});
  // Corner spurs pointing outwards, short enough to go.
  s.path({{10, 10}, {10.5, 10.5}});
  s.path({{0, 0}, {-0.5, -0.5}});
  const std::vector<Chain> chains = run(s);
  ASSERT_EQ(chains.size(), 1u);
  EXPECT_EQ(chains[0].start_node, chains[0].end_node);
  EXPECT_EQ(chains[0].points.front(), chains[0].points.back());
  EXPECT_FALSE(chains[0].start_is_tip || chains[0].end_is_tip);
}

TEST(GraphTopology, FigureEightGivesTwoLoopsAtOneNode) {
  Soup s;
  s.path({{0, 0}, {5, 5}, {10, 0}, {5, -5}, {0, 0}});
  s.path({{0, 0}, {-5, 5}, {-10, 0}, {-5, -5}, {0, 0}});
  const std::vector<Chain> chains = run(s);
  ASSERT_EQ(chains.size(), 2u);
  for (const Chain& c : chains) EXPECT_EQ(c.start_node, c.end_node);
  EXPECT_EQ(chains[0].start_node, chains[1].start_node);
}
