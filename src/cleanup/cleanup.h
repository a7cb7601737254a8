// Clean-up of the skeleton graph into the drawing's own graph: the spurs that
// band corners and bumps sprout are removed, crossings that the skeleton
// split into several junctions become one node, and free ends are moved back
// to where the strokes end. Every stage measures against the band: a node's
// clearance is its distance to the band boundary, the radius of the largest
// disc around it that stays inside the band.
#pragma once

#include <cstddef>
#include <vector>

#include "common/geometry.h"
#include "graph/graph.h"
#include "spatial/segment_grid.h"
#include "spatial/stroke_index.h"

namespace strokegraph {

// The edges of every ring of the polygons, as a grid with cells of `cell`.
SegmentGrid boundary_grid(const std::vector<BufferPolygon>& polygons, double cell);

// Clearance of every node of degree 3 or more (0 for the others), looked for
// within `reach`; a node farther than that from the boundary gets `reach`.
std::vector<double> junction_clearance(const Graph& graph, const SegmentGrid& boundary,
                                       double reach);

struct SpurRules {
  double factor = 1.6;           // any tip shorter than this x its junction's clearance
  double fork_factor = 2.5;      // the two tips of a degree-3 fork, both shorter than this
  double fork_clearance = 0.0;   // x at least this clearance (a fork by the boundary has little)
  double corner_factor = 6.0;    // a tip not near a stroke end, shorter than this
  double isolated_length = 0.0;  // isolated paths shorter than this
  const SegmentGrid* stroke_ends = nullptr;  // zero-length segments at the strokes' ends
  double end_distance = 0.0;     // "near a stroke end": closer than this
  const StrokeIndex* strokes = nullptr;  // the input strokes
  double meet_angle = 0.0;       // strokes meeting at a tip: more than this apart (radians)
  double overshoot_length = 0.0;  // a tip shorter than this whose stroke end lies
  double overshoot_reach = 0.0;   // within this of another stroke's centerline
  double branch_length = 0.0;  // a tip shorter than this whose stroke another leaves near its end
  bool corner_ends = false;  // a tip where two strokes end together at an angle is a corner
};

// Removes, pass after pass, every branch from a free end to a junction that
// is a bump of the band rather than an arm of the drawing: one shorter than
// `factor` x the junction's clearance (it ends inside or just beyond the
// junction's disc); the two tips of a degree-3 fork shorter than
// `fork_factor` x its clearance (a square cap's corners: the fork becomes the
// stroke's free end; but where only one of two doomed tips of a fork lies
// near a stroke end, that one is a short leg past a sharp corner, kept, and
// the other the band's corner, where the junction moves); one shorter than `corner_factor` x the clearance whose
// tip is not near any stroke end (an acute corner of a stroke) or lies in the
// bands of two strokes meeting at an angle (two strokes drawn to one
// corner), or, with `corner_ends`, where two strokes end together parting
// (see strokes_end_at_corner); such a junction moves to the tip, which is
// the corner. A tip
// shorter than `overshoot_length` whose nearest stroke end lies within
// `overshoot_reach` of another stroke's centerline crossing it is an
// overshoot at a corner (a stroke run a little past the other) and goes, its
// junction moving to the strokes' corner; so is a tip shorter than
// `branch_length` whose stroke another leaves within `overshoot_reach` of
// its end (see branch_near_end), the junction moving to where it leaves. Isolated paths shorter than `isolated_length` go too.
// Degrees are frozen within a pass. Nodes keep their ids (and, but for
// such corners, their positions); the output has the surviving edges in
// input order.
Graph remove_spurs(Graph graph, const std::vector<double>& clearance, const SpurRules& rules);

// Merges junctions joined by a link (a path through degree-2 nodes) of length
// at most `factor` x the sum of their clearances: their discs overlap, so the
// link lies inside one crossing of the band. Shortest links first; a merged
// node sits at the mean of its junctions. Loops at a node shorter than
// 2 x `factor` x its clearance are dropped. The graph is compacted (nodes
// without edges go) and `clearance` is renumbered with it, a merged node
// taking the largest clearance of its junctions.
// A link whose middle node is closer than `min_waist` x the smaller
// clearance of its junctions to the boundary narrows like a bar between
// two strokes and is kept.
// With `strokes`, a link within whose junctions' discs the strokes meet at
// two places more than `apart` from each other is kept (see meets_apart), and
// so is one whose junctions' discs each hold such a place that the other's
// does not, whatever their clearances (each junction at a meeting of its own).
Graph merge_crossings(Graph graph, std::vector<double>& clearance, double factor,
                      const SegmentGrid& boundary, double min_waist, const StrokeIndex* strokes = nullptr,
                      double apart = 0.0);

// Merges two degree-3 junctions joined by a link of at most `link_factor` x
// the sum of their clearances when their four outer arms pair into two
// straight continuations (two strokes crossing at a shallow angle split their
// crossing into two junctions, further apart the shallower the angle). An arm
// is seen through its points 2 and 4 radii out; two arms continue each other
// when they point opposite ways within `max_turn` radians and each lies within
// a radius of the other's line, and both strokes' lines pass within a radius
// of the link's middle. The merged node goes where the two strokes'
// lines cross. The graph is compacted and `clearance` renumbered as in
// merge_crossings.
// With `strokes`, junctions within whose discs the strokes meet at two places
// more than a radius apart stay apart (see meets_apart).
Graph merge_straight_crossings(Graph graph, std::vector<double>& clearance, double radius,
                               double link_factor, double max_turn, const StrokeIndex* strokes = nullptr);

// Moves every junction to the point nearest (in least squares) to the lines
// of its arms, each seen through its points 2 and 4 radii out (arms shorter
// than 3 radii do not count): where the strokes' centerlines meet, which the
// skeleton misses at acute angles by up to a couple of radii. A junction
// moves at most `max_move` x its clearance, and only when at least two arm
// lines cross at more than 10 degrees. With `strokes`, a junction whose arms
// lie on two or more strokes crossing at more than 10 degrees moves instead
// to where those strokes' centerlines meet, when that is within
// `stroke_reach` (see strokes_meeting; each arm seen 3 radii out): at acute
// meetings the skeleton's junction sits farther along the stem than the arms'
// lines can tell.
// A junction among stroke meetings a radius apart and more in its disc
// (see meets_apart) goes instead to the nearest one that it reaches straight
// inside the band (`boundary`'s), or stays.
void relocate_junctions(Graph& graph, const std::vector<double>& clearance, double radius,
                        double max_move, const StrokeIndex* strokes = nullptr, double stroke_reach = 0.0,
                        const SegmentGrid* boundary = nullptr);

// After relocation: a link between two junctions (a path through degree-2
// nodes) whose moved ends came within `merge_distance` of each other joins
// them into one node at their mean, its inner nodes dropped; a link that
// folds back (turning by more than 150 degrees next to a moved end, or a
// direct edge whose ends passed each other) with its ends farther apart moves
// neither end: both go back to `before`. The graph is compacted and
// `clearance` renumbered as in merge_crossings.
Graph settle_links(Graph graph, const std::vector<Point>& before, std::vector<double>& clearance,
                   double merge_distance);

// Joins two degree-3 junctions joined by a link no longer than `max_link`
// into one node when two strokes pass within `on_stroke` x their band radius
// of both junctions, at more than `min_angle` radians to each other at one of
// them, and both hold the link's middle in their bands: two curved strokes
// crossing at a shallow angle, split by the skeleton. The node goes where
// the strokes' centerlines cross nearest the link's middle; strokes that do
// not cross there (pieces touching end to end) join nothing. A bowl
// meeting its stem twice keeps its two junctions: its link runs along the
// stem alone. The graph is compacted and `clearance` renumbered as in
// merge_crossings.
Graph join_shallow_crossings(Graph graph, std::vector<double>& clearance, const StrokeIndex& strokes,
                             double max_link, double on_stroke, double min_angle);

// Moves every free end of the chains along the chain's direction at that end
// so that it lies one half-width short of the band's end: a square cap ends
// a half-width beyond the stroke's end, and so does a round one. The
// direction is taken over the last `radius` of the chain, the half-width is
// the clearance there, the move is at most 2 half-widths outward or one
// inward. A chain whose last step turns back by more than 150 degrees (it
// ran out along one spoke of a cap and back along another) first loses that
// step. Closed chains and junction ends stay.
void place_free_ends(std::vector<Polyline>& chains, const std::vector<Chain>& walked,
                     const SegmentGrid& boundary, double radius);

// Drops every inner point of a chain at which it turns back by more than
// 150 degrees over a step no longer than `max_step` (a wiggle of the
// skeleton, or a node left behind where a junction moved): links between
// junctions never fold. Points are dropped as the chain is read, so a
// wiggle of several points goes whole; chain ends stay.
void unfold_chains(std::vector<Polyline>& chains, double max_step);

}  // namespace strokegraph
