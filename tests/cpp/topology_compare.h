// Compares two topologize results: node degrees and how far each chain point
// of one lies from the chains of the other.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "pipeline/topologize.h"

namespace strokegraph::compare {

struct Degrees {
  std::size_t chains = 0, junctions = 0, ends = 0;
  friend bool operator==(const Degrees&, const Degrees&) = default;
};

inline Degrees degrees(const TopologizeOutput& out) {
  std::vector<std::size_t> degree(out.nodes.size(), 0);
  for (const auto& [a, b] : out.chain_node_ids) ++degree[a], ++degree[b];
  Degrees d;
  d.chains = out.chains.size();
  for (std::size_t k : degree) d.junctions += k >= 3, d.ends += k == 1;
  return d;
}

// The distance from every chain point of `from` to the chains of `to`, capped
// at `cap` (segments are looked up on a grid of that cell size). Points
// within `skip` of a node of either result are left out.
inline std::vector<double> distances(const TopologizeOutput& from, const TopologizeOutput& to,
                                     double cap, double skip = 0.0) {
  std::vector<Point> nodes = from.nodes;
  nodes.insert(nodes.end(), to.nodes.begin(), to.nodes.end());
  auto near_node = [&](Point p) {
    for (const Point& n : nodes)
      if (std::hypot(p.x - n.x, p.y - n.y) < skip) return true;
    return false;
  };
  std::map<std::pair<std::int64_t, std::int64_t>, std::vector<std::pair<Point, Point>>> grid;
  auto cell = [&](double v) { return static_cast<std::int64_t>(std::floor(v / cap)); };
  for (const Polyline& c : to.chains) {
    for (std::size_t k = 0; k + 1 < c.size(); ++k) {
      const Point a = c[k], b = c[k + 1];
      for (std::int64_t x = cell(std::min(a.x, b.x)); x <= cell(std::max(a.x, b.x)); ++x)
        for (std::int64_t y = cell(std::min(a.y, b.y)); y <= cell(std::max(a.y, b.y)); ++y)
          grid[{x, y}].push_back({a, b});
    }
  }
  std::vector<double> out;
  for (const Polyline& c : from.chains) {
    for (const Point& p : c) {
      if (skip > 0.0 && near_node(p)) continue;
      double best = cap;
      for (std::int64_t x = cell(p.x) - 1; x <= cell(p.x) + 1; ++x)
        for (std::int64_t y = cell(p.y) - 1; y <= cell(p.y) + 1; ++y) {
          auto it = grid.find({x, y});
          if (it == grid.end()) continue;
          for (const auto& [a, b] : it->second)
            best = std::min(best, point_segment_distance(p, a, b));
        }
      out.push_back(best);
    }
  }
  return out;
}

inline double max_distance(const TopologizeOutput& from, const TopologizeOutput& to, double cap,
                           double skip = 0.0) {
  const std::vector<double> d = distances(from, to, cap, skip);
  return d.empty() ? 0.0 : *std::max_element(d.begin(), d.end());
}

}  // namespace strokegraph::compare
