// The clean-up stages of the centerlines pipeline and provenance.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "cleanup/cleanup.h"
#include "conditioning/repeats.h"
#include "conditioning/turn_backs.h"
#include "graph_test_util.h"
#include "provenance/sources.h"
#include "spatial/segment_grid.h"
#include "spatial/stroke_branches.h"
#include "spatial/stroke_index.h"

namespace {

using namespace strokegraph;
using graph_test::make_graph;

std::vector<std::size_t> degrees(const Graph& g) {
  std::vector<std::size_t> d(g.nodes.size(), 0);
  for (const Edge& e : g.edges) ++d[e.first], ++d[e.second];
  return d;
}

// A path of nodes every `step` from a to b; returns the node ids, appending
// nodes and edges to g. `from` reuses an existing node as the first one.
std::vector<NodeId> path(Graph& g, Point a, Point b, double step, long from = -1) {
  const int n = std::max(1, static_cast<int>(std::ceil(std::hypot(b.x - a.x, b.y - a.y) / step)));
  std::vector<NodeId> ids;
  for (int k = 0; k <= n; ++k) {
    if (k == 0 && from >= 0) {
      ids.push_back(static_cast<NodeId>(from));
      continue;
    }
    ids.push_back(static_cast<NodeId>(g.nodes.size()));
    g.nodes.push_back({a.x + (b.x - a.x) * k / n, a.y + (b.y - a.y) * k / n});
  }
  for (std::size_t k = 1; k < ids.size(); ++k) g.edges.emplace_back(ids[k - 1], ids[k]);
  return ids;
}

TEST(SegmentGrid, DistanceAndRayMatchBruteForce) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(-20.0, 20.0), l(-3.0, 3.0);
  std::vector<Segment> segs;
  for (int i = 0; i < 300; ++i) {
    const Point a{u(rng), u(rng)};
    segs.push_back({a, {a.x + l(rng), a.y + l(rng)}});
  }
  segs.push_back({{-50.0, 0.5}, {50.0, 0.5}});  // one long segment over many cells
  const SegmentGrid grid(segs, 1.0);
  for (int q = 0; q < 200; ++q) {
    const Point p{u(rng), u(rng)};
    double best = 4.0;
    for (const Segment& s : segs) best = std::min(best, point_segment_distance(p, s));
    EXPECT_DOUBLE_EQ(grid.distance_within(p, 4.0), best);
    const double angle = q * 0.1;
    const Point d{std::cos(angle), std::sin(angle)};
    double hit = 5.0;
    for (const Segment& s : segs) {
      const double ex = s.b.x - s.a.x, ey = s.b.y - s.a.y, den = d.x * ey - d.y * ex;
      if (den == 0.0) continue;
      const double wx = s.a.x - p.x, wy = s.a.y - p.y;
      const double t = (wx * ey - wy * ex) / den, v = (wx * d.y - wy * d.x) / den;
      if (t >= 0.0 && v >= 0.0 && v <= 1.0) hit = std::min(hit, t);
    }
    EXPECT_DOUBLE_EQ(grid.ray_distance(p, d, 5.0), hit);
  }
}

// Segments that share ends go into one run; a run breaks where the next
// segment starts elsewhere, even at an equal point of other bits (-0.0).
TEST(PointRuns, JoinsSegmentsSharingTheBitsOfAnEnd) {
  PointRuns runs;
  for (const Segment& s : std::vector<Segment>{{{0, 0}, {1, 0}}, {{1, 0}, {1, 1}}, {{1, 1}, {0, 0}},
                                               {{2, 0}, {3, 0}}, {{3, 0}, {-0.0, 0}},
                                               {{0.0, 0}, {0, 1}}})
    runs.add(s);
  EXPECT_EQ(runs.points.size(), 9u);
  EXPECT_EQ(runs.ends, (std::vector<std::size_t>{4, 7, 9}));
  EXPECT_EQ(runs.segment_count(), 6u);
}

// A grid over point runs (rings, a run broken by a non-finite point) answers
// as the grid over the same segments listed one by one.
TEST(SegmentGrid, RunsAnswerAsTheirSegments) {
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> u(-20.0, 20.0), l(-1.5, 1.5);
  PointRuns runs;
  std::vector<Segment> finite;
  for (int r = 0; r < 40; ++r) {
    Point p{u(rng), u(rng)};
    const Point first = p;
    for (int k = 0; k < 12; ++k) {
      Point q = k == 11 ? first : Point{p.x + l(rng), p.y + l(rng)};
      if (r == 3 && k == 5) q.x = std::nan("");
      runs.add({p, q});
      if (std::isfinite(p.x) && std::isfinite(q.x)) finite.push_back({p, q});
      p = q;
    }
  }
  const SegmentGrid listed(finite, 1.0);
  const SegmentGrid grid = SegmentGrid::of_runs(std::move(runs), 1.0);
  EXPECT_EQ(grid.size(), finite.size());
  EXPECT_EQ(grid.cell(), listed.cell());
  for (int q = 0; q < 200; ++q) {
    const Point p{u(rng), u(rng)};
    const Point d{std::cos(q * 0.1), std::sin(q * 0.1)};
    EXPECT_EQ(grid.distance_within(p, 3.0), listed.distance_within(p, 3.0));
    EXPECT_EQ(grid.ray_distance(p, d, 4.0), listed.ray_distance(p, d, 4.0));
  }
}

