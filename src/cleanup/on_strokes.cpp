// Chains laid on the strokes they follow. A skeleton line sits midway
// between strokes whose bands overlap and cuts across where bands meet; the
// strokes themselves are where the drawing's lines are. Each chain is read
// point by point, every point offered the strokes that hold it and run its
// way, and the cheapest walk over those offers (distance moved, plus a cost
// per change of stroke) decides where each point goes: one pass over the
// chain, a handful of offers per point.
#include "cleanup/on_strokes.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "cleanup/cleanup.h"
#include "cleanup/pass_util.h"
#include "common/progress.h"
#include "common/rdp.h"
#include "common/spare.h"
#include "parallel/pool.h"

namespace strokegraph {
namespace {

// Chains per task on the worker pool: each is read every half radius against
// the strokes near it (microseconds a chain), so a drawing of a thousand
// chains spreads over the pool while a glyph's few stay inline.
constexpr std::size_t kPlacedChainsPerTask = 128;
// Offers kept per point at most (the nearest strokes): more strokes side by
// side than this in one band do not happen in drawings.
constexpr std::size_t kMaxOffers = 4;
// x band radius: two strokes offered to one point this near each other are
// one line drawn over (a sketch's overdrawn stroke, traces of one street),
// whose skeleton line already lies amid them: the point stays.
constexpr double kOverdrawn = 0.5;
// No point is read more densely than this many per chain point and step.
constexpr double kMaxSamples = 1 << 20;

// A point of a stroke offered to a chain point.
struct Offer {
  std::size_t stroke = 0;  // the stroke (its first curve)
  std::size_t curve = 0;
  double at = 0.0;         // position along the curve: segment's first point index + fraction
  Point where;
  double cost = 0.0;       // distance from the chain point
};

struct Sample {
  Point p;
  double run = 0.0;  // arc length from the chain's start
};

void samples_of(const Polyline& chain, double step, std::vector<Sample>& out) {
  out.clear();
  double run = 0.0;
  for (std::size_t k = 0; k + 1 < chain.size(); ++k) {
    const Point a = chain[k], b = chain[k + 1];
    const double len = std::hypot(b.x - a.x, b.y - a.y);
    out.push_back({a, run});
    const double pieces = std::min(std::floor(len / step), kMaxSamples);
    const auto n = static_cast<std::size_t>(pieces);
    for (std::size_t j = 1; j < n; ++j) {
      const double t = static_cast<double>(j) / static_cast<double>(n);
      out.push_back({{a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t}, run + len * t});
    }
    run += len;
  }
  out.push_back({chain.back(), run});
}

// The chain's unit direction around sample k: from the sample `reach` (> 0)
// of arc length behind it to the one `reach` ahead (both clamped to the
// chain). `lo` and `hi` hold those samples for an earlier k, or 0: arc
// lengths that only grow (all finite) let both walk on from there.
Point direction_at(const std::vector<Sample>& s, std::size_t k, double reach, std::size_t& lo, std::size_t& hi) {
  if (std::isfinite(s.back().run)) {
    // The last sample at least `reach` behind k (the first when none is).
    while (lo + 1 < k && s[k].run - s[lo + 1].run >= reach) ++lo;
    hi = std::max(hi, k);
  } else {
    lo = k, hi = k;
    while (lo > 0 && s[k].run - s[lo].run < reach) --lo;
  }
  while (hi + 1 < s.size() && s[hi].run - s[k].run < reach) ++hi;
  const double dx = s[hi].p.x - s[lo].p.x, dy = s[hi].p.y - s[lo].p.y;
  const double len = std::hypot(dx, dy);
  if (!(len > 0.0)) return {0.0, 0.0};
  return {dx / len, dy / len};
}

// A curve's chord over a band radius either way of its segment `seg` (from
// point seg to seg + 1), as found for an earlier point.
struct Chord {
  std::size_t curve = std::numeric_limits<std::size_t>::max();
  std::size_t seg = 0;
  double dx = 0.0, dy = 0.0, len = 0.0;
};
constexpr std::size_t kChords = 64;  // chords kept, by curve and segment

// The offers of the strokes that hold p and run within `max_cos` of d: per
// stroke its nearest point, the nearest strokes first (then by stroke).
// `chords` (kChords of them) keeps the strokes' chords from point to point,
// `seen` the segments around the last point; `slot` (one per curve, all 0)
// finds a stroke's offer while they are gathered.
void offers_at(const StrokeIndex& strokes, Point p, Point d, double max_cos, std::vector<Offer>& offers,
               std::vector<Chord>& chords, SegmentsSeen& seen, std::vector<std::uint32_t>& slot) {
  offers.clear();
  const double r = strokes.max_reach;
  for (const SegmentRead& g : segments_in_box(strokes, {p.x - r, p.y - r}, {p.x + r, p.y + r}, seen)) {
    if (g.stroke != g.owner) continue;  // a repeat: its first drawing serves
    const Segment seg = g.s;
    const double reach = g.reach;
    const double sx = seg.b.x - seg.a.x, sy = seg.b.y - seg.a.y;
    // A segment whose box lies clearly beyond reach offers nothing (the
    // margin lies far above the rounding of its foot and of the squares).
    const double beyond =
        reach * (1.0 + 1e-9) + 1e-9 * (std::fabs(p.x) + std::fabs(p.y) + std::fabs(sx) + std::fabs(sy));
    if (std::min(seg.a.x, seg.b.x) - p.x > beyond || p.x - std::max(seg.a.x, seg.b.x) > beyond ||
        std::min(seg.a.y, seg.b.y) - p.y > beyond || p.y - std::max(seg.a.y, seg.b.y) > beyond) {
      continue;
    }
    const double t = nearest_param(p, seg.a, seg.b);
    const Point q{seg.a.x + sx * t, seg.a.y + sy * t};
    const double d2 = (p.x - q.x) * (p.x - q.x) + (p.y - q.y) * (p.y - q.y);
    if (d2 > reach * reach) continue;
    const double dist = std::sqrt(d2);
    const std::size_t stroke = g.stroke;
    const double at = static_cast<double>(g.vertex - 1) + t;
    if (slot[stroke] == 0) {
      offers.push_back({stroke, g.owner, at, q, dist});
      slot[stroke] = static_cast<std::uint32_t>(offers.size());
      continue;
    }
    Offer& o = offers[slot[stroke] - 1];
    if (dist < o.cost || (dist == o.cost && at < o.at)) o = {stroke, g.owner, at, q, dist};
  }
  for (const Offer& o : offers) slot[o.stroke] = 0;
  // Nearest first, the first kMaxOffers that run the chain's way kept.
  std::sort(offers.begin(), offers.end(), [](const Offer& a, const Offer& b) {
    return a.cost != b.cost ? a.cost < b.cost : a.stroke < b.stroke;
  });
  // Strokes running across the chain offer nothing: judged over a band
  // radius of the stroke, so that a stroke's jitter does not count.
  auto across = [&](const Offer& o) {
    const Polyline& c = (*strokes.curves)[o.curve];
    const std::size_t seg = std::min(static_cast<std::size_t>(o.at), c.size() - 2);
    Chord& chord = chords[(o.curve * 31 + seg) % kChords];
    if (chord.curve != o.curve || chord.seg != seg) {
      std::size_t lo = seg, hi = lo + 1;
      for (double run = 0.0; lo > 0 && run < r; --lo) run += strokes.length(o.curve, lo);
      for (double run = 0.0; hi + 1 < c.size() && run < r; ++hi) run += strokes.length(o.curve, hi + 1);
      const double dx = c[hi].x - c[lo].x, dy = c[hi].y - c[lo].y;
      chord = {o.curve, seg, dx, dy, std::hypot(dx, dy)};
    }
    return !(chord.len > 0.0) || std::fabs(chord.dx * d.x + chord.dy * d.y) < max_cos * chord.len;
  };
  std::size_t kept = 0;
  for (std::size_t k = 0; k < offers.size() && kept < kMaxOffers; ++k) {
    if (!across(offers[k])) offers[kept++] = offers[k];
  }
  offers.resize(kept);
}

// Whether two of the offers lie within `near` of each other.
bool overdrawn(const std::vector<Offer>& offers, double near) {
  for (std::size_t a = 0; a < offers.size(); ++a) {
    for (std::size_t b = a + 1; b < offers.size(); ++b) {
      if (std::hypot(offers[a].where.x - offers[b].where.x, offers[a].where.y - offers[b].where.y) <= near) return true;
    }
  }
  return false;
}

// Arc length along curve c between positions a and b.
double arc_between(const Polyline& c, double a, double b) {
  if (a > b) std::swap(a, b);
  auto at = [&](double u) {
    const auto k = std::min(static_cast<std::size_t>(u), c.size() - 2);
    const double t = u - static_cast<double>(k);
    return Point{c[k].x + (c[k + 1].x - c[k].x) * t, c[k].y + (c[k + 1].y - c[k].y) * t};
  };
  double len = 0.0;
  Point prev = at(a);
  for (auto k = static_cast<std::size_t>(std::floor(a)) + 1; static_cast<double>(k) < b; ++k) {
    len += std::hypot(c[k].x - prev.x, c[k].y - prev.y);
    prev = c[k];
  }
  const Point end = at(b);
  return len + std::hypot(end.x - prev.x, end.y - prev.y);
}

// Buffers reused from chain to chain.
struct Scratch {
  std::vector<Sample> samples;
  std::vector<Offer> found;     // one point's offers while gathered
  std::vector<Offer> offers;    // every point's offers, point after point
  std::vector<std::size_t> first;  // first[k]: sample k's first offer; first[n]: their count
  std::vector<double> cost;     // per sample and state: sample k's states from first[k] + k
  std::vector<std::uint8_t> from;
  std::vector<std::uint8_t> state;
  std::vector<Chord> chords = std::vector<Chord>(kChords);
  SegmentsSeen seen;
  std::vector<std::uint32_t> slot;
  Polyline out;                  // the placed chain before simplification
  std::vector<char> keep;        // its points that simplification keeps
  std::vector<std::pair<std::size_t, std::size_t>> spans;

