// Tile tasks, results and plans read from arbitrary bytes: reading never
// crashes nor reads past the end, a task that reads runs, and what reads
// writes back to the same bytes.
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/errors.h"
#include "pipeline/tile.h"
#include "pipeline/tile_bytes.h"

using namespace strokegraph;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A copy of its own, so that a read past the end is caught.
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  try {
    auto decoded = decode_tile_task(bytes);
    if (auto* task = std::get_if<TileTask>(&decoded)) {
      std::vector<const Ring*> bands;
      for (const Ring& band : task->bands) bands.push_back(&band);
      if (encode_tile_task(task->tile, task->own, task->settings, bands) != bytes) __builtin_trap();
      // Keep the work of one run bounded, as the pipeline target does: points,
      // and ring length over feature size and over the resampling step.
      double length = 0.0;
      std::size_t points = 0;
      for (const Ring& band : task->bands) {
        points += band.size();
        for (std::size_t k = 0; k < band.size(); ++k) {
          const Point& a = band[k];
          const Point& b = band[k + 1 == band.size() ? 0 : k + 1];
          length += std::hypot(b.x - a.x, b.y - a.y);
        }
      }
      const std::optional<double> resample = task->settings.boundary.resample;
      // Rings are refined towards sharp corners down to a fraction of the
      // band's radius: that bounds the points the refinement can add.
      if (points > 1500 || !(length / task->settings.feature_size <= 2e4) ||
          !(length / task->settings.buffer_distance <= 2e4) ||
          (resample && *resample > 0.0 && !(length / *resample <= 2e4)))
        return 0;
      const TileResult result = run_tile(task->settings, task->own, bands);
      auto back = decode_tile_result(encode_tile_result(task->tile, result));
      if (!std::holds_alternative<std::pair<std::size_t, TileResult>>(back)) __builtin_trap();
    }
    auto result = decode_tile_result(bytes);
    if (auto* r = std::get_if<std::pair<std::size_t, TileResult>>(&result)) {
      if (encode_tile_result(r->first, r->second) != bytes) __builtin_trap();
    }
    auto assembly = decode_tile_assembly(bytes);
    if (auto* a = std::get_if<TileAssembly>(&assembly)) {
      if (encode_tile_assembly(*a) != bytes) __builtin_trap();
    }
  } catch (const MemoryLimitError&) {
  }
  return 0;
}
