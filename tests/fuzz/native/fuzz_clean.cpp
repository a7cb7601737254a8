// The clean pipeline (centerlines_inner) on decoded curves, with the scales a
// hostile caller may pass: ring and chain simplification, merge tolerance,
// the tile side (any positive value, subnormal included, or the automatic
// and fixed choices), radius and feature size down to far below the drawing.
// Every call ends with a graph, a validation error or a refusal of an absurd
// density; a hang shows as a libFuzzer timeout.
#include <cmath>

#include "decode.h"
#include "pipeline/centerlines.h"

using namespace strokegraph;

namespace {

// params[9] as the tile choice: NaN automatic, infinite always, negative
// never, else the side.
TileChoice tile_choice(double v) {
  if (std::isnan(v)) return std::monostate{};
  if (std::isinf(v)) return true;
  if (v <= 0.0) return false;
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Decoded d = fuzz::decode(data, size);
  const double radius = d.params[0];
  CenterlinesOptions o;
  o.feature_size = d.opt(1);
  if (check_centerlines_scale(radius, o.feature_size)) return 0;  // refused before any work
  std::size_t points = 0;
  for (const Polyline& l : d.lines) points += l.size();
  if (points > 1500) return 0;  // crossings make the union quadratic in the points
  // Radius, feature size and resampling set how densely the rings are
  // sampled: slow by request far below the drawing's size, so kept above a
  // ten-thousandth of it. Every other scale may be anything.
  const double size_of = fuzz::extent(d.lines);
  const double fs = o.feature_size.value_or(radius);
  double widest = radius;
  for (const auto& w : d.widths)
    for (double v : w) widest = std::fmax(widest, v);
  if (!(radius >= size_of * 1e-4) || !(fs >= size_of * 1e-4) || !(widest <= size_of + 64.0 * radius))
    return 0;
  TopologizeOptions& t = o.topologize;
  t.simplification = d.opt(2);
  t.min_tip_fraction = d.opt(3);
  t.junction_merge_fraction = d.opt(4);
  t.subdivision_ratio = d.opt(5);
  t.resample = d.opt(6);
  if (t.resample && !fuzz::dense_enough(*t.resample, size_of)) return 0;
  t.boundary_simplification = d.opt(7);
  t.merge_tolerance = d.opt(8);
  t.compute_widths = d.mask & 1;
  if (d.any_widths && ((d.mask >> 1) & 1)) t.per_curve_widths = d.widths;
  o.tiles = (d.mask >> 9) & 1 ? tile_choice(d.params[9]) : TileChoice{};
  // Every tile unites all the bands within its margins: many small tiles over
  // a dense drawing repeat the work many times over (slow by request). The
  // side is raised to one margin by the pipeline; beyond that, keep the
  // tiles times the points bounded.
  if (const double* side = std::get_if<double>(&o.tiles)) {
    const double margin = 6.0 * widest + 2.0 * fs;
    const double per_axis = size_of / std::fmax(*side, margin) + 1.0;
    if (per_axis * per_axis * double(points) > 2e4) return 0;
  }
  o.clean = !((d.mask >> 8) & 1) || d.lines.size() % 2 == 0;
  try {
    auto r = centerlines_inner(d.lines, radius, o);
    if (auto* out = std::get_if<CenterlinesOutput>(&r)) {
      const TopologizeOutput& g = out->graph;
      if (g.chain_node_ids.size() != g.chains.size()) __builtin_trap();
      if (out->sources.size() != g.chains.size()) __builtin_trap();
      for (const auto& [a, b] : g.chain_node_ids) {
        if (a >= g.nodes.size() || b >= g.nodes.size()) __builtin_trap();
      }
      if (t.compute_widths && g.widths.size() != g.chains.size()) __builtin_trap();
    }
  } catch (const MemoryLimitError&) {
    // A documented refusal of absurd densities.
  }
  return 0;
}