// A grid of many rows is filled band by band on the pool (many segments),
// or from the pairs its first walk kept (few): far from the origin too,
// where the cell is finer than the coordinates' spacing.
TEST(SegmentGrid, TallGridsMatchBruteForceFarFromTheOrigin) {
  for (const auto& [offset, count] : {std::pair{0.0, 3000}, {3.0e12, 3000}, {1.0e17, 3000}, {0.0, 70000},
                                      {3.0e12, 70000}}) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> x(-20.0, 20.0), y(-400.0, 400.0), l(-6.0, 6.0);
    std::vector<Segment> segs;
    for (int i = 0; i < count; ++i) {
      const Point a{offset + x(rng), offset + y(rng)};
      segs.push_back({a, {a.x + l(rng), a.y + 4.0 * l(rng)}});
    }
    segs.push_back({{offset, offset - 450.0}, {offset + 1.0, offset + 450.0}});  // through every band
    const SegmentGrid grid(segs, 1.0);
    for (int q = 0; q < 300; ++q) {
      const Point p{offset + x(rng), offset + y(rng)};
      double best = 3.0;
      for (const Segment& s : segs) best = std::min(best, point_segment_distance(p, s));
      ASSERT_EQ(grid.distance_within(p, 3.0), best) << offset;
    }
  }
}

// Few segments packed (cells in an array), over more cells than their first
// walk keeps pairs of, or spread so widely that the cells go in a table:
// each answers as brute force, at a point along every segment (every cell
// of it listed) and anywhere.
TEST(SegmentGrid, PackedLongAndScatteredSegmentsMatchBruteForce) {
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> u(-2000.0, 2000.0), near(-50.0, 50.0), far(-1.0e6, 1.0e6), l(-3.0, 3.0),
      t(0.0, 1.0);
  std::vector<Segment> packed, long_ones, scattered;
  for (int i = 0; i < 150; ++i) long_ones.push_back({{u(rng), u(rng)}, {u(rng), u(rng)}});
  for (int i = 0; i < 2000; ++i) {
    const Point a{far(rng), far(rng)}, b{near(rng), near(rng)};
    scattered.push_back({a, {a.x + l(rng), a.y + l(rng)}});
    packed.push_back({b, {b.x + l(rng), b.y + l(rng)}});
  }
  for (const std::vector<Segment>* segs : {&packed, &long_ones, &scattered}) {
    const SegmentGrid grid(*segs, 1.0);
    std::vector<Point> queries;
    for (const Segment& s : *segs) {
      const double at = t(rng);
      queries.push_back({s.a.x + (s.b.x - s.a.x) * at, s.a.y + (s.b.y - s.a.y) * at});
    }
    for (int q = 0; q < 200; ++q) queries.push_back({u(rng), u(rng)});
    for (const Point& p : queries) {
      double best = 0.5;
      for (const Segment& s : *segs) best = std::min(best, point_segment_distance(p, s));
      ASSERT_EQ(grid.distance_within(p, 0.5), best) << segs->size();
    }
  }
}

// More segments than the cap on cell entries allows at any cell size: the
// grid is built (the cap rises with the count) and answers.
TEST(SegmentGrid, BuildsOverMillionsOfSegments) {
  std::vector<Segment> segs;
  const int side = 1500;  // 2.25 M segments
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) segs.push_back({{x * 1.0, y * 1.0}, {x + 0.5, y * 1.0}});
  const SegmentGrid grid(std::move(segs), 1.0);
  EXPECT_EQ(grid.size(), std::size_t{side} * side);
  EXPECT_DOUBLE_EQ(grid.distance_within({700.25, 300.25}, 2.0), 0.25);
}

// Stroke ends out at 1e300 saturated the cell keys, and the walks up to the
// last cell of a range never ended.
TEST(SegmentGrid, EndsFarOutAreFound) {
  const SegmentGrid grid({{{1e300, 1e300}, {1e300, 1e300}}, {{-1e300, 5}, {-1e300, 5}}, {{0, 0}, {1, 0}}}, 1.0);
  EXPECT_EQ(grid.distance_within({1e300, 1e300}, 1.0), 0.0);
  EXPECT_EQ(grid.distance_within({-1e300, 5}, 1.0), 0.0);
  EXPECT_DOUBLE_EQ(grid.distance_within({0.5, 0.5}, 1.0), 0.5);
}

// A stroke from (0, 0) to (20, 0) whose skeleton forks into two corner spurs
// at its right end, and a short bump spur off its middle.
Graph forked_stroke() {
  Graph g;
  const auto main = path(g, {0.0, 0.0}, {20.0, 0.0}, 1.0);
  path(g, {20.0, 0.0}, {20.8, 0.8}, 0.5, main.back());
  path(g, {20.0, 0.0}, {20.8, -0.8}, 0.5, main.back());
  path(g, {10.0, 0.0}, {10.0, 0.9}, 0.5, main[10]);
  return g;
}

TEST(RemoveSpurs, CapForkGoesTogetherAndLeavesTheForkAsTheEnd) {
  const Graph g = forked_stroke();
  std::vector<double> clearance(g.nodes.size(), 0.0);
  clearance[20] = 1.0;  // the fork
  clearance[10] = 1.0;  // the bump's junction
  SpurRules rules;
  const Graph out = remove_spurs(g, clearance, rules);
  const auto d = degrees(out);
  EXPECT_EQ(d[0], 1u);
  EXPECT_EQ(d[20], 1u);  // the fork is the free end now
  EXPECT_EQ(d[10], 2u);  // the bump went
  EXPECT_EQ(out.edges.size(), 20u);
  EXPECT_EQ(out.nodes, g.nodes);
}

// A fork right by the boundary has little clearance of its own: its tips are
// measured against the band's radius instead (the larger of the two).
TEST(RemoveSpurs, CapForkByTheBoundaryIsMeasuredAgainstTheRadius) {
  const Graph g = forked_stroke();
  std::vector<double> clearance(g.nodes.size(), 0.0);
  clearance[20] = 0.2;
  clearance[10] = 1.0;
  SpurRules rules;
  rules.fork_clearance = 1.0;
  EXPECT_EQ(degrees(remove_spurs(g, clearance, rules))[20], 1u);
  // Tips longer than 2.5 x that radius are arms.
  rules.fork_clearance = 0.4;
  EXPECT_EQ(degrees(remove_spurs(g, clearance, rules))[20], 3u);
}

