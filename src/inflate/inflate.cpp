#include "inflate/inflate.h"

#include <clipper2/clipper.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <numbers>
#include <string>

#include "common/errors.h"
#include "common/numeric.h"
#include "common/progress.h"
#include "inflate/band_union.h"
#include "inflate/field_union.h"
#include "inflate/outline.h"
#include "inflate/point_band.h"
#include "parallel/pool.h"

namespace strokegraph {
namespace {

using namespace Clipper2Lib;

constexpr double kScale = 1000000.0;  // integer units per coordinate unit
constexpr int kPrecision = 6;         // decimal places of the floating-point calls

// Inputs with fewer points are offset on the calling thread: handing work to
// the pool would cost more than it saves.
constexpr std::size_t kParallelPoints = 4096;

// Coordinates plus twice the radius must stay below this for the offset and
// the union to remain inside the integer range the library works in (about
// 2.3e12 at 6 decimal places). Beyond it, or with a non-finite coordinate or
// radius, a curve is not offset: the library would reject it or convert NaN
// to an integer.
constexpr double kMaxExtent = 1e12;

bool offset_fits(const std::vector<Point>& pts, double max_radius) {
  if (!std::isfinite(max_radius)) return false;
  double extent = 0.0;
  for (const Point& p : pts) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return false;
    extent = std::max({extent, std::fabs(p.x), std::fabs(p.y)});
  }
  return extent + 2.0 * max_radius <= kMaxExtent;
}

double signed_area(const PathD& path) {
  double sum = 0.0;
  const std::size_t n = path.size();
  for (std::size_t k = 0; k < n; ++k) {
    const PointD& a = path[k];
    const PointD& b = path[k + 1 == n ? 0 : k + 1];
    sum += a.x * b.y - b.x * a.y;
  }
  return 0.5 * sum;
}

Ring dedup_ring(const PathD& path) {
  Ring ring;
  ring.reserve(path.size());
  ring.push_back({path[0].x, path[0].y});
  for (std::size_t k = 1; k < path.size(); ++k) {
    const Point& last = ring.back();
    const double dx = path[k].x - last.x;
    const double dy = path[k].y - last.y;
    if (dx * dx + dy * dy > 1e-10) ring.push_back({path[k].x, path[k].y});
  }
  return ring;
}

double open_length(const Ring& ring) {
  double length = 0.0;
  for (std::size_t k = 1; k < ring.size(); ++k) {
    const double dx = ring[k].x - ring[k - 1].x;
    const double dy = ring[k].y - ring[k - 1].y;
    length += std::sqrt(dx * dx + dy * dy);
  }
  return length;
}

// Even-odd crossing test of every point of `pts` against the closed ring: an
// edge (j, i) flips a point p when (y_i > p.y) differs from (y_j > p.y) and p
// lies left of the edge at height p.y. Only edges whose y range holds p.y can
// flip it and the parity does not depend on the order of the flips, so the
// points are swept by height with the edges whose range holds the current
// height kept in a heap: the cost follows the crossings, not points x edges.
std::vector<char> points_in_ring(const Ring& ring, const std::vector<Point>& pts) {
  const std::size_t n = ring.size();
  std::vector<char> inside(pts.size(), 0);
  if (n == 0 || pts.empty()) return inside;
  std::vector<std::size_t> by_low(n);  // edge i joins vertex i and its predecessor
  for (std::size_t i = 0; i < n; ++i) by_low[i] = i;
  auto low = [&](std::size_t i) { return std::min(ring[i].y, ring[i == 0 ? n - 1 : i - 1].y); };
  auto high = [&](std::size_t i) { return std::max(ring[i].y, ring[i == 0 ? n - 1 : i - 1].y); };
  std::sort(by_low.begin(), by_low.end(),
            [&](std::size_t a, std::size_t b) { return low(a) < low(b); });
  std::vector<std::size_t> order(pts.size());
  for (std::size_t q = 0; q < pts.size(); ++q) order[q] = q;
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return pts[a].y < pts[b].y; });
  auto later_end = [&](std::size_t a, std::size_t b) { return high(a) > high(b); };
  std::vector<std::size_t> active;  // a min-heap on the upper end
  std::size_t next = 0;
  for (std::size_t q : order) {
    const Point p = pts[q];
    for (; next < n && low(by_low[next]) <= p.y; ++next) {
      active.push_back(by_low[next]);
      std::push_heap(active.begin(), active.end(), later_end);
    }
    while (!active.empty() && high(active.front()) <= p.y) {
      std::pop_heap(active.begin(), active.end(), later_end);
      active.pop_back();
    }
    bool in = false;
    for (std::size_t i : active) {
      const Point& a = ring[i];
      const Point& b = ring[i == 0 ? n - 1 : i - 1];
      if ((a.y > p.y) != (b.y > p.y) && p.x < a.x + (p.y - a.y) * (b.x - a.x) / (b.y - a.y))
        in = !in;
    }
    inside[q] = in;
  }
  return inside;
}

