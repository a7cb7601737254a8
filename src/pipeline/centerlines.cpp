#include "pipeline/centerlines.h"

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
#include "conditioning/repeats.h"
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
#include "tile/join_cuts.h"
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
constexpr double kMeetingReach = 16.0;  // x radius: a junction moves this far to where its strokes meet
constexpr double kSettleDistance = 1.0;  // x radius: junctions moved this close become one
constexpr double kStubFactor = 1.5;  // after the moves, a tip shorter than this x its junction's clearance goes
// x radius: chains never turn back by more than 150 degrees over a shorter
// step. Two legs 30 degrees apart leave each other's band only 3.86 radii
// out, so a skeleton has no such turn of its own below that.
constexpr double kWiggleStep = 3.5;
constexpr double kOvershootReach = 2.0;  // x radius: a stroke ending this far past another's centerline
constexpr double kOvershootLength = 4.0;  // x radius: ... on a tip shorter than this ends on it
// A polygon whose outer ring has this many points and gives no skeleton at all
// had its triangulation refused.
constexpr std::size_t kRefusedRing = 64;

// Both ends of every stroke of the conditioned curves (strokes whose ends
// touch already joined, end points kept by decimation); a stroke that closes
// on itself has no ends.
std::vector<Point> stroke_ends(const std::vector<Polyline>& conditioned, double radius) {
  std::vector<Point> ends;
  for (const Polyline& c : conditioned) {
    if (c.size() < 2) continue;
    if (std::hypot(c.back().x - c.front().x, c.back().y - c.front().y) <= 0.5 * radius) continue;
    ends.push_back(c.front());
    ends.push_back(c.back());
  }
  return ends;
}

