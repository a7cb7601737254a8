#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "common/format.h"

using strokegraph::format_float;

struct FormatCase {
  double value;
  std::string text;
};

class FormatFloat : public testing::TestWithParam<FormatCase> {};

TEST_P(FormatFloat, ShortestRoundTripWithoutExponent) {
  EXPECT_EQ(format_float(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, FormatFloat,
    testing::Values(FormatCase{0.0, "0"}, FormatCase{-0.0, "-0"}, FormatCase{-1.0, "-1"},
                    FormatCase{-2.0, "-2"}, FormatCase{0.1, "0.1"}, FormatCase{2.5, "2.5"},
                    FormatCase{1e22, "10000000000000000000000"},
                    FormatCase{1e23, "100000000000000000000000"},
                    FormatCase{-9.5e21, "-9500000000000000000000"},
                    FormatCase{-2e23, "-200000000000000000000000"},
                    FormatCase{1.5e300, "15" + std::string(299, '0')},
                    FormatCase{0.001, "0.001"}, FormatCase{123.456, "123.456"},
                    FormatCase{123456789012.5, "123456789012.5"},
                    FormatCase{std::numeric_limits<double>::quiet_NaN(), "NaN"},
                    FormatCase{-std::numeric_limits<double>::quiet_NaN(), "NaN"},
                    FormatCase{std::numeric_limits<double>::infinity(), "inf"},
                    FormatCase{-std::numeric_limits<double>::infinity(), "-inf"}));

TEST(FormatFloat, TinyValuesAreWrittenOutInFull) {
  std::string tiny = format_float(5e-324);
  EXPECT_EQ(tiny, "0." + std::string(323, '0') + "5");
  std::string small = format_float(1e-300);
  EXPECT_EQ(small, "0." + std::string(299, '0') + "1");
}

TEST(FormatFloat, ExtremesRoundTrip) {
  for (double v : {std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest(),
                   std::numeric_limits<double>::min(), 5e-324, 1e-300, 0.30000000000000004,
                   1.0 / 3.0, 9007199254740993.0}) {
    const std::string text = format_float(v);
    EXPECT_EQ(text.find('e'), std::string::npos) << text;
    double back = 0.0;
    std::from_chars(text.data(), text.data() + text.size(), back);
    EXPECT_EQ(back, v) << text;
  }
}