// Whether the crossing test of p against a ring with bounds b can come out
// inside. A crossing needs an edge with one end above p.y and one not, so
// ymin <= p.y < ymax exactly. The crossing abscissae lie within the ring's x
// range up to rounding, which the margin covers: right of all of them nothing
// flips, left of all of them every crossing flips, and a closed ring has an
// even number of crossings.
double x_margin(const Bounds& b) { return 1e-9 * (std::fabs(b.xmin) + std::fabs(b.xmax)); }

bool may_contain(const Bounds& b, Point p) {
  const double margin = x_margin(b);
  return b.ymin <= p.y && p.y < b.ymax && b.xmin - margin <= p.x && p.x <= b.xmax + margin;
}

struct Outer {
  Ring ring;
  double length;
  double area;
};

struct Hole {
  Ring ring;
  double area;
  bool taken = false;
};

// Every hole goes to the polygon of smallest outer area (of equal areas the
// first in sorted order) that is larger in area than the hole and contains the
// hole's first point; holes keep union order within a polygon. Containing
// polygons are nested, so this is the one the hole belongs to. (Taking the
// first containing polygon by outer length instead would hand the hole of a
// long, wiggly ring to a short frame drawn around it.) A uniform grid over the
// holes' first points limits the candidates of each polygon to the cells its
// bounds cover.
void attach_holes(std::vector<Outer>& outers, std::vector<Hole>& holes,
                  std::vector<BufferPolygon>& polygons) {
  if (holes.empty()) return;
  Bounds all;
  for (const Hole& h : holes) {
    all.xmin = std::min(all.xmin, h.ring[0].x);
    all.xmax = std::max(all.xmax, h.ring[0].x);
    all.ymin = std::min(all.ymin, h.ring[0].y);
    all.ymax = std::max(all.ymax, h.ring[0].y);
  }
  const std::size_t side = std::max<std::size_t>(
      1, static_cast<std::size_t>(std::sqrt(static_cast<double>(holes.size()))));
  const double cw = (all.xmax - all.xmin) / static_cast<double>(side);
  const double ch = (all.ymax - all.ymin) / static_cast<double>(side);
  // Monotone in v, so a point inside [lo, hi] falls in a cell between theirs.
  auto cell = [side](double v, double origin, double size) -> std::size_t {
    if (!(size > 0.0)) return 0;
    const double c = std::floor((v - origin) / size);
    if (!(c > 0.0)) return 0;
    return std::min(side - 1, static_cast<std::size_t>(std::min(c, 1e18)));
  };
  std::vector<std::vector<std::size_t>> grid(side * side);
  for (std::size_t h = 0; h < holes.size(); ++h) {
    const Point p = holes[h].ring[0];
    grid[cell(p.y, all.ymin, ch) * side + cell(p.x, all.xmin, cw)].push_back(h);
  }

  std::vector<std::size_t> by_area(outers.size());
  for (std::size_t k = 0; k < by_area.size(); ++k) by_area[k] = k;
  std::stable_sort(by_area.begin(), by_area.end(),
                   [&](std::size_t a, std::size_t b) { return outers[a].area < outers[b].area; });
  // The holes within each outer ring are found on the pool, each outer in
  // its own slot; each then goes to the smallest outer holding it.
  std::vector<std::vector<std::size_t>> within(outers.size());
  std::size_t points = 0;
  for (const Outer& outer : outers) points += outer.ring.size();
  parallel_for(
      outers.size(),
      [&](std::size_t k) {
        const Outer& outer = outers[k];
        const Bounds b = bounds_of(outer.ring);
        if (b.ymax <= all.ymin || b.ymin > all.ymax) return;
        const std::size_t cy0 = cell(b.ymin, all.ymin, ch), cy1 = cell(b.ymax, all.ymin, ch);
        const std::size_t cx0 = cell(b.xmin - x_margin(b), all.xmin, cw);
        const std::size_t cx1 = cell(b.xmax + x_margin(b), all.xmin, cw);
        std::vector<std::size_t> candidates;
        std::vector<Point> firsts;
        for (std::size_t cy = cy0; cy <= cy1; ++cy) {
          for (std::size_t cx = cx0; cx <= cx1; ++cx) {
            for (std::size_t h : grid[cy * side + cx]) {
              const Hole& hole = holes[h];
              if (!(hole.area < outer.area) || !may_contain(b, hole.ring[0])) continue;
              candidates.push_back(h);
              firsts.push_back(hole.ring[0]);
            }
          }
        }
        if (candidates.empty()) return;
        const std::vector<char> inside = points_in_ring(outer.ring, firsts);
        for (std::size_t c = 0; c < candidates.size(); ++c) {
          if (inside[c]) within[k].push_back(candidates[c]);
        }
        std::sort(within[k].begin(), within[k].end());
      },
      points >= kParallelPoints);
  for (std::size_t k : by_area) {
    for (std::size_t h : within[k]) {
      if (holes[h].taken) continue;
      holes[h].taken = true;
      polygons[k].holes.push_back(std::move(holes[h].ring));
    }
  }
}

