// Redistribution of ring vertices along the arc length, uniform or steered by
// the corners of a CurvatureIndex, and corner-driven edge refinement.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "boundary/curvature_index.h"
#include "boundary/point_budget.h"
#include "common/geometry.h"

namespace strokegraph {

// Appends the k - 1 points that cut the edge a -> b into k equal pieces,
// a + (b - a) * (j / k) for j = 1 .. k - 1 (nothing for k < 2).
void append_edge_splits(std::vector<Point>& out, const Point& a, const Point& b, std::uint32_t k);

// The open run of ring points from `from` to `to` inclusive, walking forward
// and wrapping; with from == to the whole ring plus ring[from] again.
std::vector<Point> ring_span(const Ring& ring, std::size_t from, std::size_t to);

// Evenly spaced samples along an open polyline: the arc length divided into
// round(L / spacing) equal pieces (at least one). Starts exactly at the first
// point, ends at (or within rounding of) the last.
std::vector<Point> resample_span_open(const std::vector<Point>& points, double spacing,
                                      const PointBudget& budget = {});

// Resamples each span between corners (turns above `corner_angle`) at
// `spacing`, keeping the corners exactly; a ring without corners is resampled
// as one closed loop. Falls back to a copy of the ring when there is nothing
// sensible to return.
Ring resample_ring(const Ring& ring, double spacing, double corner_angle,
                   const PointBudget& budget = {});

// Walks an open polyline with a step of `spacing` that shrinks near indexed
// corners, down to min(buffer_distance * ratio, spacing) (never below 1e-6).
std::vector<Point> adaptive_resample_span_open(const std::vector<Point>& points,
                                               const CurvatureIndex& index, double spacing,
                                               double buffer_distance, double ratio,
                                               const PointBudget& budget = {});

// resample_ring with adaptive_resample_span_open on every span.
Ring resample_ring_adaptive(const Ring& ring, const CurvatureIndex& index, double spacing,
                            double buffer_distance, double ratio, double corner_angle,
                            const PointBudget& budget = {});

// Keeps every vertex and splits each edge whose midpoint lies near indexed
// corners into pieces of at most D, with D falling from buffer_distance at a
// weighted angle of 15 degrees to buffer_distance * ratio at 90 degrees.
Ring refine_ring_from_index(const Ring& ring, const CurvatureIndex& index,
                            double buffer_distance, double ratio,
                            const PointBudget& budget = {});

// The stretch of refine_ring_from_index for vertices [begin, end) and the
// edges leaving them (ring of at least 3 points, ratio > 0), refusing to
// return more than max(budget.max_points, end - begin) points. The stretches
// of consecutive ranges, joined, are the refined ring.
std::vector<Point> refine_ring_stretch(const Ring& ring, const CurvatureIndex& index,
                                       double buffer_distance, double ratio, std::size_t begin,
                                       std::size_t end, const PointBudget& budget = {});

}  // namespace strokegraph
