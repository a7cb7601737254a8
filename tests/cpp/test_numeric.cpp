#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "common/numeric.h"

namespace strokegraph {
namespace {

class RoundSaturating : public testing::TestWithParam<double> {};

// The inline rounding agrees with std::round everywhere, halves, the last
// fractional doubles below 2^52, huge values and NaN included.
TEST_P(RoundSaturating, MatchesStdRound) {
  const double v = GetParam();
  EXPECT_EQ(round_saturating(v), saturating_i64(std::round(v))) << v;
  EXPECT_EQ(round_saturating(-v), saturating_i64(std::round(-v))) << -v;
}

INSTANTIATE_TEST_SUITE_P(
    Values, RoundSaturating,
    testing::Values(0.0, 0.5, 0.49999999999999994, 1.5, 2.5, 2.4999999999999996, 1e-300,
                    0x1p52 - 0.5, 0x1p52 - 1.5, 0x1p52, 0x1p52 + 1, 0x1p53 + 2, 0x1p63,
                    0x1p63 - 1024, 1e300, std::numeric_limits<double>::infinity(),
                    std::numeric_limits<double>::quiet_NaN()));

}  // namespace
}  // namespace strokegraph
