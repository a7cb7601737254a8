// Skeleton segments to graph: endpoints snap onto a square grid of cells.
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

#include "common/errors.h"
#include "common/progress.h"
#include "common/flat_map.h"
#include "common/numeric.h"
#include "graph/graph.h"
#include "graph/graph_util.h"

namespace strokegraph {
namespace {

// k + d, or nothing when the neighbouring cell lies beyond the key range.
std::optional<std::int64_t> step(std::int64_t k, int d) {
  if (d > 0 && k == std::numeric_limits<std::int64_t>::max()) return std::nullopt;
  if (d < 0 && k == std::numeric_limits<std::int64_t>::min()) return std::nullopt;
  return k + d;
}

struct Builder {
  double tolerance;
  Graph graph;
  FlatMap<CellKey, NodeId, CellKeyHash> cells;
  FlatMap<std::uint64_t, char, MixHash> pairs;

  NodeId lookup(const Point& p) {
    const CellKey k{round_saturating(p.x / tolerance), round_saturating(p.y / tolerance)};
    if (const NodeId* id = cells.find(k)) return *id;
    // The first claimed cell of the 3 x 3 block, dx outer, dy inner. The
    // cell then belongs to that node too, so claims chain across cells.
    for (int dx = -1; dx <= 1; ++dx) {
      const auto x = step(k.x, dx);
      if (!x) continue;
      for (int dy = -1; dy <= 1; ++dy) {
        const auto y = step(k.y, dy);
        if (!y) continue;
        if (const NodeId* found = cells.find(CellKey{*x, *y})) {
          const NodeId id = *found;
          cells.try_emplace(k, id);
          return id;
        }
      }
    }
    if (graph.nodes.size() >= std::numeric_limits<NodeId>::max()) {
      throw MemoryLimitError("segments_to_graph: too many skeleton nodes");
    }
    const auto id = static_cast<NodeId>(graph.nodes.size());
    graph.nodes.push_back(p);
    cells.try_emplace(k, id);
    return id;
  }
};

}  // namespace

Graph segments_to_graph(const std::vector<Segment>& segments, double tolerance) {
  Builder b{tolerance, {}, FlatMap<CellKey, NodeId, CellKeyHash>(2 * segments.size()),
            FlatMap<std::uint64_t, char, MixHash>(segments.size())};
  std::size_t step = 0;
  for (const Segment& s : segments) {
    poll(++step);
    const NodeId a = b.lookup(s.a);
    const NodeId c = b.lookup(s.b);
    if (a != c && b.pairs.try_emplace(graph_detail::pair_key(a, c), 1).second) b.graph.edges.emplace_back(a, c);
  }
  return std::move(b.graph);
}

}  // namespace strokegraph
