// Constrained Delaunay triangulation of a polygon's rings.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "common/geometry.h"

namespace strokegraph {

// What the triangulator gets for one polygon: the accepted rings (outer first,
// then the holes in order; rings of fewer than 3 points are left out) as one
// jittered vertex table and one closed index loop per ring, plus where every
// vertex sits on its ring.
struct TriangulatorInput {
  std::vector<Point> points;                        // jittered vertex table
  std::vector<std::vector<std::uint32_t>> contours; // [s, s+1, ..., s+k-1, s] per ring
  std::vector<std::uint32_t> ring_of;               // ordinal of each vertex's ring
  std::vector<std::uint32_t> position;              // each vertex's position on its ring
  std::vector<std::uint32_t> ring_size;             // point count of each accepted ring
};

// Empty (no points) when the accepted rings hold fewer than 3 points together.
TriangulatorInput prepare_triangulator_input(const Ring& outer, const std::vector<Ring>& holes);

// The same, written over `in` (whose vectors, the contours' included, keep
// their room for it).
void fill_triangulator_input(const Ring& outer, const std::vector<Ring>& holes, TriangulatorInput& in);

// Three indices into the vertex table.
using IndexTriangle = std::array<std::uint32_t, 3>;

// No triangle there: across a ring edge.
constexpr std::uint32_t kNoTriangle = 0xffffffffu;

// Constrained Delaunay triangulation of `points` with every consecutive index
// pair of every contour as a constraint edge, keeping the triangles inside the
// contours by parity (an edge in two contours counts twice, so it separates
// nothing). Triangle order and index rotation are the library's. `neighbors`,
// when given, receives per triangle the index of the triangle across each of
// its edges (t[k], t[(k + 1) % 3]), or kNoTriangle.
// std::nullopt when the input is refused: fewer than 3 points, a non-finite or
// huge coordinate, two equal points, a malformed contour, constraint edges that
// cross or that pass exactly through another point. Never throws except
// std::bad_alloc.
std::optional<std::vector<IndexTriangle>> triangulate_contours(
    const std::vector<Point>& points, const std::vector<std::vector<std::uint32_t>>& contours,
    std::vector<IndexTriangle>* neighbors = nullptr);

// The same into `triangles` (emptied first, left empty on refusal): whether
// the input was taken.
bool triangulate_contours(const std::vector<Point>& points,
                          const std::vector<std::vector<std::uint32_t>>& contours,
                          std::vector<IndexTriangle>& triangles,
                          std::vector<IndexTriangle>* neighbors = nullptr);

// Triangles inside `outer` and outside `holes`, with jittered coordinates;
// empty when the polygon cannot be triangulated. Never throws for bad geometry.
std::vector<Triangle> get_triangles(const Ring& outer, const std::vector<Ring>& holes);

}  // namespace strokegraph
