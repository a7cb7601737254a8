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
  double attach = 0.0;      // an added stretch ends on a graph node this near to where it meets the graph
};

// Adds to the graph every stretch of a stroke at least `min_length` long
// whose points all lie farther than `cover` from the graph (and from the
// stretches added before it, strokes taken in order): the stretch follows
// the stroke's own points, is noded where it crosses the graph, and at
// either end that is not the stroke's end it joins the graph at the nearest
// point there (at a node within `attach` of it, else where it splits an
// edge). A curve repeating another (StrokeIndex::first) adds nothing of its
// own. New nodes and edges come after the graph's, in stroke order.
Graph add_uncovered_strokes(Graph graph, const StrokeIndex& strokes, const CoverRules& rules);

}  // namespace strokegraph
