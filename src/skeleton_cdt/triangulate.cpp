#include "skeleton_cdt/triangulate.h"

#include <CDT.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>

#include "common/numeric.h"
#include "common/progress.h"

namespace strokegraph {

namespace {

// Coordinates beyond this make the fourth-degree terms of the in-circle test
// overflow, after which the library's predicates lose their robustness.
constexpr double kMaxCoordinate = 1e60;
// The library counts nesting depth in 16 bits; with fewer contours than this
// the depth of a triangle cannot reach the counter's limit.
constexpr std::size_t kMaxContours = 60000;
// Vertex and triangle indices are 32 bits wide inside the library.
constexpr std::size_t kMaxPoints = std::size_t{1} << 30;
// Triangulations of fewer points take well under a tenth of a second: they
// are not checked for stop requests inside.
constexpr std::size_t kStopCheckPoints = 50000;

// The pseudo-polygon work a triangulation may spend, per point and in all:
// the band of real strokes stays far below it; a degenerate ring (a sliver
// of tens of thousands of points whose constraint edges each cut through
// most of the triangulation) would take minutes.
constexpr double kWorkPerPoint = 256.0;
constexpr double kWorkFloor = 1e7;

struct TooMuchWork {};

// Watches a triangulation. Where `stoppable`, a stop request reaches into it,
// checked as every vertex and every constraint edge goes in. Every
// constraint edge that cuts through k triangles costs about k * k to mend
// (the two pseudo-polygons it leaves are triangulated by scanning them for
// each split); past the budget the triangulation is given up as failed.
struct Watch final : CDT::ICallbackHandler {
  void onAddVertexStart(const CDT::VertInd v, const CDT::AddVertexType::Enum) override {
    if (stoppable) poll(v);
  }
  void onAddEdgeStart(const CDT::Edge&) override {
    if (stoppable) poll(++edges);
  }
  void onReTriangulatePolygon(const std::vector<CDT::TriInd>& cut) override {
    const double k = static_cast<double>(cut.size());
    work += k * k;
    if (work > budget) throw TooMuchWork{};
  }
  bool stoppable = false;
  std::size_t edges = 0;
  double work = 0.0;
  double budget = 0.0;
};

// Working vectors of the calling thread, lent for one call (Kept): small
// triangulations, which come by the thousand, then allocate them once. They
// sit on the heap behind one pointer a thread, which keeps the module's
// thread-local block small. One grown past kKeptLength elements is freed on
// return rather than kept.
constexpr std::size_t kKeptLength = std::size_t{1} << 12;

struct KeptVectors {
  std::vector<std::uint32_t> u32[8];
  std::vector<std::uint8_t> u8;
};

KeptVectors& kept_vectors() {
  thread_local std::unique_ptr<KeptVectors> kept;
  if (!kept) kept = std::make_unique<KeptVectors>();
  return *kept;
}

// One Slot of one T is lent once at a time.
template <class T, int Slot = 0>
struct Kept {
  static_assert(Slot >= 0 && Slot < 8);
  std::vector<T>& v;
  Kept() : v(store()) { v.clear(); }
  ~Kept() {
    if (v.capacity() > kKeptLength) std::vector<T>().swap(v);
  }
  Kept(const Kept&) = delete;
  Kept& operator=(const Kept&) = delete;
  static std::vector<T>& store() {
    if constexpr (std::is_same_v<T, std::uint8_t>) {
      return kept_vectors().u8;
    } else {
      return kept_vectors().u32[Slot];
    }
  }
};

// Whether two points are equal, found through a table of point indices with
// open addressing (only a yes or no leaves it). The caller has refused NaN;
// adding +0.0 turns -0.0 into +0.0, so equal coordinates hash alike.
bool has_equal_points(const std::vector<Point>& points) {
  std::size_t capacity = 16;
  while (capacity < 2 * points.size()) capacity *= 2;
  constexpr std::uint32_t kFree = 0xffffffffu;
  Kept<std::uint32_t> kept_slots;
  std::vector<std::uint32_t>& slots = kept_slots.v;
  slots.assign(capacity, kFree);
  const std::size_t mask = capacity - 1;
  const MixHash mix;
  for (std::uint32_t i = 0; i < points.size(); ++i) {
    const Point& p = points[i];
    const std::size_t h = mix(std::bit_cast<std::uint64_t>(p.x + 0.0) ^
                              mix(std::bit_cast<std::uint64_t>(p.y + 0.0)));
    for (std::size_t k = h & mask;; k = (k + 1) & mask) {
      if (slots[k] == kFree) {
        slots[k] = i;
        break;
      }
      const Point& q = points[slots[k]];
      if (q.x == p.x && q.y == p.y) return true;
    }
  }
  return false;
}

bool valid_input(const std::vector<Point>& points,
                 const std::vector<std::vector<std::uint32_t>>& contours) {
  if (points.size() < 3 || points.size() > kMaxPoints || contours.size() > kMaxContours) {
    return false;
  }
  for (const Point& p : points) {
    if (!(std::abs(p.x) <= kMaxCoordinate && std::abs(p.y) <= kMaxCoordinate)) return false;
  }
  for (const std::vector<std::uint32_t>& contour : contours) {
    if (contour.empty() || contour.front() != contour.back()) return false;
    for (std::uint32_t index : contour) {
      if (index >= points.size()) return false;
    }
    for (std::size_t k = 1; k < contour.size(); ++k) {
      if (contour[k - 1] == contour[k]) return false;
    }
  }
  return !has_equal_points(points);
}

// Which vertex pairs are constraint edges. Contours that are rings of
// consecutive vertices, [s, s + 1, ..., s + k - 1, s], one after the other
// from vertex 0 to the last (what prepare_triangulator_input makes) are held
// as the first vertex of each ring plus the end of the last; any others as
// edges by vertex: the other ends of the edges at vertex v are
// `ends[start[v]] .. ends[start[v + 1] - 1]`, an edge given k times k times.
struct ConstraintEnds {
  Kept<std::uint32_t, 1> start;
  Kept<std::uint32_t, 2> ends;
  Kept<std::uint32_t, 6> rings;
  bool by_ring = false;

