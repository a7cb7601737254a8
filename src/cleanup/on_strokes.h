// Chains laid on the strokes they follow: the skeleton of united bands runs
// midway between strokes closer than their bands and bends where bands
// meet, while the drawing itself says where each line is.
#pragma once

#include <vector>

#include "common/geometry.h"
#include "spatial/stroke_index.h"

namespace strokegraph {

struct StrokePlacement {
  double step = 0.0;          // chains are read at points this far apart (and at their own points)
  double max_turn = 0.45;     // radians: a stroke this far from the chain's direction runs across it
  double switch_cost = 0.0;   // what leaving one stroke for another (or for none) costs, as a distance
  double skip_ends = 0.0;     // points closer than this to a chain end stay where they are
  double simplification = 0.0;  // the placed chains are simplified to this (Douglas-Peucker)
  double unfold_step = 0.0;   // see unfold_chains: a placed chain never turns back over a shorter step
};

// Lays every chain on the strokes it runs along. Each point of the chain
// (its own and one every `step` between) may go onto any stroke whose band
// holds it and that runs within `max_turn` of the chain's direction there,
// at its nearest point of that stroke, or stay. The choice along the chain
// costs each point its distance to where it goes (a band radius to stay)
// and each change of stroke `switch_cost`; the cheapest choice is taken
// (ties: the stroke drawn first), so that a chain between two strokes side
// by side goes onto one of them rather than from one to the other. Between
// two points on one stroke the chain follows that stroke's own points.
// A curve that repeats another (see StrokeIndex::first) is never used: its
// first drawing is. Chain ends stay where they are, and so does every point
// within `skip_ends` of either end. The chains are then simplified and
// unfolded (see unfold_chains).
void place_on_strokes(std::vector<Polyline>& chains, const StrokeIndex& strokes, const StrokePlacement& rules);

}  // namespace strokegraph
