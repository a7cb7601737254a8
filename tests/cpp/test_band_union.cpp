// Clusters of bands and the union computed one cluster at a time, against one
// union call over all bands.
#include <clipper2/clipper.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "common/rdp.h"
#include "conditioning/merge.h"
#include "inflate/band_union.h"
#include "inflate/inflate.h"
#include "pipeline/thresholds.h"

namespace strokegraph {
namespace {

using namespace Clipper2Lib;

std::vector<std::vector<std::size_t>> clusters_by_brute_force(const std::vector<GridBox>& b) {
  const std::size_t n = b.size();
  std::vector<std::size_t> root(n);
  for (std::size_t i = 0; i < n; ++i) root[i] = i;
  auto find = [&](std::size_t i) {
    while (root[i] != i) i = root[i];
    return i;
  };
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (b[i].xmin <= b[j].xmax && b[j].xmin <= b[i].xmax && b[i].ymin <= b[j].ymax &&
          b[j].ymin <= b[i].ymax) {
        const std::size_t a = find(i), c = find(j);
        root[std::max(a, c)] = std::min(a, c);
      }
    }
  }
  std::vector<std::vector<std::size_t>> out;
  std::vector<std::size_t> slot(n, n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t r = find(i);
    if (slot[r] == n) {
      slot[r] = out.size();
      out.emplace_back();
    }
    out[slot[r]].push_back(i);
  }
  return out;
}

TEST(BoxClusters, ClosedBoxesThatMeetJoin) {
  const std::vector<GridBox> boxes = {
      {0, 0, 10, 10},    // 0
      {20, 0, 30, 10},   // 1: apart from 0
      {10, 10, 15, 15},  // 2: touches 0 at a corner
      {31, 0, 40, 10},   // 3: one unit right of 1, apart
      {15, 15, 20, 20},  // 4: touches 2, so joins 0
      {1, 1, 0, 0},      // 5: empty, meets nothing
      {25, 10, 26, 11},  // 6: touches 1 along its top edge
  };
  const std::vector<std::vector<std::size_t>> expected = {{0, 2, 4}, {1, 6}, {3}, {5}};
  EXPECT_EQ(box_clusters(boxes), expected);
  EXPECT_TRUE(box_clusters({}).empty());
}

TEST(BoxClusters, RandomBoxesMatchThePairwiseTest) {
  std::mt19937_64 rng(7);
  // Spread thin, and crowded so that many boxes of a cell meet some but not
  // all of the others there.
  for (int trial = 0; trial < 40; ++trial) {
    const std::int64_t spread = trial < 20 ? 5000 : 900;
    std::uniform_int_distribution<std::int64_t> pos(-spread, spread), size(0, trial % 2 ? 40 : 300);
    std::vector<GridBox> boxes;
    for (int k = 0; k < 400; ++k) {
      const std::int64_t x = pos(rng), y = pos(rng);
      // A few long boxes cover more cells than the grid takes in.
      const std::int64_t w = k % 50 == 0 ? 6000 : size(rng), h = size(rng);
      boxes.push_back({x, y, x + w, y + h});
    }
    EXPECT_EQ(box_clusters(boxes), clusters_by_brute_force(boxes)) << trial;
  }
}

TEST(BoxClusters, GridBoxesAreTheUnionsRoundedCoordinates) {
  // The union works on a grid of 2^-20 units, rounding halves away from zero.
  const GridBox b = union_grid_box({{0.5 / 1048576, -1.5 / 1048576}, {3.0, 2.0}});
  EXPECT_EQ(b.xmin, 1);
  EXPECT_EQ(b.ymin, -2);
  EXPECT_EQ(b.xmax, 3 * 1048576);
  EXPECT_EQ(b.ymax, 2 * 1048576);
  // Boxes apart before rounding can touch after it, and then they join.
  const double gap = 0.4 / 1048576;
  const std::vector<GridBox> near = {union_grid_box(PathD{{0.0, 0.0}, {1.0, 1.0}}),
                                     union_grid_box(PathD{{1 + gap, 0.0}, {2.0, 1.0}})};
  EXPECT_EQ(box_clusters(near).size(), 1u);
}

