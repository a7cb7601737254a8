#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "pipeline/runner.h"

using namespace strokegraph;

TEST(BandWork, CountsPointsAndOutlineStepsOfTheFinerScale) {
  const std::vector<Polyline> one{{{0, 0}, {3, 4}, {3, 10}}};
  const double caps = 2.0 * M_PI * 2.0;
  EXPECT_DOUBLE_EQ(band_work(one, 2.0, 2.0), 3.0 + (11.0 + caps) / 2.0);
  EXPECT_DOUBLE_EQ(band_work(one, 2.0, 0.5), 3.0 + (11.0 + caps) / 0.5);  // a finer feature size
  EXPECT_DOUBLE_EQ(band_work(one, 2.0, 8.0), band_work(one, 2.0, 2.0));
  // Every curve has caps, a lone point too; no curve, no work.
  EXPECT_DOUBLE_EQ(band_work({{{1, 1}}, {}}, 1.0, 1.0), 1.0 + 4.0 * M_PI);
  EXPECT_EQ(band_work({}, 1.0, 1.0), 0.0);
}

TEST(BandWork, GlyphsAreShortAndLongOrBrokenInputIsNot) {
  // A letter 30 high of a few strokes, at radius 2.
  const std::vector<Polyline> glyph{{{0, 0}, {10, 30}, {20, 0}}, {{4, 12}, {16, 12}}};
  EXPECT_LE(band_work(glyph, 2.0, 2.0), kShortCallWork);
  const std::vector<Polyline> long_line{{{0, 0}, {2e6, 0}}};
  EXPECT_GT(band_work(long_line, 1.0, 1.0), kShortCallWork);
  EXPECT_GT(band_work(glyph, 2.0, 1e-4), kShortCallWork);  // a tiny feature size
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (const Point& bad : {Point{nan, 0}, Point{0, inf}, Point{-1e300, 1e300}}) {
    EXPECT_FALSE(band_work({{{0, 0}, bad}}, 1.0, 1.0) <= kShortCallWork);
  }
}