TEST(RemoveSpurs, LongArmsStayAndCornerTipsMoveTheirJunction) {
  // A T with arms of 10 and a spur of 3 towards (0, 3) where no stroke ends.
  Graph g;
  const auto bar = path(g, {-10.0, 0.0}, {10.0, 0.0}, 1.0);
  path(g, {0.0, 0.0}, {0.0, -10.0}, 1.0, bar[10]);
  path(g, {0.0, 0.0}, {0.0, 3.0}, 1.0, bar[10]);
  std::vector<double> clearance(g.nodes.size(), 0.0);
  clearance[10] = 1.0;
  const SegmentGrid ends({{{-10.0, 0.0}, {-10.0, 0.0}}, {{10.0, 0.0}, {10.0, 0.0}}, {{0.0, -10.0}, {0.0, -10.0}}},
                         1.0);
  SpurRules rules;
  rules.stroke_ends = &ends;
  rules.end_distance = 2.0;
  Graph out = remove_spurs(g, clearance, rules);
  EXPECT_EQ(degrees(out)[10], 3u);  // every arm reaches a stroke end but the spur
  EXPECT_EQ(out.edges.size(), g.edges.size() - 3);
  EXPECT_EQ(out.nodes[10], (Point{0.0, 3.0}));
  // With a stroke end at the spur's tip, it is an arm.
  const SegmentGrid more({{{0.0, 3.0}, {0.0, 3.0}}}, 1.0);
  rules.stroke_ends = &more;
  out = remove_spurs(g, clearance, rules);
  EXPECT_EQ(out, (Graph{g.nodes, g.edges}));
}

// A tip kept in one round walks on in the next where its junction lost a
// spur, and is judged again by the far junction's clearance: both go.
TEST(RemoveSpurs, ATipWalkingOnAfterARoundIsJudgedAgain) {
  Graph g;
  g.nodes = {{0.0, 0.0}, {5.0, 0.0}, {-100.0, 0.0}, {0.0, -100.0}, {5.0, 0.5}, {8.0, 0.0}};
  g.edges = {{0, 2}, {0, 3}, {0, 1}, {1, 4}, {1, 5}};
  const std::vector<double> clearance{10.0, 1.0, 0.0, 0.0, 0.0, 0.0};
  SpurRules rules;
  rules.fork_factor = 0.0;
  const Graph out = remove_spurs(g, clearance, rules);
  EXPECT_EQ(out.edges, (std::vector<Edge>{{0, 2}, {0, 3}}));
  // With a far junction too narrow to hold it, the walked-on tip stays.
  const Graph kept = remove_spurs(g, {2.0, 1.0, 0.0, 0.0, 0.0, 0.0}, rules);
  EXPECT_EQ(kept.edges, (std::vector<Edge>{{0, 2}, {0, 3}, {0, 1}, {1, 5}}));
}

// Junctions A and B merge; their edges to a common neighbour C become one,
// the first. Enough copies for several edge ranges and duplicate shards.
TEST(MergeCrossings, MergedEdgesToACommonNeighbourBecomeTheFirstOne) {
  constexpr NodeId kCopies = 110000;
  Graph g;
  for (NodeId k = 0; k < kCopies; ++k) {
    const double x = 10.0 * k;
    g.nodes.insert(g.nodes.end(), {{x, 0.0}, {x + 0.5, 0.0}, {x + 0.25, 3.0}, {x - 2.0, 0.0}, {x + 2.5, 0.0}});
    const NodeId a = 5 * k, b = a + 1, c = a + 2, d = a + 3, e = a + 4;
    g.edges.insert(g.edges.end(), {{a, b}, {a, c}, {c, b}, {a, d}, {e, b}});
  }
  std::vector<double> clearance(g.nodes.size(), 0.0);
  for (NodeId k = 0; k < kCopies; ++k) clearance[5 * k] = clearance[5 * k + 1] = 1.0;
  const Graph out = merge_crossings(g, clearance, 1.0, SegmentGrid({}, 1.0), 0.0);
  std::vector<Edge> expected;
  for (NodeId k = 0; k < kCopies; ++k) expected.insert(expected.end(), {{4 * k, 4 * k + 1}, {4 * k, 4 * k + 2}, {4 * k + 3, 4 * k}});
  ASSERT_EQ(out.nodes.size(), 4u * kCopies);
  EXPECT_TRUE(out.edges == expected);
  EXPECT_EQ(out.nodes[4], (Point{10.25, 0.0}));
}

TEST(MergeCrossings, ShortLinkMergesAtTheMeanLongOneStays) {
  // Two junctions 1 apart (a split plus) and a third 10 further on.
  Graph g;
  const auto link = path(g, {0.0, 0.0}, {1.0, 0.0}, 0.5);
  path(g, {0.0, 0.0}, {-10.0, 0.0}, 1.0, link.front());
  path(g, {0.0, 0.0}, {0.0, -10.0}, 1.0, link.front());
  path(g, {1.0, 0.0}, {1.0, 10.0}, 1.0, link.back());
  const auto far = path(g, {1.0, 0.0}, {11.0, 0.0}, 1.0, link.back());
  path(g, {11.0, 0.0}, {11.0, 5.0}, 1.0, far.back());
  path(g, {11.0, 0.0}, {21.0, 0.0}, 1.0, far.back());
  std::vector<double> clearance(g.nodes.size(), 0.0);
  clearance[link.front()] = clearance[link.back()] = 1.0;
  clearance[far.back()] = 1.2;
  const SegmentGrid no_boundary({}, 1.0);
  const Graph out = merge_crossings(g, clearance, 1.0, no_boundary, 0.0);
  const auto d = degrees(out);
  ASSERT_EQ(clearance.size(), out.nodes.size());
  std::vector<Point> junctions;
  for (std::size_t v = 0; v < d.size(); ++v) {
    if (d[v] < 3) continue;
    junctions.push_back(out.nodes[v]);
    EXPECT_GT(clearance[v], 0.0);
  }
  ASSERT_EQ(junctions.size(), 2u);
  EXPECT_EQ(junctions[0], (Point{0.5, 0.0}));
  EXPECT_EQ(junctions[1], (Point{11.0, 0.0}));
  EXPECT_EQ(*std::max_element(d.begin(), d.end()), 4u);
}

