// The centerlines pipeline: the topologize front, then clean-up stages that
// turn the skeleton graph into the drawing's own graph, and the input curves
// each chain came from.
#pragma once

#include <cstddef>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

#include "common/errors.h"
#include "common/geometry.h"
#include "pipeline/thresholds.h"
#include "pipeline/tile.h"
#include "pipeline/tile_bytes.h"
#include "pipeline/topologize.h"

namespace strokegraph {

// feature_size = radius x this when the caller gives none.
inline constexpr double kDefaultFeatureRatio = 1.0;

// Whether the clean pipeline computes the skeleton tile by tile (pipeline/tile.h):
// automatically (monostate: when one cluster of overlapping bands is large
// enough that tiles are faster), always (true) or never (false) with the tile
// side chosen from the input, or always with the given side.
using TileChoice = std::variant<std::monostate, bool, double>;

struct CenterlinesOptions {
  std::optional<double> feature_size;  // absent: radius x kDefaultFeatureRatio
  TopologizeOptions topologize;        // absent entries take the defaults below
  bool clean = true;
  TileChoice tiles;  // only the clean pipeline tiles
  // The caps of the clean pipeline's bands: none given, round; one, for
  // every curve; else one per curve. Joins are round unless a band's caps
  // are both square. clean=False keeps the exact layer's square bands.
  std::vector<Cap> caps;
};

// "caps has {n} entries but {m} curves were given" unless caps holds at most
// one entry or one per curve.
std::optional<PipelineError> check_caps(const std::vector<Cap>& caps, std::size_t curves);

// "tiles must be a positive finite number, True, False or None, got ..." for
// a tile side that is not positive and finite.
std::optional<PipelineError> check_tiles(const TileChoice& tiles);

struct CenterlinesOutput {
  TopologizeOutput graph;
  // Per chain, the sorted indices of the input curves whose band covers it.
  std::vector<std::vector<std::size_t>> sources;
  // Seconds spent in the clean-up stages and in provenance (for the bench).
  double cleanup_seconds = 0.0;
  double sources_seconds = 0.0;
};

// "radius must be a positive finite number, got ..." and the feature-size
// check of the effective feature size.
std::optional<PipelineError> check_centerlines_scale(double radius,
                                                     const std::optional<double>& feature_size);

// The pipeline core (scale already checked; runs without the interpreter
// lock). With `clean` off the graph is exactly topologize_inner's.
Result<CenterlinesOutput> centerlines_inner(const std::vector<Polyline>& curves, double radius,
                                            const CenterlinesOptions& options);

// The clean pipeline split at its tiles, so that the tiles can run in other
// processes or on other machines: prepare_centerlines_tiles; run_tile for
// every tile of `assembly.tiles` over its bands from the plan; then
// assemble_centerlines_tiles with the same arguments and the results in that
// order. The output is centerlines_inner's, bit for bit.
struct CenterlinesTiles {
  TileAssembly assembly;
  TilePlan plan;  // the grid, the tiles' settings and each tile's bands
  std::vector<Ring> bands;
};

// Nothing when the call does not tile (clean off, tiles=False, or the
// automatic choice keeps the drawing in one piece): centerlines_inner then
// does it all. Scale checked by the caller.
Result<std::optional<CenterlinesTiles>> prepare_centerlines_tiles(
    const std::vector<Polyline>& curves, double radius, const CenterlinesOptions& options);

// `results`: (tile, result) in the order of assembly.tiles. An assembly of
// other curves or options, or results of other tiles, is an error.
Result<CenterlinesOutput> assemble_centerlines_tiles(
    const std::vector<Polyline>& curves, double radius, const CenterlinesOptions& options,
    TileAssembly assembly, std::vector<std::pair<std::size_t, TileResult>> results);

struct CenterlinesJob {
  std::vector<Polyline> curves;
  double radius = 0.0;
  CenterlinesOptions options;
};

// Every job's scale, in list order, before any job runs; a failure reads
// "centerlines_batch job {i} failed: {message}".
std::optional<PipelineError> check_centerlines_jobs(const std::vector<CenterlinesJob>& jobs);

// Runs the jobs on the worker pool; results in job order.
Result<std::vector<CenterlinesOutput>> run_centerlines_batch(
    const std::vector<CenterlinesJob>& jobs);

}  // namespace strokegraph
