// Helpers shared by the graph stages: edge validation, unordered pair keys
// and adjacency lists in compressed form.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "common/numeric.h"

#include "graph/graph.h"

namespace strokegraph::graph_detail {

// The end of edge e that is not v.
inline NodeId other_end(const Edge& e, NodeId v) { return e.first == v ? e.second : e.first; }

// Throws InvariantError when an edge refers to a node that does not exist.
void check_edges(const Graph& graph, const char* stage);

// The unordered pair {a, b} as one 64-bit key.
inline std::uint64_t pair_key(NodeId a, NodeId b) {
  const NodeId lo = a < b ? a : b;
  const NodeId hi = a < b ? b : a;
  return (std::uint64_t{lo} << 32) | hi;
}

// Neighbour lists, built by walking the edges in order and appending b to the
// list of a and a to the list of b; a node's list length is its degree.
struct Adjacency {
  std::vector<std::uint32_t> offset;  // nodes + 1 entries
  std::vector<NodeId> neighbour;
  std::size_t degree(NodeId v) const { return offset[v + 1] - offset[v]; }
  const NodeId* begin(NodeId v) const { return neighbour.data() + offset[v]; }
  const NodeId* end(NodeId v) const { return neighbour.data() + offset[v + 1]; }
};

// Throws MemoryLimitError beyond two billion edges.
Adjacency build_adjacency(const Graph& graph);

// The compact tables below fill up to three quarters before they grow:
// linear probing then takes a few probes a lookup, and a table of a drawing's
// ten million nodes or edges stays half the size it would at half load.
inline bool table_full(std::size_t size, std::size_t capacity) { return 4 * size > 3 * capacity; }

// A power of two with room for `expected` entries.
inline std::size_t table_capacity(std::size_t expected) {
  std::size_t c = 16;
  while (table_full(expected, c)) c *= 2;
  return c;
}

// A set of 64-bit keys (pair keys), 8 bytes a slot; 0 marks a free slot and
// is kept aside. Open addressing, never iterated, so its layout cannot reach
// any output.
class PairSet {
 public:
  explicit PairSet(std::size_t expected = 0) { rehash(table_capacity(expected)); }
  // Inserts the key; whether it was new.
  bool insert(std::uint64_t key) {
    if (key == 0) return !std::exchange(has_zero_, true);
    if (table_full(size_ + 1, keys_.size())) rehash(2 * keys_.size());
    return put(key);
  }

 private:
  bool put(std::uint64_t key) {
    for (std::size_t i = MixHash{}(key) & mask_;; i = (i + 1) & mask_) {
      if (keys_[i] == key) return false;
      if (keys_[i] == 0) {
        keys_[i] = key;
        ++size_;
        return true;
      }
    }
  }
  void rehash(std::size_t capacity) {
    std::vector<std::uint64_t> old = std::move(keys_);
    keys_.assign(capacity, 0);
    mask_ = capacity - 1;
    size_ = 0;
    for (std::uint64_t k : old)
      if (k != 0) put(k);
  }

  std::vector<std::uint64_t> keys_;
  std::size_t mask_ = 0, size_ = 0;
  bool has_zero_ = false;
};

// Inline: the passes ask it for every edge they walk.
inline double distance(const Point& p, const Point& q) {
  const double dx = q.x - p.x;
  const double dy = q.y - p.y;
  return std::sqrt(dx * dx + dy * dy);
}

// The chains of any graph, loops and repeated edges included, found by one
// walk over the nodes in order that marks every edge it takes: from each node
// of degree other than 2 along each of its untaken edges, then what is left.
// extract_chains gives the same for simple graphs, on the pool.
std::vector<Chain> walk_chains(const Graph& graph, const Adjacency& adj);

}  // namespace strokegraph::graph_detail
