#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <vector>

#include "graph/graph.h"
#include "graph_test_util.h"

using namespace strokegraph;
using graph_test::make_graph;

namespace {

// Junctions 0 at (0, 0) and 1 at (len, 0), linked through degree-2 nodes 2
// and 3 at thirds of the way; each junction has two long arms (4..7).
Graph linked_junctions(double len) {
  return make_graph({{0, 0}, {len, 0}, {len / 3, 0}, {2 * len / 3, 0}, {-10, 5}, {-10, -5}, {len + 10, 5}, {len + 10, -5}},
                    {{0, 2}, {2, 3}, {3, 1}, {0, 4}, {0, 5}, {1, 6}, {1, 7}});
}

}  // namespace

class MergeLinkedJunctions : public testing::TestWithParam<double> {};

TEST_P(MergeLinkedJunctions, LinkUpToTheLimitCollapsesToTheMidpoint) {
  const double len = GetParam();
  const Graph out = merge_close_junctions(linked_junctions(len), 1.5);
  const Graph expected = make_graph({{len * 0.5, 0}, {-10, 5}, {-10, -5}, {len + 10, 5}, {len + 10, -5}},
                                    {{0, 1}, {0, 2}, {0, 3}, {0, 4}});
  EXPECT_EQ(out, expected);
}

INSTANTIATE_TEST_SUITE_P(Lengths, MergeLinkedJunctions, testing::Values(1.0, 1.5));

TEST(MergeCloseJunctions, LongerLinkOnlyCompacts) {
  const Graph g = linked_junctions(2.0);
  EXPECT_EQ(merge_close_junctions(g, 1.5), g);
}

TEST(MergeCloseJunctions, DirectEdgeDisappears) {
  const Graph g = make_graph({{0, 0}, {0.5, 0}, {-5, 5}, {-5, -5}, {5, 5}, {5, -5}},
                             {{2, 0}, {0, 3}, {0, 1}, {1, 4}, {5, 1}});
  const Graph expected = make_graph({{0.25, 0}, {-5, 5}, {-5, -5}, {5, 5}, {5, -5}},
                                    {{1, 0}, {0, 2}, {0, 3}, {4, 0}});
  EXPECT_EQ(merge_close_junctions(g, 1.5), expected);
}

TEST(MergeCloseJunctions, SecondPathBetweenTheSameJunctionsBecomesALoop) {
  // Path A: 0-2-1 (length 1); path B: 0-3-4-1. Tips 5 and 6.
  const Graph g = make_graph({{0, 0}, {1, 0}, {0.5, 0}, {0.2, 0.4}, {0.8, 0.4}, {-9, 0}, {9, 0}},
                             {{0, 2}, {2, 1}, {0, 3}, {3, 4}, {4, 1}, {0, 5}, {1, 6}});
  const Graph expected = make_graph({{0.5, 0}, {0.2, 0.4}, {0.8, 0.4}, {-9, 0}, {9, 0}},
                                    {{0, 1}, {1, 2}, {2, 0}, {0, 3}, {0, 4}});
  EXPECT_EQ(merge_close_junctions(g, 1.5), expected);
}

TEST(MergeCloseJunctions, ShortLoopAtOneJunctionStays) {
  const Graph g = make_graph({{0, 0}, {0.3, 0.2}, {0.3, -0.2}, {-9, 0}}, {{0, 1}, {1, 2}, {2, 0}, {3, 0}});
  EXPECT_EQ(merge_close_junctions(g, 1.5), g);
}

TEST(MergeCloseJunctions, ShortestLinkMergesFirstAndMidpointsFollowTheOrder) {
  // Junctions a = 0 at x 0, b = 1 at x 1, c = 2 at x 1.5: b-c (0.5) merges
  // first at 1.25, then a with that node at 0.625.
  const Graph g = make_graph({{0, 0}, {1, 0}, {1.5, 0}, {-9, 5}, {-9, -5}, {1, 9}, {9, 5}, {9, -5}},
                             {{0, 1}, {1, 2}, {0, 3}, {0, 4}, {1, 5}, {2, 6}, {2, 7}});
  const Graph out = merge_close_junctions(g, 1.5);
  ASSERT_EQ(out.nodes.size(), 6u);
  EXPECT_EQ(out.nodes[0], (Point{0.625, 0}));
  EXPECT_EQ(out.edges, (std::vector<Edge>{{0, 1}, {0, 2}, {0, 3}, {0, 4}, {0, 5}}));
}

TEST(MergeCloseJunctions, FullyCollapsedClusterKeepsOneNodeWithoutEdges) {
  const Graph k4 = make_graph({{0, 0}, {0.1, 0}, {0.1, 0.1}, {0, 0.1}}, {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {0, 2}, {1, 3}});
  const Graph out = merge_close_junctions(k4, 1.5);
  EXPECT_EQ(out.nodes.size(), 1u);
  EXPECT_TRUE(out.edges.empty());
}

TEST(MergeCloseJunctions, WithoutJunctionsEdgelessNodesAreDroppedAndIdsRanked) {
  const Graph g = make_graph({{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}}, {{2, 1}, {4, 5}});
  const Graph expected = make_graph({{1, 0}, {2, 0}, {4, 0}, {5, 0}}, {{1, 0}, {2, 3}});
  EXPECT_EQ(merge_close_junctions(g, 1.5), expected);
}

TEST(MergeCloseJunctions, NonFiniteLengthsNeitherCrashNorReorder) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // Junctions 0 (finite), 1 (at infinity) and 2 (NaN), pairwise linked.
  const Graph g = make_graph({{0, 0}, {inf, 0}, {nan, 0}, {0.5, 0}, {-1, 0}, {0, 1}, {9, 9}, {8, 8}},
                             {{0, 3}, {3, 1}, {0, 2}, {1, 2}, {0, 4}, {1, 5}, {2, 6}, {2, 7}});
  const Graph a = merge_close_junctions(g, inf);
  const Graph b = merge_close_junctions(g, inf);
  EXPECT_EQ(a.edges, b.edges);
  ASSERT_EQ(a.nodes.size(), b.nodes.size());
  EXPECT_FALSE(a.nodes.empty());
}

TEST(MergeCloseJunctions, RandomGraphsKeepTheGraphInvariants) {
  for (std::uint64_t seed = 1; seed <= 20; ++seed) {
    const Graph g = prune_short_tips(graph_test::random_graph(400, seed, 0.1, 2.0, seed % 4 * 10), 2.0);
    const Graph out = merge_close_junctions(g, 1.5);
    std::set<std::pair<NodeId, NodeId>> pairs;
    for (const auto& [a, b] : out.edges) {
      ASSERT_LT(a, out.nodes.size());
      ASSERT_LT(b, out.nodes.size());
      ASSERT_NE(a, b);
      ASSERT_TRUE(pairs.emplace(std::min(a, b), std::max(a, b)).second);
    }
    ASSERT_LE(out.nodes.size(), g.nodes.size());
  }
}