// A curve or ring as the offsetter's path.
PathD to_path(const std::vector<Point>& pts) {
  PathD path;
  path.reserve(pts.size());
  for (const Point& p : pts) path.emplace_back(p.x, p.y);
  return path;
}

// Round caps and joins follow the circle to within this x the radius: about
// ten vertices to a full turn, coarse, yet a cap reaches past its end at
// least 0.95 x the radius in every direction.
constexpr double kCapArcFraction = 0.05;

double cap_arc_tolerance(double radius, double feature_size) {
  return std::min(0.2 * feature_size, kCapArcFraction * std::fabs(radius));
}

EndType end_type_of(Cap cap) {
  switch (cap) {
    case Cap::Butt: return EndType::Butt;
    case Cap::Round: return EndType::Round;
    case Cap::Square: break;
  }
  return EndType::Square;
}

bool squared(EndCaps caps) { return caps.front == Cap::Square && caps.back == Cap::Square; }

// Joins follow the caps: square for a squared band, round otherwise.
JoinType join_of(EndCaps caps) { return squared(caps) ? JoinType::Square : JoinType::Round; }

// For a band offset with butt ends because its two ends differ, the shape of
// the cap at `tip`, the stroke arriving there from `from`: a disk, or a square
// reaching `r` past the tip. Counter-clockwise like the offsetter's outlines,
// so that the union (NonZero) adds it to the band.
void add_cap_shape(Point tip, Point from, double r, Cap cap, double arc_tolerance, PathsD& out) {
  r = std::fabs(r);
  if (cap == Cap::Butt || !(r > 0.0)) return;
  PathD shape;
  if (cap == Cap::Round) {
    const double tol = std::min(arc_tolerance, r);
    const double steps = tol > 0.0 ? std::ceil(std::numbers::pi / std::acos(1.0 - tol / r)) : 64.0;
    const int n = static_cast<int>(std::clamp(steps, 4.0, 64.0));
    for (int k = 0; k < n; ++k) {
      const double a = 2.0 * std::numbers::pi * k / n;
      shape.emplace_back(tip.x + r * std::cos(a), tip.y + r * std::sin(a));
    }
  } else {
    double dx = tip.x - from.x, dy = tip.y - from.y;
    const double length = std::hypot(dx, dy);
    if (length > 0.0) {
      dx /= length, dy /= length;
    } else {
      dx = 1.0, dy = 0.0;
    }
    const double ax = r * dx, ay = r * dy, nx = -r * dy, ny = r * dx;
    shape = {{tip.x - ax - nx, tip.y - ay - ny}, {tip.x + ax - nx, tip.y + ay - ny},
             {tip.x + ax + nx, tip.y + ay + ny}, {tip.x - ax + nx, tip.y - ay + ny}};
  }
  out.push_back(std::move(shape));
}

