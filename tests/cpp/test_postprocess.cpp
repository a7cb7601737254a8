#include <gtest/gtest.h>

#include <vector>

#include "pipeline/postprocess.h"

using namespace strokegraph;

namespace {

Chain chain(std::vector<Point> points, NodeId start, NodeId end) {
  Chain c;
  c.points = std::move(points);
  c.start_node = start;
  c.end_node = end;
  return c;
}

}  // namespace

TEST(StraightenFreeEnds, EndMovesHalfwayToTheExtendedLine) {
  // A = (0,0), B = (1,0), X = (2,2): foot Q = (2,0), X becomes (2,1).
  std::vector<Point> p{{0, 0}, {1, 0}, {2, 2}};
  straighten_free_ends(p, false, true);
  EXPECT_EQ(p[2], (Point{2, 1}));
  EXPECT_EQ(p[0], (Point{0, 0}));
}

TEST(StraightenFreeEnds, StartUsesTheAlreadyMovedEnd) {
  // End first: A=(0,2), B=(1,0), X=(2,0): d=(1,-2), t=(1*1+0)/5=0.2,
  // Q=(1.2,-0.4), X=(1.6,-0.2). Then start: A=P[2]=(1.6,-0.2), B=(1,0), X=(0,2).
  std::vector<Point> p{{0, 2}, {1, 0}, {2, 0}};
  straighten_free_ends(p, true, true);
  EXPECT_DOUBLE_EQ(p[2].x, 1.6);
  EXPECT_DOUBLE_EQ(p[2].y, -0.2);
  const double dx = 1.0 - 1.6, dy = 0.0 - -0.2;
  const double t = ((0.0 - 1.0) * dx + (2.0 - 0.0) * dy) / (dx * dx + dy * dy);
  EXPECT_EQ(p[0].x, (0.0 + (1.0 + t * dx)) * 0.5);
  EXPECT_EQ(p[0].y, (2.0 + (0.0 + t * dy)) * 0.5);
}

TEST(StraightenFreeEnds, LeavesShortChainsDegenerateDirectionsAndInnerEndsAlone) {
  std::vector<Point> two{{0, 0}, {5, 5}};
  straighten_free_ends(two, true, true);
  EXPECT_EQ(two, (std::vector<Point>{{0, 0}, {5, 5}}));

  std::vector<Point> repeated{{1, 1}, {1, 1}, {3, 7}};  // d = B - A = 0
  straighten_free_ends(repeated, false, true);
  EXPECT_EQ(repeated[2], (Point{3, 7}));

  std::vector<Point> inner{{0, 3}, {1, 0}, {2, 0}, {3, 3}};
  straighten_free_ends(inner, false, false);
  EXPECT_EQ(inner, (std::vector<Point>{{0, 3}, {1, 0}, {2, 0}, {3, 3}}));
}

TEST(NumberNodes, FirstAppearanceOrderWithSharedAndLoopNodes) {
  // Graph ids 7 (junction), 3, 9, 4 (a loop on 4).
  std::vector<Chain> chains{chain({{0, 0}, {5, 0}}, 7, 3), chain({{0, 0}, {0, 5}}, 7, 9),
                            chain({{9, 9}, {8, 8}, {9, 9}}, 4, 4)};
  std::vector<Polyline> final_points{{{0.5, 0}, {5, 0}}, {{0.25, 0}, {0, 5}},
                                     {{9, 9}, {8, 8}, {9, 9}}};
  NumberedNodes n = number_nodes(chains, final_points);
  using Ids = std::vector<std::pair<std::size_t, std::size_t>>;
  EXPECT_EQ(n.chain_node_ids, (Ids{{0, 1}, {0, 2}, {3, 3}}));
  // A shared node keeps the position of the first chain that reached it.
  EXPECT_EQ(n.nodes, (std::vector<Point>{{0.5, 0}, {5, 0}, {0, 5}, {9, 9}}));
}

TEST(NumberNodes, EmptyInputGivesEmptyOutput) {
  NumberedNodes n = number_nodes({}, {});
  EXPECT_TRUE(n.nodes.empty());
  EXPECT_TRUE(n.chain_node_ids.empty());
}
