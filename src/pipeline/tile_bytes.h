// Tile work as bytes, so that tiles can run in other processes or on other
// machines: a task (one tile's square, settings and bands), its result, and
// what the caller keeps to assemble the results.
//
// Layout: little-endian 8-byte values only. A header of three (magic, kind,
// version), then the fields in order (a task and a result end with the
// fingerprint of the call they were planned for): integers and flags as uint64, numbers
// as the bits of a double, an optional number as a flag and a double, a list
// as its length and its items. Reading checks every length against the bytes
// left and every value against what the writer can produce, and reports
// anything else as an error; it never reads past the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/errors.h"
#include "common/geometry.h"
#include "pipeline/tile.h"

namespace strokegraph {

// One tile's work: run_tile(settings, own, bands).
struct TileTask {
  std::size_t tile = 0;  // row-major index in the grid
  TileRect own;
  TileSettings settings;
  std::vector<Ring> bands;
};

// What assembling the tiles of one clean call needs besides their results.
struct TileAssembly {
  TileGrid grid;
  double tolerance = 0.0;
  bool keep_boundary = false;
  std::vector<std::size_t> tiles;   // the tiles with work, increasing: one result each
  std::vector<Point> stroke_ends;   // of the conditioned strokes, for the clean-up
  std::uint64_t fingerprint = 0;    // of the call's input and options
};

// Band coordinates beyond this are never produced (offsetting refuses them)
// and are refused on reading; tile squares with their margins stay within
// kMaxTileCoordinate.
inline constexpr double kMaxBandCoordinate = 1e12;
inline constexpr double kMaxTileCoordinate = 2e12;
// Seam lines per axis accepted on reading (the planner makes at most 4099).
inline constexpr std::size_t kMaxSeams = 8193;

std::string encode_tile_task(std::size_t tile, const TileRect& own, const TileSettings& settings,
                             const std::vector<const Ring*>& bands);
Result<TileTask> decode_tile_task(std::string_view bytes);

std::string encode_tile_result(std::size_t tile, const TileResult& result);
// The tile index and its result.
Result<std::pair<std::size_t, TileResult>> decode_tile_result(std::string_view bytes);

std::string encode_tile_assembly(const TileAssembly& assembly);
Result<TileAssembly> decode_tile_assembly(std::string_view bytes);

}  // namespace strokegraph