// The stroke ends as zero-length segments, for the clean-up.
SegmentGrid stroke_end_grid(const std::vector<Point>& ends, double radius) {
  std::vector<Segment> segments;
  segments.reserve(ends.size());
  for (const Point& p : ends) segments.push_back({p, p});
  return SegmentGrid(std::move(segments), radius);
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

// Merging, decimation and the bands (holes below 0.1 x this squared are
// filled) work at no coarser a scale than the radius: a feature size above
// it would fill the small holes of letters whose strokes nearly touch.
double front_scale_of(double radius, double feature_size) { return std::min(feature_size, radius); }

BoundaryOptions boundary_options_of(const TopologizeOptions& options) {
  return {options.subdivision_ratio, options.resample, options.boundary_simplification, true};
}

TileOptions clean_tile_options(double side, double front_scale) {
  TileOptions tile_options;
  tile_options.tile_size = side;
  tile_options.hole_feature_size = front_scale;
  tile_options.keep_edges = true;
  return tile_options;
}

// The clean pipeline up to its skeleton: the bands of the conditioned
// curves, the stroke ends, and the tile side when the skeleton is computed
// tile by tile. `options` are the clean defaults.
struct CleanFront {
  std::vector<Ring> bands;
  double widest_band = 0.0;
  std::vector<Point> stroke_ends;
  std::optional<double> side;
};

// Bytes the stages work with, roughly: some times the input points.
std::size_t working_set_of(const std::vector<Polyline>& curves) {
  std::size_t bytes = 0;
  for (const Polyline& c : curves) bytes += 4 * sizeof(Point) * c.size();
  return bytes;
}

// One cap per curve (round where none is given).
std::vector<Cap> caps_per_curve(const std::vector<Cap>& caps, std::size_t curves) {
  if (caps.size() == curves) return caps;
  return std::vector<Cap>(curves, caps.empty() ? Cap::Round : caps.front());
}

CleanFront clean_front(const std::vector<Polyline>& curves, double radius, double feature_size,
                       const TopologizeOptions& options, const TileChoice& tiles,
                       const std::vector<Cap>& caps) {
  const double front_scale = front_scale_of(radius, feature_size);
  const std::vector<Cap> per_curve = caps_per_curve(caps, curves.size());
  // A stroke drawn again (or reversed) is drawn once: joined to its repeat at
  // their common ends it would fold into a loop without ends.
  const std::vector<std::size_t> repeats = repeated_curves(curves, options.per_curve_widths);
  ConditionedCurves conditioned;
  if (repeats.empty()) {
    conditioned = condition_curves(curves, radius, front_scale, options.per_curve_widths,
                                   options.merge_tolerance, &per_curve);
  } else {
    std::vector<Polyline> once;
    std::vector<Cap> once_caps;
    std::optional<WidthLists> once_widths;
    if (options.per_curve_widths) once_widths.emplace();
    std::size_t r = 0;
    for (std::size_t i = 0; i < curves.size(); ++i) {
      if (r < repeats.size() && repeats[r] == i) {
        ++r;
        continue;
      }
      once.push_back(curves[i]);
      once_caps.push_back(per_curve[i]);
      if (once_widths && i < options.per_curve_widths->size()) {
        once_widths->resize(once.size());
        once_widths->back() = (*options.per_curve_widths)[i];
      }
    }
    conditioned = condition_curves(once, radius, front_scale, once_widths, options.merge_tolerance,
                                   &once_caps);
  }
  CleanFront front;
  front.bands = offset_bands(conditioned.curves, conditioned.widths, radius, front_scale,
                             &*conditioned.caps);
  front.widest_band = largest_radius(radius, conditioned.widths);
  front.stroke_ends = stroke_ends(conditioned.curves, radius);
  conditioned = {};
  front.side = tile_side(tiles, front.bands);
  return front;
}

// What the clean-up starts from: the skeleton, the ring vertices for widths,
// and what clearances are measured against (the polygons in one piece, or
// the tiles' ring edges).
struct CleanSkeleton {
  std::vector<Segment> segments;
  std::vector<Point> boundary;
  std::vector<BufferPolygon> polygons;
  std::optional<PointRuns> tile_edges;
  std::vector<Point> stroke_ends;
  std::optional<TileGrid> grid;  // of the tiles, when computed tile by tile
};

CleanSkeleton tiled_clean_skeleton(TiledSkeleton skeleton, std::vector<Point> ends) {
  CleanSkeleton out;
  out.segments = std::move(skeleton.segments);
  out.boundary = std::move(skeleton.boundary);
  out.tile_edges = std::move(skeleton.edges);
  out.stroke_ends = std::move(ends);
  out.grid = std::move(skeleton.grid);
  return out;
}

// The skeleton of the united bands, in one piece or tile by tile.
CleanSkeleton local_skeleton(const std::vector<Polyline>& curves, double radius,
                             double feature_size, const TopologizeOptions& options,
                             const TileChoice& tiles, const std::vector<Cap>& caps) {
  enter_stage("inflate", 0.0, 0.4);
  const double front_scale = front_scale_of(radius, feature_size);
  const BoundaryOptions boundary_options = boundary_options_of(options);
  CleanFront front = clean_front(curves, radius, feature_size, options, tiles, caps);
  release_free_memory(working_set_of(curves));  // what conditioning held
  enter_stage("skeleton", 0.4, 0.8);
  auto run_tiles = [&](double side) {
    return tiled_clean_skeleton(
        tiled_skeleton(std::move(front.bands), front.widest_band, radius, feature_size, boundary_options,
                       clean_tile_options(side, front_scale), options.compute_widths),
        std::move(front.stroke_ends));
  };
  if (front.side) return run_tiles(*front.side);
  // Left to choose, a drawing that one large polygon would lose (its
  // triangulation refused) is done again in tiles, which retry such polygons
  // with other clips and without ring simplification.
  const bool may_rescue = std::holds_alternative<std::monostate>(tiles);
  CleanSkeleton out;
  std::vector<BufferPolygon> united =
      unite_bands(may_rescue ? std::vector<Ring>(front.bands) : std::move(front.bands), front_scale);
  out.polygons = preprocess_stage(united, radius, feature_size, boundary_options);
  // A large polygon without skeleton had its triangulation refused, mostly
  // because simplification made two of its rings cross: it is done again
  // without (the union's own rings do not cross).
  BoundaryOptions unsimplified = boundary_options;
  unsimplified.boundary_simplification = 0.0;
  bool refused = false;
  for (std::size_t k = 0; k < out.polygons.size(); ++k) {
    advance(double(k) / double(out.polygons.size()));
    BufferPolygon& polygon = out.polygons[k];
    if (polygon.outer.size() < 3) continue;
    std::vector<Segment> part = skeletonize(polygon.outer, polygon.holes);
    if (part.empty() && polygon.outer.size() >= kRefusedRing) {
      polygon = std::move(preprocess_stage({std::move(united[k])}, radius, feature_size, unsimplified)[0]);
      part = skeletonize(polygon.outer, polygon.holes);
      refused = refused || part.empty();
    }
    out.segments.insert(out.segments.end(), part.begin(), part.end());
  }
  united = {};
  if (refused && may_rescue) {
    out = {};
    return run_tiles(0.0);
  }
  if (options.compute_widths) out.boundary = ring_vertices(out.polygons);
  out.stroke_ends = std::move(front.stroke_ends);
  return out;
}

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
  // The stroke index is held only while a pass reads it: the crossing merges
  // in between take the most memory of the clean-up, and rebuilding it costs
  // a small share of what they take in time. Provenance builds it again.
  // A stroke and its repeats are one stroke to the clean-up's questions.
  const std::vector<std::size_t> first = first_drawn(curves, options.per_curve_widths);
  auto index_strokes = [&] {
    const auto t_index = std::chrono::steady_clock::now();
    strokes.emplace(stroke_index(curves, options.per_curve_widths, radius, first));
    sources_seconds += seconds_since(t_index);
  };
  index_strokes();
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
  std::vector<double> clearance = junction_clearance(graph, edges, 3.0 * band);
  graph = remove_spurs(std::move(graph), clearance, rules);
  strokes.reset();
  release_free_memory(working_set);
  advance(0.25);
  graph = merge_crossings(std::move(graph), clearance, kCrossingFactor, edges, kMinWaist);
  release_free_memory(working_set);
  advance(0.4);
  index_strokes();
  rules.strokes = &*strokes;
  graph = remove_spurs(std::move(graph), clearance, rules);
  rules = {};
  strokes.reset();
  ends.reset();
  release_free_memory(working_set);
  advance(0.65);
  graph = merge_straight_crossings(std::move(graph), clearance, radius, kStraightLinkFactor, kStraightTurn);
  release_free_memory(working_set);
  advance(0.8);
  {
    const std::vector<Point> before = graph.nodes;
    cleanup_seconds += seconds_since(t0);
    index_strokes();  // kept for provenance
    t0 = std::chrono::steady_clock::now();
    relocate_junctions(graph, clearance, radius, kRelocateFactor, &*strokes, kMeetingReach * radius);
    graph = settle_links(std::move(graph), before, clearance, kSettleDistance * radius);
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

}  // namespace

std::optional<PipelineError> check_centerlines_scale(double radius,
                                                     const std::optional<double>& feature_size) {
  if (!(std::isfinite(radius) && radius > 0.0)) {
    return PipelineError{"radius must be a positive finite number, got " + format_float(radius)};
  }
  return check_feature_size(effective_feature_size(radius, feature_size));
}

std::optional<PipelineError> check_caps(const std::vector<Cap>& caps, std::size_t curves) {
  if (caps.size() <= 1 || caps.size() == curves) return std::nullopt;
  return PipelineError{"caps has " + std::to_string(caps.size()) + " entries but " +
                       std::to_string(curves) + " curves were given"};
}

std::optional<PipelineError> check_tiles(const TileChoice& tiles) {
  const double* side = std::get_if<double>(&tiles);
  if (side == nullptr || (std::isfinite(*side) && *side > 0.0)) return std::nullopt;
  return PipelineError{"tiles must be a positive finite number, True, False or None, got " +
                       format_float(*side)};
}

namespace {

// centerlines_inner, with the skeleton of the clean pipeline computed
// elsewhere when `assembled` is given.
Result<CenterlinesOutput> run_centerlines(const std::vector<Polyline>& curves, double radius,
                                          const CenterlinesOptions& options,
                                          CleanSkeleton* assembled) {
  const double fs = effective_feature_size(radius, options.feature_size);
  CenterlinesOutput out;
  if (auto error = check_tiles(options.tiles)) return *error;
  if (auto error = check_caps(options.caps, curves.size())) return *error;
  if (auto error = check_widths(curves, options.topologize.per_curve_widths)) return *error;
  // The stroke index is built when first needed (the clean-up builds it once
  // the skeleton's segments are gone, and drops it again), so that it is not
  // held while they are.
  std::optional<StrokeIndex> strokes;
  Result<TopologizeOutput> graph =
      options.clean ? clean_graph(curves, radius, fs, options.topologize, options.tiles,
                                  options.caps, strokes,
                                  out.sources_seconds, out.cleanup_seconds, assembled)
                    : topologize_inner(curves, radius, fs, options.topologize);
  if (auto* error = std::get_if<PipelineError>(&graph)) return *error;
  out.graph = std::get<TopologizeOutput>(std::move(graph));
  const auto t1 = std::chrono::steady_clock::now();
  if (!strokes) strokes.emplace(stroke_index(curves, options.topologize.per_curve_widths, radius));
  // Measured on the widest band: chains are sampled every half of it, and
  // widths far above `radius` would otherwise ask for millions of samples.
  out.sources = chain_sources(out.graph.chains, out.graph.chain_node_ids, *strokes,
                              widest(radius, options.topologize.per_curve_widths));
  out.sources_seconds += seconds_since(t1);
  return out;
}

// FNV-1a over the bits of everything a call's output depends on.
struct Fingerprint {
  std::uint64_t h = 0xcbf29ce484222325ULL;
  void word(std::uint64_t v) {
    for (int k = 0; k < 8; ++k) {
      h ^= (v >> (8 * k)) & 0xff;
      h *= 0x100000001b3ULL;
    }
  }
  void number(double v) { word(std::bit_cast<std::uint64_t>(v)); }
  void optional(const std::optional<double>& v) {
    word(v ? 1 : 0);
    number(v.value_or(0.0));
  }
};

std::uint64_t fingerprint(const std::vector<Polyline>& curves, double radius,
                          const CenterlinesOptions& options) {
  Fingerprint f;
  f.number(radius);
  f.optional(options.feature_size);
  f.word(curves.size());
  for (const Polyline& c : curves) {
    f.word(c.size());
    for (const Point& p : c) f.number(p.x), f.number(p.y);
  }
  const TopologizeOptions& o = options.topologize;
  for (const std::optional<double>* v :
       {&o.simplification, &o.min_tip_fraction, &o.junction_merge_fraction, &o.subdivision_ratio,
        &o.resample, &o.boundary_simplification, &o.merge_tolerance})
    f.optional(*v);
  f.word(o.per_curve_widths ? o.per_curve_widths->size() + 1 : 0);
  if (o.per_curve_widths) {
    for (const std::vector<double>& list : *o.per_curve_widths) {
      f.word(list.size());
      for (double w : list) f.number(w);
    }
  }
  f.word(o.compute_widths);
  f.word(o.max_nodes ? *o.max_nodes + 1 : 0);
  f.word(options.clean);
  f.word(options.caps.size());
  for (Cap cap : options.caps) f.word(static_cast<std::uint64_t>(cap));
  f.word(options.tiles.index());
  if (const bool* b = std::get_if<bool>(&options.tiles)) f.word(*b);
  if (const double* side = std::get_if<double>(&options.tiles)) f.number(*side);
  return f.h;
}

}  // namespace

Result<CenterlinesOutput> centerlines_inner(const std::vector<Polyline>& curves, double radius,
                                            const CenterlinesOptions& options) {
  return run_centerlines(curves, radius, options, nullptr);
}

Result<std::optional<CenterlinesTiles>> prepare_centerlines_tiles(
    const std::vector<Polyline>& curves, double radius, const CenterlinesOptions& options) {
  if (auto error = check_tiles(options.tiles)) return *error;
  if (auto error = check_caps(options.caps, curves.size())) return *error;
  if (auto error = check_widths(curves, options.topologize.per_curve_widths)) return *error;
  if (!options.clean) return std::optional<CenterlinesTiles>();
  const double fs = effective_feature_size(radius, options.feature_size);
  const TopologizeOptions clean = clean_defaults(options.topologize, radius, fs);
  CleanFront front = clean_front(curves, radius, fs, clean, options.tiles, options.caps);
  if (!front.side) return std::optional<CenterlinesTiles>();
  CenterlinesTiles out;
  out.plan = plan_tile_work(front.bands, front.widest_band, radius, fs, boundary_options_of(clean),
                            clean_tile_options(*front.side, front_scale_of(radius, fs)),
                            clean.compute_widths);
  out.bands = std::move(front.bands);
  TileAssembly& a = out.assembly;
  a.grid = out.plan.grid;
  a.tolerance = out.plan.tolerance;
  a.keep_boundary = clean.compute_widths;
  for (std::size_t t = 0; t < a.grid.count(); ++t)
    if (out.plan.member_count(t) > 0) a.tiles.push_back(t);
  a.stroke_ends = std::move(front.stroke_ends);
  a.fingerprint = fingerprint(curves, radius, options);
  return std::optional<CenterlinesTiles>(std::move(out));
}

Result<CenterlinesOutput> assemble_centerlines_tiles(
    const std::vector<Polyline>& curves, double radius, const CenterlinesOptions& options,
    TileAssembly assembly, std::vector<std::pair<std::size_t, TileResult>> results) {
  if (auto error = check_tiles(options.tiles)) return *error;
  if (assembly.fingerprint != fingerprint(curves, radius, options))
    return PipelineError{"the tiles were prepared for other curves or options"};
  if (results.size() != assembly.tiles.size()) {
    return PipelineError{"expected " + std::to_string(assembly.tiles.size()) +
                         " tile results, got " + std::to_string(results.size())};
  }
  std::vector<TileResult> dense(assembly.grid.count());
  for (std::size_t k = 0; k < results.size(); ++k) {
    if (results[k].first != assembly.tiles[k]) {
      return PipelineError{"tile result " + std::to_string(k) + " is of tile " +
                           std::to_string(results[k].first) + ", expected tile " +
                           std::to_string(assembly.tiles[k])};
    }
    dense[results[k].first] = std::move(results[k].second);
  }
  results = {};
  CleanSkeleton skeleton = tiled_clean_skeleton(
      assemble_tiles(assembly.grid, assembly.tolerance, std::move(dense), assembly.keep_boundary),
      std::move(assembly.stroke_ends));
  return run_centerlines(curves, radius, options, &skeleton);
}

std::optional<PipelineError> check_centerlines_jobs(const std::vector<CenterlinesJob>& jobs) {
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    auto error = check_centerlines_scale(jobs[i].radius, jobs[i].options.feature_size);
    if (!error) error = check_tiles(jobs[i].options.tiles);
    if (!error) error = check_caps(jobs[i].options.caps, jobs[i].curves.size());
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