// The neighbour of a curve's first (or last) point: its first other point.
Point neighbour_of_end(const std::vector<Point>& pts, bool last) {
  const Point tip = last ? pts.back() : pts.front();
  for (std::size_t k = 1; k < pts.size(); ++k) {
    const Point& p = pts[last ? pts.size() - 1 - k : k];
    if (!(p == tip)) return p;
  }
  return tip;
}

// The caps of a band offset with butt ends (radii at the first and last point).
void add_cap_shapes(const std::vector<Point>& pts, double r_front, double r_back, EndCaps caps,
                    double arc_tolerance, PathsD& out) {
  add_cap_shape(pts.front(), neighbour_of_end(pts, false), r_front, caps.front, arc_tolerance, out);
  add_cap_shape(pts.back(), neighbour_of_end(pts, true), r_back, caps.back, arc_tolerance, out);
}

// The outline is drawn through the piece's points thinned to within this x
// the arc tolerance (0.03 radii at the usual tolerance): a fraction of what
// the round caps and joins are allowed to stray from the circle, and of what
// the ring simplification after the union drops anyway. Thinning at 0.05
// radii and above cost junctions and ends on the messy glyph drawings.
constexpr double kPathShare = 0.6;

// The band of one piece of uniform radius with the given caps (not both
// square: those bands take square joins, offset as the exact layer offsets
// them) as its raw outline (outline.h). Where the caps differ the outline
// has butt ends and each cap is a shape of its own.
void outline_band(const Polyline& piece, double r, EndCaps caps, double feature_size, PathsD& out) {
  const double arc_tolerance = cap_arc_tolerance(r, feature_size);
  // A piece that closes on itself joins there: round caps at the joint give
  // its round join.
  if (piece.size() >= 4 && piece.front() == piece.back()) caps = {Cap::Round, Cap::Round};
  const bool same = caps.front == caps.back;
  std::vector<Point> ring;
  stroke_outline(band_path(piece, kPathShare * arc_tolerance), r,
                 same ? caps : EndCaps{Cap::Butt, Cap::Butt}, arc_tolerance, ring);
  out.emplace_back();
  out.back().reserve(ring.size());
  for (const Point& p : ring) out.back().emplace_back(p.x, p.y);
  if (!same) add_cap_shapes(piece, r, r, caps, arc_tolerance, out);
}

}  // namespace

std::vector<Ring> inflate_curve_variable(const std::vector<Point>& pts,
                                         const std::vector<double>& widths, double feature_size,
                                         EndCaps caps) {
  if (widths.size() != pts.size()) {
    throw InvariantError("inflate_curve_variable: widths.len() (" + std::to_string(widths.size()) +
                         ") must equal pts.len() (" + std::to_string(pts.size()) + ")");
  }
  // The offsetter must never see an empty open path.
  if (pts.empty()) return {};
  double max_radius = 0.0;
  for (double w : widths) {
    if (!std::isfinite(w)) return {};
    max_radius = std::max(max_radius, std::fabs(w));
  }
  if (!offset_fits(pts, max_radius)) return {};

  // The offsetter drops consecutive duplicates of the integer path and numbers
  // the callback's vertices on what is left. Dropping them here first keeps,
  // for every remaining vertex, the index of the curve's own vertex (the first
  // of each run of duplicates), so each radius comes from its own vertex.
  Path64 path;
  std::vector<std::size_t> source;
  path.reserve(pts.size());
  source.reserve(pts.size());
  for (std::size_t i = 0; i < pts.size(); ++i) {
    const Point64 q(round_saturating(pts[i].x * kScale), round_saturating(pts[i].y * kScale));
    if (!path.empty() && path.back() == q) continue;
    path.push_back(q);
    source.push_back(i);
  }

  if (path.size() == 1 && widths[source[0]] > 0.0) {
    if (auto square = wide_point_square(pts, widths[source[0]], kScale)) return {*square};
  }
  const bool same_ends = caps.front == caps.back;
  const double arc_tolerance =
      squared(caps) ? 0.2 * feature_size : cap_arc_tolerance(max_radius, feature_size);
  ClipperOffset offsetter(2.0, arc_tolerance * kScale);
  offsetter.AddPath(path, join_of(caps), same_ends ? end_type_of(caps.front) : EndType::Butt);
  Paths64 solution;
  offsetter.Execute(
      [&](const Path64& p, const PathD&, std::size_t curr, std::size_t) -> double {
        if (p.size() != source.size() || curr >= source.size()) {
          throw InvariantError("inflate_curve_variable: vertex index out of range");
        }
        return widths[source[curr]] * kScale;
      },
      solution);

  std::vector<Ring> rings;
  rings.reserve(solution.size());
  for (const Path64& sp : solution) {
    Ring ring;
    ring.reserve(sp.size());
    for (const Point64& q : sp) {
      ring.push_back({static_cast<double>(q.x) / kScale, static_cast<double>(q.y) / kScale});
    }
    rings.push_back(std::move(ring));
  }
  if (!same_ends) {
    PathsD shapes;
    add_cap_shapes(pts, widths.front(), widths.back(), caps, arc_tolerance, shapes);
    for (const PathD& shape : shapes) {
      Ring ring;
      for (const PointD& q : shape) ring.push_back({q.x, q.y});
      rings.push_back(std::move(ring));
    }
  }
  return rings;
}

