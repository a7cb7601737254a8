#include "provenance/sources.h"

#include <algorithm>
#include <utility>
#include <cmath>

#include "common/errors.h"
#include "common/progress.h"
#include "common/spare.h"
#include "parallel/pool.h"
#include "spatial/stroke_index.h"

namespace strokegraph {
namespace {

// Chains per task on the worker pool (a few microseconds a chain, so that a
// drawing of a thousand chains already spreads over it); each task clears
// counters over all curves once.
constexpr std::size_t kChainsPerTask = 512;
// Samples per chain at most: a chain far longer than the band (a radius far
// below the drawing's scale) is sampled more coarsely instead of without
// bound.
constexpr double kMaxSamples = 1 << 20;

double dist(const Point& p, const Point& q) { return std::hypot(q.x - p.x, q.y - p.y); }

// Points every `step` (> 0) of arc length from `from` to `to` along the
// polyline (both included); one point where a step no longer advances.
void sample(const Polyline& p, double from, double to, double step, std::vector<Point>& out) {
  out.clear();
  double run = 0.0;
  double next = from;
  for (std::size_t k = 1; k < p.size() && next <= to; ++k) {
    const double len = dist(p[k - 1], p[k]);
    while (next <= to && next <= run + len) {
      const double t = len > 0.0 ? (next - run) / len : 0.0;
      out.push_back({p[k - 1].x + (p[k].x - p[k - 1].x) * t, p[k - 1].y + (p[k].y - p[k - 1].y) * t});
      if (!(next + step > next)) return;
      next += step;
    }
    run += len;
  }
  if (out.empty() && !p.empty()) out.push_back(p.front());
}

// One task's buffers, borrowed from its thread (see Borrowed): a small
// drawing's call allocates none of them.
struct Scratch {
  std::vector<Point> samples;
  SegmentsSeen seen;  // samples a fraction of a cell apart mostly touch the same cells
  std::vector<std::size_t> hits, stamp, touched;

  std::size_t bytes() const {
    return samples.capacity() * sizeof(Point) + seen.read.capacity() * sizeof(SegmentRead) +
           (hits.capacity() + stamp.capacity() + touched.capacity()) * sizeof(std::size_t);
  }
};

}  // namespace

std::vector<std::vector<std::size_t>> chain_sources(
    const std::vector<Polyline>& chains, const std::vector<std::pair<std::size_t, std::size_t>>& ends,
    const StrokeIndex& strokes, double radius) {
  if (ends.size() != chains.size()) throw InvariantError("chain_sources: one node pair per chain expected");
  std::vector<std::vector<std::size_t>> sources(chains.size());
  if (chains.empty() || !(radius > 0.0) || !std::isfinite(radius)) return sources;

  const double max_reach = strokes.max_reach;

  std::vector<std::size_t> degree;
  for (const auto& [a, b] : ends) degree.resize(std::max({degree.size(), a + 1, b + 1}), 0);
  for (const auto& [a, b] : ends) ++degree[a], ++degree[b];

  const double step = radius * 0.5;
  const std::size_t curve_count = strokes.curves != nullptr ? strokes.curves->size() : 0;
  // Chains in ranges on the worker pool, each range with its own counters.
  parallel_ranges(chains.size(), kChainsPerTask, [&](std::size_t first, std::size_t last) {
    Borrowed<Scratch> scratch;
    std::vector<Point>& samples = scratch->samples;
    SegmentsSeen& seen = scratch->seen;
    seen.known = false;  // its cells were another call's strokes'
    std::vector<std::size_t>& hits = scratch->hits;
    std::vector<std::size_t>& stamp = scratch->stamp;
    std::vector<std::size_t>& touched = scratch->touched;
    hits.assign(curve_count, 0);
    stamp.assign(curve_count, 0);
    std::size_t sample_id = 0;
    for (std::size_t i = first; i < last; ++i) {
      const Polyline& p = chains[i];
      double length = 0.0;
      for (std::size_t k = 1; k < p.size(); ++k) length += dist(p[k - 1], p[k]);
      const bool closed = ends[i].first == ends[i].second;
      const double skip_start = !closed && degree[ends[i].first] >= 3 ? 2.0 * radius : 0.0;
      const double skip_end = !closed && degree[ends[i].second] >= 3 ? 2.0 * radius : 0.0;
      double from = skip_start, to = length - skip_end;
      if (to < from) from = to = 0.5 * length;
      const double chain_step = std::max(step, (to - from) / kMaxSamples);
      sample(p, from, to, chain_step, samples);

      touched.clear();
      for (const Point& q : samples) {
        poll(sample_id);
        ++sample_id;
        for (const SegmentRead& g :
             segments_in_box(strokes, {q.x - max_reach, q.y - max_reach}, {q.x + max_reach, q.y + max_reach}, seen)) {
          const std::size_t c = g.owner;
          if (stamp[c] == sample_id || point_segment_distance_within(q, g.s, g.reach) > g.reach) continue;
          stamp[c] = sample_id;
          if (hits[c]++ == 0) touched.push_back(c);
        }
      }
      // Coverage is counted in whole steps between samples: half of a
      // stretch shorter than a step asks for one sample, not for more than
      // the samples can show.
      const double covered_min = std::floor(std::min(radius, 0.5 * (to - from)) / step + 1e-9) * step;
      std::sort(touched.begin(), touched.end());
      std::size_t most = 0;
      for (std::size_t c : touched) {
        const double covered = static_cast<double>(hits[c] > 0 ? hits[c] - 1 : 0) * chain_step;
        if (covered >= covered_min - 1e-12) sources[i].push_back(c);
        most = std::max(most, hits[c]);
      }
      // A chain that lies in some band has a source: the curves that hold
      // the most of its samples when none covers enough of it.
      if (sources[i].empty()) {
        for (std::size_t c : touched) {
          if (hits[c] == most) sources[i].push_back(c);
        }
      }
      for (std::size_t c : touched) hits[c] = 0;
    }
  });
  return sources;
}

}  // namespace strokegraph
