#include "skeleton_cdt/skeleton.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>

#include "skeleton_cdt/triangulate.h"

namespace strokegraph {

namespace {

Point midpoint(const std::vector<Point>& points, std::uint32_t a, std::uint32_t b) {
  if (b < a) std::swap(a, b);
  return {(points[a].x + points[b].x) * 0.5, (points[a].y + points[b].y) * 0.5};
}

// The triangulator's input and output for one polygon, kept by each thread
// from call to call: small polygons, which come by the thousand, then reuse
// their room. Past kKeptPoints it is given back when the call ends.
struct Scratch {
  TriangulatorInput in;
  std::vector<IndexTriangle> triangles, across;
};

constexpr std::size_t kKeptPoints = std::size_t{1} << 11;

struct LentScratch {
  Scratch& s = store();
  LentScratch() = default;
  LentScratch(const LentScratch&) = delete;
  LentScratch& operator=(const LentScratch&) = delete;
  ~LentScratch() {
    if (s.in.points.capacity() > kKeptPoints) s = Scratch{};
  }
  // On the heap behind one pointer a thread: the module's thread-local block
  // stays small.
  static Scratch& store() {
    thread_local std::unique_ptr<Scratch> kept;
    if (!kept) kept = std::make_unique<Scratch>();
    return *kept;
  }
};

}  // namespace

std::vector<Segment> skeletonize(const Ring& outer, const std::vector<Ring>& holes, bool* failed) {
  LentScratch lent;
  const TriangulatorInput& in = lent.s.in;
  fill_triangulator_input(outer, holes, lent.s.in);
  if (in.points.empty()) return {};
  std::vector<IndexTriangle>& across = lent.s.across;
  std::vector<IndexTriangle>& triangles = lent.s.triangles;
  if (!triangulate_contours(in.points, in.contours, triangles, &across)) {
    if (failed != nullptr) *failed = true;
    return {};
  }

  // An edge crosses the shape's interior when a triangle lies on either side
  // of it and it does not merely cut off one or two ring vertices.
  auto interior = [&](std::uint32_t a, std::uint32_t b, std::uint32_t beyond) {
    if (beyond == kNoTriangle) return false;
    if (in.ring_of[a] != in.ring_of[b]) return true;
    const std::uint32_t n = in.ring_size[in.ring_of[a]];
    const std::uint32_t d = in.position[a] > in.position[b] ? in.position[a] - in.position[b]
                                                            : in.position[b] - in.position[a];
    return std::min(d, n - d) > 2;
  };

  std::vector<Segment> segments;
  segments.reserve(triangles.size());
  for (std::size_t i = 0; i < triangles.size(); ++i) {
    const IndexTriangle& t = triangles[i];
    std::uint32_t ends[3][2];
    int w = 0;
    for (int k = 0; k < 3; ++k) {
      const std::uint32_t a = t[k];
      const std::uint32_t b = t[(k + 1) % 3];
      if (interior(a, b, across[i][k])) {
        ends[w][0] = a;
        ends[w][1] = b;
        ++w;
      }
    }
    if (w == 3) {
      const std::vector<Point>& p = in.points;
      const Point centroid{(p[t[0]].x + p[t[1]].x + p[t[2]].x) / 3,
                           (p[t[0]].y + p[t[1]].y + p[t[2]].y) / 3};
      for (int k = 0; k < 3; ++k) {
        segments.push_back({midpoint(p, ends[k][0], ends[k][1]), centroid});
      }
    } else if (w == 2) {
      segments.push_back({midpoint(in.points, ends[0][0], ends[0][1]),
                          midpoint(in.points, ends[1][0], ends[1][1])});
    }
  }
  return segments;
}

}  // namespace strokegraph