namespace {

PathsD to_paths(const std::vector<Ring>& rings) {
  PathsD out;
  out.reserve(rings.size());
  for (const Ring& ring : rings) out.push_back(to_path(ring));
  return out;
}

bool has_hole(const PathsD& band) {
  for (const PathD& path : band) {
    if (signed_area(path) < 0.0) return true;
  }
  return false;
}

// The band of the points first..last (inclusive) of a curve with the given
// caps, as outlines without holes: a piece whose band has one (it loops
// round) is cut in two at its middle vertex, the cut ends taking the band's
// join (round, or square for a squared band). The grouped union and the
// tiles handle each outline on its own, which a hole cut off from its outer
// ring would turn into a filled disc.
void hole_free_band(const Polyline& curve, const std::vector<double>* widths, std::size_t first,
                    std::size_t last, double r, EndCaps caps, double feature_size, PathsD& out) {
  const bool whole = first == 0 && last + 1 == curve.size();
  Polyline own;
  if (!whole) own.assign(curve.begin() + first, curve.begin() + last + 1);
  const Polyline& piece = whole ? curve : own;
  PathsD band;
  if (widths != nullptr) {
    band = to_paths(inflate_curve_variable(
        piece, std::vector<double>(widths->begin() + first, widths->begin() + last + 1),
        feature_size, caps));
  } else if (squared(caps)) {
    band = InflatePaths(PathsD{to_path(piece)}, r, JoinType::Square, EndType::Square, 0.0,
                        kPrecision, 0.2 * feature_size);
  } else {
    outline_band(piece, r, caps, feature_size, band);
    band = Union(band, FillRule::Positive, kPrecision);
  }
  if (last - first >= 2 && has_hole(band)) {
    checkpoint();
    const std::size_t mid = first + (last - first) / 2;
    const Cap cut = squared(caps) ? Cap::Square : Cap::Round;
    hole_free_band(curve, widths, first, mid, r, {caps.front, cut}, feature_size, out);
    hole_free_band(curve, widths, mid, last, r, {cut, caps.back}, feature_size, out);
    return;
  }
  for (PathD& path : band) out.push_back(std::move(path));
}

// Pieces of a curve longer than this x the radius are banded on their own
// (cut at a vertex, the cut ends taking the join): the grouped union then
// meets the pieces along one street together, whose outlines it merges,
// instead of whole traces that share only a stretch.
constexpr double kPieceLength = 8.0;

// The clean pipeline's band of one curve: cut into pieces of about
// kPieceLength radii, each without holes; with `outlines`, the pieces of
// uniform radius and round joins as their raw outlines (outline_band),
// unresolved.
void clean_band(const Polyline& curve, const std::vector<double>* widths, double r, EndCaps caps,
                double feature_size, bool outlines, PathsD& out) {
  const Cap cut = squared(caps) ? Cap::Square : Cap::Round;
  double band_radius = std::fabs(r);
  if (widths != nullptr) {
    band_radius = 0.0;
    for (double w : *widths) {
      if (std::isfinite(w)) band_radius = std::max(band_radius, std::fabs(w));
    }
  }
  const double piece_length = kPieceLength * band_radius;
  // A curve that closes on itself is cut too: its ends then keep their join.
  if (curve.size() >= 4 && curve.front() == curve.back()) caps = {cut, cut};
  std::size_t first = 0;
  double run = 0.0;
  Polyline piece;
  for (std::size_t k = 1; k < curve.size(); ++k) {
    run += std::hypot(curve[k].x - curve[k - 1].x, curve[k].y - curve[k - 1].y);
    const bool last = k + 1 == curve.size();
    if (!last && !(run >= piece_length)) continue;
    const EndCaps ends{first == 0 ? caps.front : cut, last ? caps.back : cut};
    if (outlines && widths == nullptr && !squared(ends)) {
      piece.assign(curve.begin() + first, curve.begin() + k + 1);
      outline_band(piece, r, ends, feature_size, out);
    } else {
      hole_free_band(curve, widths, first, k, r, ends, feature_size, out);
    }
    first = k;
    run = 0.0;
  }
}

// The band outline(s) of every curve, one list per curve; each curve is offset
// on its own, in parallel on larger inputs.
std::vector<PathsD> offset_curves(const std::vector<Polyline>& curves,
                                  const std::optional<WidthLists>& per_curve_widths,
                                  double buffer_distance, double feature_size,
                                  const std::vector<EndCaps>* caps = nullptr,
                                  bool outlines = false) {
  const double arc_tolerance = 0.2 * feature_size;
  std::vector<PathsD> bands(curves.size());
  std::size_t points = 0;
  for (const Polyline& curve : curves) points += curve.size();
  parallel_for(
      curves.size(),
      [&](std::size_t i) {
        checkpoint();
        const Polyline& curve = curves[i];
        if (curve.size() < 2) return;
        const EndCaps ends = caps != nullptr && i < caps->size() ? (*caps)[i] : EndCaps{};
        const bool with_widths = per_curve_widths && i < per_curve_widths->size() &&
                                 !(*per_curve_widths)[i].empty();
        if (caps != nullptr) {
          if (with_widths) {
            clean_band(curve, &(*per_curve_widths)[i], buffer_distance, ends, feature_size,
                       outlines, bands[i]);
            return;
          }
          if (!offset_fits(curve, std::fabs(buffer_distance))) return;
          if (!wide_point_square(curve, buffer_distance, kScale)) {
            clean_band(curve, nullptr, buffer_distance, ends, feature_size, outlines, bands[i]);
            return;
          }
        }
        if (with_widths) {
          bands[i] = to_paths(inflate_curve_variable(curve, (*per_curve_widths)[i], feature_size, ends));
        } else {
          if (!offset_fits(curve, std::fabs(buffer_distance))) return;
          // Below half a grid unit the offsetter hands the curve back
          // unchanged, and the union fills its vertex list as a closed polygon.
          if (auto square = wide_point_square(curve, buffer_distance, kScale)) {
            bands[i].emplace_back();
            for (const Point& p : *square) bands[i].back().emplace_back(p.x, p.y);
            return;
          }
          bands[i] = InflatePaths(PathsD{to_path(curve)}, buffer_distance, JoinType::Square,
                                  EndType::Square, 0.0, kPrecision, arc_tolerance);
        }
      },
      points >= kParallelPoints);
  return bands;
}

// The union's rings sorted into outer rings and their holes.
std::vector<BufferPolygon> polygons_from_union(const PathsD& united, double feature_size);

}  // namespace