  // Whether crossing the edge (a, b) changes sides: it is a constraint an odd
  // number of times.
  bool separates(std::uint32_t a, std::uint32_t b) const {
    if (by_ring) {
      const std::uint32_t lo = std::min(a, b), hi = std::max(a, b);
      // The ring holding lo: the last one starting at or before it.
      const std::vector<std::uint32_t>& r = rings.v;
      std::size_t k = 0;
      while (r[k + 1] <= lo) ++k;
      return hi < r[k + 1] && (hi == lo + 1 || (lo == r[k] && hi == r[k + 1] - 1));
    }
    bool odd = false;
    for (std::uint32_t k = start.v[a]; k < start.v[a + 1]; ++k) odd ^= ends.v[k] == b;
    return odd;
  }
};

// Whether the contours are consecutive rings covering vertices 0 .. n - 1;
// if so `rings` gets their first vertices and n.
bool consecutive_rings(std::size_t n, const std::vector<std::vector<std::uint32_t>>& contours,
                       std::vector<std::uint32_t>& rings) {
  constexpr std::size_t kMostRings = 8;  // past that a search per test costs more than the table
  if (contours.empty() || contours.size() > kMostRings) return false;
  std::size_t next = 0;
  for (const std::vector<std::uint32_t>& contour : contours) {
    if (contour.size() < 4 || contour.back() != next) return false;
    const std::size_t k = contour.size() - 1;
    for (std::size_t i = 0; i < k; ++i)
      if (contour[i] != next + i) return false;
    rings.push_back(static_cast<std::uint32_t>(next));
    next += k;
  }
  rings.push_back(static_cast<std::uint32_t>(next));
  return next == n;
}

void fill_constraint_ends(ConstraintEnds& c, std::size_t n,
                          const std::vector<std::vector<std::uint32_t>>& contours) {
  c.by_ring = consecutive_rings(n, contours, c.rings.v);
  if (c.by_ring) return;
  std::vector<std::uint32_t>& start = c.start.v;
  std::vector<std::uint32_t>& ends = c.ends.v;
  start.assign(n + 1, 0);
  for (const std::vector<std::uint32_t>& contour : contours) {
    for (std::size_t k = 1; k < contour.size(); ++k) ++start[contour[k - 1] + 1], ++start[contour[k] + 1];
  }
  for (std::size_t v = 0; v < n; ++v) start[v + 1] += start[v];
  ends.resize(start[n]);
  Kept<std::uint32_t, 3> kept_fill;
  std::vector<std::uint32_t>& fill = kept_fill.v;
  fill.assign(start.begin(), start.end() - 1);
  for (const std::vector<std::uint32_t>& contour : contours) {
    for (std::size_t k = 1; k < contour.size(); ++k) {
      ends[fill[contour[k - 1]]++] = contour[k];
      ends[fill[contour[k]]++] = contour[k - 1];
    }
  }
}

// The triangles inside the contours, as the library's own erasure of outer
// triangles and holes keeps them: every triangle whose paths from the outside
// cross the constraints an odd number of times (the contours are closed, so
// all its paths agree), in the library's order with the super-triangle's
// three vertices taken off the indices. `neighbors`, when given, receives
// per triangle the kept triangle across each edge (t[k], t[k + 1]).
template <class Cdt>
void inside_triangles(const Cdt& cdt, std::size_t points,
                      const std::vector<std::vector<std::uint32_t>>& contours,
                      std::vector<IndexTriangle>& out, std::vector<IndexTriangle>* neighbors) {
  constexpr std::uint32_t kSuper = 3;
  ConstraintEnds constraints;
  fill_constraint_ends(constraints, points, contours);
  // Sizes and bases held in locals: the byte-wide side flags could otherwise
  // alias the vectors' own fields and force a reload on every write.
  const auto* const tris = cdt.triangles.data();
  const auto count = static_cast<std::uint32_t>(cdt.triangles.size());
  constexpr std::uint8_t kUnseen = 2;
  Kept<std::uint8_t> kept_side;
  kept_side.v.assign(count, kUnseen);
  std::uint8_t* const side = kept_side.v.data();
  Kept<std::uint32_t, 4> kept_stack;
  std::vector<std::uint32_t>& stack = kept_stack.v;
  for (std::uint32_t t = 0; t < count && stack.empty(); ++t) {
    const auto& v = tris[t].vertices;
    if (v[0] < kSuper || v[1] < kSuper || v[2] < kSuper) side[t] = 0, stack.push_back(t);
  }
  while (!stack.empty()) {
    const std::uint32_t t = stack.back();
    stack.pop_back();
    const auto& v = tris[t].vertices;
    const auto& across = tris[t].neighbors;
    const std::uint8_t here = side[t];
    for (int k = 0; k < 3; ++k) {
      const std::uint32_t n = across[k];
      if (n == CDT::noNeighbor || side[n] != kUnseen) continue;
      const std::uint32_t a = v[k], b = v[k == 2 ? 0 : k + 1];
      const bool crosses = a >= kSuper && b >= kSuper && constraints.separates(a - kSuper, b - kSuper);
      side[n] = here ^ std::uint8_t{crosses};
      stack.push_back(n);
    }
  }
  // Kept triangles renumbered in order, and listed (`inside`), without a
  // branch on the side.
  Kept<std::uint32_t, 5> kept_renumbered;
  std::vector<std::uint32_t>& renumbered = kept_renumbered.v;
  renumbered.resize(count);
  Kept<std::uint32_t, 7> kept_inside;
  std::vector<std::uint32_t>& inside = kept_inside.v;
  inside.resize(std::size_t{count} + 1);
  std::uint32_t kept = 0;
  for (std::uint32_t t = 0; t < count; ++t) {
    const std::uint32_t in = side[t] == 1;
    renumbered[t] = in ? kept : kNoTriangle;
    inside[kept] = t;
    kept += in;
  }
  out.clear();
  out.reserve(kept);
  if (neighbors != nullptr) neighbors->clear(), neighbors->reserve(kept);
  for (std::uint32_t i = 0; i < kept; ++i) {
    const std::uint32_t t = inside[i];
    const auto& v = tris[t].vertices;
    out.push_back({v[0] - kSuper, v[1] - kSuper, v[2] - kSuper});
    if (neighbors != nullptr) {
      const auto& n = tris[t].neighbors;
      auto at = [&](std::uint32_t i) { return i == CDT::noNeighbor ? kNoTriangle : renumbered[i]; };
      neighbors->push_back({at(n[0]), at(n[1]), at(n[2])});
    }
  }
}

// A fixed, index-only nudge per vertex that breaks exact degeneracies (a
// vertex lying exactly on another ring edge) without moving any point by
// more than about 1.4e-9: (sin(1.1 i), cos(1.3 i)) * 1e-9 for vertex i.
Point nudge(std::size_t i) {
  const double fi = static_cast<double>(i);
  return {std::sin(1.1 * fi) * 1e-9, std::cos(1.3 * fi) * 1e-9};
}

// The nudges depend on the index alone: each thread keeps those of the first
// vertices it has met (up to kKeptNudges, 1 MB) and extends them on demand.
constexpr std::size_t kKeptNudges = std::size_t{1} << 16;

const std::vector<Point>& kept_nudges(std::size_t count) {
  thread_local std::vector<Point> table;
  count = std::min(count, kKeptNudges);
  if (table.size() < count) {
    std::size_t i = table.size();
    table.reserve(std::min(kKeptNudges, std::max(count, 2 * i)));
    for (; i < count; ++i) table.push_back(nudge(i));
  }
  return table;
}

}  // namespace

TriangulatorInput prepare_triangulator_input(const Ring& outer, const std::vector<Ring>& holes) {
  TriangulatorInput in;
  fill_triangulator_input(outer, holes, in);
  return in;
}

void fill_triangulator_input(const Ring& outer, const std::vector<Ring>& holes, TriangulatorInput& in) {
  in.points.clear();
  in.ring_of.clear();
  in.position.clear();
  in.ring_size.clear();
  std::size_t total = 0;
  std::size_t accepted = 0;
  auto count = [&](const Ring& ring) {
    if (ring.size() < 3) return;
    total += ring.size();
    ++accepted;
  };
  count(outer);
  for (const Ring& hole : holes) count(hole);
  if (total < 3 || total > kMaxPoints) {  // past kMaxPoints the triangulator would refuse it
    in.contours.clear();
    return;
  }

  const std::vector<Point>& nudges = kept_nudges(total);
  in.points.reserve(total);
  in.ring_of.reserve(total);
  in.position.reserve(total);
  in.ring_size.reserve(accepted);
  // The contours' own vectors are refilled where `in` already has them.
  in.contours.resize(accepted);
  auto add = [&](const Ring& ring) {
    if (ring.size() < 3) return;
    const auto start = static_cast<std::uint32_t>(in.points.size());
    const auto ordinal = static_cast<std::uint32_t>(in.ring_size.size());
    const auto n = static_cast<std::uint32_t>(ring.size());
    std::vector<std::uint32_t>& contour = in.contours[ordinal];
    contour.resize(n + 1);
    for (std::uint32_t k = 0; k < n; ++k) {
      const std::uint32_t i = start + k;
      const Point d = i < nudges.size() ? nudges[i] : nudge(i);
      in.points.push_back({ring[k].x + d.x, ring[k].y + d.y});
      in.ring_of.push_back(ordinal);
      in.position.push_back(k);
      contour[k] = i;
    }
    contour[n] = start;
    in.ring_size.push_back(n);
  };
  add(outer);
  for (const Ring& hole : holes) add(hole);
}

std::optional<std::vector<IndexTriangle>> triangulate_contours(
    const std::vector<Point>& points, const std::vector<std::vector<std::uint32_t>>& contours,
    std::vector<IndexTriangle>* neighbors) {
  std::vector<IndexTriangle> triangles;
  if (!triangulate_contours(points, contours, triangles, neighbors)) return std::nullopt;
  return triangles;
}

bool triangulate_contours(const std::vector<Point>& points,
                          const std::vector<std::vector<std::uint32_t>>& contours,
                          std::vector<IndexTriangle>& triangles,
                          std::vector<IndexTriangle>* neighbors) {
  triangles.clear();
  // The library throws on most bad input but asserts or misbehaves on some
  // (equal points found late, NaN reaching its walks), so refuse those first.
  if (!valid_input(points, contours)) return false;

  std::vector<CDT::Edge> edges;
  std::size_t edge_count = 0;
  for (const std::vector<std::uint32_t>& contour : contours) edge_count += contour.size() - 1;
  edges.reserve(edge_count);
  for (const std::vector<std::uint32_t>& contour : contours) {
    for (std::size_t k = 1; k < contour.size(); ++k) edges.emplace_back(contour[k - 1], contour[k]);
  }
  try {
    // Crossing constraints are refused rather than split, so every vertex of
    // the result is one of ours.
    CDT::Triangulation<double> cdt(CDT::VertexInsertionOrder::Auto,
                                   CDT::IntersectingConstraintEdges::NotAllowed, 0.0);
    // Stop requests are polled only where the triangulation takes long
    // enough to need stopping.
    Watch watch;
    watch.stoppable = current_progress() != nullptr && points.size() >= kStopCheckPoints;
    watch.budget = kWorkFloor + kWorkPerPoint * static_cast<double>(points.size());
    cdt.setCallbackHandler(&watch);
    // Every constraint edge goes into the library's edge set once: sized at
    // the start, the set is never rebuilt (it is only ever looked up in).
    cdt.fixedEdges.reserve(edges.size());
    cdt.insertVertices(
        points.begin(), points.end(), [](const Point& p) { return p.x; },
        [](const Point& p) { return p.y; });
    cdt.insertEdges(edges);
    // A constraint that passes exactly through another vertex is split there
    // by the library; its pieces would break the one-triangle-per-ring-edge
    // guarantee, so treat it as a failure.
    if (!cdt.pieceToOriginals.empty()) return false;
    if (cdt.vertices.size() != points.size() + 3) return false;
    inside_triangles(cdt, points.size(), contours, triangles, neighbors);
    return true;
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const Cancelled&) {
    throw;
  } catch (...) {
    return false;
  }
}

std::vector<Triangle> get_triangles(const Ring& outer, const std::vector<Ring>& holes) {
  const TriangulatorInput in = prepare_triangulator_input(outer, holes);
  if (in.points.empty()) return {};
  const std::optional<std::vector<IndexTriangle>> triangles =
      triangulate_contours(in.points, in.contours);
  if (!triangles) return {};
  std::vector<Triangle> out;
  out.reserve(triangles->size());
  for (const IndexTriangle& t : *triangles) {
    out.push_back({in.points[t[0]], in.points[t[1]], in.points[t[2]]});
  }
  return out;
}

}  // namespace strokegraph
