// Tile tasks, results and plans read from arbitrary bytes: reading never
// crashes nor reads past the end, a task that reads runs, and what reads
// writes back to the same bytes.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/errors.h"
#include "tile/tile.h"
#include "tile/tile_bytes.h"

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
