// Per-stage timing of the topologize pipeline on one benchmark workload.
//
// Calls the public stage functions of the core in the order of
// src/pipeline/topologize.cpp, with the default thresholds, and times each.
// Beside the pipeline it times the floor: the union of the offset bands
// alone (every decimated curve offset on its own with square joins and caps,
// then the NonZero union at 6 decimals, one call per cluster of bands as the
// pipeline does it) and the triangulation alone (get_triangles on every
// preprocessed polygon). With --single-union it also times one union call
// over all bands (floor_single_union) and checks it against the clustered
// union ring for ring (union_check). It prints one JSON object: the median of
// every timer over the runs, in seconds, and counts.
//
// Usage: stage_breakdown WORKLOAD.bin [RUNS] [--single-union]
// The workload file comes from bench/workloads.py (write_binary).

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <clipper2/clipper.h>

#include "boundary/preprocess.h"
#include "common/rdp.h"
#include "conditioning/merge.h"
#include "graph/graph.h"
#include "inflate/band_union.h"
#include "inflate/inflate.h"
#include "pipeline/postprocess.h"
#include "pipeline/thresholds.h"
#include "skeleton_cdt/skeleton.h"
#include "skeleton_cdt/triangulate.h"
#include "workload_file.h"

using namespace strokegraph;

namespace {

using Clock = std::chrono::steady_clock;

// Runs `f`, adds its duration in seconds to `times[name]`, returns its result.
template <typename F>
auto timed(std::map<std::string, std::vector<double>>& times, const std::string& name, F&& f) {
  const auto t0 = Clock::now();
  auto result = f();
  times[name].push_back(std::chrono::duration<double>(Clock::now() - t0).count());
  return result;
}

double median(std::vector<double> v) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  const std::size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2.0;
}

// The stages in pipeline order; "total" is their sum.
const char* const kStages[] = {"merge_connected",   "decimate_curves",       "inflate",
                               "preprocess_boundaries", "skeletonize",       "segments_to_graph",
                               "prune_short_tips",  "merge_close_junctions", "extract_chains",
                               "finish_chains",     "number_nodes"};

// How the clustered union compares with one call over the same bands.
struct UnionCheck {
  bool done = false;
  std::size_t rings = 0, rings_single = 0, vertices = 0, vertices_single = 0;
  std::size_t order_mismatches = 0;  // ring k differs in vertex count or top y
  double area = 0, area_single = 0, symmetric_difference = 0;
};

