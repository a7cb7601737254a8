// Timings of the graph stages on large inputs; disabled, run by hand:
//   build/cpp/strokegraph_tests --gtest_also_run_disabled_tests --gtest_filter='GraphBenchmark.*'
#include <gtest/gtest.h>

#include <chrono>
#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

#include "graph/graph.h"
#include "graph_test_util.h"

using namespace strokegraph;

namespace {

// A random spanning tree of a 450 x 450 lattice with jittered positions, plus
// 2 % of the remaining lattice edges as loops: planar, degrees up to 4, no
// two nodes within snapping distance, like a large skeleton.
std::vector<Segment> lattice_skeleton() {
  const std::size_t side = 450;
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> jitter(-0.2, 0.2);
  std::vector<Point> pos(side * side);
  for (std::size_t i = 0; i < pos.size(); ++i) {
    pos[i] = {double(i % side) + jitter(rng), double(i / side) + jitter(rng)};
  }
  std::vector<std::pair<std::size_t, std::size_t>> lattice;
  for (std::size_t i = 0; i < pos.size(); ++i) {
    if (i % side + 1 < side) lattice.emplace_back(i, i + 1);
    if (i / side + 1 < side) lattice.emplace_back(i, i + side);
  }
  std::shuffle(lattice.begin(), lattice.end(), rng);
  std::vector<std::size_t> parent(pos.size());
  for (std::size_t i = 0; i < parent.size(); ++i) parent[i] = i;
  auto root = [&](std::size_t v) {
    while (parent[v] != v) v = parent[v] = parent[parent[v]];
    return v;
  };
  std::vector<Segment> segments;
  for (const auto& [a, b] : lattice) {
    const std::size_t ra = root(a), rb = root(b);
    if (ra != rb) parent[ra] = rb;
    else if (rng() % 50 != 0) continue;
    segments.push_back({pos[a], pos[b]});
  }
  return segments;
}

double ms_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

TEST(GraphBenchmark, DISABLED_PruneRandomTree200k) {
  const Graph g = graph_test::random_graph(200001, 42, 0.2, 3.0);
  ASSERT_EQ(g.edges.size(), 200000u);
  for (double threshold : {2.0, 20.0}) {
    const auto t0 = std::chrono::steady_clock::now();
    const Graph out = prune_short_tips(g, threshold);
    std::printf("prune_short_tips, random tree of %zu edges, threshold %g: %.1f ms, %zu edges left\n",
                g.edges.size(), threshold, ms_since(t0), out.edges.size());
  }
}

TEST(GraphBenchmark, DISABLED_AllStagesOnALatticeSkeleton) {
  const std::vector<Segment> segments = lattice_skeleton();
  auto t0 = std::chrono::steady_clock::now();
  Graph g = segments_to_graph(segments, 0.05);
  const double build = ms_since(t0);
  std::printf("graph: %zu nodes, %zu edges\n", g.nodes.size(), g.edges.size());
  t0 = std::chrono::steady_clock::now();
  g = prune_short_tips(g, 2.0);
  const double prune = ms_since(t0);
  std::printf("pruned: %zu edges\n", g.edges.size());
  t0 = std::chrono::steady_clock::now();
  g = merge_close_junctions(g, 1.5);
  const double merge = ms_since(t0);
  t0 = std::chrono::steady_clock::now();
  const std::vector<Chain> chains = extract_chains(g);
  const double extract = ms_since(t0);
  t0 = std::chrono::steady_clock::now();
  std::size_t points = 0;
  for (const Chain& c : chains) points += smooth_chain_taubin(c.points, 3, 0.5, -0.53).size();
  const double smooth = ms_since(t0);
  std::printf("%zu segments: build %.1f ms, prune %.1f ms, merge %.1f ms, chains %.1f ms (%zu), smooth %.1f ms (%zu points)\n",
              segments.size(), build, prune, merge, extract, chains.size(), smooth, points);
}