TEST(MergeStraightCrossings, ShallowCrossingBecomesOneNodeParallelArmsDoNot) {
  // Two strokes crossing at 30 degrees at the origin, split into junctions
  // 1.5 either side along the bisector.
  auto split = [](double offset_b) {
    Graph g;
    const double c = std::cos(0.2618), s = std::sin(0.2618);
    const auto link = path(g, {-1.5, 0.0}, {1.5, 0.0}, 0.5);
    path(g, {-1.5, 0.0}, {-12.0 * c, -12.0 * s}, 1.0, link.front());
    path(g, {-1.5, 0.0}, {-12.0 * c, 12.0 * s + offset_b}, 1.0, link.front());
    path(g, {1.5, 0.0}, {12.0 * c, 12.0 * s}, 1.0, link.back());
    path(g, {1.5, 0.0}, {12.0 * c, -12.0 * s + offset_b}, 1.0, link.back());
    return g;
  };
  for (double offset : {0.0, 5.0}) {
    const Graph g = split(offset);
    std::vector<double> clearance(g.nodes.size(), 0.0);
    clearance[0] = clearance[6] = 1.0;
    const Graph out = merge_straight_crossings(g, clearance, 1.0, 3.0, 0.45);
    const auto d = degrees(out);
    if (offset == 0.0) {
      const auto it = std::find(d.begin(), d.end(), 4u);
      ASSERT_NE(it, d.end());
      const Point at = out.nodes[static_cast<std::size_t>(it - d.begin())];
      EXPECT_NEAR(at.x, 0.0, 1e-9);
      EXPECT_NEAR(at.y, 0.0, 1e-9);
      EXPECT_EQ(out.edges.size(), g.edges.size() - 6);
    } else {
      EXPECT_EQ(out, g);  // the arms do not continue each other
    }
  }
}

TEST(RelocateJunctions, JunctionMovesToWhereTheArmLinesMeet) {
  // A T whose skeleton junction sits 0.8 below the bar's line.
  Graph g;
  const NodeId j = 0;
  g.nodes.push_back({0.0, -0.8});
  path(g, {-1.0, 0.0}, {-12.0, 0.0}, 1.0);
  path(g, {1.0, 0.0}, {12.0, 0.0}, 1.0);
  path(g, {0.0, -2.0}, {0.0, -12.0}, 1.0);
  g.edges.emplace_back(j, 1);
  g.edges.emplace_back(j, 13);
  g.edges.emplace_back(j, 25);
  std::vector<double> clearance(g.nodes.size(), 1.0);
  relocate_junctions(g, clearance, 1.0, 2.0);
  EXPECT_NEAR(g.nodes[j].x, 0.0, 1e-12);
  EXPECT_NEAR(g.nodes[j].y, 0.0, 1e-12);
  // Not beyond max_move x clearance.
  g.nodes[j] = {0.0, -0.8};
  clearance[j] = 0.3;
  relocate_junctions(g, clearance, 1.0, 2.0);
  EXPECT_EQ(g.nodes[j], (Point{0.0, -0.8}));
}

TEST(PlaceFreeEnds, EndsGoOneHalfWidthShortOfTheBandsEnd) {
  // The band of (0, 0)-(20, 0) with radius 1 and square caps.
  const SegmentGrid boundary = boundary_grid({{{{-1.0, -1.0}, {21.0, -1.0}, {21.0, 1.0}, {-1.0, 1.0}}, {}}}, 1.0);
  std::vector<Polyline> chains{{{1.5, 0.0}, {10.0, 0.0}, {18.0, 0.0}}};
  std::vector<Chain> walked(1);
  walked[0].start_node = 0, walked[0].end_node = 1;
  walked[0].start_is_tip = walked[0].end_is_tip = true;
  place_free_ends(chains, walked, boundary, 1.0);
  EXPECT_NEAR(chains[0].front().x, 0.0, 1e-12);
  EXPECT_NEAR(chains[0].back().x, 20.0, 1e-12);
  EXPECT_EQ(chains[0][1], (Point{10.0, 0.0}));
}

// The band's end lies far beyond where the chain stops: the end moves at most
// one band width (twice the half width measured a radius back).
TEST(PlaceFreeEnds, AMoveIsAtMostOneBandWidth) {
  const SegmentGrid boundary = boundary_grid({{{{-1.0, -0.5}, {21.0, -0.5}, {21.0, 0.5}, {-1.0, 0.5}}, {}}}, 1.0);
  std::vector<Polyline> chains{{{10.0, 0.0}, {18.5, 0.0}}};
  std::vector<Chain> walked(1);
  walked[0].start_node = 0, walked[0].end_node = 1;
  walked[0].end_is_tip = true;
  place_free_ends(chains, walked, boundary, 1.0);
  EXPECT_DOUBLE_EQ(chains[0].back().x, 19.5);  // not 21 - 0.5
  EXPECT_EQ(chains[0].front(), (Point{10.0, 0.0}));
}

