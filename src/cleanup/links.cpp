// After junctions moved: a link whose ends came within the merge distance
// of each other joins them into one node, and a link that folds back puts
// both its ends back where they were.
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
using cleanup_detail::collapse;
using cleanup_detail::find_root;
using cleanup_detail::kNodesPerTask;

}  // namespace

Graph settle_links(Graph graph, const std::vector<Point>& before, std::vector<double>& clearance,
                   double merge_distance) {
  graph_detail::check_edges(graph, "settle_links");
  const std::size_t n = graph.nodes.size();
  if (clearance.size() != n || before.size() != n) {
    throw InvariantError("settle_links: one clearance and one earlier position per node expected");
  }
  graph_detail::Adjacency adj = graph_detail::build_adjacency(graph);
  // A path through degree-2 nodes from a junction to a free end, to a
  // larger junction or back to itself (a loop, found from its smaller first
  // inner node).
  struct Link {
    NodeId a, b;
    std::size_t begin, end;  // inner nodes in `inner`
    bool to_junction;
    bool loop;
  };
  struct Links {
    std::vector<Link> links;
    std::vector<NodeId> inner;
  };
  auto find_links = [&](std::size_t begin, std::size_t end, Links& found) {
    for (std::size_t jj = begin; jj < end; ++jj) {
      const auto j = static_cast<NodeId>(jj);
      if (adj.degree(j) < 3) continue;
      for (const NodeId* it = adj.begin(j); it != adj.end(j); ++it) {
        const std::size_t mark = found.inner.size();
        NodeId prev = j, cur = *it;
        for (std::size_t steps = 0; adj.degree(cur) == 2 && steps <= graph.edges.size(); ++steps) {
          found.inner.push_back(cur);
          const NodeId next = adj.begin(cur)[0] == prev ? adj.begin(cur)[1] : adj.begin(cur)[0];
          prev = cur;
          cur = next;
        }
        const bool to_junction = adj.degree(cur) >= 3;
        const bool loop = cur == j && found.inner.size() > mark + 1 && found.inner[mark] < found.inner.back();
        if (adj.degree(cur) == 2 || (to_junction && cur < j) || (cur == j && !loop)) {
          found.inner.resize(mark);
          continue;
        }
        found.links.push_back({j, cur, mark, found.inner.size(), to_junction, loop});
      }
    }
  };
  std::vector<Link> links;
  std::vector<NodeId> inner;
  for (Links& part : parallel_parts<Links>(n, kNodesPerTask, find_links)) {
    for (Link l : part.links) {
      l.begin += inner.size();
      l.end += inner.size();
      links.push_back(l);
    }
    inner.insert(inner.end(), part.inner.begin(), part.inner.end());
  }
  std::vector<char> junction(n, 0);
  for (std::size_t v = 0; v < n; ++v) junction[v] = adj.degree(static_cast<NodeId>(v)) >= 3;
  adj = {};
  std::vector<Point>& pos = graph.nodes;
  auto moved = [&](NodeId v) { return pos[v].x != before[v].x || pos[v].y != before[v].y; };
  // The inner nodes a moved junction has passed: from the junction along the
  // link, each node after which the link turns back towards the junction,
  // among those no farther from where the junction was than it moved (and a
  // merge distance).
  auto passed = [&](NodeId j, std::size_t count, auto&& node_at, Point last) {
    std::size_t k = 0;
    if (!moved(j)) return k;
    const double limit = distance(pos[j], before[j]) + merge_distance;
    for (; k < count; ++k) {
      const Point p = pos[node_at(k)];
      const Point next = k + 1 < count ? pos[node_at(k + 1)] : last;
      if (distance(p, before[j]) > limit) break;
      if ((p.x - pos[j].x) * (next.x - p.x) + (p.y - pos[j].y) * (next.y - p.y) >= 0.0) break;
    }
    return k;
  };
  // Inner nodes passed from either end of link l, seen from each end alone
  // so that the answer does not depend on which end the link was walked
  // from; nodes passed from both go to the nearer end (ties to the one
  // lying first in x, then y).
  auto trims = [&](const Link& l) {
    const std::size_t count = l.end - l.begin;
    const std::size_t front =
        passed(l.a, count, [&](std::size_t k) { return inner[l.begin + k]; }, pos[l.b]);
    const std::size_t back =
        l.to_junction ? passed(l.b, count, [&](std::size_t k) { return inner[l.end - 1 - k]; }, pos[l.a]) : 0;
    if (front + back <= count) return std::pair{front, back};
    const Point a = pos[l.a], b = pos[l.b];
    const bool a_first = a.x < b.x || (a.x == b.x && a.y < b.y);
    std::size_t split = count - back;
    for (; split < front; ++split) {
      const Point p = pos[inner[l.begin + split]];
      const double da = distance(p, a), db = distance(p, b);
      if (db < da || (db == da && !a_first)) break;
    }
    return std::pair{split, count - split};
  };
  const double max_cos = std::cos(150.0 * 3.14159265358979323846 / 180.0);
  // Turning by more than 150 degrees at `cur`.
  auto turns_back = [&](Point prev, Point cur, Point next) {
    const double ux = cur.x - prev.x, uy = cur.y - prev.y, vx = next.x - cur.x, vy = next.y - cur.y;
    const double lu = std::hypot(ux, uy), lv = std::hypot(vx, vy);
    return lu > 0.0 && lv > 0.0 && (ux * vx + uy * vy) < max_cos * lu * lv;
  };
  auto folds = [&](const Link& l) {
    const auto [front, back] = trims(l);
    const Point a = pos[l.a], b = pos[l.b];
    const std::size_t begin = l.begin + front, end = l.end - back;
    if (begin >= end) {
      return (b.x - a.x) * (before[l.b].x - before[l.a].x) + (b.y - a.y) * (before[l.b].y - before[l.a].y) < 0.0;
    }
    const Point first = pos[inner[begin]], last = pos[inner[end - 1]];
    const Point after_first = begin + 1 < end ? pos[inner[begin + 1]] : b;
    const Point before_last = end - 1 > begin ? pos[inner[end - 2]] : a;
    return turns_back(a, first, after_first) || turns_back(before_last, last, b);
  };
  auto close = [&](const Link& l) { return distance(pos[l.a], pos[l.b]) <= merge_distance; };
  // Folded links with their ends apart move neither end; a junction put
  // back may fold another of its links, so this goes on until none folds
  // (every pass puts back at least one junction for good).
  // Each pass judges every link on the positions it starts with, so that
  // the outcome does not depend on the order of the links.
  std::vector<NodeId> put_back;
  for (bool changed = true; changed;) {
    put_back.clear();
    for (const Link& l : links) {
      if (!l.to_junction || l.loop || close(l) || !folds(l)) continue;
      for (const NodeId v : {l.a, l.b}) {
        if (moved(v)) put_back.push_back(v);
      }
    }
    for (const NodeId v : put_back) pos[v] = before[v];
    changed = !put_back.empty();
  }
  std::vector<NodeId> parent(n);
  for (std::size_t v = 0; v < n; ++v) parent[v] = static_cast<NodeId>(v);
  auto join = [&](NodeId x, NodeId y) {
    const NodeId rx = find_root(parent, x), ry = find_root(parent, y);
    if (rx != ry) parent[std::max(rx, ry)] = std::min(rx, ry);
  };
  std::vector<char> removed(n, 0);
  bool changed = false;
  for (const Link& l : links) {
    // Ends brought together become one junction, when the link lies between
    // where they were and where they meet (not a loop around a hole).
    if (l.to_junction && !l.loop && close(l)) {
      const Point m{(pos[l.a].x + pos[l.b].x) * 0.5, (pos[l.a].y + pos[l.b].y) * 0.5};
      const double span = std::max(distance(before[l.a], m), distance(before[l.b], m)) + merge_distance;
      bool between = true;
      for (std::size_t k = l.begin; k < l.end && between; ++k) between = distance(pos[inner[k]], m) <= span;
      if (between) {
        join(l.a, l.b);
        for (std::size_t k = l.begin; k < l.end; ++k) removed[inner[k]] = 1;
        changed = true;
        continue;
      }
    }
    // Nodes a junction passed on its way join it.
    const auto [front, back] = trims(l);
    for (std::size_t k = 0; k < front; ++k) join(l.a, inner[l.begin + k]);
    for (std::size_t k = 0; k < back; ++k) join(l.b, inner[l.end - 1 - k]);
    changed = changed || front + back > 0;
  }
  if (!changed) return graph;
  // Every group at the mean of its junctions (inner nodes, of degree 2, do
  // not count).
  std::vector<std::pair<NodeId, Point>> at;
  std::vector<std::pair<NodeId, NodeId>> members;  // (root, node)
  std::vector<Point> group;
  for (std::size_t v = 0; v < n; ++v) {
    const NodeId root = find_root(parent, static_cast<NodeId>(v));
    if (root != v) members.push_back({root, static_cast<NodeId>(v)}), members.push_back({root, root});
  }
  std::sort(members.begin(), members.end());
  members.erase(std::unique(members.begin(), members.end()), members.end());
  for (std::size_t k = 0; k < members.size();) {
    const NodeId root = members[k].first;
    // Summed in the order of their positions: the same mean however the
    // nodes are numbered.
    group.clear();
    std::size_t e = k;
    for (; e < members.size() && members[e].first == root; ++e) {
      if (junction[members[e].second]) group.push_back(pos[members[e].second]);
    }
    std::sort(group.begin(), group.end(), [](Point x, Point y) { return x.x < y.x || (x.x == y.x && x.y < y.y); });
    Point sum{0.0, 0.0};
    for (const Point& p : group) sum.x += p.x, sum.y += p.y;
    const double count = static_cast<double>(group.size());
    if (!group.empty()) at.push_back({root, Point{sum.x / count, sum.y / count}});
    k = e;
  }
  return collapse(graph, parent, removed, at, clearance, false);
}

}  // namespace strokegraph
