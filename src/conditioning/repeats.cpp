// Repeated strokes are found by sorting the curves on their point count and
// their points read in the direction that starts with the smaller end, so
// that a curve and its reverse sort together; equal neighbours are repeats.
#include "conditioning/repeats.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace strokegraph {
namespace {

bool less_point(const Point& a, const Point& b) { return a.x < b.x || (a.x == b.x && a.y < b.y); }
bool same_point(const Point& a, const Point& b) { return a.x == b.x && a.y == b.y; }

// Whether the curve reads backwards in its canonical direction: the one whose
// sequence of points is lexicographically smaller.
bool reads_backwards(const Polyline& c) {
  const std::size_t n = c.size();
  for (std::size_t k = 0; k < n; ++k) {
    const Point& f = c[k];
    const Point& b = c[n - 1 - k];
    if (same_point(f, b)) continue;
    return less_point(b, f);
  }
  return false;
}

}  // namespace

std::vector<std::size_t> repeated_curves(const std::vector<Polyline>& curves,
                                         const std::optional<WidthLists>& widths) {
  const std::vector<std::size_t> first = first_drawn(curves, widths);
  std::vector<std::size_t> repeats;
  for (std::size_t i = 0; i < first.size(); ++i) {
    if (first[i] != i) repeats.push_back(i);
  }
  return repeats;
}

std::vector<std::size_t> first_drawn(const std::vector<Polyline>& curves, const std::optional<WidthLists>& widths) {
  const std::size_t n = curves.size();
  std::vector<char> backwards(n, 0);
  for (std::size_t i = 0; i < n; ++i) backwards[i] = reads_backwards(curves[i]);
  auto own_widths = [&](std::size_t i) -> const std::vector<double>* {
    if (!widths || i >= widths->size() || (*widths)[i].size() != curves[i].size() || curves[i].empty()) {
      return nullptr;
    }
    return &(*widths)[i];
  };
  auto point_at = [&](std::size_t i, std::size_t k) -> const Point& {
    return curves[i][backwards[i] ? curves[i].size() - 1 - k : k];
  };
  auto width_at = [&](std::size_t i, const std::vector<double>& w, std::size_t k) {
    return w[backwards[i] ? curves[i].size() - 1 - k : k];
  };
  // Curves with a NaN anywhere are never repeats: they sort last, by index,
  // so that the order stays strict.
  std::vector<char> comparable(n, 1);
  for (std::size_t i = 0; i < n; ++i) {
    for (const Point& p : curves[i]) {
      if (std::isnan(p.x) || std::isnan(p.y)) comparable[i] = 0;
    }
    if (const std::vector<double>* w = own_widths(i)) {
      for (double v : *w) {
        if (std::isnan(v)) comparable[i] = 0;
      }
    }
  }
  // -1, 0 or 1 as curve i sorts before, with or after curve j.
  auto compare = [&](std::size_t i, std::size_t j) {
    if (!comparable[i] || !comparable[j]) {
      if (comparable[i] != comparable[j]) return comparable[i] ? -1 : 1;
      return i < j ? -1 : (i > j ? 1 : 0);
    }
    if (curves[i].size() != curves[j].size()) return curves[i].size() < curves[j].size() ? -1 : 1;
    for (std::size_t k = 0; k < curves[i].size(); ++k) {
      const Point& a = point_at(i, k);
      const Point& b = point_at(j, k);
      if (less_point(a, b)) return -1;
      if (less_point(b, a)) return 1;
    }
    const std::vector<double>* wi = own_widths(i);
    const std::vector<double>* wj = own_widths(j);
    if ((wi == nullptr) != (wj == nullptr)) return wi == nullptr ? -1 : 1;
    if (wi == nullptr) return 0;
    for (std::size_t k = 0; k < wi->size(); ++k) {
      const double a = width_at(i, *wi, k), b = width_at(j, *wj, k);
      if (a != b) return a < b ? -1 : 1;
    }
    return 0;
  };
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), std::size_t{0});
  // Equal curves keep their input order, so the first of them leads its run.
  std::stable_sort(order.begin(), order.end(), [&](std::size_t i, std::size_t j) { return compare(i, j) < 0; });
  std::vector<std::size_t> first(n);
  std::iota(first.begin(), first.end(), std::size_t{0});
  for (std::size_t k = 1; k < n; ++k) {
    if (curves[order[k]].size() >= 2 && compare(order[k - 1], order[k]) == 0) first[order[k]] = first[order[k - 1]];
  }
  return first;
}

}  // namespace strokegraph
