// The clean centerlines call: argument checks, the clean graph and the
// chains' sources, the call's fingerprint, and the tiled call in two halves
// (prepare the tiles, assemble their results) with the batch beside it.
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
#include "common/progress.h"
#include "conditioning/repeats.h"
#include "graph/graph.h"
#include "inflate/inflate.h"
#include "pipeline/batch.h"
#include "pipeline/clean_parts.h"
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
namespace {

using namespace clean_detail;

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

// Whether every point of a tile's result lies in the tile's own square
// (closed), where run_tile cuts everything it returns.
bool inside_tile(const TileResult& result, const TileGrid& grid, std::size_t tile) {
  const TileRect r = grid.rect(tile % grid.nx(), tile / grid.nx());
  auto in = [&](Point p) { return p.x >= r.xmin && p.x <= r.xmax && p.y >= r.ymin && p.y <= r.ymax; };
  for (const CutPiece& piece : result.pieces)
    if (!in(piece.segment.a) || !in(piece.segment.b)) return false;
  for (const Point& p : result.boundary)
    if (!in(p)) return false;
  for (const Segment& e : result.edges)
    if (!in(e.a) || !in(e.b)) return false;
  return true;
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
  out.plan.settings.plan = a.fingerprint;
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
    if (results[k].second.plan != assembly.fingerprint) {
      return PipelineError{"tile result " + std::to_string(k) +
                           " was computed for other curves or options"};
    }
    if (!inside_tile(results[k].second, assembly.grid, results[k].first)) {
      return PipelineError{"tile result " + std::to_string(k) + " has a point outside its tile"};
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
