// Bands of strokes drawn back and forth over themselves, piece by piece.
#include <clipper2/clipper.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "common/progress.h"
#include "inflate/inflate.h"
#include "inflate/retrace.h"

namespace strokegraph {
namespace {

double area_of(const std::vector<Ring>& rings) {
  double a = 0.0;
  for (const Ring& r : rings) {
    for (std::size_t k = 0; k < r.size(); ++k) {
      const Point p = r[k], q = r[(k + 1) % r.size()];
      a += p.x * q.y - q.x * p.y;
    }
  }
  return 0.5 * a;
}

Polyline back_and_forth(std::size_t n, double noise, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> g(0.0, noise);
  Polyline c;
  for (std::size_t i = 0; i < n; ++i) c.push_back({(i % 2) * 10.0 + g(rng), g(rng)});
  return c;
}

TEST(Retrace, OnlyStrokesThatCoverTheirBoxManyTimesOver) {
  EXPECT_TRUE(retraces_itself(back_and_forth(600, 0.01, 1), 1.0));
  EXPECT_FALSE(retraces_itself(back_and_forth(100, 0.01, 1), 1.0));  // too few points to cost
  Polyline wave;
  for (int i = 0; i < 2000; ++i) wave.push_back({i * 0.1, std::sin(i * 0.05)});
  EXPECT_FALSE(retraces_itself(wave, 1.0));
  EXPECT_FALSE(retraces_itself(back_and_forth(600, 0.01, 1), 1e-9));  // left as it is
}

// The same region as one offset call of the whole stroke: square caps at its
// ends, square joins inside.
TEST(Retrace, BandCoversWhatOneOffsetCallCovers) {
  for (const Polyline& c : {back_and_forth(300, 0.05, 2), back_and_forth(301, 0.3, 3)}) {
    const std::vector<Ring> pieces = retraced_band(c, 1.0, 1.0);
    const std::vector<Ring> whole = offset_bands({c}, std::nullopt, 1.0, 1.0);
    EXPECT_NEAR(area_of(pieces), area_of(whole), 1e-5 * area_of(whole));
    for (const Ring& r : pieces) EXPECT_GE(r.size(), 3u);
  }
}

TEST(Retrace, StopsBetweenUnions) {
  Progress progress;
  progress.stop = true;
  ProgressScope scope(&progress);
  EXPECT_THROW(retraced_band(back_and_forth(600, 0.01, 1), 1.0, 1.0), Cancelled);
}

}  // namespace
}  // namespace strokegraph
