// Taubin smoothing of a chain: a shrinking and an inflating Laplacian step per
// iteration; both end points stay fixed.
#include "graph/graph.h"

namespace strokegraph {
namespace {

// Moves every inner point by `factor` towards the midpoint of its neighbours,
// reading only the state before the step.
void laplacian_step(std::vector<Point>& cur, std::vector<Point>& prev, double factor) {
  prev = cur;
  for (std::size_t k = 1; k + 1 < cur.size(); ++k) {
    cur[k].x = prev[k].x + factor * ((prev[k - 1].x + prev[k + 1].x) * 0.5 - prev[k].x);
    cur[k].y = prev[k].y + factor * ((prev[k - 1].y + prev[k + 1].y) * 0.5 - prev[k].y);
  }
}

}  // namespace

std::vector<Point> smooth_chain_taubin(const std::vector<Point>& points, unsigned iterations,
                                       double lambda, double mu) {
  std::vector<Point> cur = points;
  if (cur.size() < 3) return cur;
  std::vector<Point> prev(cur.size());
  for (unsigned i = 0; i < iterations; ++i) {
    laplacian_step(cur, prev, lambda);
    laplacian_step(cur, prev, mu);
  }
  return cur;
}

}  // namespace strokegraph