  std::size_t bytes() const {
    return samples.capacity() * sizeof(Sample) + (found.capacity() + offers.capacity()) * sizeof(Offer) +
           first.capacity() * sizeof(std::size_t) + cost.capacity() * sizeof(double) + from.capacity() +
           state.capacity() + chords.capacity() * sizeof(Chord) + seen.read.capacity() * sizeof(SegmentRead) + slot.capacity() * sizeof(std::uint32_t) +
           out.capacity() * sizeof(Point) + keep.capacity() + spans.capacity() * sizeof(spans[0]);
  }
};

Polyline placed(const Polyline& chain, const StrokeIndex& strokes, const StrokePlacement& rules, Scratch& scratch) {
  samples_of(chain, rules.step, scratch.samples);
  const std::vector<Sample>& samples = scratch.samples;
  const std::size_t n = samples.size();
  const double stay_cost = strokes.max_reach;
  const double max_cos = std::cos(rules.max_turn);
  const double total = samples.back().run;
  // Sample k's offers are all_offers[first[k], first[k + 1]); state 0 is
  // staying, state j > 0 offer j - 1.
  std::vector<Offer>& all_offers = scratch.offers;
  std::vector<std::size_t>& first = scratch.first;
  all_offers.clear();
  first.assign(n + 1, 0);
  std::size_t lo = 0, hi = 0;
  for (std::size_t k = 1; k + 1 < n; ++k) {
    first[k] = all_offers.size();
    if (samples[k].run < rules.skip_ends || total - samples[k].run < rules.skip_ends) continue;
    const Point d = direction_at(samples, k, strokes.max_reach, lo, hi);
    if (d.x == 0.0 && d.y == 0.0) continue;
    offers_at(strokes, samples[k].p, d, max_cos, scratch.found, scratch.chords, scratch.seen, scratch.slot);
    if (!overdrawn(scratch.found, kOverdrawn * strokes.max_reach)) {
      all_offers.insert(all_offers.end(), scratch.found.begin(), scratch.found.end());
    }
  }
  first[n - 1] = first[n] = all_offers.size();
  if (all_offers.empty()) return chain;
  auto count = [&](std::size_t k) { return first[k + 1] - first[k]; };
  auto offer = [&](std::size_t k, std::size_t j) -> const Offer& { return all_offers[first[k] + j]; };
  // The cheapest walk: cost of (k, j) the least cost of samples 0..k with
  // sample k in state j; from of (k, j) the state of sample k - 1 on that walk.
  std::vector<double>& cost = scratch.cost;
  std::vector<std::uint8_t>& from = scratch.from;
  cost.assign(first[n] + n, 0.0);
  from.assign(first[n] + n, 0);
  auto slot = [&](std::size_t k) { return first[k] + k; };
  auto stroke_of = [&](std::size_t k, std::size_t j) {
    return j == 0 ? std::numeric_limits<std::size_t>::max() : offer(k, j - 1).stroke;
  };
  for (std::size_t k = 1; k < n; ++k) {
    const std::size_t states = count(k) + 1, before = count(k - 1) + 1;
    const double* prev_cost = cost.data() + slot(k - 1);
    for (std::size_t j = 0; j < states; ++j) {
      const double own = j == 0 ? (count(k) == 0 ? 0.0 : stay_cost) : offer(k, j - 1).cost;
      const std::size_t stroke = stroke_of(k, j);
      double best = std::numeric_limits<double>::infinity();
      std::uint8_t best_from = 0;
      for (std::size_t i = 0; i < before; ++i) {
        const double c = prev_cost[i] + (stroke_of(k - 1, i) == stroke ? 0.0 : rules.switch_cost);
        if (c < best) best = c, best_from = static_cast<std::uint8_t>(i);
      }
      cost[slot(k) + j] = best + own;
      from[slot(k) + j] = best_from;
    }
  }
  std::vector<std::uint8_t>& state = scratch.state;
  state.assign(n, 0);
  for (std::size_t k = n - 1; k > 0; --k) state[k - 1] = from[slot(k) + state[k]];
  state[n - 1] = 0;  // ends stay
  state[0] = 0;

  Polyline& out = scratch.out;
  out.clear();
  out.push_back(chain.front());
  for (std::size_t k = 1; k < n; ++k) {
    const std::size_t j = state[k];
    if (j == 0) {
      out.push_back(samples[k].p);
      continue;
    }
    const Offer& o = offer(k, j - 1);
    const std::size_t prev = state[k - 1];
    if (prev != 0 && offer(k - 1, prev - 1).curve == o.curve) {
      // The stroke's own points between the two, where the stroke runs
      // between them about as far as the chain does (not round a loop).
      const Offer& p = offer(k - 1, prev - 1);
      const Polyline& c = (*strokes.curves)[o.curve];
      const double chain_step = samples[k].run - samples[k - 1].run;
      if (arc_between(c, p.at, o.at) <= 2.0 * chain_step + 2.0 * stay_cost) {
        // The curve's points strictly between the two positions, in the
        // chain's order.
        if (p.at < o.at) {
          for (auto v = static_cast<std::size_t>(std::floor(p.at)) + 1; static_cast<double>(v) < o.at; ++v) {
            out.push_back(c[v]);
          }
        } else if (p.at > o.at) {
          for (auto v = static_cast<std::size_t>(std::ceil(p.at)); v > 0 && static_cast<double>(v - 1) > o.at; --v) {
            out.push_back(c[v - 1]);
          }
        }
      }
    }
    out.push_back(o.where);
  }
  out.back() = chain.back();
  std::size_t kept = 1;
  for (std::size_t k = 1; k < out.size(); ++k) {
    if (!(out[k] == out[kept - 1])) out[kept++] = out[k];
  }
  out.resize(kept);
  if (out.size() < 2) return chain;
  if (!(rules.simplification > 0.0) || out.size() < 3) return out;
  scratch.keep.assign(out.size(), 0);
  rdp_mark(out.data(), out.size(), rules.simplification, scratch.keep.data(), scratch.spans);
  Polyline simple;
  simple.reserve(static_cast<std::size_t>(std::count(scratch.keep.begin(), scratch.keep.end(), 1)));
  for (std::size_t k = 0; k < out.size(); ++k) {
    if (scratch.keep[k]) simple.push_back(out[k]);
  }
  return simple;
}

}  // namespace

void place_on_strokes(std::vector<Polyline>& chains, const StrokeIndex& strokes, const StrokePlacement& rules) {
  if (chains.empty() || strokes.curves == nullptr || !(strokes.max_reach > 0.0) || !(rules.step > 0.0)) return;
  parallel_ranges(chains.size(), kPlacedChainsPerTask, [&](std::size_t begin, std::size_t end) {
    Borrowed<Scratch> scratch;
    // The caches speak of the last call's strokes: forgotten.
    scratch->chords.assign(kChords, Chord{});
    scratch->seen.known = false;
    scratch->slot.assign(strokes.curves->size(), 0);
    for (std::size_t i = begin; i < end; ++i) {
      checkpoint();
      if (chains[i].size() >= 2) chains[i] = placed(chains[i], strokes, rules, *scratch);
    }
  });
  if (rules.unfold_step > 0.0) unfold_chains(chains, rules.unfold_step);
}

}  // namespace strokegraph