TEST(BandUnion, SingleCallIsRequestedByTheEnvironmentOnEveryCall) {
  unsetenv("STROKEGRAPH_SINGLE_UNION");
  EXPECT_FALSE(single_union_requested());
  setenv("STROKEGRAPH_SINGLE_UNION", "1", 1);
  EXPECT_TRUE(single_union_requested());
  for (const char* other : {"0", "", "true", " 1"}) {
    setenv("STROKEGRAPH_SINGLE_UNION", other, 1);
    EXPECT_FALSE(single_union_requested()) << other;
  }
  unsetenv("STROKEGRAPH_SINGLE_UNION");
}

PathsD bands_of(const std::vector<Polyline>& curves, double r, double fs) {
  PathsD bands;
  for (const Polyline& c : curves) {
    PathD path;
    for (const Point& p : c) path.emplace_back(p.x, p.y);
    for (PathD& band : InflatePaths({path}, r, JoinType::Square, EndType::Square, 0.0, 6, 0.2 * fs))
      bands.push_back(std::move(band));
  }
  return bands;
}

double top_of(const PathD& p) {
  double top = -INFINITY;
  for (const PointD& q : p) top = std::max(top, q.y);
  return top;
}

// What the clustered union may differ in from one call: some vertices move by
// a few grid units. Ring for ring the order (by top y), the vertex count and
// the area agree; the two unions cover the same region up to 1e-4 of its area.
void expect_same_union(const PathsD& bands, std::size_t* moved = nullptr) {
  const PathsD single = union_bands(bands, true);
  const PathsD clustered = union_bands(bands, false);
  ASSERT_EQ(clustered.size(), single.size());
  std::size_t moved_rings = 0;
  for (std::size_t k = 0; k < single.size(); ++k) {
    ASSERT_EQ(clustered[k].size(), single[k].size()) << "ring " << k;
    EXPECT_NEAR(top_of(clustered[k]), top_of(single[k]), 1e-5) << "ring " << k;
    EXPECT_NEAR(Area(clustered[k]), Area(single[k]), 1e-5 * (1 + std::fabs(Area(single[k]))))
        << "ring " << k;
    if (clustered[k] != single[k]) ++moved_rings;
  }
  const double area = Area(single);
  EXPECT_NEAR(Area(clustered), area, 1e-6 * area);
  const double difference = std::fabs(Area(Xor(single, clustered, FillRule::NonZero, 6)));
  EXPECT_LT(difference, 1e-4 * area);
  if (moved) *moved += moved_rings;
}

TEST(BandUnion, OneClusterIsExactlyOneCall) {
  const PathsD bands = bands_of({{{0, 0}, {10, 0}}, {{5, -5}, {5, 5}}, {{4, 4}, {9, 9}}}, 1.0, 1.0);
  EXPECT_EQ(union_bands(bands, false), Union(bands, FillRule::NonZero, 6));
  EXPECT_EQ(union_bands(bands, true), Union(bands, FillRule::NonZero, 6));
  EXPECT_TRUE(union_bands({}, false).empty());
}

// Rings whose tops are at one height come in the order one call opens them:
// from the left, whatever the order of the bands.
TEST(BandUnion, EqualTopsComeFromTheLeftAsInOneCall) {
  auto box = [](double x0, double y0) {
    return PathD{{x0, y0}, {x0 + 2.0, y0}, {x0 + 2.0, 10.0}, {x0, 10.0}};
  };
  const PathsD bands = {box(10.0, 0.0), box(20.0, 5.0), box(0.0, 3.0)};
  const PathsD merged = union_bands(bands, false);
  EXPECT_EQ(merged, Union(bands, FillRule::NonZero, 6));
  ASSERT_EQ(merged.size(), 3u);
  for (std::size_t k = 0; k < 3; ++k) {
    double left = INFINITY;
    for (const PointD& p : merged[k]) left = std::min(left, p.x);
    EXPECT_EQ(left, 10.0 * double(k));
  }
}

