#include "conditioning/merge.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <unordered_map>

#include "common/errors.h"
#include "common/numeric.h"

namespace strokegraph {
namespace {

struct CurveEnd {
  std::size_t curve;
  bool is_last;
};

// Lookups only: the table is never iterated.
using EndpointTable = std::unordered_map<CellKey, std::vector<CurveEnd>, CellKeyHash>;

}  // namespace

MergedCurves merge_connected(const std::vector<Polyline>& curves,
                             const std::optional<WidthLists>& per_curve_widths,
                             double buffer_distance, double tolerance,
                             const std::vector<Cap>* caps) {
  const std::size_t count = curves.size();
  const bool with_widths = per_curve_widths.has_value();
  // Explicit widths of curve i, or none (the curve takes buffer_distance).
  auto explicit_widths = [&](std::size_t i) -> const std::vector<double>* {
    if (!with_widths || i >= per_curve_widths->size() || (*per_curve_widths)[i].empty()) {
      return nullptr;
    }
    return &(*per_curve_widths)[i];
  };
  for (std::size_t i = 0; i < count; ++i) {
    const std::vector<double>* w = explicit_widths(i);
    if (w != nullptr && w->size() != curves[i].size()) {
      throw InvariantError("merge_connected: curve " + std::to_string(i) + " has " +
                           std::to_string(curves[i].size()) + " points but " +
                           std::to_string(w->size()) + " widths");
    }
  }
  auto width_at = [&](std::size_t i, std::size_t j) {
    const std::vector<double>* w = explicit_widths(i);
    return w != nullptr ? (*w)[j] : buffer_distance;
  };

  const double inv = 1.0 / tolerance;
  auto key_of = [inv](Point p) {
    return CellKey{round_saturating(p.x * inv), round_saturating(p.y * inv)};
  };

  EndpointTable table;
  for (std::size_t i = 0; i < count; ++i) {
    if (curves[i].size() < 2) continue;
    table[key_of(curves[i].front())].push_back({i, false});
    table[key_of(curves[i].back())].push_back({i, true});
  }

  std::vector<char> used(count, 0);
  // The unused end in the cell of p, when the cell holds exactly two ends and
  // exactly one of them is unused.
  auto partner = [&](Point p) -> std::optional<CurveEnd> {
    const auto it = table.find(key_of(p));
    if (it == table.end() || it->second.size() != 2) return std::nullopt;
    const CurveEnd a = it->second[0];
    const CurveEnd b = it->second[1];
    if (!used[a.curve] && used[b.curve]) return a;
    if (used[a.curve] && !used[b.curve]) return b;
    return std::nullopt;
  };

  // Marks the partner used and appends its points walking away from its
  // matched end, which is left out.
  auto take = [&](CurveEnd end, Polyline& pts_out, std::vector<double>& widths_out) {
    const Polyline& pts = curves[end.curve];
    const std::size_t n = pts.size();
    used[end.curve] = 1;
    for (std::size_t m = 1; m < n; ++m) {
      const std::size_t j = end.is_last ? n - 1 - m : m;
      pts_out.push_back(pts[j]);
      if (with_widths) widths_out.push_back(width_at(end.curve, j));
    }
  };

  auto cap_of = [&](std::size_t i) {
    return caps != nullptr && i < caps->size() ? (*caps)[i] : Cap::Square;
  };
  MergedCurves out;
  if (with_widths) out.widths.emplace();
  if (caps != nullptr) out.caps.emplace();
  for (std::size_t s = 0; s < count; ++s) {
    if (used[s] || curves[s].size() < 2) continue;
    used[s] = 1;
    Polyline chain = curves[s];
    std::vector<double> chain_w;
    if (with_widths) {
      for (std::size_t j = 0; j < chain.size(); ++j) chain_w.push_back(width_at(s, j));
    }

    EndCaps ends{cap_of(s), cap_of(s)};
    // Forward: append the partner's points, its matched end left out.
    while (const auto end = partner(chain.back())) {
      take(*end, chain, chain_w);
      ends.back = cap_of(end->curve);
    }

    // Backward: the prepended points are collected in reverse (front.back()
    // is the chain's current first point) and put in front once at the end.
    Polyline front;
    std::vector<double> front_w;
    while (const auto end = partner(front.empty() ? chain.front() : front.back())) {
      take(*end, front, front_w);
      ends.front = cap_of(end->curve);
    }
    if (!front.empty()) {
      chain.insert(chain.begin(), front.rbegin(), front.rend());
      chain_w.insert(chain_w.begin(), front_w.rbegin(), front_w.rend());
    }

    out.curves.push_back(std::move(chain));
    if (with_widths) out.widths->push_back(std::move(chain_w));
    if (caps != nullptr) out.caps->push_back(ends);
  }

  // What is left are the curves of fewer than 2 points: single points move
  // behind the chains, empty curves are dropped.
  for (std::size_t i = 0; i < count; ++i) {
    if (used[i] || curves[i].size() != 1) continue;
    out.curves.push_back(curves[i]);
    if (with_widths) out.widths->push_back({width_at(i, 0)});
    if (caps != nullptr) out.caps->push_back({cap_of(i), cap_of(i)});
  }
  return out;
}

}  // namespace strokegraph
