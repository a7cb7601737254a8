#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "graph/graph.h"
#include "graph_test_util.h"

using namespace strokegraph;
using graph_test::make_graph;

namespace {

// The pruning walk written out literally: every step scans the whole edge
// list from its start. Slow, but obviously what is meant.
Graph prune_reference(const Graph& g, double threshold) {
  const NodeId none = std::numeric_limits<NodeId>::max();
  std::vector<char> alive(g.edges.size(), 1);
  bool removed = true;
  while (removed) {
    removed = false;
    std::vector<int> degree(g.nodes.size(), 0);
    for (std::size_t i = 0; i < g.edges.size(); ++i) {
      if (alive[i]) ++degree[g.edges[i].first], ++degree[g.edges[i].second];
    }
    for (NodeId j = 0; j < g.nodes.size(); ++j) {
      if (degree[j] != 1) continue;
      NodeId prev = none, cur = j;
      std::vector<std::size_t> path;
      double length = 0.0;
      for (;;) {
        std::size_t found = g.edges.size();
        NodeId far = none;
        for (std::size_t i = 0; i < g.edges.size() && found == g.edges.size(); ++i) {
          if (!alive[i]) continue;
          const auto [a, b] = g.edges[i];
          if (a == cur && b != prev) found = i, far = b;
          else if (b == cur && a != prev) found = i, far = a;
        }
        if (found == g.edges.size()) break;
        path.push_back(found);
        const Point p = g.nodes[g.edges[found].first], q = g.nodes[g.edges[found].second];
        length += std::sqrt((q.x - p.x) * (q.x - p.x) + (q.y - p.y) * (q.y - p.y));
        if (degree[far] != 2) break;
        prev = cur;
        cur = far;
      }
      if (!path.empty() && length < threshold) {
        for (std::size_t i : path) alive[i] = 0;
        removed = true;
      }
    }
  }
  Graph out{g.nodes, {}};
  for (std::size_t i = 0; i < g.edges.size(); ++i) {
    if (alive[i]) out.edges.push_back(g.edges[i]);
  }
  return out;
}

// Junction 0 at the origin with three arms along the axes ending in tips.
Graph star(double a, double b, double c) {
  return make_graph({{0, 0}, {a, 0}, {0, b}, {-c, 0}}, {{1, 0}, {0, 2}, {0, 3}});
}

}  // namespace

TEST(PruneShortTips, ShortArmsGoThenTheJunctionIsATipOfTheLongArm) {
  const Graph g = star(1, 1, 10);
  const Graph out = prune_short_tips(g, 5.0);
  EXPECT_EQ(out.nodes, g.nodes);
  EXPECT_EQ(out.edges, (std::vector<Edge>{{0, 3}}));
}

TEST(PruneShortTips, EveryArmBelowTheThresholdGoesAndTheNodesStay) {
  const Graph g = star(1, 1, 3);
  const Graph out = prune_short_tips(g, 5.0);
  EXPECT_EQ(out.nodes, g.nodes);
  EXPECT_TRUE(out.edges.empty());
}

TEST(PruneShortTips, LinkBecomesATipOnceTheShortArmsAreGone) {
  // Junction 0 (arms 1, 1) is linked by 3 to junction 3 (arms 10, 10). The
  // second pass finds 0 at degree 1 and removes the link.
  const Graph g = make_graph({{0, 0}, {-1, 0}, {0, 1}, {3, 0}, {3, 10}, {3, -10}},
                             {{0, 1}, {2, 0}, {0, 3}, {3, 4}, {5, 3}});
  EXPECT_EQ(prune_short_tips(g, 5.0).edges, (std::vector<Edge>{{3, 4}, {5, 3}}));
}

TEST(PruneShortTips, ThresholdIsStrict) {
  const Graph four = make_graph({{0, 0}, {4, 0}}, {{0, 1}});
  const Graph five = make_graph({{0, 0}, {3, 4}}, {{0, 1}});
  EXPECT_TRUE(prune_short_tips(four, 5.0).edges.empty());
  EXPECT_EQ(prune_short_tips(five, 5.0), five);
}

TEST(PruneShortTips, BranchLengthRunsThroughDegreeTwoNodesToTheJunction) {
  // Arm 0-4-5-6 of three edges of 1.5 (4.5 < 5) next to long arms.
  auto build = [](double step) {
    return make_graph({{0, 0}, {20, 0}, {0, 20}, {-20, 0}, {0, -step}, {0, -2 * step}, {0, -3 * step}},
                      {{0, 1}, {0, 2}, {0, 3}, {0, 4}, {4, 5}, {5, 6}});
  };
  EXPECT_EQ(prune_short_tips(build(1.5), 5.0).edges, (std::vector<Edge>{{0, 1}, {0, 2}, {0, 3}}));
  EXPECT_EQ(prune_short_tips(build(1.7), 5.0), build(1.7));
}

TEST(PruneShortTips, ClosedLoopStays) {
  const Graph loop = make_graph({{0, 0}, {1, 0}, {1, 1}, {0, 1}}, {{0, 1}, {1, 2}, {2, 3}, {3, 0}});
  EXPECT_EQ(prune_short_tips(loop, 100.0), loop);
}

TEST(PruneShortTips, EdgelessGraphComesBackAsACopy) {
  const Graph g = make_graph({{0, 0}, {1, 1}}, {});
  EXPECT_EQ(prune_short_tips(g, 5.0), g);
}

TEST(PruneShortTips, IsolatedPathFallsInOneStepLeavingItsNodes) {
  const Graph g = make_graph({{0, 0}, {1, 0}, {2, 0}}, {{2, 1}, {1, 0}});
  const Graph out = prune_short_tips(g, 2.5);
  EXPECT_EQ(out.nodes, g.nodes);
  EXPECT_TRUE(out.edges.empty());
}

struct RandomCase {
  std::size_t nodes;
  std::uint64_t seed;
  double threshold;
  std::size_t chords;
};

class PruneMatchesEdgeListScan : public testing::TestWithParam<RandomCase> {};

TEST_P(PruneMatchesEdgeListScan, OnRandomGraphs) {
  const RandomCase c = GetParam();
  const Graph g = graph_test::random_graph(c.nodes, c.seed, 0.2, 3.0, c.chords);
  EXPECT_EQ(prune_short_tips(g, c.threshold), prune_reference(g, c.threshold));
}

INSTANTIATE_TEST_SUITE_P(
    Trees, PruneMatchesEdgeListScan,
    testing::Values(RandomCase{2, 1, 5.0, 0}, RandomCase{30, 2, 2.0, 0}, RandomCase{200, 3, 2.0, 0},
                    RandomCase{200, 4, 5.0, 0}, RandomCase{500, 5, 8.0, 0}, RandomCase{500, 6, 1.0, 0},
                    RandomCase{300, 7, 4.0, 10}, RandomCase{300, 8, 6.0, 40}, RandomCase{800, 9, 3.0, 5}));
