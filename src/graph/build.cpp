// Skeleton segments to graph: endpoints snap onto a square grid of cells.
#include <algorithm>
#include <bit>
#include <cmath>
#include <climits>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

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

constexpr NodeId kNoNode = std::numeric_limits<NodeId>::max();

// Which node claims each grid cell: 12 bytes a slot with both cell
// coordinates packed into one 64-bit key when they fit in 32 bits each (every
// drawing of sane scale), the rest in a general table. Open addressing, never
// iterated, so its layout cannot reach the output.
class CellTable {
 public:
  explicit CellTable(std::size_t expected) : other_(0) {
    rehash(graph_detail::table_capacity(expected));
    std::size_t rows = kMinRows;
    while (2 * rows < expected && rows < kMaxRows) rows *= 2;
    rows_.assign(rows, 0);
  }

  // Whether no cell of the 3 x 3 block around k can be claimed: every claimed
  // cell of the packed range sets its bit in a torus of 64-bit rows (x picks
  // the row, y the bit), so a block whose nine bits are clear holds none. A
  // set bit may belong to a far cell that wraps onto it: then it says nothing.
  // Only for blocks inside the packed range (the rest may sit in `other_`).
  bool block_free(const CellKey& k) const {
    if (k.x <= INT32_MIN || k.x >= INT32_MAX || k.y <= INT32_MIN || k.y >= INT32_MAX) return false;
    const std::size_t mask = rows_.size() - 1;
    const auto x = static_cast<std::uint64_t>(k.x);
    const auto shift = static_cast<int>(static_cast<std::uint64_t>(k.y - 1) & 63);
    const std::uint64_t near = std::rotr(rows_[(x - 1) & mask], shift) | std::rotr(rows_[x & mask], shift) |
                               std::rotr(rows_[(x + 1) & mask], shift);
    return (near & 7) == 0;
  }

  const NodeId* find(const CellKey& k) const {
    std::uint64_t packed = 0;
    if (!pack(k, packed)) return other_.find(k);
    const std::size_t h = MixHash{}(packed);
    if (!marked(h)) return nullptr;
    for (std::size_t i = h & mask_;; i = (i + 1) & mask_) {
      if (ids_[i] == kNoNode) return nullptr;
      if (keys_[i] == packed) return &ids_[i];
    }
  }

  // Claims cell k for `id` unless it is claimed already.
  void claim(const CellKey& k, NodeId id) {
    std::uint64_t packed = 0;
    if (!pack(k, packed)) {
      other_.try_emplace(k, id);
      return;
    }
    if (graph_detail::table_full(size_ + 1, ids_.size())) rehash(2 * ids_.size());
    insert(packed, id);
  }

 private:
  static bool pack(const CellKey& k, std::uint64_t& packed) {
    if (k.x < INT32_MIN || k.x > INT32_MAX || k.y < INT32_MIN || k.y > INT32_MAX) return false;
    packed = (std::uint64_t{static_cast<std::uint32_t>(k.x)} << 32) | static_cast<std::uint32_t>(k.y);
    return true;
  }
  // Most cells asked for are free (the neighbours of a new node's cell): a
  // bit per hash, 16 a slot, turns most of them away before a probe.
  bool marked(std::size_t h) const {
    const std::size_t bit = std::rotr(h, 32) & (16 * (mask_ + 1) - 1);
    return (seen_[bit / 64] >> (bit % 64)) & 1;
  }
  void insert(std::uint64_t packed, NodeId id) {
    const std::size_t h = MixHash{}(packed);
    for (std::size_t i = h & mask_;; i = (i + 1) & mask_) {
      if (ids_[i] == kNoNode) {
        keys_[i] = packed;
        ids_[i] = id;
        ++size_;
        const std::size_t bit = std::rotr(h, 32) & (16 * (mask_ + 1) - 1);
        seen_[bit / 64] |= std::uint64_t{1} << (bit % 64);
        // The packed key holds x in its high half and y in its low half.
        rows_[(packed >> 32) & (rows_.size() - 1)] |= std::uint64_t{1} << (packed & 63);
        return;
      }
      if (keys_[i] == packed) return;
    }
  }
  void rehash(std::size_t capacity) {
    std::vector<std::uint64_t> keys = std::move(keys_);
    std::vector<NodeId> ids = std::move(ids_);
    keys_.assign(capacity, 0);
    ids_.assign(capacity, kNoNode);
    seen_.assign(capacity / 4, 0);
    mask_ = capacity - 1;
    size_ = 0;
    for (std::size_t i = 0; i < ids.size(); ++i)
      if (ids[i] != kNoNode) insert(keys[i], ids[i]);
  }

  std::vector<std::uint64_t> keys_;
  std::vector<NodeId> ids_;  // kNoNode: a free slot
  std::vector<std::uint64_t> seen_;  // 16 bits a slot, set by the keys' hashes
  // A row of 64 bits per two segments (about a claimed cell each), up to
  // kMaxRows (512 KB): sparse but for the largest skeletons.
  static constexpr std::size_t kMinRows = 64, kMaxRows = std::size_t{1} << 16;
  std::vector<std::uint64_t> rows_;  // the torus of claimed cells, see block_free
  std::size_t mask_ = 0, size_ = 0;
  FlatMap<CellKey, NodeId, CellKeyHash> other_;
};

