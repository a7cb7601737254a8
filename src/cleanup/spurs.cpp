// The first pass: spurs that band corners and bumps sprout, forks at caps,
// overshoots past a stroke end and short isolated paths are removed, each
// measured against its junction's clearance.
#include "cleanup/cleanup.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>

#include "cleanup/pass_util.h"
#include "common/errors.h"
#include "common/flat_map.h"
#include "common/spare.h"
#include "graph/graph_util.h"
#include "parallel/pool.h"
#include "spatial/stroke_branches.h"

namespace strokegraph {
namespace {

using graph_detail::distance;
using cleanup_detail::kNodesPerTask;

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

// Per node, the indices of its edges in edge-list order (32-bit: a graph of
// more than two billion edges would not fit in memory anyway); `fill` is
// scratch.
struct Incidence {
  std::vector<std::uint32_t> offset;
  std::vector<std::uint32_t> edge;
  std::vector<std::uint32_t> fill;
};

void incidence_of(const Graph& g, Incidence& inc) {
  if (g.edges.size() > std::numeric_limits<std::uint32_t>::max() / 2) {
    throw MemoryLimitError("clean-up: too many skeleton edges");
  }
  std::vector<std::uint32_t>& offset = inc.offset;
  offset.assign(g.nodes.size() + 1, 0);
  for (const Edge& e : g.edges) {
    ++offset[e.first + 1];
    ++offset[e.second + 1];
  }
  for (std::size_t v = 0; v < g.nodes.size(); ++v) offset[v + 1] += offset[v];
  inc.edge.resize(offset.back());
  inc.fill.assign(offset.begin(), offset.end() - 1);
  for (std::size_t i = 0; i < g.edges.size(); ++i) {
    inc.edge[inc.fill[g.edges[i].first]++] = static_cast<std::uint32_t>(i);
    inc.edge[inc.fill[g.edges[i].second]++] = static_cast<std::uint32_t>(i);
  }
}

// A branch walked from a free end to the next node not of degree 2.
struct Walk {
  NodeId tip, far;
  double length;
  std::size_t part;        // the range of tips it was found in
  std::size_t begin, end;  // edges in that range's `paths`
  bool doomed;
  bool corner;  // strokes meet at the tip: the junction moves there
  bool overshoot = false;  // the junction moves to `at`, the strokes' corner
  Point at{};
};
// The walks of a range of tips, with their edges.
struct Walks {
  std::vector<Walk> walks;
  std::vector<std::uint32_t> paths;
};

// What remove_spurs keeps from round to round, its buffers borrowed from
// call to call.
struct SpurState {
  Incidence inc;
  std::vector<char> alive;
  std::vector<std::uint32_t> degree;
  std::vector<Walk> walks;
  std::vector<Walks> parts;
  // The last round's walks to a junction as judged (before forks), found
  // from their tips (index + 1), and their paths: a tip walked again along
  // the same edges asks the strokes nothing new.
  std::vector<Walk> judged;
  std::vector<Walks> previous;
  std::vector<std::uint32_t> judged_at;
  // Walk indices + 1 fit: there are fewer walks than nodes, and node ids are
  // 32-bit.
  std::vector<std::uint32_t> frozen, tips_at, first_tip;
  std::vector<std::pair<NodeId, Point>> corners;  // junctions moved to a corner, in order

