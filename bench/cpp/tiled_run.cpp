// One topologize run of a benchmark workload, tiled or not, for the tiled
// pipeline's figures: wall time, peak memory (resident set of this process)
// and the shape of the result. With MODE "compare" it runs both pipelines and
// also prints how far the tiled chains lie from the untiled ones.
//
// Usage: tiled_run WORKLOAD.bin MODE [TILE_SIZE [MARGIN]]
//   MODE: untiled | tiled | tiled1 (tiles on the calling thread only) | compare
//         | stages (the tiled pipeline on the pool, stage by stage: seconds and
//           the peak resident set in MiB so far)
//   TILE_SIZE: side of a tile, 0 or absent for the automatic choice
//   MARGIN: growth of a tile before clipping, 0 or absent for the automatic choice
// The workload file comes from bench/workloads.py (write_binary).

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "../../tests/cpp/topology_compare.h"
#include "graph/graph.h"
#include "inflate/inflate.h"
#include "pipeline/front.h"
#include "pipeline/postprocess.h"
#include "pipeline/tile.h"
#include "pipeline/tiled.h"
#include "pipeline/topologize.h"
#include "workload_file.h"

using namespace strokegraph;

namespace {

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void print_shape(const char* name, const TopologizeOutput& out, double seconds) {
  const compare::Degrees d = compare::degrees(out);
  std::printf("\"%s\": {\"seconds\": %.4f, \"chains\": %zu, \"junctions\": %zu, \"ends\": %zu}",
              name, seconds, d.chains, d.junctions, d.ends);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s WORKLOAD.bin untiled|tiled|tiled1|compare [TILE_SIZE]\n",
                 argv[0]);
    return 2;
  }
  const std::optional<Workload> w = read_workload(argv[1]);
  if (!w) {
    std::fprintf(stderr, "cannot read workload %s\n", argv[1]);
    return 1;
  }
  const std::string mode = argv[2];
  TileOptions tiles;
  tiles.tile_size = argc > 3 ? std::atof(argv[3]) : 0.0;
  tiles.parallel = mode != "tiled1";
  tiles.margin = argc > 4 ? std::atof(argv[4]) : 0.0;
  const TopologizeOptions options;
  std::size_t points = 0;
  for (const Polyline& c : w->curves) points += c.size();

  std::printf("{\"points\": %zu, ", points);
  if (mode == "stages") {
    const double r = w->buffer_distance, fs = w->feature_size;
    const GraphThresholds t = derive_graph_thresholds(fs, options);
    auto t0 = std::chrono::steady_clock::now();
    auto lap = [&](const char* name) {
      rusage u{};
      getrusage(RUSAGE_SELF, &u);
      std::printf("\"%s\": [%.3f, %.0f], ", name, seconds_since(t0),
                  static_cast<double>(u.ru_maxrss) / 1024.0);
      t0 = std::chrono::steady_clock::now();
    };
    const ConditionedCurves c = condition_curves(w->curves, r, fs, std::nullopt, std::nullopt);
    lap("condition");
    std::vector<Ring> bands = offset_bands(c.curves, c.widths, r, fs);
    lap("offset");
    TiledSkeleton sk = tiled_skeleton(std::move(bands), r, r, fs, {}, tiles, false);
    lap("tiles");
    Graph g = segments_to_graph(sk.segments, t.snap_tolerance);
    lap("graph");
    g = prune_short_tips(g, t.tip_length);
    g = merge_close_junctions(g, t.junction_distance);
    g = prune_short_tips(g, t.tip_length);
    lap("prune_merge");
    const std::vector<Chain> chains = extract_chains(g);
    lap("chains");
    const std::vector<Polyline> finals = finish_chains(chains, t.chain_simplification);
    lap("finish");
    std::printf("\"tiles_count\": %zu, \"tile_size\": %.1f, \"segments\": %zu, "
                "\"refused_polygons\": %zu}\n",
                sk.grid.count(), sk.grid.size, sk.segments.size(), sk.refused);
    return 0;
  }
  std::optional<TopologizeOutput> untiled, tiled;
  if (mode == "untiled" || mode == "compare") {
    const auto t0 = std::chrono::steady_clock::now();
    untiled = std::get<TopologizeOutput>(
        topologize_inner(w->curves, w->buffer_distance, w->feature_size, options));
    print_shape("untiled", *untiled, seconds_since(t0));
    std::printf(", ");
  }
  if (mode != "untiled") {
    const auto t0 = std::chrono::steady_clock::now();
    tiled = std::get<TopologizeOutput>(
        topologize_tiled(w->curves, w->buffer_distance, w->feature_size, options, tiles));
    print_shape("tiled", *tiled, seconds_since(t0));
    std::printf(", ");
  }
  if (untiled && tiled) {
    // Per direction: share of chain points within 0.05 radius of the other
    // result's chains, the 99th percentile and the largest distance (capped
    // at one radius), all in radii.
    const double r = w->buffer_distance;
    auto stats = [&](const char* name, const TopologizeOutput& a, const TopologizeOutput& b) {
      std::vector<double> d = compare::distances(a, b, r);
      std::sort(d.begin(), d.end());
      const auto within = std::upper_bound(d.begin(), d.end(), 0.05 * r) - d.begin();
      const double p99 = d.empty() ? 0.0 : d[std::min(d.size() - 1, d.size() * 99 / 100)];
      std::printf("\"%s\": {\"within_0.05\": %.4f, \"p99\": %.4f, \"max\": %.4f}, ", name,
                  d.empty() ? 1.0 : static_cast<double>(within) / static_cast<double>(d.size()),
                  p99 / r, d.empty() ? 0.0 : d.back() / r);
    };
    stats("tiled_to_untiled", *tiled, *untiled);
    stats("untiled_to_tiled", *untiled, *tiled);
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("\"peak_rss_mib\": %.1f}\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
  return 0;
}
