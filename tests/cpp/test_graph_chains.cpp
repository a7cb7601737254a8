#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "graph/graph.h"
#include "graph/graph_util.h"
#include "graph_test_util.h"

using namespace strokegraph;
using graph_test::make_graph;

namespace {

Chain chain(std::vector<Point> points, NodeId s, NodeId e, bool s_tip, bool e_tip) {
  return Chain{std::move(points), s, e, s_tip, e_tip};
}

}  // namespace

TEST(ExtractChains, SingleEdgeRunsFromTheSmallerId) {
  const Graph g = make_graph({{0, 0}, {1, 0}}, {{1, 0}});
  EXPECT_EQ(extract_chains(g), (std::vector<Chain>{chain({{0, 0}, {1, 0}}, 0, 1, true, true)}));
}

TEST(ExtractChains, YArmWithASmallerTipIdStartsAtTheTip) {
  // Tip 0, junction 1, tips 2 and 3.
  const Graph g = make_graph({{-1, 0}, {0, 0}, {1, 1}, {1, -1}}, {{1, 2}, {0, 1}, {3, 1}});
  const std::vector<Chain> expected = {chain({{-1, 0}, {0, 0}}, 0, 1, true, false),
                                       chain({{0, 0}, {1, 1}}, 1, 2, false, true),
                                       chain({{0, 0}, {1, -1}}, 1, 3, false, true)};
  EXPECT_EQ(extract_chains(g), expected);
}

TEST(ExtractChains, PathThroughDegreeTwoNodesIsOneChain) {
  const Graph g = make_graph({{0, 0}, {1, 0}, {2, 0}, {3, 0}}, {{2, 3}, {0, 1}, {1, 2}});
  EXPECT_EQ(extract_chains(g),
            (std::vector<Chain>{chain({{0, 0}, {1, 0}, {2, 0}, {3, 0}}, 0, 3, true, true)}));
}

TEST(ExtractChains, LoopStartsAtItsSmallestIdTowardsItsFirstNeighbour) {
  const Graph g = make_graph({{0, 0}, {1, 0}, {2, 1}, {1, 2}, {0, 1}}, {{3, 4}, {0, 4}, {1, 2}, {2, 3}, {0, 1}});
  // Node 0's neighbours in edge order: 4, then 1.
  EXPECT_EQ(extract_chains(g),
            (std::vector<Chain>{chain({{0, 0}, {0, 1}, {1, 2}, {2, 1}, {1, 0}, {0, 0}}, 0, 0, false, false)}));
}

TEST(ExtractChains, FigureEightGivesTwoLoopsAtTheJunction) {
  const Graph g = make_graph({{0, 0}, {1, 1}, {2, 0}, {1, -1}, {-1, 1}, {-2, 0}, {-1, -1}},
                             {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {0, 4}, {4, 5}, {5, 6}, {6, 0}});
  const std::vector<Chain> chains = extract_chains(g);
  ASSERT_EQ(chains.size(), 2u);
  EXPECT_EQ(chains[0], chain({{0, 0}, {1, 1}, {2, 0}, {1, -1}, {0, 0}}, 0, 0, false, false));
  EXPECT_EQ(chains[1], chain({{0, 0}, {-1, 1}, {-2, 0}, {-1, -1}, {0, 0}}, 0, 0, false, false));
}

TEST(ExtractChains, IsolatedNodesGiveNothing) {
  EXPECT_TRUE(extract_chains(make_graph({{0, 0}, {1, 1}}, {})).empty());
  EXPECT_TRUE(extract_chains(Graph{}).empty());
}

TEST(ExtractChains, EveryEdgeLiesOnExactlyOneChain) {
  for (std::uint64_t seed = 1; seed <= 20; ++seed) {
    const Graph g = graph_test::random_graph(300, seed, 0.5, 2.0, seed % 3 * 15);
    std::size_t segments = 0;
    for (const Chain& c : extract_chains(g)) {
      ASSERT_GE(c.points.size(), 2u);
      EXPECT_EQ(c.points.front(), g.nodes[c.start_node]);
      EXPECT_EQ(c.points.back(), g.nodes[c.end_node]);
      segments += c.points.size() - 1;
    }
    EXPECT_EQ(segments, g.edges.size());
  }
}

