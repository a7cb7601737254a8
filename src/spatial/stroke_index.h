// The input strokes as a grid of their segments, each with its curve index
// and band radius, for asking which strokes' bands hold a point.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "common/geometry.h"
#include "spatial/segment_grid.h"

namespace strokegraph {

// Segment i runs from point vertex[i] - 1 to point vertex[i] of curve
// owner[i]; the segments are read from the curves, not copied.
struct StrokeIndex {
  CellIndex grid;
  const std::vector<Polyline>* curves = nullptr;
  std::vector<std::uint32_t> owner;   // curve index per grid segment
  std::vector<std::uint32_t> vertex;  // index of the segment's second point in its curve
  std::vector<double> reach;  // band radius per grid segment; empty: max_reach for every one
  double max_reach = 0.0;
  // Per curve, the first curve it repeats (see repeated_curves); empty: each
  // curve is its own stroke. Sources name curves, the geometric questions
  // below strokes.
  std::vector<std::uint32_t> first;
  // Per curve, whether it repeats its first curve the other way round (as
  // `first`, empty when no curve repeats another).
  std::vector<char> reversed;
  // The length of every curve's segments, read once: segment k of curve c
  // (from point k - 1 to point k) at length_at[c] + k - 1.
  std::vector<std::size_t> length_at;
  std::vector<double> lengths;

  Segment segment(std::size_t i) const {
    const Polyline& c = (*curves)[owner[i]];
    return {c[vertex[i] - 1], c[vertex[i]]};
  }
  // The length of curve c's segment from point k - 1 to point k.
  double length(std::size_t c, std::size_t k) const { return lengths[length_at[c] + k - 1]; }
  double reach_of(std::size_t i) const { return reach.empty() ? max_reach : reach[i]; }
  // The stroke of grid segment i: a curve and its repeats are one.
  std::size_t stroke_of(std::size_t i) const { return first.empty() ? owner[i] : first[owner[i]]; }
};

// Every segment of every curve of at least 2 points (`curves` must outlive
// the index); its radius is `radius`,
// or the larger of its ends' widths where the curve has widths. Segments with
// a non-finite coordinate or radius are left out.
StrokeIndex stroke_index(const std::vector<Polyline>& curves, const std::optional<WidthLists>& widths,
                         double radius, const std::vector<std::size_t>& first = {});

// A grid segment as read from its curve, with what the questions around a
// point ask of it.
struct SegmentRead {
  Segment s;
  double reach;
  std::uint32_t index, owner, vertex;
  std::size_t stroke;
};

// The grid segments of the cells last asked for, read once, in the grid's
// visiting order: points asked one after another a fraction of a cell apart
// (samples along a chain) mostly touch the same cells.
struct SegmentsSeen {
  CellIndex::Cells cells;
  bool known = false;
  std::vector<SegmentRead> read;
};

// The segments that strokes.grid.visit_box(lo, hi, ...) visits, in that
// order, kept in `seen` for the next box touching the same cells.
const std::vector<SegmentRead>& segments_in_box(const StrokeIndex& strokes, Point lo, Point hi, SegmentsSeen& seen);

// A stroke near a point: its nearest grid segment there and the distance.
struct StrokeNear {
  std::size_t stroke, segment;
  double distance;
};

// Every stroke within `within` x its band radius of p, with its nearest
// segment there (the lowest of equally near ones), in the order the grid
// first meets the strokes; `out` is cleared first.
void strokes_near(const StrokeIndex& strokes, Point p, double within, std::vector<StrokeNear>& out);

// Whether p lies in the bands of two strokes whose directions there (over a
// band radius either way of the nearest segment, so that jitter does not
// count) are more than `min_angle` radians apart as undirected lines:
// strokes that meet at an angle, not a stroke drawn twice.
bool strokes_meet_at(const StrokeIndex& strokes, Point p, double min_angle);

// The unit direction of the stroke of grid segment i there, over a band
// radius either way of the segment; nothing where the stroke does not move.
std::optional<Point> stroke_direction(const StrokeIndex& strokes, std::size_t i);

// Whether the stroke end nearest to `tip` (within `end_reach`; strokes that
// close on themselves have none) lies within `beyond` of another stroke's
// centerline that crosses the end's stroke at more than `min_angle` radians:
// the stroke runs a little past the other one, an overshoot at a corner
// rather than an arm of the drawing. The answer is the corner: where the
// end's stroke, run on along its direction, crosses the other centerline.
std::optional<Point> overshoots_at(const StrokeIndex& strokes, Point tip, double end_reach, double beyond,
                                   double min_angle);

// Where the strokes of a junction's arms meet: of the strokes whose bands
// hold an arm point (a point out along the arm, where it has left the
// junction), the nearest to it among those that come to the junction (within
// a band radius of the nearest that does) is that arm's, and every two of
// them crossing at more than `min_angle` radians
// meet where their centerlines come closest within `reach` of the junction
// (at most two band radii apart; a stroke turning back on itself by more
// than 150 degrees meets itself at the turn). Pieces of a broken stroke
// touching end to end near the junction, and a stroke ending on another
// that runs the same way there (a piece drawn over again), meet only where
// no other two strokes do. The mean of those meeting points, or nothing
// when the arms hold fewer than two strokes or the meetings lie more than a
// band radius apart.
std::optional<Point> strokes_meeting(const StrokeIndex& strokes, Point junction,
                                     const std::vector<Point>& arm_points, double reach, double min_angle);

// Whether the strokes meet at two places more than `apart` from each other
// (groups of meetings, each chained within `apart`) within `discs` (centre,
// radius), one of which is
// wider than `wide` band radii (1.5 unless told; 0: any disc): two strokes
// crossing at more than `min_angle`
// radians, or one ending within a band radius of another at such an angle.
// Several streets crossed by one, closer than their bands, meet it at as
// many places in one blot of the bands, where a skeleton junction has more
// room than at any crossing of two strokes. With `found`, every meeting
// within the discs goes there when the answer is yes.
bool meets_apart(const StrokeIndex& strokes, const std::vector<std::pair<Point, double>>& discs, double apart,
                 double min_angle, std::vector<Point>* found = nullptr, double wide = -1.0);

// Whether one of `discs` is wider than `wide` band radii (1.5 unless told;
// 0: any disc), as meets_apart asks before it looks for meetings: a caller
// asking both with and without that condition finds the meetings once.
bool discs_wide(const StrokeIndex& strokes, const std::vector<std::pair<Point, double>>& discs,
                double wide = -1.0);

}  // namespace strokegraph