TEST(ChainSources, ACurveThatOnlyTouchesAJunctionDoesNotCount) {
  // A T drawn as two strokes, the bar's chains and the stem's, and the bar
  // drawn a second time 0.3 lower.
  const std::vector<Polyline> curves{{{-10.0, 0.0}, {10.0, 0.0}}, {{0.0, 0.0}, {0.0, -10.0}},
                                     {{-10.0, -0.3}, {10.0, -0.3}}, {{5.0, 5.0}}};
  const std::vector<Polyline> chains{{{-10.0, -0.15}, {0.0, -0.15}}, {{0.0, -0.15}, {10.0, -0.15}},
                                     {{0.0, -0.15}, {0.0, -10.0}}};
  const std::vector<std::pair<std::size_t, std::size_t>> ends{{0, 1}, {1, 2}, {1, 3}};
  const auto sources = chain_sources(chains, ends, stroke_index(curves, std::nullopt, 1.0), 1.0);
  EXPECT_EQ(sources, (std::vector<std::vector<std::size_t>>{{0, 2}, {0, 2}, {1}}));
  // Per-curve widths: a thin second bar no longer reaches the chains.
  const WidthLists widths{{}, {}, {0.1, 0.1}};
  EXPECT_EQ(chain_sources(chains, ends, stroke_index(curves, widths, 1.0), 1.0)[0],
            (std::vector<std::size_t>{0}));
}

TEST(ChainSources, ACallCountsItsOwnStrokesAfterOneOnOthers) {
  // One short chain (its samples in the same cells) over two drawings of
  // different stroke counts, each read after the other: counters and cells
  // read are the call's own.
  const std::vector<std::vector<Polyline>> drawings{
      {{{-10.0, 0.0}, {10.0, 0.0}}, {{0.0, 0.0}, {0.0, -10.0}}, {{-10.0, -0.3}, {10.0, -0.3}}},
      {{{0.0, 5.0}, {0.0, -10.0}}, {{-10.0, -0.1}, {10.0, -0.1}}}};
  const std::vector<Polyline> chains{{{0.2, -0.15}, {0.8, -0.15}}};
  const std::vector<std::pair<std::size_t, std::size_t>> ends{{0, 1}};
  std::vector<std::vector<std::vector<std::size_t>>> first;
  for (int round = 0; round < 2; ++round) {
    for (std::size_t d = 0; d < drawings.size(); ++d) {
      const auto sources = chain_sources(chains, ends, stroke_index(drawings[d], std::nullopt, 1.0), 1.0);
      if (round == 0) first.push_back(sources);
      else EXPECT_EQ(sources, first[d]) << d;
    }
  }
  EXPECT_EQ(first[0], (std::vector<std::vector<std::size_t>>{{0, 1, 2}}));
  EXPECT_EQ(first[1], (std::vector<std::vector<std::size_t>>{{0, 1}}));
}

TEST(StrokeIndex, StrokesMeetAtAnAngleNotWhenDrawnTwice) {
  const std::vector<Polyline> v{{{0.0, 0.0}, {5.0, 10.0}}, {{10.0, 0.0}, {5.0, 10.0}}};
  const std::vector<Polyline> twice{{{0.0, 0.0}, {10.0, 0.0}}, {{0.0, 0.3}, {5.0, 0.25}, {10.0, 0.3}}};
  EXPECT_TRUE(strokes_meet_at(stroke_index(v, std::nullopt, 1.0), {5.0, 9.5}, 0.35));
  EXPECT_FALSE(strokes_meet_at(stroke_index(v, std::nullopt, 1.0), {1.0, 1.0}, 0.35));
  EXPECT_FALSE(strokes_meet_at(stroke_index(twice, std::nullopt, 1.0), {5.0, 0.1}, 0.35));
}

TEST(SettleLinks, MovedEndsTogetherBecomeOneNodeFoldedLinksMoveNeither) {
  // Two junctions on a bar, 4 apart, each with an arm up, moved by
  // relocation: to one point, or past each other.
  auto two_junctions = [](Graph& g) {
    g.nodes = {{0.0, 0.0}, {4.0, 0.0}};
    path(g, {0.0, 0.0}, {-8.0, 0.0}, 1.0, 0);
    path(g, {4.0, 0.0}, {12.0, 0.0}, 1.0, 1);
    path(g, {0.0, 0.0}, {0.0, 8.0}, 1.0, 0);
    path(g, {4.0, 0.0}, {4.0, 8.0}, 1.0, 1);
    path(g, {0.0, 0.0}, {4.0, 0.0}, 1.0, 0);
    // The last path ends on a new node at (4, 0): join it to node 1.
    g.edges.back().second = 1;
    g.nodes.pop_back();
  };
  Graph g;
  two_junctions(g);
  const std::vector<Point> before = g.nodes;
  std::vector<double> clearance(g.nodes.size(), 0.0);
  clearance[0] = clearance[1] = 1.0;
  g.nodes[0] = {1.8, 0.1};
  g.nodes[1] = {2.2, -0.1};
  Graph merged = settle_links(g, before, clearance, 1.0);
  const auto d = degrees(merged);
  EXPECT_EQ(std::count(d.begin(), d.end(), 4), 1);
  EXPECT_EQ(std::count(d.begin(), d.end(), 3), 0);
  for (std::size_t v = 0; v < d.size(); ++v) {
    if (d[v] == 4) {
      EXPECT_NEAR(std::hypot(merged.nodes[v].x - 2.0, merged.nodes[v].y), 0.0, 1e-12);
    }
  }
  // Past each other and still 3 apart: the link would fold, both go back.
  std::vector<double> c2(before.size(), 0.0);
  c2[0] = c2[1] = 1.0;
  g.nodes = before;
  g.nodes[0] = {3.5, 0.0};
  g.nodes[1] = {0.5, 0.0};
  Graph back = settle_links(g, before, c2, 1.0);
  EXPECT_EQ(back.nodes[0], before[0]);
  EXPECT_EQ(back.nodes[1], before[1]);
  EXPECT_EQ(back.edges.size(), g.edges.size());
  // One moved past an inner node (not folding): the node it passed joins it.
  g.nodes = before;
  g.nodes[0] = {1.5, 0.3};
  std::vector<double> c3(before.size(), 0.0);
  c3[0] = c3[1] = 1.0;
  Graph passed = settle_links(g, before, c3, 1.0);
  EXPECT_EQ(passed.nodes.size(), g.nodes.size() - 1);
  EXPECT_EQ(passed.nodes[0], (Point{1.5, 0.3}));
}

