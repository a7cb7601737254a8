// The three conversion-free pipelines on decoded curves and options.
#include <cmath>

#include "decode.h"
#include "pipeline/intermediates.h"
#include "pipeline/topologize.h"

using namespace strokegraph;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Decoded d = fuzz::decode(data, size);
  const double bd = d.params[0], fs = d.params[1];
  // Keep the work of one call bounded: boundary length over feature size and
  // over the resampling step.
  double length = 0.0, max_width = 0.0;
  std::size_t points = 0;
  for (const Polyline& l : d.lines) points += l.size();
  if (points > 1500) return 0;  // crossings make the union quadratic in the points
  for (const Polyline& l : d.lines) {
    for (std::size_t i = 1; i < l.size(); ++i) {
      const double s = std::hypot(l[i].x - l[i - 1].x, l[i].y - l[i - 1].y);
      if (std::isfinite(s)) length += s;
    }
  }
  for (const auto& w : d.widths) {
    for (double v : w) max_width = std::fmax(max_width, v);
  }
  const double radius = std::isfinite(bd) ? std::fabs(bd) : 0.0;
  const double boundary = 2.0 * length + 8.0 * (radius + max_width) * double(d.lines.size() + 1);
  if (!(fs > 0.0) || boundary / fs > 2e4) return 0;
  const std::optional<double> resample = d.opt(6);
  if (resample && *resample > 0.0 && boundary / *resample > 2e4) return 0;

  std::optional<WidthLists> widths;
  if (d.any_widths && ((d.mask >> 1) & 1)) widths = d.widths;
  try {
    switch (d.lines.size() % 3) {
      case 0: {
        TopologizeOptions o;
        o.simplification = d.opt(2);
        o.min_tip_fraction = d.opt(3);
        o.junction_merge_fraction = d.opt(4);
        o.subdivision_ratio = d.opt(5);
        o.resample = resample;
        o.boundary_simplification = d.opt(7);
        o.merge_tolerance = d.opt(8);
        if (((d.mask >> 9) & 1) && std::isfinite(d.params[9])) {
          o.max_nodes = static_cast<std::size_t>(std::fmod(std::fabs(d.params[9]), 1e6));
        }
        o.per_curve_widths = widths;
        o.compute_widths = d.mask & 1;
        auto r = topologize(d.lines, bd, fs, o);
        if (auto* out = std::get_if<TopologizeOutput>(&r)) {
          if (out->chain_node_ids.size() != out->chains.size()) __builtin_trap();
          for (const auto& [a, b] : out->chain_node_ids) {
            if (a >= out->nodes.size() || b >= out->nodes.size()) __builtin_trap();
          }
          if (o.compute_widths && out->widths.size() != out->chains.size()) __builtin_trap();
        }
        break;
      }
      case 1:
        (void)inflate_curves(d.lines, bd, fs, widths, d.opt(8));
        break;
      default:
        (void)triangulate_curves(d.lines, bd, fs, widths, {d.opt(5), resample, d.opt(7)},
                                 d.opt(8));
        break;
    }
  } catch (const MemoryLimitError&) {
    // A documented refusal of absurd densities.
  }
  return 0;
}
