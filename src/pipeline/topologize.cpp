#include "pipeline/topologize.h"

#include <atomic>
#include <string>

#include "common/progress.h"
#include "graph/graph.h"
#include "parallel/pool.h"
#include "pipeline/front.h"
#include "pipeline/postprocess.h"
#include "pipeline/widths.h"
#include "skeleton_cdt/skeleton.h"

namespace strokegraph {

Result<TopologizeOutput> topologize_inner(const std::vector<Polyline>& curves,
                                          double buffer_distance, double feature_size,
                                          const TopologizeOptions& options) {
  if (auto error = check_widths(curves, options.per_curve_widths)) return *error;

  const GraphThresholds t = derive_graph_thresholds(feature_size, options);
  enter_stage("inflate", 0.0, 0.4);
  std::vector<BufferPolygon> inflated = inflate_stage(
      curves, buffer_distance, feature_size, options.per_curve_widths, options.merge_tolerance);
  enter_stage("preprocess", 0.4, 0.5);
  std::vector<BufferPolygon> polygons =
      preprocess_stage(std::move(inflated), buffer_distance, feature_size,
                       {options.subdivision_ratio, options.resample,
                        options.boundary_simplification});

  // Polygons are skeletonized independently (in parallel on larger inputs)
  // and their segments joined in polygon order.
  enter_stage("skeleton", 0.5, 0.85);
  std::vector<std::vector<Segment>> parts(polygons.size());
  std::atomic<std::size_t> done{0};
  std::atomic<std::size_t> failures{0};
  parallel_for(
      polygons.size(),
      [&](std::size_t k) {
        checkpoint();
        const BufferPolygon& polygon = polygons[k];
        bool failed = false;
        if (polygon.outer.size() >= 3) parts[k] = skeletonize(polygon.outer, polygon.holes, &failed);
        if (failed) ++failures;
        advance(double(++done) / double(polygons.size()));
      },
      ring_points(polygons) >= kParallelRingPoints);
  std::vector<Segment> segments;
  for (std::vector<Segment>& part : parts) {
    segments.insert(segments.end(), part.begin(), part.end());
    part = {};
  }
  if (segments.empty()) {
    TopologizeOutput none;
    none.untriangulated = failures.load();
    return none;
  }

  std::vector<Point> boundary;
  if (options.compute_widths) boundary = ring_vertices(polygons);
  polygons.clear();
  polygons.shrink_to_fit();

  enter_stage("graph", 0.85, 0.95);
  Graph graph = segments_to_graph(segments, t.snap_tolerance);
  segments.clear();
  segments.shrink_to_fit();
  if (auto error = check_node_limit(graph.nodes.size(), options.max_nodes)) return *error;
  advance(0.3);
  if (t.tip_length > 0.0) graph = prune_short_tips(graph, t.tip_length);
  advance(0.6);
  if (t.junction_fraction > 0.0) graph = merge_close_junctions(graph, t.junction_distance);
  advance(0.8);
  const std::vector<Chain> chains = extract_chains(std::move(graph));

  enter_stage("chains", 0.95, 1.0);
  TopologizeOutput out;
  out.untriangulated = failures.load();
  out.chains = finish_chains(chains, t.chain_simplification);
  NumberedNodes numbered = number_nodes(chains, out.chains);
  out.nodes = std::move(numbered.nodes);
  out.chain_node_ids = std::move(numbered.chain_node_ids);
  if (options.compute_widths) {
    advance(0.5);
    out.widths = measure_widths(out.chains, boundary);
  }
  return out;
}

Result<TopologizeOutput> topologize(const std::vector<Polyline>& curves, double buffer_distance,
                                    double feature_size, const TopologizeOptions& options) {
  if (auto error = check_feature_size(feature_size)) return *error;
  return topologize_inner(curves, buffer_distance, feature_size, options);
}

}  // namespace strokegraph