TEST(BandUnion, RandomClustersMatchOneCall) {
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::size_t moved = 0;
  for (int trial = 0; trial < 4; ++trial) {
    // Figures of crossing scribbles and closed loops scattered over a wide,
    // low canvas, so that most of them share a y range with many others.
    std::vector<Polyline> curves;
    for (int figure = 0; figure < 60; ++figure) {
      const double cx = 1500 * u(rng), cy = 40 * u(rng);
      for (int s = 0; s < 4; ++s) {
        Polyline c{{cx + 10 * u(rng), cy + 10 * u(rng)}};
        for (int k = 0; k < 12; ++k)
          c.push_back({c.back().x + 4 * u(rng) - 2, c.back().y + 4 * u(rng) - 2});
        if (s == 3) c.push_back(c.front());
        // Overdrawn, as by hand: a second stroke close to the first gives
        // nearly parallel edges whose crossings are rounded.
        Polyline again = c;
        for (Point& p : again) p = {p.x + 0.05 * u(rng), p.y + 0.05 * u(rng)};
        curves.push_back(std::move(c));
        curves.push_back(std::move(again));
      }
    }
    const PathsD bands = bands_of(curves, trial % 2 ? 0.7 : 0.3, 1.0);
    std::vector<GridBox> boxes;
    for (const PathD& b : bands) boxes.push_back(union_grid_box(b));
    EXPECT_GT(box_clusters(boxes).size(), 10u);
    expect_same_union(bands, &moved);
  }
  EXPECT_GT(moved, 0u);  // the inputs do reach the rounding differences
}

TEST(BandUnion, GroupedUnionOfCleanBandsCoversTheSameRegion) {
  // Noisy traces along the streets of a grid, many on every street, and
  // loops round single blocks: bands cut into pieces without holes.
  std::mt19937_64 rng(7);
  std::normal_distribution<double> noise(0.0, 0.35);
  std::uniform_int_distribution<int> pick(0, 3);
  std::vector<Polyline> curves;
  for (int t = 0; t < 60; ++t) {
    int x = pick(rng), y = pick(rng);
    Polyline c;
    for (int step = 0; step < 6; ++step) {
      const int dir = pick(rng);
      const int nx = std::clamp(x + (dir == 0) - (dir == 1), 0, 3);
      const int ny = std::clamp(y + (dir == 2) - (dir == 3), 0, 3);
      for (int k = 0; k < 20; ++k) {
        const double f = k / 20.0;
        c.push_back({20.0 * (x + (nx - x) * f) + noise(rng), 20.0 * (y + (ny - y) * f) + noise(rng)});
      }
      x = nx, y = ny;
    }
    curves.push_back(std::move(c));
  }
  curves.push_back({{0, 0}, {20, 0}, {20, 20}, {0, 20}, {0, 0}});
  const std::vector<EndCaps> caps(curves.size(), EndCaps{Cap::Round, Cap::Round});
  PathsD bands;
  for (const Ring& ring : offset_bands(curves, std::nullopt, 1.5, 1.5, &caps)) {
    PathD path;
    for (const Point& p : ring) path.emplace_back(p.x, p.y);
    EXPECT_GT(Area(path), 0.0);  // no holes among the pieces
    bands.push_back(std::move(path));
  }
  const PathsD grouped = union_bands_grouped(bands);
  const PathsD whole = union_bands(bands, true);
  EXPECT_EQ(grouped, union_bands_grouped(bands));
  // The same region up to the rounding of crossings; the loop's block stays open.
  const double area = Area(whole);
  EXPECT_NEAR(Area(grouped), area, 1e-6 * area);
  EXPECT_LT(Area(Xor(grouped, whole, FillRule::NonZero, 6)), 1e-6 * area);
  std::size_t holes = 0;
  for (const PathD& p : grouped) holes += Area(p) < 0.0;
  EXPECT_GE(holes, 9u);
}

