// The skeleton of one large drawing computed tile by tile.
//
// The plane is split into square tiles. Each tile takes the band outlines
// clipped to itself grown by a margin, and runs union, boundary preprocessing,
// triangulation and skeleton on that alone; of its skeleton it keeps the part
// inside its own (ungrown) square. The pieces of neighbouring tiles end on
// their shared edge, where they are stitched. Away from the grown edges a
// tile's polygons are the drawing's own, so the stitched skeleton equals the
// untiled one up to where the boundary preprocessing and the triangulation
// sample the same rings differently.
//
// Cost: the union sweeps one tile at a time, so its scanlines only ever hold
// one tile's edges; memory holds one tile's intermediates per worker plus the
// skeleton pieces kept so far.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "common/geometry.h"
#include "pipeline/front.h"

namespace strokegraph {

struct TileOptions {
  double tile_size = 0.0;  // side of a square tile; not positive: chosen from the input
  double margin = 0.0;     // growth of a tile before clipping; not positive: from the radius
  bool parallel = true;    // tiles on the worker pool (always inline on a pool worker)
  // Seams at origin + k * tile_size for integers k. Absent: the grid is
  // centred on the bands' bounding box.
  std::optional<Point> origin;
  // Holes of the union below 0.1 x this squared are filled. Absent: the
  // feature size.
  std::optional<double> hole_feature_size;
  // Also return the preprocessed ring edges, cut to each tile's own square.
  bool keep_edges = false;
};

struct TileRect {
  double xmin = 0.0, ymin = 0.0, xmax = 0.0, ymax = 0.0;
};

// Tile (ix, iy) covers [xs[ix], xs[ix + 1]] x [ys[iy], ys[iy + 1]]; the seam
// coordinates are computed once so that neighbours share them bit for bit.
// `size` is the nominal side; seams may sit up to a quarter of it off.
struct TileGrid {
  std::vector<double> xs, ys;
  double size = 0.0;
  double margin = 0.0;
  std::size_t nx() const { return xs.empty() ? 0 : xs.size() - 1; }
  std::size_t ny() const { return ys.empty() ? 0 : ys.size() - 1; }
  std::size_t count() const { return nx() * ny(); }
  TileRect rect(std::size_t ix, std::size_t iy) const {
    return {xs[ix], ys[iy], xs[ix + 1], ys[iy + 1]};
  }
};

// The margin a tile needs so that clipping does not reach the part of the
// skeleton it keeps: the corners the clip cuts into the bands steer boundary
// refinement up to 4 radii away, and the skeleton of a band reacts to
// boundary up to about a radius (sqrt(2) radii at a crossing) from it; two
// feature sizes cover boundary simplification and sampling.
double default_tile_margin(double radius, double feature_size);

// Tile side chosen from the point density: about kTileVertexTarget band
// vertices per tile (so one tile's union stays cheap), but at least
// kMinTileToMargin margins, so the overlap stays a fraction of the work.
inline constexpr double kTileVertexTarget = 16000.0;
inline constexpr double kMinTileToMargin = 4.0;
double default_tile_size(std::size_t band_vertices, double area, double margin);

// The automatic choice. Tiles run the triangulation and the skeleton in
// parallel, which the whole drawing runs in one piece, but every tile also
// unites the bands of its margins again. So tiling pays once one connected
// cluster of bands has more than about two tiles' worth of outline vertices,
// unless the tiles would be crowded: so many band vertices per area (heavy
// overlap: hatching, many traces on one strip) that the side from the point
// density falls below kMinTileToMargin margins. Those unite to little, and
// repeating the margins costs more than the parallel skeleton saves: they
// tile only past about 64 tiles' worth (a million vertices).
// Measured in turn on 2 shared cores (bench/tiles_choice.py --repeat, see
// docs/dask-and-tiles.md): traces medium (0.24 M band vertices) 1.11x faster
// tiled, dense street traces of 100 k points (0.4 M) the same, 1 M points
// (4 M) 1.4x; the dense hatching of one strip (0.58 M, crowded) 1.5x slower.
inline constexpr std::size_t kAutoTileVertices = 2 * static_cast<std::size_t>(kTileVertexTarget);
inline constexpr std::size_t kAutoTileCrowdedVertices = 64 * static_cast<std::size_t>(kTileVertexTarget);
inline bool tiling_pays_off(std::size_t largest_cluster_vertices, bool crowded) {
  return largest_cluster_vertices > (crowded ? kAutoTileCrowdedVertices : kAutoTileVertices);
}

// Whether tiles over `bands` with this margin would be crowded: the side
// default_tile_size finds from the band vertices over their bounding box is
// held at its floor of kMinTileToMargin margins.
bool tiles_crowded(const std::vector<Ring>& bands, double margin);

// Outline vertices of the largest cluster of bands whose bounding boxes
// overlap (closed: touching counts), found by a sweep over x.
std::size_t largest_cluster_vertices(const std::vector<Ring>& bands);

// The grid over the bands' bounding box, centred on it; empty without bands.
// Without an origin every inner seam then moves, within a quarter tile, to
// where the least band outline runs along it (a street of a city grid lying
// on a seam would otherwise be cut along its length).
TileGrid plan_tiles(const std::vector<Ring>& bands, double radius, double feature_size,
                    const TileOptions& options);

// Edges of a tile, as clip_segments reports them.
enum TileEdge : unsigned char { kNoEdge = 0, kLeft = 1, kRight = 2, kBottom = 3, kTop = 4 };

struct CutPiece {
  Segment segment;
  TileEdge start_edge = kNoEdge;  // the edge the start was cut at, if any
  TileEdge end_edge = kNoEdge;
};

// Pieces of the segments inside `rect` (closed), in segment order; pieces of
// zero length and segments with a non-finite coordinate are dropped. A piece
// cut at an edge ends exactly on it: that coordinate is the edge's own.
std::vector<CutPiece> clip_segments(const std::vector<Segment>& segments, const TileRect& rect);

struct TiledSkeleton {
  std::vector<Segment> segments;  // tile by tile in row-major order, stitched on the seams
  std::vector<Point> boundary;    // preprocessed ring vertices (only when asked)
  PointRuns edges;                // preprocessed ring edges (only with keep_edges), in tile order
  TileGrid grid;
  std::size_t refused = 0;  // large polygons left without skeleton after every retry
};

// Skeleton of the union of `bands`, tile by tile. `radius` is the largest
// band radius (the margin follows it); buffer_distance, feature_size and
// `boundary` are passed to boundary preprocessing as in the untiled pipeline.
// With `keep_boundary` every tile also returns the ring vertices inside its
// own square. Each band is freed once every tile that reads it has run.
// Output is identical for every thread count.
//
// It is plan_tile_work, then run_tile for every tile (on the pool), then
// assemble_tiles; the three steps also run apart, the tiles elsewhere.
TiledSkeleton tiled_skeleton(std::vector<Ring> bands, double radius,
                             double buffer_distance, double feature_size,
                             const BoundaryOptions& boundary, const TileOptions& options,
                             bool keep_boundary);

// A tile that retries grows its margin by up to this factor.
inline constexpr double kLargestMarginGrowth = 1.5;

// What every tile of one drawing runs with.
struct TileSettings {
  double margin = 0.0;  // of the first run; retries grow it
  double buffer_distance = 0.0;
  double feature_size = 0.0;
  BoundaryOptions boundary;
  std::optional<double> hole_feature_size;  // absent: feature_size
  bool keep_edges = false;
  bool keep_boundary = false;
  // The fingerprint of the call the tiles were planned for, when they run
  // elsewhere (0 otherwise); a tile's result carries it back.
  std::uint64_t plan = 0;
};

// The tiles of one drawing: the grid and, per tile, the bands it takes
// (members[starts[t]] up to members[starts[t + 1]], in band order): those
// whose bounding box meets the tile grown by the largest margin of a retry.
struct TilePlan {
  TileGrid grid;
  TileSettings settings;
  double tolerance = 0.0;  // seam stitching distance
  std::vector<std::size_t> starts;
  std::vector<std::size_t> members;
  std::size_t member_count(std::size_t tile) const { return starts[tile + 1] - starts[tile]; }
  // The bands tile `tile` reads, pointing into the list the plan was made of.
  std::vector<const Ring*> bands_of(std::size_t tile, const std::vector<Ring>& bands) const {
    std::vector<const Ring*> out;
    out.reserve(member_count(tile));
    for (std::size_t k = starts[tile]; k < starts[tile + 1]; ++k) out.push_back(&bands[members[k]]);
    return out;
  }
  TileRect rect_of(std::size_t tile) const { return grid.rect(tile % grid.nx(), tile / grid.nx()); }
};

TilePlan plan_tile_work(const std::vector<Ring>& bands, double radius, double buffer_distance,
                        double feature_size, const BoundaryOptions& boundary,
                        const TileOptions& options, bool keep_boundary);

// What one tile gives: its skeleton cut at its own square, with the edges
// where the pieces were cut, and (when asked) its ring vertices and ring
// edges inside the square.
struct TileResult {
  std::vector<CutPiece> pieces;
  std::vector<Point> boundary;
  std::vector<Segment> edges;
  std::size_t failed = 0;  // large polygons that gave no skeleton after every retry
  std::uint64_t plan = 0;  // the TileSettings::plan it ran with
};

// One tile, with its retries, over the bands it takes (in band order).
TileResult run_tile(const TileSettings& settings, const TileRect& own,
                    const std::vector<const Ring*>& bands);

// The results of every tile of `grid` (one per tile, in tile order)
// concatenated and stitched on the seams; `tolerance` as in TilePlan.
TiledSkeleton assemble_tiles(const TileGrid& grid, double tolerance,
                             std::vector<TileResult> results, bool keep_boundary);

}  // namespace strokegraph
