#include "pipeline/centerlines.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <utility>
#include <variant>

#include "cleanup/cleanup.h"
#include "common/format.h"
#include "common/progress.h"
#include "graph/graph.h"
#include "inflate/inflate.h"
#include "pipeline/batch.h"
#include "pipeline/front.h"
#include "pipeline/memory.h"
#include "pipeline/postprocess.h"
#include "pipeline/tiled.h"
#include "pipeline/widths.h"
#include "provenance/sources.h"
#include "skeleton_cdt/skeleton.h"
#include "tile/tile.h"

namespace strokegraph {
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
// A polygon whose outer ring has this many points and gives no skeleton at all
// had its triangulation refused.
constexpr std::size_t kRefusedRing = 64;

// Zero-length segments at both ends of every stroke of the conditioned
// curves (strokes whose ends touch already joined, end points kept by
// decimation); a stroke that closes on itself has no ends.
SegmentGrid stroke_end_grid(const std::vector<Polyline>& conditioned, double radius) {
  std::vector<Segment> ends;
  for (const Polyline& c : conditioned) {
    if (c.size() < 2) continue;
    if (std::hypot(c.back().x - c.front().x, c.back().y - c.front().y) <= 0.5 * radius) continue;
    ends.push_back({c.front(), c.front()});
    ends.push_back({c.back(), c.back()});
  }
  return SegmentGrid(std::move(ends), radius);
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double effective_feature_size(double radius, const std::optional<double>& feature_size) {
  return feature_size ? *feature_size : radius * kDefaultFeatureRatio;
}

// The largest band radius in force.
double widest(double radius, const std::optional<WidthLists>& widths) {
  double w = radius;
  if (widths) {
    for (const std::vector<double>& list : *widths) {
      for (double v : list) {
        if (std::isfinite(v)) w = std::max(w, std::fabs(v));
      }
    }
  }
  return w;
}

// The clean pipeline's own defaults where they differ from topologize's:
// the skeleton's detail follows the band, not only the feature size. Chains
// are simplified at min(feature size, radius) / 10 (a feature size well above
// the radius would cut corners by a fifth of a radius and more), ring
// vertices closer than 0.05 x max(feature size, radius) to the ring are
// dropped (a feature size well below the radius would keep the strokes'
// jitter, which the skeleton then follows). Raw tip pruning and junction
// merging run only when asked for.
TopologizeOptions clean_defaults(const TopologizeOptions& given, double radius, double feature_size) {
  TopologizeOptions o = given;
  if (!o.simplification) o.simplification = std::min(feature_size, radius) / 10.0;
  if (!o.boundary_simplification) o.boundary_simplification = 0.05 * std::max(feature_size, radius);
  return o;
}

// The tile side to use (not positive: chosen from the bands), or nothing when
// the skeleton is computed in one piece.
std::optional<double> tile_side(const TileChoice& tiles, const std::vector<Ring>& bands) {
  if (const double* side = std::get_if<double>(&tiles)) return *side;
  if (const bool* always = std::get_if<bool>(&tiles)) {
    return *always ? std::optional<double>(0.0) : std::nullopt;
  }
  if (tiling_pays_off(largest_cluster_vertices(bands))) return 0.0;
  return std::nullopt;
}

Result<TopologizeOutput> clean_graph(const std::vector<Polyline>& curves, double radius,
                                     double feature_size, const TopologizeOptions& given,
                                     const TileChoice& tiles, std::optional<StrokeIndex>& strokes,
                                     double& sources_seconds,
                                     double& cleanup_seconds) {
  if (auto error = check_widths(curves, given.per_curve_widths)) return *error;
  const TopologizeOptions options = clean_defaults(given, radius, feature_size);
  // Merging, decimation and the bands (holes below 0.1 x this squared are
  // filled) work at no coarser a scale than the radius: a feature size above
  // it would fill the small holes of letters whose strokes nearly touch.
  const double front_scale = std::min(feature_size, radius);
  const GraphThresholds t = derive_graph_thresholds(feature_size, options);
  // Bytes the stages work with, roughly: some times the input points.
  std::size_t working_set = 0;
  for (const Polyline& c : curves) working_set += 4 * sizeof(Point) * c.size();
  enter_stage("inflate", 0.0, 0.4);
  const BoundaryOptions boundary_options{options.subdivision_ratio, options.resample,
                                         options.boundary_simplification};
  // The skeleton of the united bands, in one piece or tile by tile; with
  // tiles the clean-up measures against the tiles' ring edges.
  std::vector<BufferPolygon> polygons;
  std::optional<std::vector<Segment>> tile_edges;
  std::vector<Segment> segments;
  std::vector<Point> boundary;
  std::optional<SegmentGrid> ends;  // of the strokes, for the clean-up
  {
    ConditionedCurves conditioned = condition_curves(curves, radius, front_scale,
                                                     options.per_curve_widths,
                                                     options.merge_tolerance);
    std::vector<Ring> bands =
        offset_bands(conditioned.curves, conditioned.widths, radius, front_scale);
    const double widest_band = largest_radius(radius, conditioned.widths);
    const auto t0 = std::chrono::steady_clock::now();
    ends.emplace(stroke_end_grid(conditioned.curves, radius));
    cleanup_seconds += seconds_since(t0);
    conditioned = {};
    release_free_memory(working_set);
    enter_stage("skeleton", 0.4, 0.8);
    auto run_tiles = [&](double side) {
      TileOptions tile_options;
      tile_options.tile_size = side;
      tile_options.hole_feature_size = front_scale;
      tile_options.keep_edges = true;
      TiledSkeleton skeleton = tiled_skeleton(std::move(bands), widest_band, radius, feature_size,
                                              boundary_options, tile_options,
                                              options.compute_widths);
      segments = std::move(skeleton.segments);
      boundary = std::move(skeleton.boundary);
      tile_edges = std::move(skeleton.edges);
    };
    // Left to choose, a drawing that one large polygon would lose (its
    // triangulation refused) is done again in tiles, which retry such polygons
    // with other clips and without ring simplification.
    const bool may_rescue = std::holds_alternative<std::monostate>(tiles);
    if (const std::optional<double> side = tile_side(tiles, bands)) {
      run_tiles(*side);
    } else {
      polygons = preprocess_stage(
          unite_bands(may_rescue ? std::vector<Ring>(bands) : std::move(bands), front_scale),
          radius, feature_size, boundary_options);
      bool refused = false;
      for (std::size_t k = 0; k < polygons.size(); ++k) {
        advance(double(k) / double(polygons.size()));
        const BufferPolygon& polygon = polygons[k];
        if (polygon.outer.size() < 3) continue;
        std::vector<Segment> part = skeletonize(polygon.outer, polygon.holes);
        refused = refused || (part.empty() && polygon.outer.size() >= kRefusedRing);
        segments.insert(segments.end(), part.begin(), part.end());
      }
      if (refused && may_rescue) {
        polygons = {};
        segments = {};
        run_tiles(0.0);
      } else if (options.compute_widths) {
        boundary = ring_vertices(polygons);
      }
    }
  }
  if (segments.empty()) return TopologizeOutput{};
  release_free_memory(working_set);
  enter_stage("graph", 0.8, 0.85);
  Graph graph = segments_to_graph(segments, t.snap_tolerance);
  segments.clear();
  segments.shrink_to_fit();
  release_free_memory(working_set);
  if (auto error = check_node_limit(graph.nodes.size(), options.max_nodes)) return *error;
  // The raw stages run only when asked for explicitly: the clean-up below
  // measures spurs and crossings against the band instead.
  if (options.min_tip_fraction && t.tip_length > 0.0) graph = prune_short_tips(graph, t.tip_length);
  if (options.junction_merge_fraction && t.junction_fraction > 0.0) {
    graph = merge_close_junctions(graph, t.junction_distance);
  }

  enter_stage("cleanup", 0.85, 0.95);
  const auto t_index = std::chrono::steady_clock::now();
  strokes.emplace(stroke_index(curves, options.per_curve_widths, radius));
  sources_seconds += seconds_since(t_index);
  auto t0 = std::chrono::steady_clock::now();
  const double band = widest(radius, options.per_curve_widths);
  SegmentGrid edges = tile_edges ? SegmentGrid(std::move(*tile_edges), 2.0 * band)
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
  std::vector<double> clearance = junction_clearance(graph, edges, 3.0 * band);
  graph = remove_spurs(std::move(graph), clearance, rules);
  release_free_memory(working_set);
  advance(0.25);
  graph = merge_crossings(std::move(graph), clearance, kCrossingFactor, edges, kMinWaist);
  release_free_memory(working_set);
  advance(0.4);
  graph = remove_spurs(std::move(graph), clearance, rules);
  release_free_memory(working_set);
  advance(0.65);
  graph = merge_straight_crossings(std::move(graph), clearance, radius, kStraightLinkFactor, kStraightTurn);
  release_free_memory(working_set);
  advance(0.8);
  relocate_junctions(graph, clearance, radius, kRelocateFactor);
  cleanup_seconds += seconds_since(t0);
  enter_stage("chains", 0.95, 1.0);
  const std::vector<Chain> chains = extract_chains(std::move(graph));
  // The chains hold what is left to use of the graph.
  graph = {};
  clearance = {};
  ends.reset();
  release_free_memory(working_set);

  TopologizeOutput out;
  out.chains = finish_chains(chains, t.chain_simplification);
  const auto t1 = std::chrono::steady_clock::now();
  place_free_ends(out.chains, chains, edges, radius);
  edges = SegmentGrid({}, 1.0);
  cleanup_seconds += seconds_since(t1);
  NumberedNodes numbered = number_nodes(chains, out.chains);
  out.nodes = std::move(numbered.nodes);
  out.chain_node_ids = std::move(numbered.chain_node_ids);
  if (options.compute_widths) out.widths = measure_widths(out.chains, boundary);
  return out;
}

}  // namespace

std::optional<PipelineError> check_centerlines_scale(double radius,
                                                     const std::optional<double>& feature_size) {
  if (!(std::isfinite(radius) && radius > 0.0)) {
    return PipelineError{"radius must be a positive finite number, got " + format_float(radius)};
  }
  return check_feature_size(effective_feature_size(radius, feature_size));
}

std::optional<PipelineError> check_tiles(const TileChoice& tiles) {
  const double* side = std::get_if<double>(&tiles);
  if (side == nullptr || (std::isfinite(*side) && *side > 0.0)) return std::nullopt;
  return PipelineError{"tiles must be a positive finite number, True, False or None, got " +
                       format_float(*side)};
}

Result<CenterlinesOutput> centerlines_inner(const std::vector<Polyline>& curves, double radius,
                                            const CenterlinesOptions& options) {
  const double fs = effective_feature_size(radius, options.feature_size);
  CenterlinesOutput out;
  if (auto error = check_tiles(options.tiles)) return *error;
  if (auto error = check_widths(curves, options.topologize.per_curve_widths)) return *error;
  // The stroke index is built when first needed (the clean-up builds it once
  // the skeleton's segments are gone), so that it is not held while they are.
  std::optional<StrokeIndex> strokes;
  Result<TopologizeOutput> graph =
      options.clean ? clean_graph(curves, radius, fs, options.topologize, options.tiles, strokes,
                                  out.sources_seconds, out.cleanup_seconds)
                    : topologize_inner(curves, radius, fs, options.topologize);
  if (auto* error = std::get_if<PipelineError>(&graph)) return *error;
  out.graph = std::get<TopologizeOutput>(std::move(graph));
  const auto t1 = std::chrono::steady_clock::now();
  if (!strokes) strokes.emplace(stroke_index(curves, options.topologize.per_curve_widths, radius));
  out.sources = chain_sources(out.graph.chains, out.graph.chain_node_ids, *strokes, radius);
  out.sources_seconds += seconds_since(t1);
  return out;
}

std::optional<PipelineError> check_centerlines_jobs(const std::vector<CenterlinesJob>& jobs) {
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    auto error = check_centerlines_scale(jobs[i].radius, jobs[i].options.feature_size);
    if (!error) error = check_tiles(jobs[i].options.tiles);
    if (error) {
      return PipelineError{"centerlines_batch job " + std::to_string(i) + " failed: " + error->message};
    }
  }
  return std::nullopt;
}

Result<std::vector<CenterlinesOutput>> run_centerlines_batch(
    const std::vector<CenterlinesJob>& jobs) {
  return run_jobs<CenterlinesOutput>(jobs.size(), "centerlines_batch", [&](std::size_t i) {
    const CenterlinesJob& job = jobs[i];
    return centerlines_inner(job.curves, job.radius, job.options);
  });
}

}  // namespace strokegraph
