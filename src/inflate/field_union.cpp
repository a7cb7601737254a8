// The union of round bands of one radius as the level set of the distance to
// the curves (see field_union.h): segments bucketed into horizontal strips of
// grid rows, each strip's distances and marching squares computed on their
// own, and the squares' pieces of outline linked into rings.
#include "inflate/field_union.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <tuple>
#include <utility>

#include "common/progress.h"
#include "parallel/pool.h"

namespace strokegraph {
namespace {

// Grid rows (of squares) per strip.
constexpr std::size_t kStripRows = 64;

// Below this many segments and vertices the strips run on the calling thread.
constexpr std::size_t kParallelFeatures = 8192;

struct Grid {
  double ox = 0.0, oy = 0.0, h = 1.0;
  std::int64_t width = 0, height = 0;  // nodes per row, rows of nodes
  std::vector<double> column_x;        // x(i) for every column, read by the inner loops
  double x(std::int64_t i) const { return ox + double(i) * h; }
  double y(std::int64_t j) const { return oy + double(j) * h; }
};

// What the distance to a curve is made of: the distance to the line of a
// segment where a point projects inside the segment, and the distance to a
// vertex where the point lies in the vertex's wedge (past the end of the
// segment arriving there and short of the start of the one leaving it; a
// curve's ends take the half plane past them). Every point's nearest place on
// a curve lies in one of these regions, so the least value over the pieces
// whose region holds a node is the node's distance to the curves. Each
// region is far smaller than the disc around a segment: where points lie
// closer together than the radius, the discs of neighbouring segments cover
// each other several times over.
struct Feature {
  Point a, b;       // the segment, or the vertex (a)
  Point in, out;    // at a vertex: the unit directions of the arriving and the leaving segment
  Point u;          // of a segment: its unit direction
  double length = 0.0;
  bool vertex = false, has_in = false, has_out = false;
};

// The points of all curves one after another, repeats dropped, with which
// neighbours belong to the same curve. Feature 2k is the vertex at point k,
// 2k + 1 the segment from point k to point k + 1.
struct Points {
  std::vector<Point> at;
  std::vector<unsigned char> links;  // bit 0: joined to the previous point, bit 1: to the next
};

constexpr unsigned char kJoinedBefore = 1, kJoinedAfter = 2;

Point unit_between(Point p, Point q, double* length = nullptr) {
  const double dx = q.x - p.x, dy = q.y - p.y;
  const double l = std::sqrt(dx * dx + dy * dy);
  if (length != nullptr) *length = l;
  return {dx / l, dy / l};
}

Feature feature_of(const Points& pts, std::uint32_t id) {
  const std::size_t k = id / 2;
  Feature f;
  f.a = pts.at[k];
  if (id % 2 == 1) {
    f.b = pts.at[k + 1];
    f.u = unit_between(f.a, f.b, &f.length);
    return f;
  }
  f.vertex = true;
  if (pts.links[k] & kJoinedBefore) f.in = unit_between(pts.at[k - 1], f.a), f.has_in = true;
  if (pts.links[k] & kJoinedAfter) f.out = unit_between(f.a, pts.at[k + 1]), f.has_out = true;
  return f;
}

// The y range a feature reaches within `reach`.
std::pair<double, double> feature_rows(const Points& pts, std::uint32_t id, double reach) {
  const std::size_t k = id / 2;
  double lo = pts.at[k].y, hi = lo;
  if (id % 2 == 1) lo = std::min(lo, pts.at[k + 1].y), hi = std::max(hi, pts.at[k + 1].y);
  return {lo - reach, hi + reach};
}

// The y range of a vertex's region within `reach`, widened by `slack`: the
// sector between its two boundary rays (perpendicular to the arriving
// segment on the side away from the leaving one, and perpendicular to the
// leaving one on the side of the arriving one), which where a curve runs
// nearly straight is a sliver of the disc; the whole disc at a curve's end.
std::pair<double, double> wedge_rows(const Feature& f, double reach, double slack) {
  if (!(f.has_in && f.has_out)) return {f.a.y - reach - slack, f.a.y + reach + slack};
  Point r1{-f.in.y, f.in.x};
  if (r1.x * f.out.x + r1.y * f.out.y > 0.0) r1 = {-r1.x, -r1.y};
  Point r2{-f.out.y, f.out.x};
  if (r2.x * f.in.x + r2.y * f.in.y < 0.0) r2 = {-r2.x, -r2.y};
  double lo = std::min({0.0, r1.y, r2.y}), hi = std::max({0.0, r1.y, r2.y});
  if (f.in.y >= 0.0 && f.out.y <= 0.0) hi = 1.0;   // the sector holds straight up
  if (f.in.y <= 0.0 && f.out.y >= 0.0) lo = -1.0;  // and straight down
  return {f.a.y + reach * lo - slack, f.a.y + reach * hi + slack};
}

// The y range of a segment's region within `reach` (the rectangle along it,
// past its line by `reach`), widened by `pad`. Past that range a row's two
// ranges in x (from the ends' perpendiculars and from the lines at `reach`)
// part at least twice as fast as the row moves away from the rectangle's
// corner where their borders meet, so with `pad` above twice the slack and
// the rounding, region_on_row finds the row empty even once widened by the
// slack. Segments near an axis (where one range spans all x and the other
// none) keep the range of the discs around their ends.
std::pair<double, double> segment_rows(const Feature& f, double reach, double pad) {
  const double lo = std::min(f.a.y, f.b.y), hi = std::max(f.a.y, f.b.y);
  if (!(std::fabs(f.u.x) >= 1e-3 && std::fabs(f.u.y) >= 1e-3)) return {lo - reach, hi + reach};
  const double side = std::min(reach, reach * std::fabs(f.u.x) + pad);
  return {lo - side, hi + side};
}

// Narrows [lo, hi] to the x with lo_c <= (x - x0) k + c <= hi_c.
void narrow(double k, double c, double lo_c, double hi_c, double x0, double& lo, double& hi) {
  if (k == 0.0) {
    if (!(c >= lo_c && c <= hi_c)) lo = 1.0, hi = 0.0;
    return;
  }
  double a = (lo_c - c) / k, b = (hi_c - c) / k;
  if (a > b) std::swap(a, b);
  lo = std::max(lo, x0 + a);
  hi = std::min(hi, x0 + b);
}

// As narrow with one bound open: lo_c <= (x - x0) k + c when `above`, else
// (x - x0) k + c <= hi_c (the bound is `b`).
void narrow_half(double k, double c, double b, bool above, double x0, double& lo, double& hi) {
  if (k == 0.0) {
    if (!(above ? c >= b : c <= b)) lo = 1.0, hi = 0.0;
    return;
  }
  const double t = (b - c) / k;
  if ((k > 0.0) == above) lo = std::max(lo, x0 + t);
  else hi = std::min(hi, x0 + t);
}

// The x range of the row y of the feature's region within `reach` (lo > hi:
// none), widened by `slack` so that rounding drops no node on the border
// between two regions.
std::pair<double, double> region_on_row(const Feature& f, double reach, double y, double slack) {
  const double inf = std::numeric_limits<double>::infinity();
  double lo = -inf, hi = inf;
  const double q = y - f.a.y;
  if (f.vertex) {
    if (std::fabs(q) > reach) return {1.0, 0.0};
    const double half = std::sqrt(reach * reach - q * q);
    lo = f.a.x - half, hi = f.a.x + half;
    // Past the arriving segment: (p - a) . in >= 0; short of the leaving
    // one: (p - a) . out <= 0.
    // One side of each is open, so only its closed bound is worked out.
    if (f.has_in) narrow_half(f.in.x, q * f.in.y, -slack, true, f.a.x, lo, hi);
    if (f.has_out) narrow_half(f.out.x, q * f.out.y, slack, false, f.a.x, lo, hi);
  } else {
    // Projecting inside: 0 <= (p - a) . u <= length; within reach of the line.
    narrow(f.u.x, q * f.u.y, -slack, f.length + slack, f.a.x, lo, hi);
    narrow(f.u.y, -q * f.u.x, -reach, reach, f.a.x, lo, hi);
  }
  return {lo - slack, hi + slack};
}

// A piece of outline across one square, from one grid edge's crossing to
// another's. Edge ids: 2 * node for the edge to the node's right, 2 * node +
// 1 for the edge above it (node = row * width + column).
struct Piece {
  std::uint64_t from, to;
  Point at;  // where the outline crosses edge `from`
};

struct StripOut {
  std::vector<Piece> pieces;
};

// A node's value: its distance minus the radius, from its squared distance
// capped at the reach (`far`: the reach squared; `far_value`: the reach minus
// the radius).
struct Level {
  float far, far_value;
  double radius;
  float operator()(float v) const {
    return v < far ? static_cast<float>(std::sqrt(double(v)) - radius) : far_value;
  }
};

// The least squared distance whose value is not below zero. The value never
// falls as the squared distance grows, so a node is inside exactly when its
// squared distance lies below this; found by bisection over the order of the
// non-negative floats' bit patterns.
float inside_threshold(const Level& level) {
  auto from_bits = [](std::uint32_t b) {
    float x;
    std::memcpy(&x, &b, sizeof x);
    return x;
  };
  std::uint32_t lo = 0, hi = 0;  // value(lo) < 0 <= value(hi)
  std::memcpy(&hi, &level.far, sizeof hi);
  if (!(level(0.0f) < 0.0f)) return 0.0f;
  while (hi - lo > 1) {
    const std::uint32_t mid = lo + (hi - lo) / 2;
    (level(from_bits(mid)) < 0.0f ? lo : hi) = mid;
  }
  return from_bits(hi);
}

// Squared distances (capped at the reach) at the nodes of rows j0..j1
// (inclusive), then the pieces of the squares whose lower row is j0..j1-1.
void run_strip(const Grid& g, const Points& pts, const std::uint32_t* mine, std::size_t count,
               std::int64_t j0, std::int64_t j1, double radius, double reach, float inside_below,
               StripOut& out) {
  const std::int64_t w = g.width;
  const std::int64_t rows = j1 - j0 + 1;
  // Squared distances first, capped at the reach.
  std::vector<float> f(std::size_t(w * rows), static_cast<float>(reach * reach));
  const double slack = 1e-6 * g.h;
  const double inv_h = 1.0 / g.h;
  // Grid index of a coordinate offset, rounded up or down; clamped to
  // [-1, limit] first (the ranges lie inside the grid up to rounding).
  auto first_at_or_above = [](double x, std::int64_t limit) {
    x = std::clamp(x, -1.0, double(limit));
    std::int64_t i = static_cast<std::int64_t>(x);
    return i + (double(i) < x ? 1 : 0);
  };
  auto last_at_or_below = [](double x, std::int64_t limit) {
    x = std::clamp(x, -1.0, double(limit));
    std::int64_t i = static_cast<std::int64_t>(x);
    return i - (double(i) > x ? 1 : 0);
  };
  for (std::size_t m = 0; m < count; ++m) {
    const Feature e = feature_of(pts, mine[m]);
    const auto [ylo, yhi] =
        e.vertex ? wedge_rows(e, reach, slack)
                 : segment_rows(e, reach,
                                2.0 * slack + 1e-9 * (std::fabs(g.oy) + std::fabs(e.a.x) +
                                                      std::fabs(e.a.y) + e.length + reach + g.h));
    const std::int64_t r0 = std::max(j0, first_at_or_above((ylo - g.oy) * inv_h, g.height));
    const std::int64_t r1 = std::min(j1, last_at_or_below((yhi - g.oy) * inv_h, g.height));
    for (std::int64_t j = r0; j <= r1; ++j) {
      const double y = g.y(j);
      const auto [lo, hi] = region_on_row(e, reach, y, slack);
      if (!(lo <= hi)) continue;
      const std::int64_t c0 = std::max<std::int64_t>(0, first_at_or_above((lo - g.ox) * inv_h, w));
      const std::int64_t c1 = std::min<std::int64_t>(w - 1, last_at_or_below((hi - g.ox) * inv_h, w));
      float* row = f.data() + (j - j0) * w;
      const double* xs = g.column_x.data();
      const double q = y - e.a.y;
      if (e.vertex) {
        for (std::int64_t i = c0; i <= c1; ++i) {
          const double px = xs[i] - e.a.x;
          row[i] = std::min(row[i], static_cast<float>(px * px + q * q));
        }
      } else {
        const double qx = q * e.u.x;
        for (std::int64_t i = c0; i <= c1; ++i) {
          const double cross = (xs[i] - e.a.x) * e.u.y - qx;
          row[i] = std::min(row[i], static_cast<float>(cross * cross));
        }
      }
    }
  }
  // The nodes keep their squared distances: whether a node is inside is
  // decided by the threshold, and its level is worked out only at the
  // corners of the squares the outline crosses.
  const Level level{static_cast<float>(reach * reach), static_cast<float>(reach - radius), radius};
  auto at = [&](std::int64_t i, std::int64_t j) { return f[std::size_t((j - j0) * w + i)]; };
  auto edge_point = [&](std::int64_t i, std::int64_t j, bool up) {
    const double fa = level(at(i, j)), fb = level(up ? at(i, j + 1) : at(i + 1, j));
    const double t = fa / (fa - fb);
    return up ? Point{g.x(i), g.y(j) + t * g.h} : Point{g.x(i) + t * g.h, g.y(j)};
  };
  // Each node's side once; a square is skipped when its two columns of
  // corners agree and are both inside or both outside.
  std::vector<unsigned char> side_of(static_cast<std::size_t>(w * rows));
  for (std::size_t k = 0; k < side_of.size(); ++k) side_of[k] = f[k] < inside_below ? 1 : 0;
  std::vector<unsigned char> pair(static_cast<std::size_t>(w));
  for (std::int64_t j = j0; j < j1; ++j) {
    const unsigned char* lower = side_of.data() + (j - j0) * w;
    const unsigned char* upper = lower + w;
    for (std::int64_t i = 0; i < w; ++i) pair[i] = static_cast<unsigned char>(lower[i] | (upper[i] << 1));
    for (std::int64_t i = 0; i + 1 < w; ++i) {
      // Eight uniform squares at a time: pairs i..i+8 all alike.
      while (i + 9 < w) {
        std::uint64_t a, b;
        std::memcpy(&a, pair.data() + i, 8);
        std::memcpy(&b, pair.data() + i + 1, 8);
        if (a != b || !(a == 0 || a == 0x0303030303030303ull)) break;
        i += 8;
      }
      if (pair[i] == pair[i + 1] && (pair[i] == 0 || pair[i] == 3)) continue;
      // Corners counter-clockwise from the lower left.
      const float d[4] = {at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)};
      const bool in[4] = {lower[i] != 0, lower[i + 1] != 0, upper[i + 1] != 0, upper[i] != 0};
      const float v[4] = {level(d[0]), level(d[1]), level(d[2]), level(d[3])};
      const std::uint64_t node = std::uint64_t(j * w + i);
      const std::uint64_t above = std::uint64_t((j + 1) * w + i);
      // The square's sides walked counter-clockwise: bottom (0 -> 1),
      // right (1 -> 2), top (2 -> 3), left (3 -> 0).
      const std::uint64_t side_edge[4] = {2 * node, 2 * (node + 1) + 1, 2 * above, 2 * node + 1};
      std::uint64_t cross[4];
      int side[4];
      bool exits[4];
      int n = 0;
      for (int e = 0; e < 4; ++e) {
        if (in[e] == in[(e + 1) % 4]) continue;
        cross[n] = side_edge[e];
        side[n] = e;
        exits[n] = in[e];  // leaving the inside along the walk
        ++n;
      }
      // Inside on the left: a piece runs from where the walk leaves the
      // inside to where it enters. Two such pairs in a saddle: the pieces cut
      // off the outside corners when the square's mean is inside, else the
      // inside corners. Each crossing is left in exactly one of the two
      // squares its edge borders, so its point is computed once.
      const bool centre_in = (double(v[0]) + v[1] + v[2] + v[3]) < 0.0;
      for (int c = 0; c < n; ++c) {
        if (!exits[c]) continue;
        const int to = (n == 2 || centre_in) ? (c + 1) % n : (c + n - 1) % n;
        const int e = side[c];
        const std::int64_t ci = (e == 1) ? i + 1 : i, cj = (e == 2) ? j + 1 : j;
        out.pieces.push_back({cross[c], cross[to], edge_point(ci, cj, e == 1 || e == 3)});
      }
    }
  }
}

}  // namespace