TEST(StrokeIndex, PiecesDrawnOverAgainOrBrokenDoNotMoveTheMeeting) {
  // A T whose bar is drawn over again on the right, ending 3 radii short of
  // the stem, or broken into two pieces touching 4 radii from it: the
  // junction is where the stem meets the bar, whichever stroke lies nearest
  // to the right arm's point.
  const Polyline stem{{0.0, 0.0}, {0.0, -10.0}};
  const std::vector<Point> arms{{-3.0, 0.0}, {6.0, 0.03}, {0.0, -3.0}};
  for (const bool reversed : {false, true}) {
    Polyline again{{10.0, 0.02}, {3.0, 0.02}};
    Polyline left{{-10.0, 0.0}, {4.0, 0.0}}, right{{4.0, 0.0}, {10.0, 0.0}};
    if (reversed) {
      std::reverse(again.begin(), again.end());
      std::reverse(left.begin(), left.end());
    }
    const std::vector<Polyline> redrawn{{{-10.0, 0.0}, {10.0, 0.0}}, stem, again};
    const std::vector<Polyline> broken{left, stem, right};
    for (const auto* curves : {&redrawn, &broken}) {
      const auto at = strokes_meeting(stroke_index(*curves, std::nullopt, 1.0), {0.0, 0.3}, arms, 6.0, 0.17);
      ASSERT_TRUE(at.has_value());
      EXPECT_NEAR(at->x, 0.0, 1e-9);
      EXPECT_NEAR(at->y, 0.0, 1e-9);
    }
  }
}

TEST(StrokeIndex, StrokesMeetingAtAnAcuteAngleMeetWhereTheCenterlinesDo) {
  // A stroke leaving another at 20 degrees from (10, 0), and a T.
  const double t = 20.0 * 3.14159265358979323846 / 180.0;
  const std::vector<Polyline> acute{{{0.0, 0.0}, {30.0, 0.0}}, {{10.0, 0.0}, {10.0 + 20.0 * std::cos(t), 20.0 * std::sin(t)}}};
  const StrokeIndex index = stroke_index(acute, std::nullopt, 1.0);
  const Point junction{14.5, 0.4};
  const std::vector<Point> arms{{11.5, 0.1}, {17.5, 0.1}, {17.4, 2.7}};
  const auto at = strokes_meeting(index, junction, arms, 6.0, 0.17);
  ASSERT_TRUE(at.has_value());
  EXPECT_NEAR(at->x, 10.0, 1e-9);
  EXPECT_NEAR(at->y, 0.0, 1e-9);
  // Beyond reach, or all arms on one stroke: nothing.
  EXPECT_FALSE(strokes_meeting(index, junction, arms, 3.0, 0.17).has_value());
  EXPECT_FALSE(strokes_meeting(index, junction, {{11.5, 0.1}, {17.5, 0.1}}, 6.0, 0.17).has_value());
  // A stem stopping half a radius short of the bar meets it at its foot.
  const std::vector<Polyline> tee{{{-10.0, 0.0}, {10.0, 0.0}}, {{3.0, -0.5}, {3.0, -10.0}}};
  const auto foot = strokes_meeting(stroke_index(tee, std::nullopt, 1.0), {3.0, -0.6},
                                    {{0.0, 0.0}, {6.0, 0.0}, {3.0, -3.6}}, 6.0, 0.17);
  ASSERT_TRUE(foot.has_value());
  EXPECT_NEAR(foot->x, 3.0, 1e-12);
  EXPECT_EQ(foot->y, 0.0);
}

TEST(StrokeIndex, OvershootIsAStrokeEndingWithinReachPastAnotherCrossingIt) {
  // An L whose bar runs `stub` past the upright's centerline at x = 20.
  for (const double stub : {1.2, 2.0, 2.6}) {
    const std::vector<Polyline> l{{{0.0, 0.0}, {20.0 + stub, 0.0}}, {{20.0, 0.0}, {20.0, 15.0}}};
    const StrokeIndex index = stroke_index(l, std::nullopt, 1.0);
    const auto at = overshoots_at(index, {20.0 + stub + 0.3, 0.0}, 2.0, 2.0, 0.35);
    EXPECT_EQ(at.has_value(), stub <= 2.0) << stub;
    if (at) {
      EXPECT_NEAR(std::hypot(at->x - 20.0, at->y), 0.0, 1e-12);
    }
  }
  // Pieces of one line overlapping at their ends are no overshoot.
  const std::vector<Polyline> pieces{{{0.0, 0.0}, {10.0, 0.0}}, {{9.0, 0.0}, {20.0, 0.0}}};
  EXPECT_FALSE(overshoots_at(stroke_index(pieces, std::nullopt, 1.0), {10.2, 0.0}, 2.0, 2.0, 0.35).has_value());
}

TEST(RepeatedCurves, SamePointsInEitherOrderWithTheSameWidths) {
  const Polyline a{{0.0, 0.0}, {5.0, 1.0}, {10.0, 0.0}}, b{{0.0, 1.0}, {5.0, 2.0}};
  const Polyline a_reversed(a.rbegin(), a.rend());
  const double nan = std::nan("");
  const std::vector<Polyline> curves{b, a, a_reversed, a, {{nan, 0.0}, {1.0, 1.0}}, {{nan, 0.0}, {1.0, 1.0}}, {{3.0, 3.0}}, {{3.0, 3.0}}};
  EXPECT_EQ(repeated_curves(curves, std::nullopt), (std::vector<std::size_t>{2, 3}));
  // Widths in force: a repeat must also repeat its widths, read the same way.
  const WidthLists widths{{}, {1.0, 2.0, 3.0}, {3.0, 2.0, 1.0}, {1.0, 2.0, 2.5}};
  EXPECT_EQ(repeated_curves(curves, widths), (std::vector<std::size_t>{2}));
}

