#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <variant>

#include "pipeline/front.h"
#include "pipeline/thresholds.h"
#include "pipeline/topologize.h"

using namespace strokegraph;

namespace {

std::string message(const std::optional<PipelineError>& e) { return e ? e->message : "<none>"; }

}  // namespace

TEST(CheckFeatureSize, RejectsEverythingButPositiveFiniteValues) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::string prefix = "feature_size must be a positive finite number, got ";
  EXPECT_EQ(message(check_feature_size(0.0)), prefix + "0");
  EXPECT_EQ(message(check_feature_size(-0.0)), prefix + "-0");
  EXPECT_EQ(message(check_feature_size(-1.0)), prefix + "-1");
  EXPECT_EQ(message(check_feature_size(nan)), prefix + "NaN");
  EXPECT_EQ(message(check_feature_size(inf)), prefix + "inf");
  EXPECT_EQ(message(check_feature_size(-inf)), prefix + "-inf");
  EXPECT_FALSE(check_feature_size(std::numeric_limits<double>::denorm_min()));
  EXPECT_FALSE(check_feature_size(1e300));
}

TEST(CheckWidths, MessagesAndSkippedEmptyEntries) {
  std::vector<Polyline> one{{{0, 0}, {1, 0}}};
  EXPECT_FALSE(check_widths(one, std::nullopt));
  EXPECT_FALSE(check_widths(one, WidthLists{{}, {}, {}}));
  EXPECT_FALSE(check_widths(one, WidthLists{}));
  EXPECT_FALSE(check_widths(one, WidthLists{{1.0, 2.0}}));
  EXPECT_EQ(message(check_widths({}, WidthLists{{1.0, 1.0}})),
            "per_curve_widths has an entry for curve 0 but only 0 curve(s) were given");
  EXPECT_EQ(message(check_widths(one, WidthLists{{1.0}})),
            "per_curve_widths[0] has 1 entries but curve 0 has 2 points; they must match (or "
            "pass an empty list to use the uniform buffer)");
  // The first offending entry wins.
  EXPECT_EQ(message(check_widths(one, WidthLists{{1.0, 1.0}, {}, {2.0}})),
            "per_curve_widths has an entry for curve 2 but only 1 curve(s) were given");
}

TEST(Thresholds, DefaultsAndSwitches) {
  EXPECT_EQ(derived_merge_tolerance(2.0, std::nullopt), 0.01 * 2.0);
  EXPECT_EQ(derived_merge_tolerance(2.0, 0.5), 0.5);
  EXPECT_EQ(derived_merge_tolerance(2.0, -1.0), 0.0);
  EXPECT_EQ(derived_merge_tolerance(2.0, std::nan("")), 0.0);
  EXPECT_EQ(derived_decimation_spacing(3.0), 0.15 * 3.0);

  TopologizeOptions o;
  GraphThresholds t = derive_graph_thresholds(3.0, o);
  EXPECT_EQ(t.chain_simplification, 3.0 / 10.0);
  EXPECT_EQ(t.snap_tolerance, 3.0 / 20.0);
  EXPECT_EQ(t.tip_length, 3.0 * 2.0);
  EXPECT_EQ(t.junction_distance, 3.0 * 1.5);

  o.simplification = -4.0;
  o.min_tip_fraction = std::nan("");
  o.junction_merge_fraction = 0.0;
  t = derive_graph_thresholds(3.0, o);
  EXPECT_EQ(t.chain_simplification, -4.0);
  EXPECT_FALSE(t.tip_length > 0.0);
  EXPECT_FALSE(t.junction_fraction > 0.0);
}

TEST(Topologize, ChecksFeatureSizeThenWidthsAndEmptyInputGivesEmptyLists) {
  TopologizeOptions o;
  o.per_curve_widths = WidthLists{{1.0}};
  auto r = topologize({}, 1.0, 0.0, o);
  ASSERT_TRUE(std::holds_alternative<PipelineError>(r));
  EXPECT_EQ(std::get<PipelineError>(r).message,
            "feature_size must be a positive finite number, got 0");
  r = topologize({}, 1.0, 1.0, o);
  EXPECT_EQ(std::get<PipelineError>(r).message,
            "per_curve_widths has an entry for curve 0 but only 0 curve(s) were given");

  TopologizeOptions empty;
  empty.compute_widths = true;
  empty.max_nodes = 0;
  r = topologize({}, 1.0, 1.0, empty);
  ASSERT_TRUE(std::holds_alternative<TopologizeOutput>(r));
  const auto& out = std::get<TopologizeOutput>(r);
  EXPECT_TRUE(out.chains.empty() && out.nodes.empty() && out.chain_node_ids.empty() &&
              out.widths.empty());
}