  std::size_t bytes() const {
    std::size_t b = (inc.offset.capacity() + inc.edge.capacity() + inc.fill.capacity() + degree.capacity() +
                     judged_at.capacity() + frozen.capacity() + tips_at.capacity() + first_tip.capacity()) *
                        sizeof(std::uint32_t) +
                    alive.capacity() + (walks.capacity() + judged.capacity()) * sizeof(Walk) +
                    (parts.capacity() + previous.capacity()) * sizeof(Walks) +
                    corners.capacity() * sizeof(corners[0]);
    for (const std::vector<Walks>* v : {&parts, &previous}) {
      for (const Walks& w : *v) b += w.walks.capacity() * sizeof(Walk) + w.paths.capacity() * sizeof(std::uint32_t);
    }
    return b;
  }
};

using graph_detail::other_end;

}  // namespace

Graph remove_spurs(Graph graph, const std::vector<double>& clearance, const SpurRules& rules) {
  graph_detail::check_edges(graph, "remove_spurs");
  if (clearance.size() != graph.nodes.size()) {
    throw InvariantError("remove_spurs: one clearance per node expected");
  }
  const std::vector<Edge>& edges = graph.edges;
  const std::size_t n = graph.nodes.size();
  Borrowed<SpurState> state;
  SpurState& st = *state;
  incidence_of(graph, st.inc);
  const Incidence& inc = st.inc;
  std::vector<char>& alive = st.alive;
  alive.assign(edges.size(), 1);
  std::vector<std::uint32_t>& degree = st.degree;
  degree.assign(n, 0);
  for (const Edge& e : edges) ++degree[e.first], ++degree[e.second];

  // The first alive edge of `cur` other than `from`.
  auto next_edge = [&](NodeId cur, std::size_t from) {
    for (std::size_t k = inc.offset[cur]; k < inc.offset[cur + 1]; ++k) {
      const std::size_t i = inc.edge[k];
      if (alive[i] && i != from) return i;
    }
    return kNone;
  };
  auto near_stroke_end = [&](Point p) {
    return rules.stroke_ends == nullptr ||
           rules.stroke_ends->distance_within(p, rules.end_distance) < rules.end_distance;
  };

  std::vector<Walk>& walks = st.walks;
  std::vector<Walks>& parts = st.parts;
  std::vector<Walk>& judged = st.judged;
  std::vector<Walks>& previous = st.previous;
  std::vector<std::uint32_t>& judged_at = st.judged_at;
  std::vector<std::uint32_t>& frozen = st.frozen;
  std::vector<std::uint32_t>& tips_at = st.tips_at;
  std::vector<std::uint32_t>& first_tip = st.first_tip;
  std::vector<std::pair<NodeId, Point>>& corners = st.corners;
  walks.clear();
  judged.clear();
  corners.clear();
  judged_at.assign(n, 0);
  tips_at.assign(n, 0);
  first_tip.assign(n, 0);
  // Two strokes meeting at an angle at the tip and half-way along the
  // branch: the branch runs inside both bands, where two strokes drawn to one
  // corner overlap.
  auto strokes_meet_along = [&](const Walk& w, const std::vector<std::uint32_t>& path) {
    if (rules.strokes == nullptr || !strokes_meet_at(*rules.strokes, graph.nodes[w.tip], rules.meet_angle)) {
      return false;
    }
    double run = 0.0;
    NodeId cur = w.tip;
    for (std::size_t k = w.begin; k < w.end; ++k) {
      const NodeId next = other_end(edges[path[k]], cur);
      run += distance(graph.nodes[cur], graph.nodes[next]);
      cur = next;
      if (run >= 0.5 * w.length) break;
    }
    return strokes_meet_at(*rules.strokes, graph.nodes[cur], rules.meet_angle);
  };
  // The walks from the tips in [begin, end) to the next node not of degree
  // 2, each judged on its own: it reads the graph and the frozen degrees only.
  auto walk_tips = [&](std::size_t begin, std::size_t end, Walks& found) {
    for (std::size_t j = begin; j < end; ++j) {
      if (frozen[j] != 1) continue;
      std::vector<std::uint32_t>& path = found.paths;
      Walk w{static_cast<NodeId>(j), static_cast<NodeId>(j), 0.0, begin / kNodesPerTask, path.size(), path.size(),
             false, false};
      auto cur = static_cast<NodeId>(j);
      std::size_t from = kNone;
      for (;;) {
        const std::size_t i = next_edge(cur, from);
        if (i == kNone) break;
        path.push_back(static_cast<std::uint32_t>(i));
        w.far = other_end(edges[i], cur);
        w.length += distance(graph.nodes[cur], graph.nodes[w.far]);
        if (frozen[w.far] != 2 || path.size() - w.begin > edges.size()) break;
        from = i;
        cur = w.far;
      }
      w.end = path.size();
      if (w.end == w.begin) continue;
      if (frozen[w.far] >= 3 && judged_at[j] != 0) {
        // Judged in the last round along the same edges: the same answer.
        const Walk& old = judged[judged_at[j] - 1];
        const std::vector<std::uint32_t>& old_path = previous[old.part].paths;
        if (old.far == w.far && old.end - old.begin == w.end - w.begin &&
            std::equal(path.begin() + static_cast<std::ptrdiff_t>(w.begin), path.end(),
                       old_path.begin() + static_cast<std::ptrdiff_t>(old.begin))) {
          w.doomed = old.doomed, w.corner = old.corner, w.overshoot = old.overshoot, w.at = old.at;
          found.walks.push_back(w);
          continue;
        }
      }
      if (frozen[w.far] >= 3) {
        const double c = clearance[w.far];
        // An overshoot first: its junction moves to the corner, which the
        // skeleton cuts.
        if (rules.strokes != nullptr) {
          std::optional<Point> at;
          if (w.length < rules.overshoot_length) {
            at = overshoots_at(*rules.strokes, graph.nodes[j], rules.end_distance, rules.overshoot_reach,
                               rules.meet_angle);
          }
          // Or another stroke leaves it a little short of its end, at
          // whatever angle (the stem of a cursive n above its arch; the
          // sharper, the farther out their bands part).
          if (!at && w.length < rules.branch_length) {
            at = branch_near_end(*rules.strokes, graph.nodes[j], rules.end_distance, rules.overshoot_reach);
          }
          if (at) {
            w.doomed = w.overshoot = true;
            w.at = *at;
          }
        }
        if (!w.doomed) w.doomed = w.length < rules.factor * c;
        if (!w.doomed && w.length < rules.corner_factor * c) {
          w.doomed = w.corner = !near_stroke_end(graph.nodes[j]) || strokes_meet_along(w, path) ||
                                (rules.strokes != nullptr && rules.corner_ends &&
                                 strokes_end_at_corner(*rules.strokes, graph.nodes[j], rules.end_distance));
        }
      } else if (frozen[w.far] == 1) {
        w.doomed = w.length < rules.isolated_length;
      }
      found.walks.push_back(w);
    }
  };
  bool removed = true;
  while (removed) {
    removed = false;
    frozen = degree;
    walks.clear();
    // Last round's parts become `previous`; the round before's are emptied
    // and filled again, keeping their buffers.
    std::swap(previous, parts);
    parts.resize(n / kNodesPerTask + (n % kNodesPerTask != 0));
    for (Walks& part : parts) part.walks.clear(), part.paths.clear();
    parallel_ranges(n, kNodesPerTask,
                    [&](std::size_t begin, std::size_t end) { walk_tips(begin, end, parts[begin / kNodesPerTask]); });
    for (const Walk& w : judged) judged_at[w.tip] = 0;
    judged.clear();
    for (Walks& part : parts) {
      for (const Walk& w : part.walks) {
        if (frozen[w.far] >= 3) {
          ++tips_at[w.far];
          judged.push_back(w);
          judged_at[w.tip] = static_cast<std::uint32_t>(judged.size());
        }
        walks.push_back(w);
      }
    }
    // A fork of exactly two short tips on a node of degree 3: a square cap's
    // corners; both go and the fork becomes the free end.
    // The first tip of each fork is remembered at the fork (as its index
    // + 1) until the second one comes.
    for (std::size_t k = 0; k < walks.size(); ++k) {
      Walk& w = walks[k];
      if (frozen[w.far] != 3 || tips_at[w.far] != 2) continue;
      if (first_tip[w.far] == 0) {
        first_tip[w.far] = static_cast<std::uint32_t>(k + 1);
        continue;
      }
      Walk& u = walks[first_tip[w.far] - 1];
      const double fork = rules.fork_factor * std::max(clearance[w.far], rules.fork_clearance);
      if (w.length < fork && u.length < fork) w.doomed = u.doomed = true;
      // Both tips going, one at a stroke end and the other not: a short
      // leg past a sharp corner of the stroke (a foot) and the band's
      // corner. The leg stays and the junction moves to the corner.
      if (w.doomed && u.doomed && !w.overshoot && !u.overshoot && rules.stroke_ends != nullptr) {
        const bool w_end = near_stroke_end(graph.nodes[w.tip]), u_end = near_stroke_end(graph.nodes[u.tip]);
        if (w_end != u_end) {
          Walk& leg = w_end ? w : u;
          leg.doomed = leg.corner = false;
          (w_end ? u : w).corner = true;
        }
      }
    }
    for (const Walk& w : walks) {
      tips_at[w.far] = 0;
      first_tip[w.far] = 0;
      if (!w.doomed) continue;
      if (w.corner) corners.push_back({w.far, graph.nodes[w.tip]});
      if (w.overshoot) corners.push_back({w.far, w.at});
      for (std::size_t k = w.begin; k < w.end; ++k) {
        const std::size_t i = parts[w.part].paths[k];
        if (!alive[i]) continue;
        alive[i] = 0;
        --degree[edges[i].first];
        --degree[edges[i].second];
      }
      removed = true;
    }
  }

  for (const auto& [v, p] : corners) graph.nodes[v] = p;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < graph.edges.size(); ++i) {
    if (alive[i]) graph.edges[kept++] = graph.edges[i];
  }
  graph.edges.resize(kept);
  return graph;
}

}  // namespace strokegraph
