// The triangulator's guarantees on realistic polygons: random strokes offset
// with square joins and caps and unioned, the way the inflation stage builds
// buffer polygons. Also holds the (disabled) timing run for a large ring.
#include <gtest/gtest.h>

#include <CDT.h>
#include <clipper2/clipper.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <vector>

#include "skeleton_cdt/skeleton.h"
#include "skeleton_cdt/triangulate.h"

namespace strokegraph {
namespace {

using namespace Clipper2Lib;

double uniform(std::mt19937& rng, double lo, double hi) {
  return lo + (hi - lo) * (static_cast<double>(rng()) / 4294967296.0);
}

Ring to_ring(const PathD& path) {
  Ring ring;
  for (const PointD& p : path) ring.push_back({p.x, p.y});
  return ring;
}

// Union of a few random strokes, each offset by its own radius, split into
// outer rings with the holes they contain.
std::vector<BufferPolygon> random_stroke_union(std::uint32_t seed) {
  std::mt19937 rng(seed);
  PathsD bands;
  const int strokes = 2 + static_cast<int>(rng() % 6);
  for (int s = 0; s < strokes; ++s) {
    PathD stroke;
    const int n = 2 + static_cast<int>(rng() % 9);
    for (int k = 0; k < n; ++k) stroke.push_back({uniform(rng, 0, 30), uniform(rng, 0, 30)});
    PathsD band = InflatePaths({stroke}, uniform(rng, 0.3, 2.5), JoinType::Square, EndType::Square,
                               2.0, 6);
    bands.insert(bands.end(), band.begin(), band.end());
  }
  const PathsD rings = Union(bands, FillRule::NonZero, 6);
  std::vector<BufferPolygon> polygons;
  std::vector<double> areas;
  for (const PathD& r : rings) {
    if (Area(r) > 0) {
      polygons.push_back({to_ring(r), {}});
      areas.push_back(Area(r));
    }
  }
  for (const PathD& r : rings) {
    if (Area(r) >= 0) continue;
    int owner = -1;
    for (int k = 0; k < static_cast<int>(polygons.size()); ++k) {
      PathD outer;
      for (const Point& p : polygons[k].outer) outer.push_back({p.x, p.y});
      for (const PointD& p : r) {
        const PointInPolygonResult where = PointInPolygon(p, outer);
        if (where == PointInPolygonResult::IsOn) continue;
        if (where == PointInPolygonResult::IsInside && (owner < 0 || areas[k] < areas[owner])) {
          owner = k;
        }
        break;
      }
    }
    if (owner >= 0) polygons[owner].holes.push_back(to_ring(r));
  }
  return polygons;
}

double ring_area(const std::vector<Point>& points, const std::vector<std::uint32_t>& contour) {
  double twice = 0;
  for (std::size_t k = 1; k < contour.size(); ++k) {
    const Point& a = points[contour[k - 1]];
    const Point& b = points[contour[k]];
    twice += a.x * b.y - b.x * a.y;
  }
  return std::abs(twice) * 0.5;
}

std::uint64_t key(std::uint32_t a, std::uint32_t b) {
  return a < b ? (std::uint64_t{a} << 32) | b : (std::uint64_t{b} << 32) | a;
}

TEST(TriangulationProperties, RandomStrokeUnionsAreCoveredExactlyOnce) {
  int polygons_checked = 0, holes_checked = 0, refused = 0;
  for (std::uint32_t seed = 1; seed <= 120; ++seed) {
    for (const BufferPolygon& polygon : random_stroke_union(seed)) {
      const TriangulatorInput in = prepare_triangulator_input(polygon.outer, polygon.holes);
      ASSERT_FALSE(in.points.empty());
      const auto triangles = triangulate_contours(in.points, in.contours);
      if (!triangles) {
        ++refused;
        continue;
      }
      ++polygons_checked;
      holes_checked += static_cast<int>(in.contours.size()) - 1;

      // Item 3: the triangles cover the polygon minus its holes.
      double expected = ring_area(in.points, in.contours[0]);
      for (std::size_t h = 1; h < in.contours.size(); ++h) expected -= ring_area(in.points, in.contours[h]);
      double covered = 0;
      std::map<std::uint64_t, int> uses;
      for (const IndexTriangle& t : *triangles) {
        for (std::uint32_t i : t) ASSERT_LT(i, in.points.size());
        const Point& a = in.points[t[0]];
        const Point& b = in.points[t[1]];
        const Point& c = in.points[t[2]];
        covered += std::abs((b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y)) * 0.5;
        for (int k = 0; k < 3; ++k) ++uses[key(t[k], t[(k + 1) % 3])];
      }
      EXPECT_NEAR(covered, expected, 1e-9 * expected) << "seed " << seed;

      // Item 4: ring edges bound one triangle, all other edges two.
      std::map<std::uint64_t, bool> ring_edge;
      for (const auto& contour : in.contours) {
        for (std::size_t k = 1; k < contour.size(); ++k) ring_edge[key(contour[k - 1], contour[k])] = true;
      }
      for (const auto& [edge, is_ring] : ring_edge) {
        EXPECT_EQ(uses.count(edge) ? uses[edge] : 0, 1) << "seed " << seed;
      }
      for (const auto& [edge, count] : uses) {
        if (!ring_edge.count(edge)) {
          EXPECT_EQ(count, 2) << "seed " << seed;
        }
      }
    }
  }
  // The random unions must exercise the interesting cases, and the jitter
  // must keep refusals rare.
  EXPECT_GT(polygons_checked, 100);
  EXPECT_GT(holes_checked, 100);
  EXPECT_LE(refused, polygons_checked / 50);
  std::printf("checked %d polygons with %d holes, %d refused\n", polygons_checked, holes_checked,
              refused);
}

// What the library keeps when it erases the outer triangles and holes itself,
// with the triangles across each edge.
std::pair<std::vector<IndexTriangle>, std::vector<IndexTriangle>> library_erasure(
    const std::vector<Point>& points, const std::vector<std::vector<std::uint32_t>>& contours) {
  CDT::Triangulation<double> cdt(CDT::VertexInsertionOrder::Auto,
                                 CDT::IntersectingConstraintEdges::NotAllowed, 0.0);
  cdt.insertVertices(points.begin(), points.end(), [](const Point& p) { return p.x; },
                     [](const Point& p) { return p.y; });
  std::vector<CDT::Edge> edges;
  for (const auto& contour : contours)
    for (std::size_t k = 1; k < contour.size(); ++k) edges.emplace_back(contour[k - 1], contour[k]);
  cdt.insertEdges(edges);
  cdt.eraseOuterTrianglesAndHoles();
  std::vector<IndexTriangle> tris, across;
  for (const CDT::Triangle& t : cdt.triangles) {
    tris.push_back({t.vertices[0], t.vertices[1], t.vertices[2]});
    across.push_back({t.neighbors[0], t.neighbors[1], t.neighbors[2]});
  }
  return {tris, across};
}

TEST(TriangulationProperties, KeepsWhatTheLibrarysOwnErasureKeeps) {
  std::vector<std::pair<std::vector<Point>, std::vector<std::vector<std::uint32_t>>>> cases;
  for (std::uint32_t seed = 1; seed <= 120; ++seed) {
    for (const BufferPolygon& polygon : random_stroke_union(seed)) {
      TriangulatorInput in = prepare_triangulator_input(polygon.outer, polygon.holes);
      cases.emplace_back(std::move(in.points), std::move(in.contours));
    }
  }
  // Nested rings (kept, dropped, kept again), an edge in two contours, a
  // contour given twice (cancels out), a vertex shared by two contours.
  const std::vector<Point> nested{{0, 0}, {9, 0}, {9, 9}, {0, 9}, {2, 2}, {7, 2},
                                  {7, 7}, {2, 7}, {4, 4}, {5, 4}, {5, 5}, {4, 5.5}};
  cases.push_back({nested, {{0, 1, 2, 3, 0}, {4, 7, 6, 5, 4}, {8, 9, 10, 11, 8}}});
  cases.push_back({nested, {{0, 1, 2, 3, 0}, {4, 5, 6, 7, 4}, {8, 9, 10, 11, 8}}});
  cases.push_back({nested, {{0, 1, 2, 3, 0}, {4, 5, 6, 7, 4}, {8, 9, 10, 8}}});
  cases.push_back({nested, {{0, 1, 2, 3, 0}, {4, 5, 6, 7, 4}, {4, 7, 6, 5, 4}}});
  const std::vector<Point> pair{{0, 0}, {1, 0}, {1, 1}, {0, 1}, {2, 0}, {2, 1}};
  cases.push_back({pair, {{0, 1, 2, 3, 0}, {1, 4, 5, 2, 1}}});
  cases.push_back({pair, {{0, 1, 2, 0}, {2, 4, 5, 2}}});
  int checked = 0;
  for (const auto& [points, contours] : cases) {
    std::vector<IndexTriangle> across;
    const auto ours = triangulate_contours(points, contours, &across);
    if (!ours) continue;
    const auto [tris, expected_across] = library_erasure(points, contours);
    ASSERT_EQ(*ours, tris) << "case " << checked;
    ASSERT_EQ(across, expected_across) << "case " << checked;
    ++checked;
  }
  EXPECT_GT(checked, 100);
}

// Timing for a polygon of 100,000 boundary vertices; run with
//   strokegraph_tests --gtest_also_run_disabled_tests --gtest_filter='*LargeRing*'
TEST(TriangulationProperties, DISABLED_LargeRingTiming) {
  Ring outer;
  const int n = 100000;
  for (int k = 0; k < n; ++k) {
    const double a = k * 2 * M_PI / n;
    const double r = 1000 + 300 * std::sin(37 * a) + 50 * std::sin(401 * a);
    outer.push_back({r * std::cos(a), r * std::sin(a)});
  }
  for (int run = 0; run < 3; ++run) {
    const auto t0 = std::chrono::steady_clock::now();
    const std::vector<Triangle> triangles = get_triangles(outer, {});
    const auto t1 = std::chrono::steady_clock::now();
    const std::vector<Segment> segments = skeletonize(outer, {});
    const auto t2 = std::chrono::steady_clock::now();
    std::printf("get_triangles: %zu triangles in %.1f ms; skeletonize: %zu segments in %.1f ms\n",
                triangles.size(), std::chrono::duration<double, std::milli>(t1 - t0).count(),
                segments.size(), std::chrono::duration<double, std::milli>(t2 - t1).count());
    EXPECT_EQ(triangles.size(), static_cast<std::size_t>(n - 2));
  }
}

}  // namespace
}  // namespace strokegraph