TEST(UnfoldChains, ShortTurnsBackGoLongHairpinsAndEndsStay) {
  std::vector<Polyline> chains{
      // A wiggle of two points turning back over steps of 0.6 and 0.8.
      {{0.0, 0.0}, {4.0, 0.0}, {4.6, 0.1}, {3.8, 0.05}, {9.0, 0.0}},
      // Turning back over 5 on both sides: kept (max step 3.5).
      {{0.0, 0.0}, {5.0, 0.0}, {0.0, 0.5}},
      // The end itself turns back: ends stay, the point before goes.
      {{0.0, 0.0}, {6.0, 0.0}, {6.5, 0.0}, {6.2, 0.05}}};
  unfold_chains(chains, 3.5);
  EXPECT_EQ(chains[0], (Polyline{{0.0, 0.0}, {3.8, 0.05}, {9.0, 0.0}}));
  EXPECT_EQ(chains[1].size(), 3u);
  EXPECT_EQ(chains[2], (Polyline{{0.0, 0.0}, {6.0, 0.0}, {6.2, 0.05}}));
}

TEST(StrokeIndex, AStrokeMeetingItselfHasTwoPartsThereAndRepeatsAreOneStroke) {
  // Down a stem, round a bowl and back onto the stem at 18 degrees: the
  // skeleton's junction sits well up the stem.
  const std::vector<Polyline> six{{{0.0, 30.0}, {0.0, 0.0}, {2.0, -10.0}, {10.0, -14.0}, {18.0, -10.0},
                                   {20.0, -2.0}, {16.0, 6.0}, {8.0, 12.0}, {4.0, 12.0}, {0.0, 0.0}}};
  const auto at = strokes_meeting(stroke_index(six, std::nullopt, 1.0), {0.8, 4.0},
                                  {{0.0, 7.0}, {0.4, -2.5}, {5.0, 11.5}}, 10.0, 0.17);
  ASSERT_TRUE(at.has_value());
  EXPECT_NEAR(std::hypot(at->x, at->y), 0.0, 1e-9);
  // A stroke with a hook at its end, drawn twice: its copy is no other
  // stroke it overshoots, unless the index is told nothing of repeats.
  const Polyline hooked{{0.0, 0.0}, {8.0, 0.0}, {9.0, 0.0}, {10.0, 0.0}, {10.0, 0.5}, {10.0, 1.0}, {10.0, 1.5}};
  const std::vector<Polyline> twice{hooked, hooked};
  const Point tip{10.0, 1.8};
  EXPECT_TRUE(overshoots_at(stroke_index(twice, std::nullopt, 1.0), tip, 2.0, 2.0, 0.35).has_value());
  EXPECT_FALSE(overshoots_at(stroke_index(twice, std::nullopt, 1.0, first_drawn(twice, std::nullopt)), tip, 2.0,
                             2.0, 0.35)
                   .has_value());
}

TEST(TurnBacks, ARetraceEndsTheInkASharpCornerDoesNot) {
  // Up an arm and 1.5 back down it: the ink ends at the turn.
  const auto retrace = turn_backs({{0.0, 0.0}, {0.0, 6.0}, {0.0, 4.5}}, 1.0);
  ASSERT_EQ(retrace.size(), 1u);
  EXPECT_EQ(retrace[0].y, 6.0);
  // A V at 20 degrees: its legs part, a corner.
  const double t = 10.0 * 3.14159265358979323846 / 180.0;
  EXPECT_TRUE(turn_backs({{-8.0 * std::sin(t), 8.0 * std::cos(t)}, {0.0, 0.0}, {8.0 * std::sin(t), 8.0 * std::cos(t)}},
                         1.0)
                  .empty());
}

TEST(StrokeBranches, AnArchLeavingAStemNearItsEndAndTwoStrokesEndingAtACorner) {
  // A stem to y = 21.5 and an arch leaving it at y = 20 at 25 degrees: the
  // stem's end 1.5 past the arch is an overshoot, its corner where it leaves.
  const double t = 25.0 * 3.14159265358979323846 / 180.0;
  const Polyline stem{{0.0, 0.0}, {0.0, 21.5}};
  const Polyline arch{{0.0, 20.0}, {6.0 * std::sin(t), 20.0 - 6.0 * std::cos(t)}, {9.0, 9.0}};
  const std::vector<Polyline> n{stem, arch};
  const auto at = branch_near_end(stroke_index(n, std::nullopt, 1.0), {0.0, 22.3}, 2.0, 2.0);
  ASSERT_TRUE(at.has_value());
  EXPECT_NEAR(at->x, 0.0, 1e-9);
  EXPECT_NEAR(at->y, 20.0, 1e-9);
  // The stem drawn again from its end down: no stroke leaves it.
  const std::vector<Polyline> redrawn{stem, {{0.0, 21.5}, {0.0, 10.0}}};
  EXPECT_FALSE(branch_near_end(stroke_index(redrawn, std::nullopt, 1.0), {0.0, 22.3}, 2.0, 2.0).has_value());
  // A stroke broken where the arch would leave: its pieces overlap 1.5.
  const std::vector<Polyline> broken{{{0.0, 0.0}, {0.0, 20.0}}, {{0.0, 18.5}, {0.0, 21.5}}};
  EXPECT_FALSE(branch_near_end(stroke_index(broken, std::nullopt, 1.0), {0.0, 22.3}, 2.0, 2.0).has_value());
  // Two strokes drawn down to one point 20 degrees apart end at a corner;
  // a stroke and its copy drawn back over it end at an end.
  const double h = 10.0 * 3.14159265358979323846 / 180.0;
  const std::vector<Polyline> v{{{-12.0 * std::sin(h), 12.0 * std::cos(h)}, {-0.1, 0.0}},
                                {{12.0 * std::sin(h), 12.0 * std::cos(h)}, {0.1, 0.0}}};
  EXPECT_TRUE(strokes_end_at_corner(stroke_index(v, std::nullopt, 1.0), {0.0, -0.8}, 2.0));
  const std::vector<Polyline> twice{{{0.0, 12.0}, {0.0, 0.0}}, {{0.1, 0.0}, {0.1, 12.0}}};
  EXPECT_FALSE(strokes_end_at_corner(stroke_index(twice, std::nullopt, 1.0), {0.0, -0.8}, 2.0));
}