std::vector<Ring> offset_bands(const std::vector<Polyline>& curves,
                               const std::optional<WidthLists>& per_curve_widths,
                               double buffer_distance, double feature_size,
                               const std::vector<EndCaps>* caps, bool outlines) {
  std::vector<PathsD> bands = offset_curves(curves, per_curve_widths, buffer_distance,
                                            feature_size, caps, outlines && caps != nullptr);
  // Every curve's outlines are copied into their own slots of the list.
  std::vector<std::size_t> first(bands.size() + 1, 0);
  std::size_t points = 0;
  for (std::size_t i = 0; i < bands.size(); ++i) {
    first[i + 1] = first[i] + bands[i].size();
    for (const PathD& path : bands[i]) points += path.size();
  }
  std::vector<Ring> rings(first.back());
  parallel_for(
      bands.size(),
      [&](std::size_t i) {
        for (std::size_t k = 0; k < bands[i].size(); ++k) {
          Ring& ring = rings[first[i] + k];
          ring.reserve(bands[i][k].size());
          for (const PointD& q : bands[i][k]) ring.push_back({q.x, q.y});
        }
        PathsD().swap(bands[i]);
      },
      points >= kParallelPoints);
  return rings;
}

std::vector<BufferPolygon> unite_bands(std::vector<Ring> bands, double feature_size) {
  if (bands.empty()) return {};
  std::size_t points = 0;
  for (const Ring& ring : bands) points += ring.size();
  PathsD subjects(bands.size());
  std::vector<char> hole(bands.size(), 0);
  parallel_ranges(bands.size(), points >= kParallelPoints ? 256 : bands.size(),
                  [&](std::size_t begin, std::size_t end) {
                    for (std::size_t i = begin; i < end; ++i) {
                      subjects[i] = to_path(bands[i]);
                      Ring().swap(bands[i]);
                      hole[i] = signed_area(subjects[i]) < 0.0;
                    }
                  });
  // Grouping needs every outline to be a whole region: a hole among them
  // (bands offset without caps) sends all to the clustered union.
  const bool whole_regions = std::find(hole.begin(), hole.end(), 1) == hole.end();
  if (single_union_requested() || !whole_regions)
    return polygons_from_union(
        union_bands(std::move(subjects), single_union_requested(), FillRule::Positive),
        feature_size);
  return polygons_from_union(union_bands_grouped(std::move(subjects)), feature_size);
}