struct Builder {
  double tolerance;
  bool lowest_end;
  Graph graph;
  CellTable cells;

  NodeId joined(NodeId id, const Point& p) {
    Point& at = graph.nodes[id];
    if (lowest_end && (p.x < at.x || (p.x == at.x && p.y < at.y))) at = p;
    return id;
  }

  NodeId lookup(const Point& p) {
    const CellKey k{round_saturating(p.x / tolerance), round_saturating(p.y / tolerance)};
    if (cells.block_free(k)) return added(k, p);  // most new nodes: no cell to look up
    if (const NodeId* id = cells.find(k)) return joined(*id, p);
    // The first claimed cell of the 3 x 3 block, dx outer, dy inner. The
    // cell then belongs to that node too, so claims chain across cells.
    for (int dx = -1; dx <= 1; ++dx) {
      const auto x = step(k.x, dx);
      if (!x) continue;
      for (int dy = -1; dy <= 1; ++dy) {
        const auto y = step(k.y, dy);
        if (!y || (dx == 0 && dy == 0)) continue;  // k itself is free
        if (const NodeId* found = cells.find(CellKey{*x, *y})) {
          const NodeId id = *found;
          cells.claim(k, id);
          return joined(id, p);
        }
      }
    }
    return added(k, p);
  }

  // A new node at p, claiming cell k.
  NodeId added(const CellKey& k, const Point& p) {
    if (graph.nodes.size() >= std::numeric_limits<NodeId>::max()) {
      throw MemoryLimitError("segments_to_graph: too many skeleton nodes");
    }
    const auto id = static_cast<NodeId>(graph.nodes.size());
    graph.nodes.push_back(p);
    cells.claim(k, id);
    return id;
  }
};

}  // namespace

Graph segments_to_graph(const std::vector<Segment>& segments, double tolerance, bool lowest_end) {
  Graph graph;
  {
    // Most ends are shared by two segments: about one node, one claimed cell
    // and one edge per segment, so the table starts at that size.
    Builder b{tolerance, lowest_end, {}, CellTable(segments.size())};
    b.graph.nodes.reserve(segments.size());
    b.graph.edges.reserve(segments.size());
    std::size_t step = 0;
    for (const Segment& s : segments) {
      poll(++step);
      const NodeId a = b.lookup(s.a);
      const NodeId c = b.lookup(s.b);
      if (a != c) b.graph.edges.emplace_back(a, c);
    }
    graph = std::move(b.graph);
  }
  // With the cell table gone, every repeat of a node pair goes (the first
  // stays): edges bucketed by their lower node, each bucket in edge order.
  const std::size_t n = graph.nodes.size(), m = graph.edges.size();
  if (m > std::numeric_limits<std::uint32_t>::max()) {
    throw MemoryLimitError("segments_to_graph: too many skeleton edges");
  }
  auto low = [&](std::size_t e) { return std::min(graph.edges[e].first, graph.edges[e].second); };
  auto high = [&](std::size_t e) { return std::max(graph.edges[e].first, graph.edges[e].second); };
  std::vector<std::uint32_t> start(n + 1, 0), bucket(m);
  for (std::size_t e = 0; e < m; ++e) ++start[low(e) + 1];
  for (std::size_t v = 0; v < n; ++v) start[v + 1] += start[v];
  {
    std::vector<std::uint32_t> fill(start.begin(), start.end() - 1);
    for (std::size_t e = 0; e < m; ++e) bucket[fill[low(e)]++] = static_cast<std::uint32_t>(e);
  }
  std::vector<char> repeat(m, 0);
  std::vector<std::pair<NodeId, std::uint32_t>> sorted;
  for (std::size_t v = 0; v < n; ++v) {
    const std::uint32_t* first = bucket.data() + start[v];
    const std::size_t size = start[v + 1] - start[v];
    if (size <= 16) {
      for (std::size_t i = 1; i < size; ++i)
        for (std::size_t j = 0; j < i; ++j)
          if (high(first[j]) == high(first[i])) {
            repeat[first[i]] = 1;
            break;
          }
      continue;
    }
    sorted.clear();
    for (std::size_t i = 0; i < size; ++i) sorted.push_back({high(first[i]), first[i]});
    std::sort(sorted.begin(), sorted.end());
    for (std::size_t i = 1; i < size; ++i)
      if (sorted[i].first == sorted[i - 1].first) repeat[sorted[i].second] = 1;
  }
  std::size_t kept = 0;
  for (std::size_t e = 0; e < m; ++e)
    if (!repeat[e]) graph.edges[kept++] = graph.edges[e];
  graph.edges.resize(kept);
  return graph;
}

}  // namespace strokegraph
