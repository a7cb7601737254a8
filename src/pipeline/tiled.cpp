#include "pipeline/tiled.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

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

namespace {

// Where the tiles' skeletons disagree around a junction on a seam, the
// stitched pieces can form a small loop that junction merging collapses into
// a stub. Removes, once, every branch from a free end within `near` of a seam
// line up to the first node of another degree than 2 when it is shorter than
// `threshold`; branches elsewhere stay as the untiled pipeline leaves them.
Graph prune_seam_stubs(const Graph& graph, const TileGrid& grid, double threshold, double near) {
  const std::size_t n = graph.nodes.size();
  std::vector<std::vector<std::size_t>> at(n);  // edge indices per node
  for (std::size_t e = 0; e < graph.edges.size(); ++e) {
    at[graph.edges[e].first].push_back(e);
    at[graph.edges[e].second].push_back(e);
  }
  auto on_seam = [&](Point p) {
    for (std::size_t i = 1; i + 1 < grid.xs.size(); ++i)
      if (std::fabs(p.x - grid.xs[i]) <= near) return true;
    for (std::size_t i = 1; i + 1 < grid.ys.size(); ++i)
      if (std::fabs(p.y - grid.ys[i]) <= near) return true;
    return false;
  };
  std::vector<char> removed(graph.edges.size(), 0);
  std::vector<std::size_t> path;
  for (std::size_t start = 0; start < n; ++start) {
    if (at[start].size() != 1 || !on_seam(graph.nodes[start])) continue;
    path.clear();
    double length = 0.0;
    std::size_t cur = start, edge = at[start][0];
    for (;;) {
      if (removed[edge]) break;
      path.push_back(edge);
      const Edge& e = graph.edges[edge];
      const std::size_t next = e.first == cur ? e.second : e.first;
      length += std::hypot(graph.nodes[next].x - graph.nodes[cur].x,
                           graph.nodes[next].y - graph.nodes[cur].y);
      if (at[next].size() != 2 || next == start || length >= threshold) break;
      edge = at[next][0] == edge ? at[next][1] : at[next][0];
      cur = next;
    }
    if (length < threshold && !path.empty() && !removed[path.back()])
      for (std::size_t e : path) removed[e] = 1;
  }
  Graph out;
  out.nodes = graph.nodes;
  for (std::size_t e = 0; e < graph.edges.size(); ++e)
    if (!removed[e]) out.edges.push_back(graph.edges[e]);
  return out;
}

}  // namespace

Result<TopologizeOutput> topologize_tiled(const std::vector<Polyline>& curves,
                                          double buffer_distance, double feature_size,
                                          const TopologizeOptions& options,
                                          const TileOptions& tiles) {
  if (auto error = check_widths(curves, options.per_curve_widths)) return *error;

  const GraphThresholds t = derive_graph_thresholds(feature_size, options);
  TiledSkeleton skeleton;
  double radius = 0.0;
  {
    ConditionedCurves conditioned = condition_curves(curves, buffer_distance, feature_size,
                                                     options.per_curve_widths,
                                                     options.merge_tolerance);
    std::vector<Ring> bands = offset_bands(
        conditioned.curves, conditioned.widths, buffer_distance, feature_size);
    radius = largest_radius(buffer_distance, conditioned.widths);
    conditioned = {};
    skeleton = tiled_skeleton(std::move(bands), radius, buffer_distance, feature_size,
                              {options.subdivision_ratio, options.resample,
                               options.boundary_simplification},
                              tiles, options.compute_widths);
  }
  if (skeleton.segments.empty()) return TopologizeOutput{};

  Graph graph = segments_to_graph(skeleton.segments, t.snap_tolerance);
  std::vector<Segment>().swap(skeleton.segments);
  if (auto error = check_node_limit(graph.nodes.size(), options.max_nodes)) return *error;
  if (t.tip_length > 0.0) graph = prune_short_tips(graph, t.tip_length);
  if (t.junction_fraction > 0.0) graph = merge_close_junctions(graph, t.junction_distance);
  if (t.tip_length > 0.0 && t.junction_fraction > 0.0)
    graph = prune_seam_stubs(graph, skeleton.grid, t.tip_length, 0.25 * radius);
  const std::vector<Chain> chains = extract_chains(std::move(graph));

  TopologizeOutput out;
  out.chains = finish_chains(chains, t.chain_simplification);
  NumberedNodes numbered = number_nodes(chains, out.chains);
  out.nodes = std::move(numbered.nodes);
  out.chain_node_ids = std::move(numbered.chain_node_ids);
  if (options.compute_widths) out.widths = measure_widths(out.chains, skeleton.boundary);
  return out;
}

}  // namespace strokegraph
