// One call into each third-party library, so a broken fetch or build shows up
// here rather than deep inside a stage.
#include <gtest/gtest.h>

#include <CDT.h>

#include <clipper2/clipper.h>

#include <cmath>

TEST(Dependencies, ClipperOffsetsAnOpenPathWithSquareEnds) {
  using namespace Clipper2Lib;
  PathsD paths{{{0.0, 0.0}, {10.0, 0.0}}};
  PathsD out = InflatePaths(paths, 1.0, JoinType::Square, EndType::Square, 0.0, 6, 0.2);
  ASSERT_EQ(out.size(), 1u);
  // A square-capped band of a 10-long segment with radius 1: 12 by 2.
  EXPECT_NEAR(std::abs(Area(out[0])), 24.0, 1e-9);
  RectD bounds = GetBounds(out);
  EXPECT_NEAR(bounds.left, -1.0, 1e-9);
  EXPECT_NEAR(bounds.right, 11.0, 1e-9);
  EXPECT_NEAR(bounds.top, -1.0, 1e-9);
  EXPECT_NEAR(bounds.bottom, 1.0, 1e-9);
}

TEST(Dependencies, CdtTriangulatesASquareWithAHole) {
  CDT::Triangulation<double> cdt;
  std::vector<CDT::V2d<double>> points = {{0, 0}, {10, 0}, {10, 10}, {0, 10},
                                          {3, 3}, {7, 3},  {7, 7},   {3, 7}};
  std::vector<CDT::Edge> edges;
  for (CDT::VertInd i = 0; i < 4; ++i) {
    edges.emplace_back(i, (i + 1) % 4);
    edges.emplace_back(4 + i, 4 + (i + 1) % 4);
  }
  cdt.insertVertices(points);
  cdt.insertEdges(edges);
  cdt.eraseOuterTrianglesAndHoles();
  EXPECT_EQ(cdt.triangles.size(), 8u);
}