std::optional<std::vector<BufferPolygon>> unite_round_bands(const std::vector<Polyline>& curves,
                                                            double buffer_distance, double cell,
                                                            double feature_size) {
  std::size_t points = 0;
  for (const Polyline& c : curves) points += c.size();
  // A grid of up to 64 nodes per input point, at most 2^31 nodes (strips
  // hold 64 rows at a time).
  const double max_nodes = std::min(double(std::uint64_t{1} << 31), 64.0 * double(points) + 1e6);
  std::optional<std::vector<Ring>> rings = round_band_union(curves, buffer_distance, cell, max_nodes);
  if (!rings) return std::nullopt;
  PathsD united;
  united.reserve(rings->size());
  for (Ring& ring : *rings) {
    united.push_back(to_path(ring));
    Ring().swap(ring);
  }
  return polygons_from_union(united, feature_size);
}

std::vector<BufferPolygon> inflate(const std::vector<Polyline>& curves,
                                   const std::optional<WidthLists>& per_curve_widths,
                                   double buffer_distance, double feature_size) {
  if (curves.empty()) return {};
  std::vector<PathsD> bands = offset_curves(curves, per_curve_widths, buffer_distance,
                                            feature_size);
  PathsD subjects;
  for (PathsD& band : bands) {
    for (PathD& p : band) subjects.push_back(std::move(p));
  }
  bands.clear();
  bands.shrink_to_fit();
  if (subjects.empty()) return {};
  return polygons_from_union(union_bands(std::move(subjects), single_union_requested()),
                             feature_size);
}

namespace {

std::vector<BufferPolygon> polygons_from_union(const PathsD& united, double feature_size) {
  // Each ring is measured in its own slot (on the pool for larger unions),
  // then sorted out in union order.
  struct Measured {
    Ring ring;
    double area = 0.0, length = 0.0;
  };
  std::vector<Measured> measured(united.size());
  std::size_t points = 0;
  for (const PathD& path : united) points += path.size();
  parallel_for(
      united.size(),
      [&](std::size_t k) {
        const PathD& path = united[k];
        if (path.size() < 2) return;
        Ring ring = dedup_ring(path);
        if (ring.size() < 3) return;
        measured[k].area = signed_area(path);
        if (measured[k].area > 0.0) measured[k].length = open_length(ring);
        measured[k].ring = std::move(ring);
      },
      points >= kParallelPoints);
  std::vector<Outer> outers;
  std::vector<Hole> holes;
  const double min_hole_area = 0.1 * (feature_size * feature_size);
  for (Measured& m : measured) {
    if (m.ring.empty()) continue;
    if (m.area > 0.0) {
      outers.push_back({std::move(m.ring), m.length, m.area});
    } else if (-m.area >= min_hole_area) {
      holes.push_back({std::move(m.ring), -m.area});
    }
  }

  std::stable_sort(outers.begin(), outers.end(),
                   [](const Outer& a, const Outer& b) { return a.length < b.length; });
  std::vector<BufferPolygon> polygons(outers.size());
  for (std::size_t k = 0; k < outers.size(); ++k) polygons[k].outer = outers[k].ring;
  attach_holes(outers, holes, polygons);
  return polygons;
}

}  // namespace

}  // namespace strokegraph
