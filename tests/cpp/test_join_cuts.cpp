#include <gtest/gtest.h>

#include <vector>

#include "pipeline/join_cuts.h"

using namespace strokegraph;

// Seam at x = 10. Node 1 cuts the segment 0-2 in two collinear halves and
// goes; node 4 lies on the seam between edges that bend there, node 6 has a
// third edge: both stay.
TEST(JoinSeamCuts, JoinsCollinearHalvesOnASeamOnly) {
  TileGrid grid;
  grid.xs = {0.0, 10.0, 20.0};
  grid.ys = {-50.0, 50.0};
  Graph g;
  g.nodes = {{8, 1}, {10, 2}, {12, 3}, {8, 5}, {10, 6}, {12, 5}, {10, 9}, {8, 9}, {12, 9}, {10, 11}};
  g.edges = {{1, 0}, {3, 4}, {1, 2}, {4, 5}, {7, 6}, {6, 8}, {6, 9}};
  const Graph joined = join_seam_cuts(g, grid);
  EXPECT_EQ(joined.nodes, g.nodes);
  EXPECT_EQ(joined.edges, (std::vector<Edge>{{2, 0}, {3, 4}, {4, 5}, {7, 6}, {6, 8}, {6, 9}}));
}
