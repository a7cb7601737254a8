// Crossings that the skeleton split into several junctions joined by short
// links: the junctions of a link shorter than its clearances allow become
// one node, unless the band narrows between them.
#include "cleanup/cleanup.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "cleanup/pass_util.h"
#include "common/errors.h"
#include "common/flat_map.h"
#include "graph/graph_util.h"
#include "parallel/pool.h"

namespace strokegraph {
namespace {

using graph_detail::distance;
using graph_detail::pair_key;
using cleanup_detail::collapse;
using cleanup_detail::find_root;
using cleanup_detail::kJunctionsPerTask;

constexpr double kMeetAngle = 10.0 * 3.14159265358979323846 / 180.0;

using Disc = std::pair<Point, double>;

// Whether the strokes meet at two places more than `apart` from each other
// within the two junctions' discs, each disc holding one that the other
// does not: each junction sits at a meeting of its own, however little room
// it has (two strokes leaving a third a little apart, streets leaving a
// small ring). Where the places lie in one junction's disc, the other is no
// crossing of its own unless the band is wide there (see meets_apart).
// `found`: the meetings within either disc, when they lie apart.
bool meetings_of_their_own(const std::vector<Point>& found, const Disc& a, const Disc& b, double apart) {
  auto in = [](Point p, const Disc& d) { return distance(p, d.first) <= d.second; };
  for (const Point& p : found) {
    if (!in(p, a) || in(p, b)) continue;
    for (const Point& q : found) {
      if (in(q, b) && !in(q, a) && distance(p, q) > apart) return true;
    }
  }
  return false;
}

}  // namespace

Graph merge_crossings(Graph graph, std::vector<double>& clearance, double factor,
                      const SegmentGrid& boundary, double min_waist, const StrokeIndex* strokes,
                      double apart) {
  graph_detail::check_edges(graph, "merge_crossings");
  const std::size_t n = graph.nodes.size();
  if (clearance.size() != n) throw InvariantError("merge_crossings: one clearance per node expected");
  graph_detail::Adjacency adj = graph_detail::build_adjacency(graph);

  struct Link {
    double length;
    NodeId start, end;
    std::size_t begin, stop;  // walked nodes in `paths`
    std::uint64_t key;        // names the link: found twice, it counts once
    bool ask;                 // kept only unless strokes meet apart between its ends
  };
  struct Links {
    std::vector<Link> links;
    std::vector<NodeId> paths;
  };
  // The widest clearance of any junction: no link is longer than `factor`
  // times its own end's and that.
  const std::vector<NodeId> junctions = cleanup_detail::junctions_of(adj, n);
  double widest = 0.0;
  for (const NodeId v : junctions) widest = std::max(widest, clearance[v]);
  // The links short enough to merge from the junctions [begin, end) of
  // `junctions`, in order; every walk reads the graph only.
  auto find_links = [&](std::size_t begin, std::size_t end, Links& links_found) {
    std::vector<NodeId> walk;
    for (std::size_t k = begin; k < end; ++k) {
      const NodeId j = junctions[k];
      for (const NodeId* it = adj.begin(j); it != adj.end(j); ++it) {
        walk.assign(1, j);
        NodeId prev = j, cur = *it;
        double length = 0.0;
        const double longest = factor * (clearance[j] + widest);
        bool too_long = false;
        for (;;) {
          walk.push_back(cur);
          length += distance(graph.nodes[prev], graph.nodes[cur]);
          // Longer than any link from j may be (a street between two
          // crossings): its far end need not be found.
          if (length > longest) {
            too_long = true;
            break;
          }
          if (adj.degree(cur) != 2 || walk.size() > graph.edges.size() + 1) break;
          const NodeId next = adj.begin(cur)[0] == prev ? adj.begin(cur)[1] : adj.begin(cur)[0];
          prev = cur;
          cur = next;
        }
        const NodeId e = walk.back();
        if (too_long || adj.degree(e) < 3) continue;
        const double limit = e == j ? 2.0 * factor * clearance[j] : factor * (clearance[j] + clearance[e]);
        if (!(length <= limit)) continue;
        // A link that narrows in its middle is a bar between two strokes.
        if (e != j && min_waist > 0.0) {
          double run = 0.0;
          std::size_t k = 1;
          for (; k + 1 < walk.size(); ++k) {
            run += distance(graph.nodes[walk[k - 1]], graph.nodes[walk[k]]);
            if (run >= 0.5 * length) break;
          }
          const double need = min_waist * std::min(clearance[j], clearance[e]);
          if (boundary.distance_within(graph.nodes[walk[std::min(k, walk.size() - 1)]], need) < need) continue;
        }
        // Whether strokes meet apart between them is asked below, once
        // for both ends.
        const bool ask = e != j && strokes != nullptr;
        // A loop is found from both of its ends; its first inner nodes name it.
        constexpr std::uint64_t kLoop = std::uint64_t{1} << 63;
        const std::uint64_t key = e == j ? pair_key(walk[1], walk[walk.size() - 2]) | kLoop : pair_key(j, e);
        links_found.links.push_back(
            {length, j, e, links_found.paths.size(), links_found.paths.size() + walk.size(), key, ask});
        links_found.paths.insert(links_found.paths.end(), walk.begin(), walk.end());
      }
    }
  };
  std::vector<Links> parts = parallel_parts<Links>(junctions.size(), kJunctionsPerTask, find_links);
  // Strokes meeting at distinct places between a link's junctions: as many
  // crossings in one blot of the bands, or each junction at a meeting of its
  // own, not one crossing. The answer depends on the two junctions alone and
  // most links are walked from both ends: each pair is asked once, the
  // answers read in the walks' order as if asked there.
  std::vector<std::uint64_t> asked;
  for (const Links& part : parts) {
    for (const Link& l : part.links) {
      if (l.ask) asked.push_back(l.key);
    }
  }
  std::sort(asked.begin(), asked.end());
  asked.erase(std::unique(asked.begin(), asked.end()), asked.end());
  std::vector<char> kept_apart(asked.size(), 0);
  parallel_ranges(asked.size(), kJunctionsPerTask, [&](std::size_t begin, std::size_t end) {
    std::vector<Point> found;
    for (std::size_t k = begin; k < end; ++k) {
      const auto j = static_cast<NodeId>(asked[k] >> 32), e = static_cast<NodeId>(asked[k] & 0xffffffffu);
      // Both questions read the same meetings: they are found once.
      const Disc a{graph.nodes[j], clearance[j]}, b{graph.nodes[e], clearance[e]};
      kept_apart[k] = meets_apart(*strokes, {a, b}, apart, kMeetAngle, &found, 0.0) &&
                      (discs_wide(*strokes, {a, b}) || meetings_of_their_own(found, a, b, apart));
    }
  });
  std::vector<Link> links;
  std::vector<NodeId> paths;
  graph_detail::PairSet taken;
  for (Links& part : parts) {
    for (const Link& l : part.links) {
      if (l.ask && kept_apart[static_cast<std::size_t>(std::lower_bound(asked.begin(), asked.end(), l.key) -
                                                       asked.begin())]) {
        continue;
      }
      if (!taken.insert(l.key)) continue;
      links.push_back(
          {l.length, l.start, l.end, paths.size(), paths.size() + (l.stop - l.begin), l.key, false});
      paths.insert(paths.end(), part.paths.begin() + static_cast<std::ptrdiff_t>(l.begin),
                   part.paths.begin() + static_cast<std::ptrdiff_t>(l.stop));
    }
  }
  std::stable_sort(links.begin(), links.end(),
                   [](const Link& a, const Link& b) { return a.length < b.length; });
  adj = {};

  std::vector<NodeId> parent(n);
  for (std::size_t v = 0; v < n; ++v) parent[v] = static_cast<NodeId>(v);
  std::vector<char> removed(n, 0);
  for (const Link& l : links) {
    // A short loop, or a second link between junctions already merged (it
    // would become one), loses its inner nodes; a direct edge between merged
    // junctions collapses on its own.
    const NodeId ra = find_root(parent, l.start), rb = find_root(parent, l.end);
    if (ra != rb) parent[std::max(ra, rb)] = std::min(ra, rb);
    for (std::size_t k = l.begin + 1; k + 1 < l.stop; ++k) removed[paths[k]] = 1;
  }

  return collapse(graph, parent, removed, {}, clearance, true);
}

}  // namespace strokegraph
