#include "spatial/stroke_index.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <tuple>
#include <utility>

#include "common/errors.h"
#include "parallel/pool.h"

namespace strokegraph {
namespace {

// x band radius: a disc wider than this lies where bands overlap side by
// side (a crossing of two strokes has room for 1.41).
constexpr double kBlotClearance = 1.5;

}  // namespace

namespace {

// Segments per range where the index is built on the pool; a drawing of
// fewer is built on the calling thread.
constexpr std::size_t kSegmentsPerRange = 32768;
// Curves per range where repeats are compared with their first drawings.
constexpr std::size_t kCurvesPerRange = 4096;

// Calls visit(c, k) for the segment slots [begin, end) in order: slot
// length_at[c] + k - 1 is segment k of curve c (from point k - 1 to point
// k). A range may start and end inside a curve.
template <class Visit>
void visit_slots(const std::vector<Polyline>& curves, const std::vector<std::size_t>& length_at, std::size_t slots,
                 std::size_t begin, std::size_t end, Visit&& visit) {
  if (begin >= end) return;
  // The last curve starting at or before `begin` (curves without segments
  // start where the next one does).
  std::size_t c = static_cast<std::size_t>(std::upper_bound(length_at.begin(), length_at.end(), begin) -
                                           length_at.begin()) - 1;
  std::size_t next = c + 1 < curves.size() ? length_at[c + 1] : slots;
  for (std::size_t s = begin; s < end; ++s) {
    while (s >= next) next = ++c + 1 < curves.size() ? length_at[c + 1] : slots;
    visit(c, s - length_at[c] + 1);
  }
}

}  // namespace

StrokeIndex stroke_index(const std::vector<Polyline>& curves, const std::optional<WidthLists>& widths,
                         double radius, const std::vector<std::size_t>& first) {
  StrokeIndex index{CellIndex(), &curves, {}, {}, {}, radius, {}, {}, {}, {}};
  if (curves.size() > std::numeric_limits<std::uint32_t>::max()) {
    throw MemoryLimitError("stroke index: too many curves");
  }
  index.length_at.resize(curves.size());
  std::size_t slots = 0;
  for (std::size_t c = 0; c < curves.size(); ++c) {
    index.length_at[c] = slots;
    if (curves[c].size() < 2) continue;
    if (curves[c].size() > std::numeric_limits<std::uint32_t>::max()) {
      throw MemoryLimitError("stroke index: a curve has too many points");
    }
    slots += curves[c].size() - 1;
  }
  if (first.size() == curves.size()) {
    bool repeats = false;
    for (std::size_t c = 0; c < first.size(); ++c) repeats = repeats || first[c] != c;
    if (repeats) {
      index.first.assign(first.begin(), first.end());
      // Read once here: the clean-up asks it of every pair of segments.
      index.reversed.assign(curves.size(), 0);
      parallel_ranges(curves.size(), kCurvesPerRange, [&](std::size_t begin, std::size_t end) {
        for (std::size_t c = begin; c < end; ++c) {
          if (first[c] == c) continue;
          const Polyline& a = curves[c];
          const Polyline& b = curves[first[c]];
          index.reversed[c] = !std::equal(a.begin(), a.end(), b.begin(), b.end(),
                                          [](Point p, Point q) { return p.x == q.x && p.y == q.y; });
        }
      });
    }
  }
  // Radii per segment only where some curve has its own widths.
  bool uniform = true;
  for (std::size_t c = 0; c < curves.size() && widths; ++c) {
    if (c < widths->size() && (*widths)[c].size() == curves[c].size() && curves[c].size() >= 2) uniform = false;
  }
  // The band radius of segment k of curve c, or nothing where it or the
  // segment is not finite (such segments are left out).
  auto reach_of = [&](std::size_t c, std::size_t k) -> std::optional<double> {
    const Polyline& curve = curves[c];
    double r = radius;
    if (widths && c < widths->size() && (*widths)[c].size() == curve.size()) {
      r = std::max(std::fabs((*widths)[c][k - 1]), std::fabs((*widths)[c][k]));
    }
    const Point a = curve[k - 1], b = curve[k];
    if (!std::isfinite(r) || !std::isfinite(a.x) || !std::isfinite(a.y) || !std::isfinite(b.x) || !std::isfinite(b.y)) {
      return std::nullopt;
    }
    return r;
  };
  auto length = [&](std::size_t c, std::size_t k) {
    const Polyline& curve = curves[c];
    return std::hypot(curve[k].x - curve[k - 1].x, curve[k].y - curve[k - 1].y);
  };
  // Each range lists the segments it keeps from its own first slot on, with
  // their largest radius (the first of equal ones, as one pass over all
  // would find); ranges that left segments out are then closed up in order.
  struct Count {
    std::size_t kept = 0;
    double max_reach = -std::numeric_limits<double>::infinity();
  };
  index.lengths.resize(slots);
  index.owner.resize(slots);
  index.vertex.resize(slots);
  if (!uniform) index.reach.resize(slots);
  const std::vector<Count> counts =
      parallel_parts<Count>(slots, kSegmentsPerRange, [&](std::size_t begin, std::size_t end, Count& part) {
        Count count;  // handed over at the end: neighbouring parts share cache lines
        std::size_t out = begin;
        visit_slots(curves, index.length_at, slots, begin, end, [&](std::size_t c, std::size_t k) {
          index.lengths[index.length_at[c] + k - 1] = length(c, k);
          const auto r = reach_of(c, k);
          if (!r) return;
          index.owner[out] = static_cast<std::uint32_t>(c);
          index.vertex[out] = static_cast<std::uint32_t>(k);
          if (!uniform) index.reach[out] = *r;
          count.max_reach = std::max(count.max_reach, *r);
          ++out;
        });
        count.kept = out - begin;
        part = count;
      });
  std::size_t kept = 0;
  for (std::size_t p = 0; p < counts.size(); ++p) {
    const std::size_t begin = p * kSegmentsPerRange;
    if (kept != begin) {
      auto close_up = [&](auto& v) {
        std::copy(v.begin() + begin, v.begin() + begin + counts[p].kept, v.begin() + kept);
      };
      close_up(index.owner), close_up(index.vertex);
      if (!uniform) close_up(index.reach);
    }
    kept += counts[p].kept;
    index.max_reach = std::max(index.max_reach, counts[p].max_reach);
  }
  index.owner.resize(kept);
  index.vertex.resize(kept);
  if (!uniform) index.reach.resize(kept);
  index.grid = CellIndex(curves, index.owner, index.vertex, 2.0 * index.max_reach);
  return index;
}

const std::vector<SegmentRead>& segments_in_box(const StrokeIndex& strokes, Point lo, Point hi, SegmentsSeen& seen) {
  const CellIndex::Cells cells = strokes.grid.cells(lo, hi);
  if (seen.known && seen.cells == cells) return seen.read;
  seen.cells = cells;
  seen.known = true;
  seen.read.clear();
  strokes.grid.visit_cells(cells, [&](std::size_t i) {
    seen.read.push_back({strokes.segment(i), strokes.reach_of(i), static_cast<std::uint32_t>(i), strokes.owner[i],
                         strokes.vertex[i], strokes.stroke_of(i)});
  });
  return seen.read;
}

void strokes_near(const StrokeIndex& strokes, Point p, double within, std::vector<StrokeNear>& out) {
  out.clear();
  const double r = within * strokes.max_reach;
  strokes.grid.visit_box({p.x - r, p.y - r}, {p.x + r, p.y + r}, [&](std::size_t i) {
    const double reach = within * strokes.reach_of(i);
    const double d = point_segment_distance_within(p, strokes.segment(i), reach);
    if (d > reach) return;
    const std::size_t c = strokes.stroke_of(i);
    for (StrokeNear& n : out) {
      if (n.stroke != c) continue;
      if (d < n.distance || (d == n.distance && i < n.segment)) n.distance = d, n.segment = i;
      return;
    }
    out.push_back({c, i, d});
  });
}

bool strokes_meet_at(const StrokeIndex& strokes, Point p, double min_angle) {
  const double max_cos = std::cos(min_angle);
  // The direction of the nearest segment of each stroke that holds p.
  std::vector<StrokeNear> nearest;
  strokes_near(strokes, p, 1.0, nearest);
  std::vector<Point> dirs;
  for (const StrokeNear& n : nearest) {
    if (const auto d = stroke_direction(strokes, n.segment)) dirs.push_back(*d);
  }
  for (std::size_t a = 0; a < dirs.size(); ++a) {
    for (std::size_t b = a + 1; b < dirs.size(); ++b) {
      if (std::fabs(dirs[a].x * dirs[b].x + dirs[a].y * dirs[b].y) < max_cos) return true;
    }
  }
  return false;
}

std::optional<Point> stroke_direction(const StrokeIndex& strokes, std::size_t i) {
  const std::size_t c = strokes.owner[i];
  const Polyline& curve = (*strokes.curves)[c];
  const double reach = strokes.reach_of(i);
  std::size_t lo = strokes.vertex[i] - 1, hi = strokes.vertex[i];
  for (double run = 0.0; lo > 0 && run < reach; --lo) run += strokes.length(c, lo);
  for (double run = 0.0; hi + 1 < curve.size() && run < reach; ++hi) run += strokes.length(c, hi + 1);
  const double dx = curve[hi].x - curve[lo].x, dy = curve[hi].y - curve[lo].y;
  const double len = std::hypot(dx, dy);
  if (!(len > 0.0)) return std::nullopt;
  return Point{dx / len, dy / len};
}

std::optional<Point> overshoots_at(const StrokeIndex& strokes, Point tip, double end_reach, double beyond,
                                   double min_angle) {
  // The stroke end nearest to the tip: (distance, grid segment, at the
  // curve's last point).
  double best = end_reach;
  std::size_t seg = std::numeric_limits<std::size_t>::max();
  bool at_last = false;
  strokes.grid.visit_box({tip.x - end_reach, tip.y - end_reach}, {tip.x + end_reach, tip.y + end_reach},
                         [&](std::size_t i) {
                           const Polyline& c = (*strokes.curves)[strokes.owner[i]];
                           if (c.front().x == c.back().x && c.front().y == c.back().y) return;
                           for (int last = 0; last < 2; ++last) {
                             const bool is_end = last ? strokes.vertex[i] + 1 == c.size() : strokes.vertex[i] == 1;
                             if (!is_end) continue;
                             const Point e = last ? c.back() : c.front();
                             const double d = std::hypot(e.x - tip.x, e.y - tip.y);
                             if (d < best || (d == best && seg != std::numeric_limits<std::size_t>::max() && i < seg)) {
                               best = d, seg = i, at_last = last != 0;
                             }
                           }
                         });
  if (seg == std::numeric_limits<std::size_t>::max()) return std::nullopt;
  const Polyline& own = (*strokes.curves)[strokes.owner[seg]];
  const Point end = at_last ? own.back() : own.front();
  const auto dir = stroke_direction(strokes, seg);
  if (!dir) return std::nullopt;
  const double max_cos = std::cos(min_angle);
  // Another stroke's centerline within `beyond` of that end, crossing the
  // end's stroke at an angle.
  // The first such segment in grid order; the corner is where the end's
  // stroke, run on along its direction, crosses that segment's line.
  std::optional<Point> found;
  strokes.grid.visit_box({end.x - beyond, end.y - beyond}, {end.x + beyond, end.y + beyond}, [&](std::size_t i) {
    if (found || strokes.stroke_of(i) == strokes.stroke_of(seg)) return;
    const Segment s = strokes.segment(i);
    if (point_segment_distance(end, s) > beyond * (1.0 + 1e-9)) return;
    const auto other = stroke_direction(strokes, i);
    if (!other || std::fabs(other->x * dir->x + other->y * dir->y) >= max_cos) return;
    const double sx = s.b.x - s.a.x, sy = s.b.y - s.a.y;
    const double den = dir->x * sy - dir->y * sx;
    const double t = ((s.a.x - end.x) * sy - (s.a.y - end.y) * sx) / den;
    found = std::fabs(t) <= 2.0 * beyond ? Point{end.x + dir->x * t, end.y + dir->y * t} : end;
  });
  return found;
}

namespace {

// Where the segments [a0, a1] and [b0, b1] come closest: their crossing, or
// else the foot of an end of one on the other; with the distance there and
// which end was nearest (0 to 3 for a0, a1, b0, b1; -1 for a crossing).
struct Approach {
  double gap;
  Point at;
  int end;
};

Approach closest_approach(Point a0, Point a1, Point b0, Point b1) {
  const double rx = a1.x - a0.x, ry = a1.y - a0.y, sx = b1.x - b0.x, sy = b1.y - b0.y;
  const double den = rx * sy - ry * sx;
  if (den != 0.0) {
    const double t = ((b0.x - a0.x) * sy - (b0.y - a0.y) * sx) / den;
    const double u = ((b0.x - a0.x) * ry - (b0.y - a0.y) * rx) / den;
    if (t >= 0.0 && t <= 1.0 && u >= 0.0 && u <= 1.0) return {0.0, Point{a0.x + rx * t, a0.y + ry * t}, -1};
  }
  Approach best{std::numeric_limits<double>::infinity(), a0, 0};
  int end = 0;
  for (const auto& [p, a, b] : {std::tuple{a0, b0, b1}, std::tuple{a1, b0, b1}, std::tuple{b0, a0, a1},
                                std::tuple{b1, a0, a1}}) {
    const Point f = nearest_on_segment(p, a, b);
    const double d2 = (p.x - f.x) * (p.x - f.x) + (p.y - f.y) * (p.y - f.y);
    if (d2 < best.gap) best = {d2, f, end};
    ++end;
  }
  best.gap = std::sqrt(best.gap);
  return best;
}

// The vertex ending grid segment i in the numbering of the curve its curve
// repeats (see first_drawn: the same points, or the same reversed).
std::size_t first_vertex(const StrokeIndex& strokes, std::size_t i) {
  const std::size_t own = strokes.owner[i];
  if (own == strokes.stroke_of(i)) return strokes.vertex[i];
  return strokes.reversed[own] ? (*strokes.curves)[own].size() - strokes.vertex[i] : strokes.vertex[i];
}

// Whether a curve ends within `gap` of where it starts: a ring, whose seam
// is no place of the drawing's.
bool closes(const Polyline& c, double gap) {
  return c.size() > 2 && hypot_within(c.front().x - c.back().x, c.front().y - c.back().y, gap);
}

// Arc length along a curve between the segments ending at vertices i and j
// (the segments in between; 0 for one segment or two neighbours), walked only
// up to `limit`.
double arc_between(const Polyline& c, std::size_t i, std::size_t j, double limit) {
  if (i > j) std::swap(i, j);
  double run = 0.0;
  for (std::size_t k = i + 1; k < j && run <= limit; ++k) {
    run += std::hypot(c[k].x - c[k - 1].x, c[k].y - c[k - 1].y);
  }
  return run;
}

// The same the other way round a ring, across its seam.
double arc_across_seam(const Polyline& c, std::size_t i, std::size_t j, double limit) {
  if (i > j) std::swap(i, j);
  double run = 0.0;
  for (std::size_t k = j + 1; k < c.size() && run <= limit; ++k) run += std::hypot(c[k].x - c[k - 1].x, c[k].y - c[k - 1].y);
  for (std::size_t k = 1; k < i && run <= limit; ++k) run += std::hypot(c[k].x - c[k - 1].x, c[k].y - c[k - 1].y);
  return run;
}

}  // namespace

std::optional<Point> strokes_meeting(const StrokeIndex& strokes, Point junction,
                                     const std::vector<Point>& arm_points, double reach, double min_angle) {
  const double r = strokes.max_reach;
  constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
  // The nearest segment to each arm point, and the part of a stroke it lies
  // on: a stroke passing the junction twice (a loop closing on itself, a
  // stroke drawn back along itself) has two parts there, far apart along it.
  struct Part {
    std::size_t stroke, segment;
    Point at;
  };
  // How near each stroke around the junction comes to it.
  std::vector<std::pair<std::size_t, double>> to_junction;  // (stroke, distance), by stroke
  const double around = 3.0 * r;
  strokes.grid.visit_box({junction.x - around, junction.y - around}, {junction.x + around, junction.y + around},
                         [&](std::size_t i) {
                           const std::size_t c = strokes.stroke_of(i);
                           for (auto& [stroke, best] : to_junction) {
                             if (stroke == c) {
                               // Measured only where it may come nearer.
                               best = std::min(best, point_segment_distance_within(junction, strokes.segment(i), best));
                               return;
                             }
                           }
                           to_junction.push_back({c, point_segment_distance(junction, strokes.segment(i))});
                         });
  auto junction_distance = [&](std::size_t c) {
    for (const auto& [stroke, d] : to_junction) {
      if (stroke == c) return d;
    }
    return std::numeric_limits<double>::infinity();
  };
  // Each arm's stroke: of the strokes whose bands hold its point, the
  // nearest to the point among those that come to the junction (within a
  // band radius of the nearest that does). A piece drawn over a stroke
  // again and ending short of the junction is no arm's stroke, however near.
  std::vector<Part> parts;
  std::vector<StrokeNear> held;
  for (const Point& p : arm_points) {
    strokes_near(strokes, p, 1.0, held);
    double nearest_junction = std::numeric_limits<double>::infinity();
    for (const StrokeNear& h : held) nearest_junction = std::min(nearest_junction, junction_distance(h.stroke));
    double best = std::numeric_limits<double>::infinity();
    std::size_t seg = kNone;
    for (const auto& [c, i, d] : held) {
      if (junction_distance(c) > nearest_junction + r) continue;
      if (d < best || (d == best && (c < strokes.stroke_of(seg) || (c == strokes.stroke_of(seg) && i < seg)))) {
        best = d, seg = i;
      }
    }
    if (seg != kNone) parts.push_back({strokes.stroke_of(seg), seg, p});
  }
  // Two points of one curve lie on one part when the curve runs between them
  // not much longer than straight; across a ring's seam, when it runs there
  // nearly straight (a small loop closing there, as an 8's, stays a loop).
  // A repeat's segments are read as the first drawn curve's: which of two
  // equal segments lies nearest is a matter of rounding.
  // Points p and q, when given, lie by segments u and v: the arc then runs
  // from the point of u nearest p to that of v nearest q (long segments,
  // as a stroke drawn with few points has, hold much of it).
  auto apart_along = [&](std::size_t u, std::size_t v, double straight, const Point* p = nullptr,
                         const Point* q = nullptr) {
    if (strokes.stroke_of(u) != strokes.stroke_of(v)) return false;
    const Polyline& c = (*strokes.curves)[strokes.stroke_of(u)];
    const double limit = 2.0 * straight + 2.0 * r;
    const std::size_t i = first_vertex(strokes, u), j = first_vertex(strokes, v);
    double arc = arc_between(c, i, j, limit);
    if (p != nullptr && q != nullptr && strokes.owner[u] == strokes.owner[v] && u != v) {
      // Within its segment, each point's foot counts from the segment's
      // end that faces the other segment.
      const bool u_first = strokes.vertex[u] < strokes.vertex[v];
      const Segment su = strokes.segment(u), sv = strokes.segment(v);
      auto foot_to = [](Point x, const Segment& g, Point end) {
        const Point f = nearest_on_segment(x, g.a, g.b);
        return std::hypot(f.x - end.x, f.y - end.y);
      };
      arc += foot_to(*p, su, u_first ? su.b : su.a) + foot_to(*q, sv, u_first ? sv.a : sv.b);
    }
    if (arc <= limit) return false;
    const double seam_limit = 1.25 * straight + 2.0 * r;
    return !closes(c, r) || arc_across_seam(c, i, j, seam_limit) > seam_limit;
  };
  std::vector<Part> distinct;
  for (const Part& x : parts) {
    bool known = false;
    for (const Part& y : distinct) {
      known = known || (x.stroke == y.stroke &&
                        !apart_along(x.segment, y.segment, std::hypot(x.at.x - y.at.x, x.at.y - y.at.y), &x.at, &y.at));
    }
    if (!known) distinct.push_back(x);
  }
  if (distinct.size() < 2) return std::nullopt;
  std::vector<std::size_t> curves;
  for (const Part& x : distinct) curves.push_back(x.stroke);
  std::sort(curves.begin(), curves.end());
  curves.erase(std::unique(curves.begin(), curves.end()), curves.end());
  // Their segments near the junction, with their boxes.
  std::vector<std::size_t> near;
  strokes.grid.visit_box({junction.x - reach, junction.y - reach}, {junction.x + reach, junction.y + reach},
                         [&](std::size_t i) {
                           const std::size_t stroke = strokes.stroke_of(i);
                           for (const std::size_t c : curves) {
                             if (c == stroke) return near.push_back(i);
                           }
                         });
  std::sort(near.begin(), near.end());
  near.erase(std::unique(near.begin(), near.end()), near.end());
  struct Near {
    std::size_t i;
    Segment s;
    double x0, x1, y0, y1;
    double from;       // distance to the junction
    bool first, last;  // the curve's first, resp. last segment (a closed curve has neither)
    bool open;         // its curve does not close on itself
    // The stroke's direction there, found when a pair first asks for it.
    bool direction_known = false;
    std::optional<Point> direction;
    double span() const { return (x1 - x0) + (y1 - y0); }  // at least its length
  };
  // Per stroke of `curves`, nearest to the junction first.
  std::vector<std::vector<Near>> boxes(curves.size());
  std::size_t owner = kNone;
  bool open = false;
  for (std::size_t i : near) {
    const Segment g = strokes.segment(i);
    const std::size_t size = (*strokes.curves)[strokes.owner[i]].size();
    const auto k = static_cast<std::size_t>(std::lower_bound(curves.begin(), curves.end(), strokes.stroke_of(i)) -
                                            curves.begin());
    // A curve's segments come one after another: whether it closes is
    // read once for them.
    if (strokes.owner[i] != owner) owner = strokes.owner[i], open = !closes((*strokes.curves)[owner], r);
    boxes[k].push_back({i, g, std::min(g.a.x, g.b.x), std::max(g.a.x, g.b.x), std::min(g.a.y, g.b.y),
                        std::max(g.a.y, g.b.y), point_segment_distance(junction, g), open && strokes.vertex[i] == 1,
                        open && strokes.vertex[i] + 1 == size, open, false, std::nullopt});
  }
  // Two segments whose distances to the junction differ by more than the
  // nearer one's span and the gap allowed (and a slack that rounding cannot
  // cross) lie too far apart to meet: each pair's scan over the second
  // list starts and stops by distance, skipping only segments that it would
  // pass over anyway. Far out (coordinates near overflow) nothing is skipped.
  std::vector<double> widest(curves.size(), 0.0);  // per list, the largest span
  double magnitude = std::max(std::fabs(junction.x), std::fabs(junction.y));
  for (std::size_t k = 0; k < boxes.size(); ++k) {
    std::vector<Near>& list = boxes[k];
    std::sort(list.begin(), list.end(),
              [](const Near& a, const Near& b) { return a.from < b.from || (a.from == b.from && a.i < b.i); });
    for (const Near& n : list) {
      widest[k] = std::max(widest[k], n.span());
      magnitude = std::max({magnitude, std::fabs(n.x0), std::fabs(n.x1), std::fabs(n.y0), std::fabs(n.y1)});
    }
  }
  // Per list, the box of every kBlock segments in turn: a pair's scan passes
  // over a block whose box lies farther from the first segment than the gap
  // allowed, as it would pass over each of its segments (none lies nearer
  // than the block's box, rounding included).
  constexpr std::size_t kBlock = 8;
  struct Box {
    double x0, x1, y0, y1;
  };
  std::vector<std::vector<Box>> blocks(boxes.size());
  for (std::size_t k = 0; k < boxes.size(); ++k) {
    const std::vector<Near>& list = boxes[k];
    for (std::size_t b = 0; b < list.size(); b += kBlock) {
      Box box = {list[b].x0, list[b].x1, list[b].y0, list[b].y1};
      for (std::size_t e = b + 1; e < std::min(b + kBlock, list.size()); ++e) {
        box = {std::min(box.x0, list[e].x0), std::max(box.x1, list[e].x1), std::min(box.y0, list[e].y0),
               std::max(box.y1, list[e].y1)};
      }
      blocks[k].push_back(box);
    }
  }
  const bool skips = magnitude < 1e150 && r < 1e150;
  const double slack = 1e-9 * (magnitude + r);
  auto list_of = [&](std::size_t stroke) -> std::vector<Near>& {
    return boxes[static_cast<std::size_t>(std::lower_bound(curves.begin(), curves.end(), stroke) - curves.begin())];
  };
  auto direction_of = [&](Near& n) -> const std::optional<Point>& {
    if (!n.direction_known) n.direction = stroke_direction(strokes, n.i), n.direction_known = true;
    return n.direction;
  };
  const double max_gap = 2.0 * r;
  const double max_cos = std::cos(min_angle);
  // Segments of one curve at most a band radius apart along it, running
  // opposite ways (turning by more than 150 degrees).
  const double cusp_cos = std::cos(150.0 * 3.14159265358979323846 / 180.0);
  auto turns_back = [&](const Near& u, const Near& v) {
    if (strokes.owner[u.i] != strokes.owner[v.i]) return false;
    const Polyline& c = (*strokes.curves)[strokes.owner[u.i]];
    if (arc_between(c, strokes.vertex[u.i], strokes.vertex[v.i], r) > r) return false;
    const double ux = u.s.b.x - u.s.a.x, uy = u.s.b.y - u.s.a.y, vx = v.s.b.x - v.s.a.x, vy = v.s.b.y - v.s.a.y;
    return ux * vx + uy * vy < cusp_cos * std::hypot(ux, uy) * std::hypot(vx, vy);
  };
  // Whether an end of the curve of grid segment u and one of v's lie within
  // a band radius of each other, within 3 band radii of the junction: a
  // stroke broken into two touching pieces, which goes on there rather than
  // meets.
  auto ends_touch = [&](std::size_t u, std::size_t v) {
    const Polyline& cu = (*strokes.curves)[strokes.owner[u]];
    const Polyline& cv = (*strokes.curves)[strokes.owner[v]];
    if (closes(cu, r) || closes(cv, r)) return false;
    for (const Point a : {cu.front(), cu.back()}) {
      if (std::hypot(a.x - junction.x, a.y - junction.y) > 3.0 * r) continue;
      for (const Point b : {cv.front(), cv.back()}) {
        if (hypot_within(a.x - b.x, a.y - b.y, r)) return true;
      }
    }
    return false;
  };
  // Whether p lies within a band radius of an end of the curve of grid
  // segment u or v.
  auto ends_near = [&](const Near& u, const Near& v, Point p) {
    for (const Near* n : {&u, &v}) {
      if (!n->open) continue;
      const Polyline& c = (*strokes.curves)[strokes.owner[n->i]];
      for (const Point a : {c.front(), c.back()}) {
        if (hypot_within(a.x - p.x, a.y - p.y, r)) return true;
      }
    }
    return false;
  };
  // Per pair of parts, where they come closest near the junction: the least
  // gap, a tenth of the distance from the junction breaking near ties (a
  // stroke meeting another twice, as a bowl its stem). Parts crossing must do
  // so at an angle; a stroke ending on another meets it at any angle, and so
  // do the two sides of a cusp (a stroke turning back on itself) at the turn.
  // Some meetings are weak, no place of the drawing's when the junction has
  // others: pieces of a broken stroke touching end to end, and a stroke
  // ending on another that runs the same way there (a piece drawn over
  // again, starting inside the other's band). Each pair keeps its best
  // strong meeting, else its best weak one; the weak ones count only where
  // no pair has a strong one. Every meeting of a broken stroke's pieces is
  // weak.
  std::vector<Point> meetings, weak_meetings;
  for (std::size_t x = 0; x < distinct.size(); ++x) {
    for (std::size_t y = x + 1; y < distinct.size(); ++y) {
      const bool same = distinct[x].stroke == distinct[y].stroke;
      const bool broken = !same && ends_touch(distinct[x].segment, distinct[y].segment);
      double best = std::numeric_limits<double>::infinity(), best_weak = best;
      Point at{}, at_weak{};
      // A meeting point lies on one of the two segments, within the gap of
      // the other: the score is at least a tenth of either's distance to the
      // junction, so the lists are read only as far as that can still win.
      std::vector<Near>& second = list_of(distinct[y].stroke);
      const auto second_at = static_cast<std::size_t>(&second - boxes.data());
      const double second_span = widest[second_at];
      const std::vector<Box>& second_blocks = blocks[second_at];
      std::size_t start = 0;
      for (Near& u : list_of(distinct[x].stroke)) {
        if (0.1 * u.from >= best && 0.1 * u.from >= best_weak) break;
        const double low = u.from - second_span - max_gap - slack, high = u.from + u.span() + max_gap + slack;
        while (skips && start < second.size() && second[start].from < low) ++start;
        for (std::size_t k = start; k < second.size(); ++k) {
          if (k == start || k % kBlock == 0) {
            const Box& b = second_blocks[k / kBlock];
            if (std::max({u.x0 - b.x1, b.x0 - u.x1, u.y0 - b.y1, b.y0 - u.y1}) > max_gap) {
              // Were one of them to end the scan, so would the next read:
              // their distances to the junction only grow.
              k = (k / kBlock + 1) * kBlock - 1;
              continue;
            }
          }
          Near& v = second[k];
          if (0.1 * v.from >= best && 0.1 * v.from >= best_weak) break;
          if (skips && v.from > high) break;
          if (same && v.i <= u.i) continue;
          const double box_gap = std::max({u.x0 - v.x1, v.x0 - u.x1, u.y0 - v.y1, v.y0 - u.y1});
          if (box_gap > max_gap) continue;
          // Nor can segments whose boxes lie farther apart than both bests
          // (by more than the rounding of their gap): the gap is never
          // below the boxes' and the score never below the gap.
          if (skips && box_gap - slack >= best && box_gap - slack >= best_weak) continue;
          // Two strokes meet only at an angle or where one ends: segments of
          // neither end running one way need no closer look.
          if (!same && !(u.first || u.last || v.first || v.last)) {
            const std::optional<Point>& du = direction_of(u);
            const std::optional<Point>& dv = direction_of(v);
            if (!(du && dv && std::fabs(du->x * dv->x + du->y * dv->y) < max_cos)) continue;
          }
          const Approach a = closest_approach(u.s.a, u.s.b, v.s.a, v.s.b);
          // The score is never below the gap: a gap that beats neither best
          // needs no distance to the junction.
          if (a.gap > max_gap || !(a.gap < best || a.gap < best_weak)) continue;
          const Point p = a.at;
          const double from = std::sqrt((p.x - junction.x) * (p.x - junction.x) + (p.y - junction.y) * (p.y - junction.y));
          const double score = a.gap + 0.1 * from;
          if (from > reach || !(score < best || score < best_weak)) continue;
          const bool ends_here = a.gap <= r && ((a.end == 0 && u.first) || (a.end == 1 && u.last) ||
                                                (a.end == 2 && v.first) || (a.end == 3 && v.last));
          const std::optional<Point>& di = direction_of(u);
          const std::optional<Point>& dk = direction_of(v);
          const bool at_angle = di && dk && std::fabs(di->x * dk->x + di->y * dk->y) < max_cos;
          // Two parts of one stroke close along it meet only at a cusp. Where
          // nothing else could make them meet, the turn is asked first: it
          // is cheap, and the arc between them is needed only at a turn.
          bool cusp = false;
          if (same && !ends_here && !at_angle) {
            if (!turns_back(u, v) || apart_along(u.i, v.i, a.gap)) continue;
            cusp = true;
          } else if (same && !apart_along(u.i, v.i, a.gap)) {
            cusp = turns_back(u, v);
            if (!cusp) continue;
          }
          const bool stroke_end = cusp || ends_here;
          if (!stroke_end && !at_angle) continue;
          const bool along = !di || !dk || std::fabs(di->x * dk->x + di->y * dk->y) >= max_cos;
          const bool weak = !cusp && (broken || (along && (stroke_end || ends_near(u, v, p))));
          if (weak && score < best_weak) best_weak = score, at_weak = p;
          if (!weak && score < best) best = score, at = p;
        }
      }
      if (std::isfinite(best)) {
        meetings.push_back(at);
      } else if (std::isfinite(best_weak)) {
        weak_meetings.push_back(at_weak);
      }
    }
  }
  if (meetings.empty()) meetings = std::move(weak_meetings);
  if (meetings.empty()) return std::nullopt;
  std::sort(meetings.begin(), meetings.end(), [](Point a, Point b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });
  Point mean{0.0, 0.0};
  for (const Point& m : meetings) mean.x += m.x, mean.y += m.y;
  mean = {mean.x / double(meetings.size()), mean.y / double(meetings.size())};
  // Pairs meeting at different places: the junction gathers more than one
  // meeting, and none of them is its place.
  for (const Point& m : meetings) {
    if (std::hypot(m.x - mean.x, m.y - mean.y) > r) return std::nullopt;
  }
  return mean;
}


namespace {

// Whether the points fall into more than one group, each chained within
// `apart`. The groups do not depend on the order in which pairs are looked
// at: the points are swept by x, each paired only with those less than
// `apart` to its left, and a point met again (many pairs of strokes cross
// at one place) only once; pairs already in one group, or apart along y
// alone, need no distance.
bool groups_swept(std::vector<Point> points, double apart) {
  std::sort(points.begin(), points.end(), [](Point a, Point b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });
  points.erase(std::unique(points.begin(), points.end(), [](Point a, Point b) { return a.x == b.x && a.y == b.y; }),
               points.end());
  const std::size_t m = points.size();
  std::vector<std::size_t> group(m);
  for (std::size_t k = 0; k < m; ++k) group[k] = k;
  auto root = [&](std::size_t k) {
    while (group[k] != k) k = group[k] = group[group[k]];
    return k;
  };
  for (std::size_t k = 1; k < m; ++k) {
    for (std::size_t l = k; l-- > 0;) {
      const double dx = points[k].x - points[l].x, dy = points[k].y - points[l].y;
      if (dx > apart) break;  // and so are all further left
      if (std::fabs(dy) > apart) continue;
      const std::size_t a = root(k), b = root(l);
      if (a == b || std::hypot(dx, dy) > apart) continue;
      group[std::max(a, b)] = std::min(a, b);
    }
  }
  for (std::size_t k = 1; k < m; ++k) {
    if (root(k) != root(0)) return true;
  }
  return false;
}

// The same groups found over cells of half `apart` a side, for the many
// meetings where traces run together: any two points of one cell lie well
// within `apart` of each other, one group, and points more than three cells
// apart along x or y (rounding of the cell numbers aside) lie beyond it. Two
// neighbouring cells are one group as soon as one pair of their points is;
// points too far out (or not finite) for whole cell numbers go the sweep.
bool groups_apart(std::vector<Point> points, double apart) {
  const double side = 0.5 * apart;
  constexpr double kWhole = 4503599627370496.0;  // 2^52
  struct Keyed {
    std::int64_t cx, cy;
    Point p;
  };
  std::vector<Keyed> keyed;
  keyed.reserve(points.size());
  bool cells = side > 0.0 && std::isfinite(apart);
  for (const Point& p : points) {
    if (!cells) break;
    const double qx = std::floor(p.x / side), qy = std::floor(p.y / side);
    cells = std::fabs(qx) < kWhole && std::fabs(qy) < kWhole;
    keyed.push_back({static_cast<std::int64_t>(qx), static_cast<std::int64_t>(qy), p});
  }
  if (!cells) return groups_swept(std::move(points), apart);
  auto before = [](const Keyed& a, std::int64_t cx, std::int64_t cy) { return a.cx < cx || (a.cx == cx && a.cy < cy); };
  std::sort(keyed.begin(), keyed.end(), [&](const Keyed& a, const Keyed& b) { return before(a, b.cx, b.cy); });
  std::vector<std::size_t> start;  // cell k holds keyed[start[k], start[k + 1])
  for (std::size_t i = 0; i < keyed.size(); ++i) {
    if (i == 0 || keyed[i].cx != keyed[i - 1].cx || keyed[i].cy != keyed[i - 1].cy) start.push_back(i);
  }
  const std::size_t m = start.size();
  start.push_back(keyed.size());
  std::vector<std::size_t> group(m);
  for (std::size_t k = 0; k < m; ++k) group[k] = k;
  auto root = [&](std::size_t k) {
    while (group[k] != k) k = group[k] = group[group[k]];
    return k;
  };
  auto touch = [&](std::size_t a, std::size_t b) {
    for (std::size_t i = start[a]; i < start[a + 1]; ++i) {
      for (std::size_t j = start[b]; j < start[b + 1]; ++j) {
        const double dx = keyed[i].p.x - keyed[j].p.x, dy = keyed[i].p.y - keyed[j].p.y;
        if (std::fabs(dx) <= apart && std::fabs(dy) <= apart && std::hypot(dx, dy) <= apart) return true;
      }
    }
    return false;
  };
  // Each pair of cells once: the later cells within three columns and rows.
  for (std::size_t k = 0; k < m; ++k) {
    const std::int64_t cx = keyed[start[k]].cx, cy = keyed[start[k]].cy;
    for (std::int64_t ox = 0; ox <= 3; ++ox) {
      for (std::int64_t oy = ox == 0 ? 1 : -3; oy <= 3; ++oy) {
        const auto at = std::partition_point(start.begin() + static_cast<std::ptrdiff_t>(k + 1), start.end() - 1,
                                             [&](std::size_t s) { return before(keyed[s], cx + ox, cy + oy); });
        if (at == start.end() - 1 || keyed[*at].cx != cx + ox || keyed[*at].cy != cy + oy) continue;
        const auto l = static_cast<std::size_t>(at - start.begin());
        const std::size_t a = root(k), b = root(l);
        if (a == b || !touch(k, l)) continue;
        group[std::max(a, b)] = std::min(a, b);
      }
    }
  }
  for (std::size_t k = 1; k < m; ++k) {
    if (root(k) != root(0)) return true;
  }
  return false;
}

}  // namespace

bool discs_wide(const StrokeIndex& strokes, const std::vector<std::pair<Point, double>>& discs,
                double wide_clearance) {
  if (wide_clearance < 0.0) wide_clearance = kBlotClearance;
  // Only where a disc is wider than one stroke's band at a crossing (a
  // clearance of at most 1.41 band radii): where strokes lie side by side.
  bool wide = wide_clearance == 0.0;
  for (const auto& disc : discs) wide = wide || disc.second > wide_clearance * strokes.max_reach;
  return wide;
}

bool meets_apart(const StrokeIndex& strokes, const std::vector<std::pair<Point, double>>& discs, double apart,
                 double min_angle, std::vector<Point>* found, double wide_clearance) {
  if (discs.empty() || !discs_wide(strokes, discs, wide_clearance)) return false;
  const double r = strokes.max_reach;
  Point lo = discs.front().first, hi = lo;
  for (const auto& [c, radius] : discs) {
    lo = {std::min(lo.x, c.x - radius), std::min(lo.y, c.y - radius)};
    hi = {std::max(hi.x, c.x + radius), std::max(hi.y, c.y + radius)};
  }
  std::vector<std::size_t> near;
  strokes.grid.visit_box({lo.x - r, lo.y - r}, {hi.x + r, hi.y + r}, [&](std::size_t i) { near.push_back(i); });
  std::sort(near.begin(), near.end());
  near.erase(std::unique(near.begin(), near.end()), near.end());
  // A repeat meets what its first drawing meets, at the same places: only
  // first drawings are paired (k copies of two streets would otherwise give
  // k * k copies of each meeting, and the grouping below is quadratic).
  std::erase_if(near, [&](std::size_t i) { return strokes.stroke_of(i) != strokes.owner[i]; });
  auto inside = [&](Point p) {
    for (const auto& [c, radius] : discs) {
      if (hypot_within(p.x - c.x, p.y - c.y, radius)) return true;
    }
    return false;
  };
  const double max_cos = std::cos(min_angle);
  std::vector<Point> meetings, places;
  // Many strokes crowd a junction where traces run together: each
  // segment's box and direction are found once, and
  // pairs whose boxes lie clearly more than a band radius apart are passed
  // over before their closest approach is measured (the slack keeps a pair
  // that rounding could bring within reach).
  struct Near {
    Segment s;
    Point lo, hi;
    double slack;
    bool touches;  // whether its box reaches some disc's
    bool ends;     // whether it ends an open stroke
    bool direction_known = false;
    std::optional<Point> direction;
  };
  std::vector<Near> seen(near.size());
  for (std::size_t x = 0; x < near.size(); ++x) {
    Near& n = seen[x];
    n.s = strokes.segment(near[x]);
    n.lo = {std::min(n.s.a.x, n.s.b.x), std::min(n.s.a.y, n.s.b.y)};
    n.hi = {std::max(n.s.a.x, n.s.b.x), std::max(n.s.a.y, n.s.b.y)};
    const double scale = std::max({std::fabs(n.lo.x), std::fabs(n.lo.y), std::fabs(n.hi.x), std::fabs(n.hi.y)});
    n.slack = 1e-9 * (scale + r);
    n.touches = false;
    for (const auto& [c, radius] : discs) {
      const double margin = n.slack + 1e-9 * (std::max(std::fabs(c.x), std::fabs(c.y)) + radius);
      const bool clear = n.hi.x + margin < c.x - radius || n.lo.x - margin > c.x + radius ||
                         n.hi.y + margin < c.y - radius || n.lo.y - margin > c.y + radius;
      n.touches = n.touches || !clear;
    }
  }
  // A segment that reaches no disc meets another inside one only where it
  // ends its stroke, on the other (a crossing lies on both, any other
  // meeting on the segment whose stroke does not end there): the rest
  // need no pairs.
  {
    std::size_t kept = 0;
    for (std::size_t x = 0; x < near.size(); ++x) {
      const Polyline& c = (*strokes.curves)[strokes.owner[near[x]]];
      const std::size_t k = strokes.vertex[near[x]];
      seen[x].ends = (k == 1 || k + 1 == c.size()) && !closes(c, r);
      if (!seen[x].touches && !seen[x].ends) continue;
      near[kept] = near[x];
      seen[kept] = seen[x];
      ++kept;
    }
    near.resize(kept);
    seen.resize(kept);
  }
  auto direction_of = [&](std::size_t x) -> const std::optional<Point>& {
    Near& n = seen[x];
    if (!n.direction_known) n.direction = stroke_direction(strokes, near[x]), n.direction_known = true;
    return n.direction;
  };
  // The pairs are swept along x: each segment is paired only with those
  // whose boxes start within reach past its own end (in order of where they
  // start), the lower index of the two taking the first part. Every place a
  // pair meets lies on one of its two segments (their crossing on both): a
  // pair neither of which reaches a disc meets inside none, so the sweep
  // starts only from segments that reach one, looking both ways, and the
  // pairs found are then taken in the order of the whole sweep.
  double widest_slack = 0.0;
  for (const Near& n : seen) widest_slack = std::max(widest_slack, n.slack);
  std::vector<std::size_t> by_x(near.size());
  for (std::size_t k = 0; k < by_x.size(); ++k) by_x[k] = k;
  std::sort(by_x.begin(), by_x.end(), [&](std::size_t a, std::size_t b) {
    return seen[a].lo.x < seen[b].lo.x || (seen[a].lo.x == seen[b].lo.x && a < b);
  });
  // Twice the widest slack: past rounding, even where the other's slack is the widest.
  auto right_of = [&](std::size_t at) {
    const Near& n = seen[by_x[at]];
    return n.hi.x + r + n.slack + 2.0 * widest_slack;
  };
  // The furthest right any segment up to each place in the sweep reaches.
  std::vector<double> reach_so_far(by_x.size());
  for (std::size_t at = 0; at < by_x.size(); ++at) {
    reach_so_far[at] = at == 0 ? right_of(at) : std::max(reach_so_far[at - 1], right_of(at));
  }
  auto boxes_near = [&](std::size_t at_a, std::size_t at_b) {
    const Near& nu = seen[by_x[at_a]];
    const Near& nv = seen[by_x[at_b]];
    const double reach = r + nu.slack + nv.slack;
    return !(nv.lo.x - nu.hi.x > reach || nu.lo.x - nv.hi.x > reach || nv.lo.y - nu.hi.y > reach ||
             nu.lo.y - nv.hi.y > reach);
  };
  // Those before a segment that reaches a disc, reaching it and no disc
  // themselves (the others start their own look forward), kept by where
  // they come in the sweep and then by the one they reach.
  std::vector<std::pair<std::size_t, std::size_t>> back;
  for (std::size_t at = 0; at < by_x.size(); ++at) {
    if (!seen[by_x[at]].touches) continue;
    const double left = seen[by_x[at]].lo.x;
    for (std::size_t at_a = at; at_a-- > 0 && !(left > reach_so_far[at_a]);) {
      if (!seen[by_x[at_a]].touches && !(left > right_of(at_a)) && boxes_near(at_a, at)) back.emplace_back(at_a, at);
    }
  }
  std::vector<std::size_t> first_back(by_x.size() + 1, 0);
  for (const auto& pair : back) ++first_back[pair.first + 1];
  for (std::size_t at = 0; at < by_x.size(); ++at) first_back[at + 1] += first_back[at];
  std::vector<std::size_t> back_to(back.size());
  {
    std::vector<std::size_t> fill(first_back.begin(), first_back.end() - 1);
    for (const auto& [at_a, at] : back) back_to[fill[at_a]++] = at;
  }
  // Whether the part of the boxes of a and b that both share (with their
  // slacks: a crossing found on them lies off it by far less) reaches a disc.
  auto crossing_inside = [&](const Near& a, const Near& b) {
    const double margin = a.slack + b.slack;
    const double x0 = std::max(a.lo.x, b.lo.x) - margin, x1 = std::min(a.hi.x, b.hi.x) + margin;
    const double y0 = std::max(a.lo.y, b.lo.y) - margin, y1 = std::min(a.hi.y, b.hi.y) + margin;
    if (x0 > x1 || y0 > y1) return false;
    for (const auto& [c, radius] : discs) {
      const double reach = radius + 1e-9 * (std::max(std::fabs(c.x), std::fabs(c.y)) + radius);
      const double dx = std::max({x0 - c.x, 0.0, c.x - x1}), dy = std::max({y0 - c.y, 0.0, c.y - y1});
      if (dx <= reach && dy <= reach && dx * dx + dy * dy <= reach * reach) return true;
    }
    return false;
  };
  auto meet = [&](std::size_t at_a, std::size_t at_b) {
    const std::size_t x = std::min(by_x[at_a], by_x[at_b]), y = std::max(by_x[at_a], by_x[at_b]);
    const Near& nu = seen[x];
    const Near& nv = seen[y];
    const std::size_t u = near[x], v = near[y];
    if (strokes.stroke_of(u) == strokes.stroke_of(v)) return;
    // Segments neither of which ends its stroke meet only where they
    // cross, inside both boxes.
    if (!nu.ends && !nv.ends && !crossing_inside(nu, nv)) return;
    // Strokes running the same way (traces along one street) never meet.
    const std::optional<Point>& du = direction_of(x);
    const std::optional<Point>& dv = direction_of(y);
    if (!du || !dv || std::fabs(du->x * dv->x + du->y * dv->y) >= max_cos) return;
    const Segment su = nu.s, sv = nv.s;
    const Approach a = closest_approach(su.a, su.b, sv.a, sv.b);
    if (a.gap > r) return;
    // Where they cross; else where an end of either lies within a band
    // radius of the other, every such end and not only the nearest (which
    // of two equally near a stroke's repeat drawn the other way names
    // first is a matter of order).
    places.clear();
    if (a.end == -1) {
      places.push_back(a.at);
    } else {
      const Polyline& cu = (*strokes.curves)[strokes.owner[u]];
      const Polyline& cv = (*strokes.curves)[strokes.owner[v]];
      const bool ring_u = closes(cu, r), ring_v = closes(cv, r);
      auto end_on = [&](Point p, bool is_end, const Segment& other) {
        if (!is_end) return;
        const Point f = nearest_on_segment(p, other.a, other.b);
        if (hypot_within(p.x - f.x, p.y - f.y, r)) places.push_back(f);
      };
      end_on(su.a, !ring_u && strokes.vertex[u] == 1, sv);
      end_on(su.b, !ring_u && strokes.vertex[u] + 1 == cu.size(), sv);
      end_on(sv.a, !ring_v && strokes.vertex[v] == 1, su);
      end_on(sv.b, !ring_v && strokes.vertex[v] + 1 == cv.size(), su);
    }
    for (const Point& at : places) {
      if (inside(at)) meetings.push_back(at);
    }
  };
  for (std::size_t at_a = 0; at_a < by_x.size(); ++at_a) {
    if (seen[by_x[at_a]].touches) {
      const double right = right_of(at_a);
      for (std::size_t at_b = at_a + 1; at_b < by_x.size() && !(seen[by_x[at_b]].lo.x > right); ++at_b) {
        if (boxes_near(at_a, at_b)) meet(at_a, at_b);
      }
    } else {
      for (std::size_t k = first_back[at_a]; k < first_back[at_a + 1]; ++k) meet(at_a, back_to[k]);
    }
  }
  // Places apart are groups of meetings, each chained within `apart`, more
  // than `apart` from each other: many noisy strokes drawn over one street
  // meet those of a crossing street all over the crossing, one group.
  const bool spread = groups_apart(meetings, apart);
  if (spread && found != nullptr) *found = std::move(meetings);
  return spread;
}

}  // namespace strokegraph