UnionCheck compare_unions(const Clipper2Lib::PathsD& single, const Clipper2Lib::PathsD& clustered) {
  UnionCheck c;
  c.done = true;
  c.rings = clustered.size();
  c.rings_single = single.size();
  auto top = [](const Clipper2Lib::PathD& p) {
    double t = -1e300;
    for (const auto& q : p) t = std::max(t, q.y);
    return t;
  };
  for (std::size_t k = 0; k < std::max(single.size(), clustered.size()); ++k) {
    if (k < clustered.size()) c.vertices += clustered[k].size();
    if (k < single.size()) c.vertices_single += single[k].size();
    if (k >= single.size() || k >= clustered.size() || single[k].size() != clustered[k].size() ||
        std::abs(top(single[k]) - top(clustered[k])) > 1e-5)
      ++c.order_mismatches;
  }
  c.area = Clipper2Lib::Area(clustered);
  c.area_single = Clipper2Lib::Area(single);
  c.symmetric_difference =
      std::abs(Clipper2Lib::Area(Clipper2Lib::Xor(single, clustered, Clipper2Lib::FillRule::NonZero, 6)));
  return c;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s WORKLOAD.bin [RUNS]\n", argv[0]);
    return 2;
  }
  const std::optional<Workload> workload = read_workload(argv[1]);
  if (!workload) {
    std::fprintf(stderr, "cannot read workload %s\n", argv[1]);
    return 1;
  }
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  const bool single_union = argc > 3 && std::string(argv[3]) == "--single-union";
  UnionCheck check;
  const double r = workload->buffer_distance;
  const double fs = workload->feature_size;
  const TopologizeOptions options;
  const GraphThresholds t = derive_graph_thresholds(fs, options);
  const double merge_tolerance = derived_merge_tolerance(fs, options.merge_tolerance);

  std::map<std::string, std::vector<double>> times;
  std::map<std::string, std::size_t> counts;
  std::size_t points = 0;
  for (const Polyline& c : workload->curves) points += c.size();
  counts["curves"] = workload->curves.size();
  counts["points"] = points;

  for (int run = 0; run < runs; ++run) {
    const auto t0 = Clock::now();
    MergedCurves merged = timed(times, "merge_connected", [&] {
      return merge_tolerance > 0.0
                 ? merge_connected(workload->curves, std::nullopt, r, merge_tolerance)
                 : MergedCurves{workload->curves, std::nullopt};
    });
    std::vector<Polyline> decimated = timed(times, "decimate_curves", [&] {
      return decimate_curves(merged.curves, merged.widths.has_value(),
                             derived_decimation_spacing(fs));
    });
    std::vector<BufferPolygon> polygons =
        timed(times, "inflate", [&] { return inflate(decimated, merged.widths, r, fs); });
    std::vector<BufferPolygon> prepared = timed(times, "preprocess_boundaries", [&] {
      return preprocess_boundaries(std::move(polygons), fs, r, std::nullopt, std::nullopt,
                                   std::nullopt);
    });
    std::vector<Segment> segments = timed(times, "skeletonize", [&] {
      std::vector<Segment> all;
      for (const BufferPolygon& p : prepared) {
        if (p.outer.size() < 3) continue;
        std::vector<Segment> part = skeletonize(p.outer, p.holes);
        all.insert(all.end(), part.begin(), part.end());
      }
      return all;
    });
    Graph graph = timed(times, "segments_to_graph",
                        [&] { return segments_to_graph(segments, t.snap_tolerance); });
    const std::size_t graph_nodes = graph.nodes.size();
    graph = timed(times, "prune_short_tips", [&] {
      return t.tip_length > 0.0 ? prune_short_tips(graph, t.tip_length) : graph;
    });
    graph = timed(times, "merge_close_junctions", [&] {
      return t.junction_fraction > 0.0 ? merge_close_junctions(graph, t.junction_distance)
                                       : graph;
    });
    const std::vector<Chain> chains = timed(times, "extract_chains", [&] { return extract_chains(graph); });
    const std::vector<Polyline> finals =
        timed(times, "finish_chains", [&] { return finish_chains(chains, t.chain_simplification); });
    const NumberedNodes numbered =
        timed(times, "number_nodes", [&] { return number_nodes(chains, finals); });
    times["total"].push_back(std::chrono::duration<double>(Clock::now() - t0).count());

    // The floor: union of the bands, then triangulation of what we triangulate.
    const Clipper2Lib::PathsD bands = timed(times, "floor_offset_bands", [&] {
      Clipper2Lib::PathsD all;
      for (const Polyline& c : decimated) {
        Clipper2Lib::PathD path;
        path.reserve(c.size());
        for (const Point& p : c) path.emplace_back(p.x, p.y);
        Clipper2Lib::PathsD band = Clipper2Lib::InflatePaths(
            {path}, r, Clipper2Lib::JoinType::Square, Clipper2Lib::EndType::Square, 2.0, 6);
        all.insert(all.end(), band.begin(), band.end());
      }
      return all;
    });
    const Clipper2Lib::PathsD unioned =
        timed(times, "floor_union", [&] { return union_bands(bands, false); });
    if (single_union && run == 0) {
      const Clipper2Lib::PathsD single =
          timed(times, "floor_single_union", [&] { return union_bands(bands, true); });
      check = compare_unions(single, unioned);
    }
    const std::size_t triangles = timed(times, "floor_triangulate", [&] {
      std::size_t n = 0;
      for (const BufferPolygon& p : prepared)
        if (p.outer.size() >= 3) n += get_triangles(p.outer, p.holes).size();
      return n;
    });

    if (run == 0) {
      std::size_t ring_points = 0;
      for (const BufferPolygon& p : prepared) {
        ring_points += p.outer.size();
        for (const Ring& h : p.holes) ring_points += h.size();
      }
      counts["merged_curves"] = merged.curves.size();
      counts["polygons"] = prepared.size();
      counts["ring_points"] = ring_points;
      counts["segments"] = segments.size();
      counts["graph_nodes"] = graph_nodes;
      counts["chains"] = finals.size();
      counts["nodes"] = numbered.nodes.size();
      counts["floor_union_paths"] = unioned.size();
      counts["floor_triangles"] = triangles;
    }
  }

  std::printf("{\"runs\": %d, \"seconds\": {", runs);
  bool first = true;
  for (const char* name : kStages) {
    std::printf("%s\"%s\": %.9g", first ? "" : ", ", name, median(times[name]));
    first = false;
  }
  for (const char* name : {"total", "floor_offset_bands", "floor_union", "floor_triangulate"})
    std::printf(", \"%s\": %.9g", name, median(times[name]));
  if (single_union) std::printf(", \"floor_single_union\": %.9g", median(times["floor_single_union"]));
  std::printf("}, \"counts\": {");
  first = true;
  for (const auto& [name, value] : counts) {
    std::printf("%s\"%s\": %zu", first ? "" : ", ", name.c_str(), value);
    first = false;
  }
  std::printf("}");
  if (check.done) {
    std::printf(", \"union_check\": {\"rings\": %zu, \"rings_single\": %zu, \"vertices\": %zu, "
                "\"vertices_single\": %zu, \"order_mismatches\": %zu, \"area\": %.17g, "
                "\"area_single\": %.17g, \"symmetric_difference\": %.17g}",
                check.rings, check.rings_single, check.vertices, check.vertices_single,
                check.order_mismatches, check.area, check.area_single, check.symmetric_difference);
  }
  std::printf("}\n");
  return 0;
}