// Hatching lying along x (united with x and y swapped) and along y: the
// same region as one call, outer rings counter-clockwise and holes
// clockwise, rings in the order one call emits them.
TEST(BandUnion, GroupedUnionOfWideHatchingCoversTheSameRegion) {
  for (const bool along_x : {true, false}) {
    std::vector<Polyline> curves;
    for (int k = 0; k < 40; ++k) {
      Polyline c;
      for (int i = 0; i < 120; ++i) {
        const double u = i, v = 6.0 * std::sin(0.37 * i + k) + (k % 5 == 0 ? 14.0 : 0.0);
        c.push_back(along_x ? Point{u, v} : Point{v, u});
      }
      curves.push_back(std::move(c));
    }
    const std::vector<EndCaps> caps(curves.size(), EndCaps{Cap::Round, Cap::Round});
    PathsD bands;
    for (const Ring& ring : offset_bands(curves, std::nullopt, 1.0, 1.0, &caps)) {
      PathD path;
      for (const Point& p : ring) path.emplace_back(p.x, p.y);
      bands.push_back(std::move(path));
    }
    const PathsD grouped = union_bands_grouped(bands);
    const PathsD whole = union_bands(bands, true);
    EXPECT_EQ(grouped, union_bands_grouped(bands));
    const double area = Area(whole);
    EXPECT_NEAR(Area(grouped), area, 1e-6 * area) << along_x;
    EXPECT_LT(Area(Xor(grouped, whole, FillRule::NonZero, 6)), 1e-6 * area) << along_x;
    std::size_t outers = 0, holes = 0;
    for (const PathD& p : whole) (Area(p) > 0.0 ? outers : holes)++;
    std::size_t grouped_outers = 0, grouped_holes = 0;
    for (const PathD& p : grouped) (Area(p) > 0.0 ? grouped_outers : grouped_holes)++;
    EXPECT_EQ(grouped_outers, outers) << along_x;
    EXPECT_EQ(grouped_holes, holes) << along_x;
    for (std::size_t k = 1; k < grouped.size(); ++k) {
      double top_a = -1e300, top_b = -1e300;
      for (const PointD& p : grouped[k - 1]) top_a = std::max(top_a, p.y);
      for (const PointD& p : grouped[k]) top_b = std::max(top_b, p.y);
      EXPECT_GE(top_a, top_b) << along_x << " ring " << k;
    }
  }
}

TEST(BandUnion, ZeroWidthOutlinesAreFilledInEveryCluster) {
  // At radius 0 the bands are the curves themselves, closed as polygons.
  const std::vector<Polyline> curves = {
      {{0, 0}, {10, 0}, {10, 10}}, {{20, 0}, {30, 0}, {30, 10}}, {{5, 1}, {25, 1}}};
  const PathsD bands = bands_of(curves, 0.0, 1.0);
  EXPECT_EQ(box_clusters({union_grid_box(bands[0]), union_grid_box(bands[1])}).size(), 2u);
  expect_same_union(bands);
  EXPECT_NEAR(Area(union_bands(bands, false)), 100.0, 1e-9);
}

// The bench workloads, written by `make test-cpp` from bench/workloads.py.
std::vector<Polyline> read_workload(const std::filesystem::path& path, double& r, double& fs) {
  std::ifstream in(path, std::ios::binary);
  char magic[4] = {};
  std::uint32_t version = 0;
  std::uint64_t count = 0;
  in.read(magic, 4);
  in.read(reinterpret_cast<char*>(&version), sizeof version);
  in.read(reinterpret_cast<char*>(&r), sizeof r);
  in.read(reinterpret_cast<char*>(&fs), sizeof fs);
  in.read(reinterpret_cast<char*>(&count), sizeof count);
  std::vector<Polyline> curves(in ? count : 0);
  for (Polyline& c : curves) {
    std::uint64_t n = 0;
    in.read(reinterpret_cast<char*>(&n), sizeof n);
    c.resize(in ? n : 0);
    in.read(reinterpret_cast<char*>(c.data()), static_cast<std::streamsize>(n * sizeof(Point)));
  }
  if (!in || std::string(magic, 4) != "SGWL") curves.clear();
  return curves;
}

class BenchWorkload : public testing::TestWithParam<std::string> {};

TEST_P(BenchWorkload, ClusteredUnionMatchesOneCall) {
  const std::filesystem::path path =
      std::filesystem::path(STROKEGRAPH_TEST_WORKLOADS) / (GetParam() + ".bin");
  if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " not written";
  double r = 0, fs = 0;
  const std::vector<Polyline> curves = read_workload(path, r, fs);
  ASSERT_FALSE(curves.empty());
  const MergedCurves merged =
      merge_connected(curves, std::nullopt, r, derived_merge_tolerance(fs, std::nullopt));
  expect_same_union(
      bands_of(decimate_curves(merged.curves, false, derived_decimation_spacing(fs)), r, fs));
}

INSTANTIATE_TEST_SUITE_P(Inflate, BenchWorkload,
                         testing::Values("sketch-small", "traces-small", "lettering-small",
                                         "lettering-medium"));

}  // namespace
}  // namespace strokegraph
