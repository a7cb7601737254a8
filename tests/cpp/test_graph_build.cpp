#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "graph/graph.h"

using namespace strokegraph;

namespace {

Segment seg(double ax, double ay, double bx, double by) { return {{ax, ay}, {bx, by}}; }

}  // namespace

TEST(SegmentsToGraph, EmptyInputGivesEmptyGraph) {
  EXPECT_EQ(segments_to_graph({}, 0.05), Graph{});
}

TEST(SegmentsToGraph, SharedEndpointsBecomeOneNodeAtTheFirstPositionMet) {
  // Endpoints within one cell of an existing node join it without moving it.
  const Graph g = segments_to_graph({seg(0, 0, 10, 0), seg(10.04, 0.03, 10, 10), seg(10, 10, 0, 0)}, 0.1);
  ASSERT_EQ(g.nodes.size(), 3u);
  EXPECT_EQ(g.nodes[1], (Point{10, 0}));
  EXPECT_EQ(g.edges, (std::vector<Edge>{{0, 1}, {1, 2}, {2, 0}}));
}

TEST(SegmentsToGraph, LowestEndPlacesNodesWhateverTheOrder) {
  const std::vector<Segment> forward{seg(0, 0, 10, 0), seg(10.04, 0.03, 10, 10), seg(9.97, 0.02, 5, 5)};
  const std::vector<Segment> backward(forward.rbegin(), forward.rend());
  const Graph a = segments_to_graph(forward, 0.1, true), b = segments_to_graph(backward, 0.1, true);
  ASSERT_EQ(a.nodes.size(), 4u);
  EXPECT_EQ(a.nodes[1], (Point{9.97, 0.02}));
  std::vector<Point> pa = a.nodes, pb = b.nodes;
  auto less = [](Point p, Point q) { return p.x < q.x || (p.x == q.x && p.y < q.y); };
  std::sort(pa.begin(), pa.end(), less);
  std::sort(pb.begin(), pb.end(), less);
  EXPECT_EQ(pa, pb);
}

TEST(SegmentsToGraph, DuplicateSegmentsGiveOneEdgeOrientedAsFirstMet) {
  const Graph g = segments_to_graph({seg(5, 5, 0, 0), seg(0, 0, 5, 5), seg(5, 5, 0, 0)}, 0.1);
  ASSERT_EQ(g.nodes.size(), 2u);
  EXPECT_EQ(g.nodes[0], (Point{5, 5}));
  EXPECT_EQ(g.edges, (std::vector<Edge>{{0, 1}}));
}

// Two hubs of 40 spokes, drawn alternately, then the first hub's spokes once
// more, reversed: the repeats go and the first drawing of each stays.
TEST(SegmentsToGraph, RepeatsAtABusyNodeGoKeepingTheFirst) {
  std::vector<Segment> segments;
  std::vector<Edge> expected;
  for (int k = 0; k < 40; ++k) {
    const double a = 0.15 * k;
    segments.push_back(seg(0, 0, 10 * std::cos(a), 10 * std::sin(a)));
    segments.push_back(seg(100, 0, 100 + 10 * std::cos(a), 10 * std::sin(a)));
    // Ids: hub 0, its first spoke 1, hub 2, its first spoke 3, then two a pair.
    expected.push_back({0, static_cast<NodeId>(k == 0 ? 1 : 2 * k + 2)});
    expected.push_back({2, static_cast<NodeId>(2 * k + 3)});
  }
  for (int k = 39; k >= 0; --k) {
    const double a = 0.15 * k;
    segments.push_back(seg(10 * std::cos(a), 10 * std::sin(a), 0, 0));
  }
  EXPECT_EQ(segments_to_graph(segments, 0.1).edges, expected);
}

TEST(SegmentsToGraph, SegmentInsideOneCellLeavesANodeWithoutEdge) {
  const Graph g = segments_to_graph({seg(0, 0, 0.01, 0.01), seg(3, 0, 4, 0)}, 0.1);
  EXPECT_EQ(g.nodes.size(), 3u);
  EXPECT_EQ(g.edges, (std::vector<Edge>{{1, 2}}));
}

struct SnapCase {
  std::vector<Segment> segments;
  std::size_t nodes;
};

class SnapOnGrid : public testing::TestWithParam<SnapCase> {};

TEST_P(SnapOnGrid, NodeCount) {
  EXPECT_EQ(segments_to_graph(GetParam().segments, 1.0).nodes.size(), GetParam().nodes);
}

