#include "pipeline/tiled.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "graph/graph.h"
#include "inflate/inflate.h"
#include "pipeline/front.h"
#include "pipeline/postprocess.h"
#include "pipeline/widths.h"

namespace strokegraph {

double largest_radius(double buffer_distance, const std::optional<WidthLists>& widths) {
  double r = std::isfinite(buffer_distance) ? std::fabs(buffer_distance) : 0.0;
  if (widths) {
    for (const std::vector<double>& list : *widths)
      for (double w : list)
        if (std::isfinite(w)) r = std::max(r, std::fabs(w));
  }
  return r;
}

Result<TopologizeOutput> topologize_tiled(const std::vector<Polyline>& curves,
                                          double buffer_distance, double feature_size,
                                          const TopologizeOptions& options,
                                          const TileOptions& tiles) {
  if (auto error = check_widths(curves, options.per_curve_widths)) return *error;

  const GraphThresholds t = derive_graph_thresholds(feature_size, options);
  TiledSkeleton skeleton;
  {
    ConditionedCurves conditioned = condition_curves(curves, buffer_distance, feature_size,
                                                     options.per_curve_widths,
                                                     options.merge_tolerance);
    const std::vector<Ring> bands =
        offset_bands(conditioned.curves, conditioned.widths, buffer_distance, feature_size);
    const double radius = largest_radius(buffer_distance, conditioned.widths);
    conditioned = {};
    skeleton = tiled_skeleton(bands, radius, buffer_distance, feature_size,
                              {options.subdivision_ratio, options.resample,
                               options.boundary_simplification},
                              tiles, options.compute_widths);
  }
  if (skeleton.segments.empty()) return TopologizeOutput{};

  Graph graph = segments_to_graph(skeleton.segments, t.snap_tolerance);
  std::vector<Segment>().swap(skeleton.segments);
  if (options.max_nodes && graph.nodes.size() > *options.max_nodes) {
    return PipelineError{"skeleton has " + std::to_string(graph.nodes.size()) +
                         " nodes, exceeding max_nodes limit of " +
                         std::to_string(*options.max_nodes)};
  }
  if (t.tip_length > 0.0) graph = prune_short_tips(graph, t.tip_length);
  if (t.junction_fraction > 0.0) graph = merge_close_junctions(graph, t.junction_distance);
  // Where the tiles' skeletons disagree around a junction on a seam, the
  // stitched pieces can form a small loop that junction merging collapses
  // into a stub; the stub is a short tip like any other.
  if (t.tip_length > 0.0 && t.junction_fraction > 0.0) graph = prune_short_tips(graph, t.tip_length);
  const std::vector<Chain> chains = extract_chains(graph);

  TopologizeOutput out;
  out.chains = finish_chains(chains, t.chain_simplification);
  NumberedNodes numbered = number_nodes(chains, out.chains);
  out.nodes = std::move(numbered.nodes);
  out.chain_node_ids = std::move(numbered.chain_node_ids);
  if (options.compute_widths) out.widths = measure_widths(out.chains, skeleton.boundary);
  return out;
}

}  // namespace strokegraph
