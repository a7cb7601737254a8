// The clean graph: the skeleton through the clean-up passes (spurs, crossings,
// junction placement, links), then chains, free ends and node numbering.
// The clean-up constants are chosen here, in units of the band.
#include "pipeline/clean_parts.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <variant>

#include "cleanup/cleanup.h"
#include "common/format.h"
#include "common/progress.h"
#include "conditioning/repeats.h"
#include "graph/graph.h"
#include "inflate/inflate.h"
#include "pipeline/batch.h"
#include "pipeline/front.h"
#include "pipeline/join_cuts.h"
#include "pipeline/memory.h"
#include "pipeline/postprocess.h"
#include "pipeline/tile.h"
#include "pipeline/tiled.h"
#include "pipeline/widths.h"
#include "provenance/sources.h"
#include "skeleton_cdt/skeleton.h"

namespace strokegraph {
namespace clean_detail {
namespace {

// Clean-up constants, in units of the band (clearances and radii); chosen on
// the bench's drawings (see bench/quality_sweep.py).
constexpr double kSpurFactor = 1.6;      // spur: shorter than this x its junction's clearance
constexpr double kForkFactor = 2.5;      // cap fork: both tips shorter than this x clearance
constexpr double kCornerFactor = 6.0;    // tip away from stroke ends: shorter than this x clearance
constexpr double kEndDistance = 2.0;     // x radius: a tip this close to a stroke end is one
constexpr double kMeetAngle = 0.35;      // radians: strokes meeting at a tip, not overdrawn
constexpr double kCrossingFactor = 1.0;  // crossing: link within the sum of both clearances
constexpr double kMinWaist = 0.85;       // a crossing's link keeps this x its junctions' clearance
constexpr double kStraightLinkFactor = 3.0;  // split crossing: link within this x both clearances
constexpr double kStraightTurn = 0.45;   // radians: arms continuing each other
constexpr double kRelocateFactor = 2.0;  // a junction moves at most this x its clearance
constexpr double kIsolatedLength = 0.5;  // x radius: shorter isolated paths are specks
constexpr double kMeetingReach = 16.0;  // x radius: a junction moves this far to where its strokes meet
constexpr double kMeetingsApart = 1.0;  // x radius: strokes meeting this far apart are two crossings
constexpr double kSettleDistance = 1.0;  // x radius: junctions moved this close become one
constexpr double kShallowLink = 6.0;  // x radius: a shallow crossing's two junctions at most this far along
constexpr double kOnStroke = 0.5;  // x band radius: a junction this near a stroke's centerline lies on it
constexpr double kShallowAngle = 0.07;  // radians: strokes this far apart at a junction cross there
constexpr double kStubFactor = 1.5;  // after the moves, a tip shorter than this x its junction's clearance goes
// x radius: chains never turn back by more than 150 degrees over a shorter
// step. Two legs 30 degrees apart leave each other's band only 3.86 radii
// out, so a skeleton has no such turn of its own below that.
constexpr double kWiggleStep = 3.5;
constexpr double kOvershootReach = 2.0;  // x radius: a stroke ending this far past another's centerline
constexpr double kOvershootLength = 4.0;  // x radius: ... on a tip shorter than this ends on it
// x radius: a tip shorter than this whose stroke another leaves near its end
// (their bands part farther out the sharper they meet) is an overshoot.
constexpr double kBranchLength = 8.0;

// The stroke ends as zero-length segments, for the clean-up.
SegmentGrid stroke_end_grid(const std::vector<Point>& ends, double radius) {
  std::vector<Segment> segments;
  segments.reserve(ends.size());
  for (const Point& p : ends) segments.push_back({p, p});
  return SegmentGrid(std::move(segments), radius);
}

}  // namespace

// `assembled`: the skeleton computed tile by tile elsewhere; else computed
// here.
Result<TopologizeOutput> clean_graph(const std::vector<Polyline>& curves, double radius,
                                     double feature_size, const TopologizeOptions& given,
                                     const TileChoice& tiles, const std::vector<Cap>& caps,
                                     std::optional<StrokeIndex>& strokes,
                                     double& sources_seconds, double& cleanup_seconds,
                                     CleanSkeleton* assembled) {
  if (auto error = check_widths(curves, given.per_curve_widths)) return *error;
  const TopologizeOptions options = clean_defaults(given, radius, feature_size);
  const GraphThresholds t = derive_graph_thresholds(feature_size, options);
  const std::size_t working_set = working_set_of(curves);
  std::vector<BufferPolygon> polygons;
  std::optional<PointRuns> tile_edges;
  std::optional<TileGrid> grid;
  std::vector<Segment> segments;
  std::vector<Point> boundary;
  std::optional<SegmentGrid> ends;  // of the strokes, for the clean-up
  std::vector<std::size_t> first;   // per curve, the first curve it repeats
  {
    CleanSkeleton skeleton =
        assembled != nullptr
            ? std::move(*assembled)
            : local_skeleton(curves, radius, feature_size, options, tiles, caps);
    const auto t0 = std::chrono::steady_clock::now();
    ends.emplace(stroke_end_grid(skeleton.stroke_ends, radius));
    cleanup_seconds += seconds_since(t0);
    polygons = std::move(skeleton.polygons);
    tile_edges = std::move(skeleton.tile_edges);
    grid = std::move(skeleton.grid);
    segments = std::move(skeleton.segments);
    boundary = std::move(skeleton.boundary);
    first = std::move(skeleton.first);
  }
  if (segments.empty()) return TopologizeOutput{};
  release_free_memory(working_set);
  enter_stage("graph", 0.8, 0.85);
  // Nodes at their lowest end: tiled and untiled, the same skeleton comes in
  // another order.
  Graph graph = segments_to_graph(segments, t.snap_tolerance, true);
  segments.clear();
  segments.shrink_to_fit();
  if (grid) graph = join_seam_cuts(std::move(graph), *grid);
  release_free_memory(working_set);
  if (auto error = check_node_limit(graph.nodes.size(), options.max_nodes)) return *error;
  // The raw stages run only when asked for explicitly: the clean-up below
  // measures spurs and crossings against the band instead.
  if (options.min_tip_fraction && t.tip_length > 0.0) graph = prune_short_tips(graph, t.tip_length);
  if (options.junction_merge_fraction && t.junction_fraction > 0.0) {
    graph = merge_close_junctions(graph, t.junction_distance);
  }

  enter_stage("cleanup", 0.85, 0.95);
  // The stroke index is built once: the passes read it (the crossing merges
  // to keep apart the meetings of strokes side by side, relocation to find
  // where strokes meet) and provenance uses it after.
  // A stroke and its repeats are one stroke to the clean-up's questions: the
  // front found them, or else (a skeleton assembled from tiles) they are
  // found here, timed with the index.
  auto index_strokes = [&] {
    const auto t_index = std::chrono::steady_clock::now();
    if (first.size() != curves.size()) first = first_drawn(curves, options.per_curve_widths);
    strokes.emplace(stroke_index(curves, options.per_curve_widths, radius, first));
    sources_seconds += seconds_since(t_index);
  };
  index_strokes();
  first = {};
  auto t0 = std::chrono::steady_clock::now();
  const double band = widest(radius, options.per_curve_widths);
  SegmentGrid edges = tile_edges ? SegmentGrid::of_runs(std::move(*tile_edges), 2.0 * band)
                                       : boundary_grid(polygons, 2.0 * band);
  cleanup_seconds += seconds_since(t0);
  polygons.clear();
  polygons.shrink_to_fit();
  t0 = std::chrono::steady_clock::now();
  SpurRules rules;
  rules.factor = kSpurFactor;
  rules.fork_factor = kForkFactor;
  rules.fork_clearance = radius;
  rules.corner_factor = kCornerFactor;
  rules.isolated_length = kIsolatedLength * radius;
  rules.stroke_ends = &*ends;
  rules.end_distance = kEndDistance * radius;
  rules.strokes = &*strokes;
  rules.meet_angle = kMeetAngle;
  rules.overshoot_length = kOvershootLength * radius;
  rules.overshoot_reach = kOvershootReach * radius;
  rules.branch_length = kBranchLength * radius;
  rules.corner_ends = true;
  std::vector<double> clearance = junction_clearance(graph, edges, 3.0 * band);
  graph = remove_spurs(std::move(graph), clearance, rules);
  release_free_memory(working_set);
  advance(0.25);
  graph = merge_crossings(std::move(graph), clearance, kCrossingFactor, edges, kMinWaist, &*strokes,
                          kMeetingsApart * radius);
  release_free_memory(working_set);
  advance(0.4);
  graph = remove_spurs(std::move(graph), clearance, rules);
  rules = {};
  ends.reset();
  release_free_memory(working_set);
  advance(0.65);
  graph = merge_straight_crossings(std::move(graph), clearance, radius, kStraightLinkFactor, kStraightTurn, &*strokes);
  release_free_memory(working_set);
  advance(0.8);
  {
    const std::vector<Point> before = graph.nodes;
    relocate_junctions(graph, clearance, radius, kRelocateFactor, &*strokes, kMeetingReach * radius, &edges);
    graph = settle_links(std::move(graph), before, clearance, kSettleDistance * radius);
    graph = join_shallow_crossings(std::move(graph), clearance, *strokes, kShallowLink * radius,
                                   kOnStroke, kShallowAngle);
    // A junction moved to where its strokes meet can land by a tip of its
    // own (a short arm's end at a corner): what is left of that arm is a stub.
    SpurRules stubs;
    stubs.factor = kStubFactor;
    stubs.fork_factor = 0.0;
    stubs.corner_factor = 0.0;
    graph = remove_spurs(std::move(graph), clearance, stubs);
  }
  clearance = {};
  cleanup_seconds += seconds_since(t0);
  enter_stage("chains", 0.95, 1.0);
  const std::vector<Chain> chains = extract_chains(std::move(graph));
  // The chains hold what is left to use of the graph.
  graph = {};
  release_free_memory(working_set);

  TopologizeOutput out;
  out.chains = finish_chains(chains, t.chain_simplification);
  const auto t1 = std::chrono::steady_clock::now();
  place_free_ends(out.chains, chains, edges, band);
  edges = SegmentGrid({}, 1.0);
  unfold_chains(out.chains, kWiggleStep * radius);
  cleanup_seconds += seconds_since(t1);
  NumberedNodes numbered = number_nodes(chains, out.chains);
  out.nodes = std::move(numbered.nodes);
  out.chain_node_ids = std::move(numbered.chain_node_ids);
  if (options.compute_widths) out.widths = measure_widths(out.chains, boundary);
  return out;
}

}  // namespace clean_detail
}  // namespace strokegraph
