// Strokes that the graph passes by: where strokes run side by side closer
// than their bands, the united band has one skeleton line for them, and the
// strokes away from it have none.
#pragma once

#include "common/geometry.h"
#include "graph/graph.h"
#include "spatial/stroke_index.h"

namespace strokegraph {

struct CoverRules {
  double step = 0.0;        // strokes are read at points this far apart
  double cover = 0.0;       // a stroke point this near to the graph is drawn by it
  double min_length = 0.0;  // shorter stretches of a stroke away from the graph are left so
  double attach = 0.0;      // the skeleton's lines this near to added stretches (x 1.5) may be replaced
};

// Adds to the graph every stretch of a stroke at least `min_length` long
// whose points all lie farther than `cover` from the graph (and from the
// stretches added before it, strokes taken in order) and that runs beside
// another stroke keeping its distance (streets side by side, not a stroke
// drawn back along itself nor two strokes leaving an acute corner). The
// stretch follows the stroke's own points and is noded where it crosses the
// graph (at a junction within `cover` of the crossing, else at a new node);
// where the stroke goes on near the graph it joins the graph at the point
// nearest to it, and at a stroke's end that meets another stroke it joins
// there too (at the node an earlier stretch left at that end, if any); a
// stroke end meeting no other stays free, and a stretch coming back to the
// graph within 3 band radii of such an end runs on to it. Meetings closer
// than `cover` along one edge, or to a junction ending it, are one node.
// The skeleton's lines that the stretches replace then go: a line through
// nodes of degree 2 whose points (but near its ends) all lie within
// 1.5 x `attach` of added stretches and where every stroke near them is
// drawn by one, and a short branch out to where an added stretch ends
// free. A curve repeating another (StrokeIndex::first) adds nothing of its
// own. New nodes and edges come after the graph's, in stroke order.
Graph add_uncovered_strokes(Graph graph, const StrokeIndex& strokes, const CoverRules& rules);

}  // namespace strokegraph
