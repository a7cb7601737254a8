#include "pipeline/postprocess.h"

#include <algorithm>
#include <limits>

#include "common/errors.h"
#include "common/progress.h"
#include "common/rdp.h"
#include "parallel/pool.h"

namespace strokegraph {
namespace {

// X moves halfway to its foot on the line through A and B (extended past B).
void straighten(const Point& a, const Point& b, Point& x) {
  const double dx = b.x - a.x;
  const double dy = b.y - a.y;
  const double dd = dx * dx + dy * dy;
  if (dd == 0.0) return;
  const double t = ((x.x - b.x) * dx + (x.y - b.y) * dy) / dd;
  const double qx = b.x + t * dx;
  const double qy = b.y + t * dy;
  x.x = (x.x + qx) * 0.5;
  x.y = (x.y + qy) * 0.5;
}

}  // namespace

void straighten_free_ends(std::vector<Point>& p, bool start_is_tip, bool end_is_tip) {
  const std::size_t n = p.size();
  if (n < 3) return;
  if (end_is_tip) straighten(p[n - 3], p[n - 2], p[n - 1]);
  if (start_is_tip) straighten(p[2], p[1], p[0]);
}

std::vector<Polyline> finish_chains(const std::vector<Chain>& chains, double simplification) {
  std::vector<Polyline> out(chains.size());
  // Each chain on its own: on the worker pool, in ranges.
  parallel_ranges(chains.size(), 2048, [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
      poll(i);
      const Chain& chain = chains[i];
      std::vector<Point> p = smooth_chain_taubin(chain.points, 3, 0.5, -0.53);
      straighten_free_ends(p, chain.start_is_tip, chain.end_is_tip);
      if (simplification > 0.0) p = rdp(p, simplification);
      out[i] = std::move(p);
    }
  });
  return out;
}

NumberedNodes number_nodes(const std::vector<Chain>& chains,
                           const std::vector<Polyline>& final_points) {
  if (chains.size() != final_points.size()) {
    throw InvariantError("number_nodes: one point list per chain expected");
  }
  NodeId max_id = 0;
  for (const Chain& c : chains) max_id = std::max({max_id, c.start_node, c.end_node});
  constexpr std::size_t unset = std::numeric_limits<std::size_t>::max();
  std::vector<std::size_t> output_id(chains.empty() ? 0 : std::size_t{max_id} + 1, unset);

  NumberedNodes out;
  out.chain_node_ids.reserve(chains.size());
  for (std::size_t i = 0; i < chains.size(); ++i) {
    const Polyline& pts = final_points[i];
    if (pts.empty()) throw InvariantError("number_nodes: a chain has no points");
    auto id_of = [&](NodeId node, const Point& position) {
      if (output_id[node] == unset) {
        output_id[node] = out.nodes.size();
        out.nodes.push_back(position);
      }
      return output_id[node];
    };
    const std::size_t start = id_of(chains[i].start_node, pts.front());
    const std::size_t end = id_of(chains[i].end_node, pts.back());
    out.chain_node_ids.emplace_back(start, end);
  }
  return out;
}

}  // namespace strokegraph
