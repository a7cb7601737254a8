#include "boundary/resample.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "common/progress.h"

namespace strokegraph {

namespace {

constexpr double kPi = std::numbers::pi;

std::size_t plus_one(std::size_t n) { return n == SIZE_MAX ? n : n + 1; }

double edge_length(const Point& a, const Point& b) {
  const double dy = b.y - a.y, dx = b.x - a.x;
  return std::sqrt(dy * dy + dx * dx);
}

// a[i] = arc length from points[0] to points[i], summed in order.
std::vector<double> cumulative_lengths(const std::vector<Point>& points) {
  std::vector<double> a(points.size(), 0.0);
  for (std::size_t i = 1; i < points.size(); ++i) {
    a[i] = a[i - 1] + edge_length(points[i - 1], points[i]);
  }
  return a;
}

// The point at arc length t. The cursor j only moves forward; a target equal
// to a repeated cumulative length stays at the end of the earlier segment.
Point locate(const std::vector<Point>& points, const std::vector<double>& a, double t,
             std::size_t& j) {
  const std::size_t m = points.size();
  while (j + 1 < m && a[j + 1] < t) ++j;
  if (j + 1 == m) return points[m - 1];
  const double d = a[j + 1] - a[j];
  const double f = d > 1e-12 ? (t - a[j]) / d : 0.0;
  const Point& p = points[j];
  const Point& q = points[j + 1];
  return {p.x + f * (q.x - p.x), p.y + f * (q.y - p.y)};
}

// resample_span_open returning at most `limit` points.
std::vector<Point> uniform_span(const std::vector<Point>& points, double spacing,
                                std::size_t limit, const PointBudget& budget) {
  const std::size_t m = points.size();
  if (m <= 1) return points;
  if (limit < 2) throw_too_dense(budget, name_value("spacing", spacing));
  const std::vector<double> a = cumulative_lengths(points);
  const double total = a[m - 1];
  if (total <= 1e-12) return {points.front(), points.back()};
  const std::uint32_t k = saturating_u32(std::round(total / spacing));
  const std::uint32_t g = k >= 2 ? k : 1;
  if (static_cast<std::size_t>(g) + 1 > limit) {
    throw_too_dense(budget, name_value("spacing", spacing));
  }
  std::vector<Point> out;
  out.reserve(static_cast<std::size_t>(g) + 1);
  std::size_t j = 0;
  for (std::uint32_t s = 0;; ++s) {
    poll(s);
    const double t = (total * static_cast<double>(s)) / static_cast<double>(g);
    out.push_back(locate(points, a, t, j));
    if (s == g) break;
  }
  return out;
}

// adaptive_resample_span_open returning at most `limit` points.
std::vector<Point> adaptive_span(const std::vector<Point>& points, const CurvatureIndex& index,
                                 double spacing, double buffer_distance, double ratio,
                                 std::size_t limit, const PointBudget& budget) {
  const std::size_t m = points.size();
  if (m <= 1) return points;
  const std::vector<double> a = cumulative_lengths(points);
  const double s = spacing, b = buffer_distance;
  const auto too_dense = [&] {
    throw_too_dense(budget, name_value("spacing", s) + " with " + name_value("buffer_distance", b) +
                                " and " + name_value("ratio", ratio));
  };
  if (limit < 2) too_dense();
  const double total = a[m - 1];
  if (total <= 1e-12) return {points.front(), points.back()};

  const double reach = 10.0 * b;
  const double min_step = std::fmin(b * ratio, s);
  // No step is longer than max(spacing, 1e-6): a span that long needs at
  // least this many samples whatever the corners say.
  if (total / std::fmax(s, 1e-6) - 2.0 > static_cast<double>(limit)) too_dense();

  std::vector<Point> out{points.front()};
  double walked = 0.0;
  std::size_t j = 0;
  NearCorners near;
  for (;;) {
    poll(out.size());
    const Point here = out.back();
    const double g = max_angle_near(index, here.x, here.y, 3.0 * b, 4.0 * b, &near);
    double h;
    if (g <= 1e-9) {
      h = s;
    } else if (s / g >= reach) {
      h = s;
    } else {
      h = s * std::sqrt((s / g) / reach);
      if (h < min_step) h = min_step;
      if (h > s) h = s;
    }
    if (!(h > 1e-6)) h = 1e-6;
    walked = walked + h;
    if (walked >= total - 0.5 * h) break;
    if (out.size() + 2 > limit) too_dense();
    out.push_back(locate(points, a, walked, j));
  }
  out.push_back(points.back());
  return out;
}

// The shared frame of uniform and adaptive ring resampling; span_fn(span,
// limit) resamples one open span into at most `limit` points.
template <class SpanFn>
Ring resample_by_spans(const Ring& ring, double spacing, double corner_angle, std::size_t limit,
                       const SpanFn& span_fn) {
  const std::size_t n = ring.size();
  if (n < 3 || spacing <= 0.0) return ring;
  const std::vector<std::size_t> anchors = corner_anchors(ring, corner_angle);
  if (!anchors.empty()) {
    Ring result;
    for (std::size_t i = 0; i < anchors.size(); ++i) {
      const std::size_t next = anchors[(i + 1) % anchors.size()];
      const std::vector<Point> span = ring_span(ring, anchors[i], next);
      // Every sample but the last joins the result: the last is the next anchor.
      const std::vector<Point> samples = span_fn(span, plus_one(limit - result.size()));
      result.insert(result.end(), samples.begin(), samples.end() - 1);
    }
    if (result.size() < 3) return ring;
    return result;
  }
  std::vector<Point> closed = ring;
  closed.push_back(ring[0]);
  std::vector<Point> samples = span_fn(closed, plus_one(limit));
  if (samples.size() <= 3) return ring;
  samples.pop_back();
  return samples;
}

}  // namespace

void append_edge_splits(std::vector<Point>& out, const Point& a, const Point& b, std::uint32_t k) {
  const double pieces = static_cast<double>(k);
  for (std::uint32_t j = 1; j < k; ++j) {
    const double f = static_cast<double>(j) / pieces;
    out.push_back({a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f});
  }
}

std::vector<Point> ring_span(const Ring& ring, std::size_t from, std::size_t to) {
  const std::size_t n = ring.size();
  std::vector<Point> span{ring[from]};
  std::size_t q = (from + 1) % n;
  for (;;) {
    span.push_back(ring[q]);
    if (q == to) break;
    q = (q + 1) % n;
  }
  return span;
}

std::vector<Point> resample_span_open(const std::vector<Point>& points, double spacing,
                                      const PointBudget& budget) {
  return uniform_span(points, spacing, std::max(budget.max_points, points.size()), budget);
}

Ring resample_ring(const Ring& ring, double spacing, double corner_angle,
                   const PointBudget& budget) {
  return resample_by_spans(ring, spacing, corner_angle, std::max(budget.max_points, ring.size()),
                           [&](const std::vector<Point>& span, std::size_t limit) {
                             return uniform_span(span, spacing, limit, budget);
                           });
}

std::vector<Point> adaptive_resample_span_open(const std::vector<Point>& points,
                                               const CurvatureIndex& index, double spacing,
                                               double buffer_distance, double ratio,
                                               const PointBudget& budget) {
  return adaptive_span(points, index, spacing, buffer_distance, ratio,
                       std::max(budget.max_points, points.size()), budget);
}

Ring resample_ring_adaptive(const Ring& ring, const CurvatureIndex& index, double spacing,
                            double buffer_distance, double ratio, double corner_angle,
                            const PointBudget& budget) {
  return resample_by_spans(ring, spacing, corner_angle, std::max(budget.max_points, ring.size()),
                           [&](const std::vector<Point>& span, std::size_t limit) {
                             return adaptive_span(span, index, spacing, buffer_distance, ratio,
                                                  limit, budget);
                           });
}

std::vector<Point> refine_ring_stretch(const Ring& ring, const CurvatureIndex& index,
                                       double buffer_distance, double ratio, std::size_t begin,
                                       std::size_t end, const PointBudget& budget) {
  const std::size_t n = ring.size(), count = end - begin;
  const double b = buffer_distance;
  const std::size_t limit = std::max(budget.max_points, count);
  std::vector<Point> out;
  out.reserve(count);
  std::size_t inserted = 0;
  NearCorners near;
  for (std::size_t i = begin; i < end; ++i) {
    poll(i);
    const Point& a = ring[i];
    const Point& next = ring[(i + 1) % n];
    out.push_back(a);
    const double r = max_angle_near(index, (a.x + next.x) * 0.5, (a.y + next.y) * 0.5, 3.0 * b,
                                    4.0 * b, &near);
    if (r < kPi / 12.0) continue;  // too gentle: the edge is left alone
    double rc = std::isnan(r) ? kPi / 2.0 : r;
    if (rc > kPi / 2.0) rc = kPi / 2.0;
    double t = (rc - kPi / 12.0) / (5.0 * kPi / 12.0);
    t = std::clamp(t, 0.0, 1.0);
    const double target = b + (b * ratio - b) * (t * t);
    const double length = edge_length(a, next);
    if (!(length > target)) continue;
    const std::uint32_t k = saturating_u32(std::ceil(length / target));
    if (k < 2) continue;
    if (count + inserted + (k - 1) > limit) {
      throw_too_dense(budget,
                      name_value("buffer_distance", b) + " with " + name_value("ratio", ratio));
    }
    append_edge_splits(out, a, next, k);
    inserted += k - 1;
  }
  return out;
}

Ring refine_ring_from_index(const Ring& ring, const CurvatureIndex& index, double buffer_distance,
                            double ratio, const PointBudget& budget) {
  if (ring.size() < 3 || ratio <= 0.0) return ring;
  return refine_ring_stretch(ring, index, buffer_distance, ratio, 0, ring.size(), budget);
}

}  // namespace strokegraph