// Many node ranges on the pool, loops at junctions, and rings of degree-2
// nodes alone with their ids spread among the others: the same chains in the
// same order as the walk that marks edges in node order.
TEST(ExtractChains, MatchesTheOrderedWalkOnLargeGraphs) {
  for (std::uint64_t seed = 1; seed <= 3; ++seed) {
    Graph g = graph_test::random_graph(50000, seed, 0.5, 2.0, seed * 3000);
    std::mt19937_64 rng(seed);
    for (int ring = 0; ring < 40; ++ring) {
      const auto first = static_cast<NodeId>(g.nodes.size());
      const std::size_t size = 3 + rng() % 50;
      for (std::size_t k = 0; k < size; ++k) {
        g.nodes.push_back({ring * 100.0 + std::cos(k * 0.1), std::sin(k * 0.1)});
        g.edges.emplace_back(static_cast<NodeId>(first + k), static_cast<NodeId>(first + (k + 1) % size));
      }
    }
    for (int loop = 0; loop < 40; ++loop) {
      const auto at = static_cast<NodeId>(rng() % 50000), first = static_cast<NodeId>(g.nodes.size());
      for (int k = 0; k < 3; ++k) g.nodes.push_back({g.nodes[at].x + k, g.nodes[at].y + 1.0});
      g.edges.insert(g.edges.end(), {{at, first}, {first, first + 1}, {first + 1, first + 2}, {first + 2, at}});
    }
    std::vector<NodeId> id(g.nodes.size());
    for (std::size_t v = 0; v < id.size(); ++v) id[v] = static_cast<NodeId>(v);
    std::shuffle(id.begin(), id.end(), rng);
    Graph shuffled{std::vector<Point>(g.nodes.size()), {}};
    for (std::size_t v = 0; v < id.size(); ++v) shuffled.nodes[id[v]] = g.nodes[v];
    for (const Edge& e : g.edges) shuffled.edges.emplace_back(id[e.first], id[e.second]);
    const std::vector<Chain> walked = graph_detail::walk_chains(shuffled, graph_detail::build_adjacency(shuffled));
    ASSERT_GT(walked.size(), 1000u);
    EXPECT_TRUE(extract_chains(shuffled) == walked) << seed;
  }
}

TEST(SmoothChainTaubin, ShortChainsComeBackUnchanged) {
  for (const std::vector<Point>& p : {std::vector<Point>{}, std::vector<Point>{{1, 2}},
                                      std::vector<Point>{{1, 2}, {3, 4}}}) {
    EXPECT_EQ(smooth_chain_taubin(p, 3, 0.5, -0.53), p);
  }
}

TEST(SmoothChainTaubin, ZeroIterationsAndEvenlySpacedLinesStay) {
  const std::vector<Point> bent = {{0, 0}, {1, 1}, {2, 0}, {5, 3}};
  EXPECT_EQ(smooth_chain_taubin(bent, 0, 0.5, -0.53), bent);
  const std::vector<Point> line = {{0, 0}, {1, 2}, {2, 4}};
  EXPECT_EQ(smooth_chain_taubin(line, 3, 0.5, -0.53), line);
}

TEST(SmoothChainTaubin, PeakShrinksByHalfAndGrowsBy153PerIteration) {
  const std::vector<Point> out = smooth_chain_taubin({{0, 0}, {1, 1}, {2, 0}}, 3, 0.5, -0.53);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0], (Point{0, 0}));
  EXPECT_EQ(out[2], (Point{2, 0}));
  EXPECT_DOUBLE_EQ(out[1].x, 1.0);
  EXPECT_NEAR(out[1].y, std::pow(0.5 * 1.53, 3), 1e-15);
}

TEST(SmoothChainTaubin, StepsReadOnlyThePreviousState) {
  // One shrinking step alone (mu = 0): both inner points move towards the
  // old midpoints of their neighbours, not towards already moved ones.
  const std::vector<Point> out = smooth_chain_taubin({{0, 0}, {1, 4}, {2, 0}, {3, 0}}, 1, 0.5, 0.0);
  EXPECT_EQ(out[1], (Point{1, 2}));
  EXPECT_EQ(out[2], (Point{2, 1}));
}