std::optional<std::vector<Ring>> round_band_union(const std::vector<Polyline>& curves,
                                                  double radius, double cell, double max_nodes) {
  const double r = std::fabs(radius);
  if (!(r > 0.0) || !std::isfinite(r) || !(cell > 0.0)) return std::nullopt;
  Points pts;
  double xmin = std::numeric_limits<double>::infinity(), ymin = xmin, xmax = -xmin, ymax = -xmin;
  for (const Polyline& c : curves) {
    for (const Point& p : c) {
      if (!std::isfinite(p.x) || !std::isfinite(p.y)) return std::nullopt;
      xmin = std::min(xmin, p.x), xmax = std::max(xmax, p.x);
      ymin = std::min(ymin, p.y), ymax = std::max(ymax, p.y);
    }
    if (c.size() < 2) continue;  // no band, as the offsetter gives none
    const std::size_t first = pts.at.size();
    for (const Point& p : c) {
      if (pts.at.size() > first && p == pts.at.back()) continue;
      if (pts.at.size() > first) pts.links.back() |= kJoinedAfter;
      pts.at.push_back(p);
      pts.links.push_back(pts.at.size() > first + 1 ? kJoinedBefore : 0);
    }
  }
  if (pts.at.empty()) return std::vector<Ring>{};
  if (pts.at.size() >= (std::size_t{1} << 31)) return std::nullopt;
  std::vector<std::uint32_t> features;
  features.reserve(2 * pts.at.size());
  for (std::size_t k = 0; k < pts.at.size(); ++k) {
    features.push_back(std::uint32_t(2 * k));
    if (pts.links[k] & kJoinedAfter) features.push_back(std::uint32_t(2 * k + 1));
  }
  Grid g;
  g.h = cell;
  // Two cells beyond the reach: the outermost rows and columns stay outside.
  const double reach = r + 1.5 * cell;
  const double margin = reach + 2.0 * cell;
  g.ox = xmin - margin, g.oy = ymin - margin;
  const double w = std::floor((xmax - xmin + 2.0 * margin) / cell) + 2.0;
  const double hgt = std::floor((ymax - ymin + 2.0 * margin) / cell) + 2.0;
  if (!(w * hgt <= max_nodes) || !(w < 2e9 && hgt < 2e9)) return std::nullopt;
  g.width = std::int64_t(w), g.height = std::int64_t(hgt);
  g.column_x.resize(std::size_t(g.width));
  for (std::int64_t i = 0; i < g.width; ++i) g.column_x[std::size_t(i)] = g.x(i);

  // Segments by strip: strip s computes node rows s*kStripRows ..
  // (s+1)*kStripRows (its squares' rows and the one above).
  const std::int64_t rows = std::int64_t(kStripRows);
  const std::size_t strips = std::size_t((g.height - 1 + rows - 1) / rows);
  std::vector<std::size_t> count(strips + 1, 0);
  auto strip_range = [&](std::uint32_t id) {
    const auto [ylo_at, yhi_at] = feature_rows(pts, id, reach);
    const double ylo = (ylo_at - g.oy) / g.h;
    const double yhi = (yhi_at - g.oy) / g.h;
    const std::int64_t lo = std::max<std::int64_t>(0, (std::int64_t(std::floor(ylo)) - 1) / rows);
    const std::int64_t hi = std::min<std::int64_t>(std::int64_t(strips) - 1, std::int64_t(std::ceil(yhi)) / rows);
    return std::pair<std::size_t, std::size_t>{std::size_t(lo), std::size_t(hi)};
  };
  for (std::uint32_t id : features) {
    const auto [lo, hi] = strip_range(id);
    for (std::size_t t = lo; t <= hi; ++t) ++count[t + 1];
  }
  for (std::size_t t = 0; t < strips; ++t) count[t + 1] += count[t];
  std::vector<std::uint32_t> members(count[strips]);
  {
    std::vector<std::size_t> at(count.begin(), count.end() - 1);
    for (std::uint32_t id : features) {
      const auto [lo, hi] = strip_range(id);
      for (std::size_t t = lo; t <= hi; ++t) members[at[t]++] = id;
    }
  }
  const std::size_t feature_count = features.size();
  features = {};
  std::vector<StripOut> parts(strips);
  const float inside_below =
      inside_threshold({static_cast<float>(reach * reach), static_cast<float>(reach - r), r});
  parallel_for(
      strips,
      [&](std::size_t t) {
        checkpoint();
        if (count[t] == count[t + 1]) return;
        const std::int64_t j0 = std::int64_t(t) * rows;
        const std::int64_t j1 = std::min(g.height - 1, j0 + rows);
        run_strip(g, pts, members.data() + count[t], count[t + 1] - count[t], j0, j1, r, reach,
                  inside_below, parts[t]);
      },
      feature_count >= kParallelFeatures);
  members = {};

  // Link the pieces: each crossing is left by exactly one piece and entered
  // by exactly one.
  std::vector<Piece> pieces;
  std::size_t total = 0;
  for (const StripOut& part : parts) total += part.pieces.size();
  pieces.reserve(total);
  for (StripOut& part : parts) {
    pieces.insert(pieces.end(), part.pieces.begin(), part.pieces.end());
    part = {};
  }
  auto by_from = [](const Piece& a, const Piece& b) { return a.from < b.from; };
  std::sort(pieces.begin(), pieces.end(), by_from);
  std::vector<char> used(pieces.size(), 0);
  std::vector<Ring> rings;
  for (std::size_t start = 0; start < pieces.size(); ++start) {
    if (used[start]) continue;
    Ring ring;
    std::size_t k = start;
    while (!used[k]) {
      used[k] = 1;
      ring.push_back(pieces[k].at);
      const auto next = std::lower_bound(pieces.begin(), pieces.end(), Piece{pieces[k].to, 0, {}}, by_from);
      if (next == pieces.end() || next->from != pieces[k].to) return std::nullopt;
      k = std::size_t(next - pieces.begin());
    }
    if (k != start) return std::nullopt;
    rings.push_back(std::move(ring));
  }
  return rings;
}

}  // namespace strokegraph
