// The chains' last touches: free ends moved half a width short of the
// band's end (where the stroke ends), and inner points where a chain turns
// back over a short step dropped.
#include "cleanup/cleanup.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "cleanup/pass_util.h"
#include "common/errors.h"
#include "common/flat_map.h"
#include "graph/graph_util.h"
#include "parallel/pool.h"

namespace strokegraph {
namespace {

using graph_detail::distance;
using cleanup_detail::kChainsPerTask;

}  // namespace

void place_free_ends(std::vector<Polyline>& chains, const std::vector<Chain>& walked,
                     const SegmentGrid& boundary, double radius) {
  if (chains.size() != walked.size()) throw InvariantError("place_free_ends: one chain per walk expected");
  const double max_cos = std::cos(150.0 * 3.14159265358979323846 / 180.0);
  auto place = [&](Polyline& p, bool at_end) {
    // A chain that ran out to the band's end and turned back along another
    // spoke of the cap (two strokes ending side by side) ends where it
    // turned: read from the turned-back tip, its direction would point back
    // into the stroke.
    while (p.size() >= 3) {
      const std::size_t m = p.size();
      const Point a = at_end ? p[m - 3] : p[2], b = at_end ? p[m - 2] : p[1], c = at_end ? p[m - 1] : p[0];
      const double ux = b.x - a.x, uy = b.y - a.y, vx = c.x - b.x, vy = c.y - b.y;
      const double lu = std::hypot(ux, uy), lv = std::hypot(vx, vy);
      if (!(lu > 0.0 && lv > 0.0) || lv > 2.0 * radius || ux * vx + uy * vy >= max_cos * lu * lv) break;
      p.erase(at_end ? p.end() - 1 : p.begin());
    }
    const std::size_t n = p.size();
    if (n < 2) return;
    auto at = [&](std::size_t k) -> Point& { return at_end ? p[n - 1 - k] : p[k]; };
    const Point tip = at(0);
    // The point a radius back along the chain (or the far end).
    double run = 0.0;
    std::size_t k = 1;
    Point back = at(1);
    for (; k < n; ++k) {
      const double step = distance(at(k - 1), at(k));
      if (run + step >= radius && step > 0.0) {
        const double t = (radius - run) / step;
        back = {at(k - 1).x + (at(k).x - at(k - 1).x) * t, at(k - 1).y + (at(k).y - at(k - 1).y) * t};
        break;
      }
      run += step;
      back = at(k);
    }
    const double len = distance(back, tip);
    if (!(len > 0.0)) return;
    const Point d{(tip.x - back.x) / len, (tip.y - back.y) / len};
    const double reach = 4.0 * radius;
    const double half = boundary.distance_within(back, reach);
    if (!(half > 0.0) || half >= reach) return;
    const double hit = boundary.ray_distance(tip, d, reach);
    if (hit >= reach) return;
    // The ray starts at the tip, so hit >= 0 and the move is never below
    // -half; it is at most one band width.
    const double move = std::min(hit - half, 2.0 * half);
    const Point placed{tip.x + d.x * move, tip.y + d.y * move};
    // The skeleton of a round cap fans out into spokes, one to every vertex of
    // its arc, and the chain may run out along one and turn back: the points
    // past the placed end go, so that the chain does not fold there.
    std::size_t past = 0;
    while (past + 2 < n) {
      const Point& q = at(past + 1);
      if ((q.x - placed.x) * d.x + (q.y - placed.y) * d.y < 0.0) break;
      ++past;
    }
    if (past > 0) {
      if (at_end) {
        p.erase(p.end() - static_cast<std::ptrdiff_t>(past), p.end());
      } else {
        p.erase(p.begin(), p.begin() + static_cast<std::ptrdiff_t>(past));
      }
    }
    (at_end ? p.back() : p.front()) = placed;
  };
  parallel_ranges(chains.size(), kChainsPerTask, [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
      if (walked[i].start_node == walked[i].end_node) continue;
      if (walked[i].end_is_tip) place(chains[i], true);
      if (walked[i].start_is_tip) place(chains[i], false);
    }
  });
}

void unfold_chains(std::vector<Polyline>& chains, double max_step) {
  const double max_cos = std::cos(150.0 * 3.14159265358979323846 / 180.0);
  // Whether the chain turns back at b, between a and c, with a short step.
  auto spike = [&](Point a, Point b, Point c) {
    const double ux = b.x - a.x, uy = b.y - a.y, vx = c.x - b.x, vy = c.y - b.y;
    const double lu = std::hypot(ux, uy), lv = std::hypot(vx, vy);
    if (!(lu > 0.0 && lv > 0.0) || std::min(lu, lv) > max_step) return false;
    return ux * vx + uy * vy < max_cos * lu * lv;
  };
  parallel_ranges(chains.size(), kChainsPerTask, [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
      Polyline& p = chains[i];
      if (p.size() < 3) continue;
      std::size_t kept = 1;
      for (std::size_t k = 1; k < p.size(); ++k) {
        p[kept++] = p[k];
        while (kept >= 3 && spike(p[kept - 3], p[kept - 2], p[kept - 1])) {
          p[kept - 2] = p[kept - 1];
          --kept;
        }
      }
      p.resize(kept);
    }
  });
}

}  // namespace strokegraph