// Cell size 1, so a coordinate is its own key before rounding.
INSTANTIATE_TEST_SUITE_P(
    Cases, SnapOnGrid,
    testing::Values(
        // keys 0 and 1 are neighbours
        SnapCase{{seg(0.4, 0, 0.4, 50), seg(1.4, 0, 1.4, -50)}, 3},
        // keys 0 and 3 are not
        SnapCase{{seg(0.4, 0, 0.4, 50), seg(2.6, 0, 2.6, -50)}, 4},
        // ... unless endpoints met earlier chain the cells 0 -> 1 -> 2
        SnapCase{{seg(0.4, 0, 0.4, 50), seg(1.4, 0, 1.4, -50), seg(2.3, 0, 2.3, 30),
                  seg(2.6, 0, 2.6, -30)},
                 5},
        // 2.5 rounds away from zero to 3, which reaches 4 but not 1
        SnapCase{{seg(2.5, 0, 2.5, 50), seg(4.4, 0, 4.4, -50)}, 3},
        SnapCase{{seg(2.5, 0, 2.5, 50), seg(1.4, 0, 1.4, -50)}, 4},
        SnapCase{{seg(-2.5, 0, -2.5, 50), seg(-4.4, 0, -4.4, -50)}, 3},
        SnapCase{{seg(-2.5, 0, -2.5, 50), seg(-1.4, 0, -1.4, -50)}, 4},
        // beyond the 64-bit key range both saturate into one cell
        SnapCase{{seg(1e300, 0, 0, 50), seg(std::numeric_limits<double>::infinity(), 0, 0, -50)}, 3},
        // NaN keys are 0: the node at the origin takes it
        SnapCase{{seg(0, 0, 0, 50), seg(std::nan(""), 0.2, 0, -50)}, 3},
        // neighbours that wrap round the bitmap of claimed cells (x, y = -1 beside 0)
        SnapCase{{seg(0, 0, 0, 50), seg(0, -0.9, 0, -50)}, 3},
        SnapCase{{seg(0, 0, 0, 50), seg(-0.9, 0.3, 0, -50)}, 3},
        // a far cell that wraps onto the block of a new end is no neighbour
        SnapCase{{seg(0, 0, 0, 50), seg(64.3, 64.2, 0, -50)}, 4},
        // a neighbour past the 32-bit keys, kept beside the table
        SnapCase{{seg(2147483648.0, 0, 2147483648.0, 50), seg(2147483647.0, 0, 2147483647.0, -50)}, 3}));

TEST(SegmentsToGraph, ProbeOrderIsDxOuterDyInner) {
  // Node 0 claims cell (1, 0), node 2 cell (0, 2). The endpoint in cell (1, 1)
  // sees (0, 0), (0, 1), (0, 2) before (1, 0), so it joins node 2.
  const Graph g = segments_to_graph({seg(1, 0, 1, -40), seg(0, 2, -40, 2), seg(1, 1, 40, 40)}, 1.0);
  ASSERT_EQ(g.nodes.size(), 5u);
  EXPECT_EQ(g.edges.back(), (Edge{2, 4}));
}

TEST(SegmentsToGraph, SaturatedKeysAtTheRangeEndAreSafe) {
  // Neighbours of the largest and smallest keys lie outside the range.
  const double inf = std::numeric_limits<double>::infinity();
  const Graph g = segments_to_graph({seg(inf, inf, -inf, -inf), seg(-inf, inf, inf, -inf), seg(inf, inf, -inf, inf)}, 1.0);
  EXPECT_EQ(g.nodes.size(), 4u);
  EXPECT_EQ(g.edges.size(), 3u);
}

TEST(SegmentsToGraph, CellsClaimedBeforeTheTableGrowsAreStillFound) {
  // Far-apart segments claim two cells each, past what the table was sized
  // for; then every endpoint is met again, in its own cell or beside it.
  std::vector<Segment> segments;
  for (int k = 0; k < 500; ++k) segments.push_back(seg(10.0 * k, 0, 10.0 * k, 5));
  for (int k = 0; k < 500; ++k) segments.push_back(seg(10.0 * k + 1.2, 0, 10.0 * k, 5.9));
  const Graph g = segments_to_graph(segments, 1.0);
  EXPECT_EQ(g.nodes.size(), 1000u);
  EXPECT_EQ(g.edges.size(), 500u);
}