TEST(StrokeIndex, AClosedStrokesSeamIsNoEndAndNoMeeting) {
  // A ring of radius 4 from angle 0, a street leaving it at 10 degrees,
  // near the seam: the ring's two arms are one part of it.
  Polyline ring;
  for (int k = 0; k < 48; ++k) {
    const double a = 2.0 * 3.14159265358979323846 * k / 48.0;
    ring.push_back({4.0 * std::cos(a), 4.0 * std::sin(a)});
  }
  ring.push_back(ring.front());
  const double t = 10.0 * 3.14159265358979323846 / 180.0;
  const Point at{4.0 * std::cos(t), 4.0 * std::sin(t)};
  const std::vector<Polyline> roundabout{ring, {at, {16.0 * std::cos(t), 16.0 * std::sin(t)}}};
  const auto meeting = strokes_meeting(stroke_index(roundabout, std::nullopt, 1.0), {4.2, 0.9},
                                       {{2.5, 3.1}, {3.8, -1.6}, {7.0, 1.2}}, 16.0, 0.17);
  ASSERT_TRUE(meeting.has_value());  // on the ring's chord there
  EXPECT_NEAR(meeting->x, at.x, 0.01);
  EXPECT_NEAR(meeting->y, at.y, 0.01);
}

TEST(StrokeIndex, StrokesSideBySideMeetACrossingOneApart) {
  // Three strokes 1.5 apart (their bands overlap) crossed by one at 90
  // degrees: three meetings 1.5 apart, within a disc wider than any
  // crossing of two strokes leaves.
  const std::vector<Polyline> blot{{{-15.0, 0.0}, {15.0, 0.0}}, {{-15.0, 1.5}, {15.0, 1.5}},
                                   {{-15.0, 3.0}, {15.0, 3.0}}, {{0.0, -15.0}, {0.0, 18.0}}};
  const StrokeIndex index = stroke_index(blot, std::nullopt, 1.0);
  std::vector<Point> found;
  EXPECT_TRUE(meets_apart(index, {{{0.0, 1.5}, 2.0}}, 1.0, 0.17, &found));
  EXPECT_EQ(found.size(), 3u);
  // Not with a disc of a crossing of two strokes, nor meetings closer than
  // `apart`, nor a disc holding only one of them.
  EXPECT_FALSE(meets_apart(index, {{{0.0, 1.5}, 1.4}}, 1.0, 0.17));
  EXPECT_FALSE(meets_apart(index, {{{0.0, 1.5}, 2.0}}, 4.0, 0.17));
  EXPECT_FALSE(meets_apart(index, {{{0.0, -1.0}, 1.6}}, 1.0, 0.17));
  // Each piece ending where it meets another, drawn again reversed: the same
  // places, whichever way the segments run.
  std::vector<Polyline> noded;
  for (double y : {0.0, 1.5, 3.0}) {
    noded.push_back({{-15.0, y}, {0.0, y}});
    noded.push_back({{0.0, y}, {15.0, y}});
  }
  noded.push_back({{0.0, -15.0}, {0.0, 0.0}});
  noded.push_back({{0.0, 0.0}, {0.0, 1.5}});
  noded.push_back({{0.0, 1.5}, {0.0, 3.0}});
  noded.push_back({{0.0, 3.0}, {0.0, 18.0}});
  std::vector<Polyline> twice = noded;
  for (const Polyline& c : noded) twice.push_back(Polyline(c.rbegin(), c.rend()));
  for (const std::vector<Polyline>* drawing : {&noded, &twice}) {
    std::vector<Point> places;
    ASSERT_TRUE(meets_apart(stroke_index(*drawing, std::nullopt, 1.0, first_drawn(*drawing, std::nullopt)),
                            {{{0.0, 1.5}, 2.0}}, 1.0, 0.17, &places));
    for (const Point& p : places) {
      EXPECT_EQ(p.x, 0.0);
      EXPECT_TRUE(p.y == 0.0 || p.y == 1.5 || p.y == 3.0) << p.y;
    }
  }
}

}  // namespace

// A cell whose inverse overflows (a subnormal radius) and a segment longer
// than the largest double: the grid still builds and answers.
TEST(SegmentGrid, SubnormalCellsAndEndlessSegments) {
  // Queried, as the clean-up does, within a few radii.
  const SegmentGrid ends({{{0.0, 0.0}, {0.0, 0.0}}, {{10.0, 5.0}, {10.0, 5.0}}}, 5e-324);
  EXPECT_GT(ends.cell(), 0.0);
  EXPECT_EQ(ends.distance_within({10.0, 5.0}, 1e-323), 0.0);
  EXPECT_EQ(ends.distance_within({0.0, 0.0}, 1e-323), 0.0);
  const SegmentGrid wide({{{-1e308, 0.0}, {1e308, 0.0}}, {{0.0, 1.0}, {1.0, 1.0}}}, 1.0);
  EXPECT_EQ(wide.distance_within({0.5, 1.5}, 1.0), 0.5);
  // Provenance at a radius far below the chain samples at most about a
  // million points per chain, and still finds the stroke under it.
  const std::vector<Polyline> curves{{{0.0, 0.0}, {10.0, 0.0}}, {{0.0, 5.0}, {10.0, 5.0}}};
  const StrokeIndex strokes = stroke_index(curves, std::nullopt, 1.0);
  const auto sources = chain_sources({{{0.0, 0.0}, {10.0, 0.0}}}, {{0, 1}}, strokes, 1e-300);
  ASSERT_EQ(sources.size(), 1u);
  EXPECT_EQ(sources[0], (std::vector<std::size_t>{0}));
}
