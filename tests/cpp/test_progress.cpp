// Cancellation and progress of running pipelines, and the runner thread.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>

#include "common/progress.h"
#include "pipeline/batch.h"
#include "pipeline/intermediates.h"
#include "pipeline/runner.h"
#include "pipeline/topologize.h"

using namespace strokegraph;

namespace {

const std::vector<Polyline> kCross = {{{0, 0}, {20, 0}}, {{10, -10}, {10, 10}}};

BatchJob job(std::vector<Polyline> curves) { return {std::move(curves), 1.0, 1.0, {}}; }

}  // namespace

TEST(Progress, EveryPipelineStopsAtItsFirstCheckOnceAsked) {
  Progress progress;
  progress.stop = true;
  ProgressScope scope(&progress);
  EXPECT_THROW(topologize(kCross, 1.0, 1.0, {}), Cancelled);
  EXPECT_THROW(inflate_curves(kCross, 1.0, 1.0, std::nullopt, std::nullopt), Cancelled);
  EXPECT_THROW(triangulate_curves(kCross, 1.0, 1.0, std::nullopt, {}, std::nullopt), Cancelled);
  EXPECT_THROW(run_batch({job(kCross), job(kCross), job(kCross)}), Cancelled);
}

TEST(Progress, ReportsStagesInOrderAndLeavesResultsAlone) {
  const auto plain = std::get<TopologizeOutput>(topologize(kCross, 1.0, 1.0, {}));
  Progress progress;
  {
    ProgressScope scope(&progress);
    const auto watched = std::get<TopologizeOutput>(topologize(kCross, 1.0, 1.0, {}));
    EXPECT_EQ(watched.chains, plain.chains);
  }
  EXPECT_STREQ(progress.stage.load(), "chains");
  EXPECT_GE(progress.fraction.load(), 0.95);
  EXPECT_LE(progress.fraction.load(), 1.0);
  EXPECT_EQ(current_progress(), nullptr);  // the scope restored the thread's state

  Progress batch;
  {
    ProgressScope scope(&batch);
    (void)run_batch({job(kCross), job(kCross)});
  }
  EXPECT_STREQ(batch.stage.load(), "batch");
  EXPECT_EQ(batch.fraction.load(), 1.0);
}

TEST(Progress, CancelledBatchLeavesThePoolUsable) {
  Progress progress;
  progress.stop = true;
  {
    ProgressScope scope(&progress);
    EXPECT_THROW(run_batch(std::vector<BatchJob>(16, job(kCross))), Cancelled);
  }
  auto results = run_batch(std::vector<BatchJob>(4, job(kCross)));
  ASSERT_TRUE(std::holds_alternative<std::vector<TopologizeOutput>>(results));
  EXPECT_EQ(std::get<0>(results).size(), 4u);
}

TEST(Runner, AStopRequestEndsALongCallEarly) {
  // A boundary of over a million points: seconds of work unless stopped.
  auto outcome = std::make_shared<std::string>();
  auto runner = start_runner([outcome] {
    try {
      (void)topologize({{{0, 0}, {1e6, 0}}}, 1.0, 1.0, {});
      *outcome = "finished";
    } catch (const Cancelled&) {
      *outcome = "cancelled";
    }
  });
  ASSERT_NE(runner, nullptr);
  EXPECT_FALSE(wait_runner(*runner, std::chrono::milliseconds(50)));
  runner->progress.stop = true;
  while (!wait_runner(*runner, std::chrono::milliseconds(100))) {
  }
  EXPECT_EQ(*outcome, "cancelled");
}

// Found by fuzz_inflate: a curve whose points all round to one vertex of the
// offsetter's grid, with a radius past 2^31 grid units (2147.48 units), made
// the offsetter overflow an int while squaring it.
TEST(FuzzRegression, WidePointBandIsASquare) {
  const std::vector<Polyline> dot = {{{5.0, 7.0}, {5.0, 7.0 + 1e-8}}};
  for (const auto& widths : {std::optional<WidthLists>{}, std::optional<WidthLists>{{{3000.0, 3000.0}}}}) {
    const auto polygons = std::get<0>(inflate_curves(dot, 3000.0, 1.0, widths, 0.0));
    ASSERT_EQ(polygons.size(), 1u);
    ASSERT_EQ(polygons[0].outer.size(), 4u);
    double lo_x = 1e300, hi_x = -1e300;
    for (const Point& p : polygons[0].outer) lo_x = std::min(lo_x, p.x), hi_x = std::max(hi_x, p.x);
    EXPECT_DOUBLE_EQ(lo_x, -2995.0);
    EXPECT_DOUBLE_EQ(hi_x, 3005.0);
  }
}
