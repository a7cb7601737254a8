// The driver of the tiled skeleton: plan, every tile on the worker pool
// (each band freed once its last tile has run), then stitch.
#include "pipeline/tile.h"

#include <atomic>
#include <exception>
#include <functional>
#include <mutex>
#include <utility>

#include "common/progress.h"
#include "parallel/pool.h"
#include "pipeline/memory.h"

namespace strokegraph {

TiledSkeleton tiled_skeleton(std::vector<Ring> bands, double radius,
                             double buffer_distance, double feature_size,
                             const BoundaryOptions& boundary, const TileOptions& options,
                             bool keep_boundary) {
  const TilePlan plan = plan_tile_work(bands, radius, buffer_distance, feature_size, boundary,
                                       options, keep_boundary);
  const TileGrid& grid = plan.grid;
  const std::size_t count = grid.count();
  if (count == 0) {
    TiledSkeleton out;
    out.grid = grid;
    return out;
  }
  // A band is freed once every tile that reads it has run. Tiles start in
  // index order, so only the bands of the rows in flight stay: the bands
  // whose last tile is t are listed from last_start[t].
  std::vector<std::size_t> last_start(count + 1, 0), last_bands;
  {
    std::vector<std::size_t> last(bands.size(), count);
    for (std::size_t t = 0; t < count; ++t)
      for (std::size_t k = plan.starts[t]; k < plan.starts[t + 1]; ++k) last[plan.members[k]] = t;
    for (std::size_t b = 0; b < bands.size(); ++b)
      if (last[b] < count) ++last_start[last[b] + 1];
    for (std::size_t t = 0; t < count; ++t) last_start[t + 1] += last_start[t];
    last_bands.resize(last_start[count]);
    std::vector<std::size_t> at(last_start.begin(), last_start.end() - 1);
    for (std::size_t b = 0; b < bands.size(); ++b)
      if (last[b] < count) last_bands[at[last[b]]++] = b;
  }
  std::size_t working_set = 0;  // bytes of the bands, and about as many of pieces
  for (const Ring& band : bands) working_set += 2 * sizeof(Point) * band.size();
  std::mutex done_mu;
  std::vector<char> done(count, 0);
  std::size_t below = 0;  // every tile below this one has run
  auto tile_done = [&](std::size_t t) {
    std::lock_guard<std::mutex> lock(done_mu);
    done[t] = 1;
    const std::size_t before = below;
    for (; below < count && done[below]; ++below)
      for (std::size_t k = last_start[below]; k < last_start[below + 1]; ++k)
        Ring().swap(bands[last_bands[k]]);
    if (below / 32 != before / 32) release_free_memory(working_set);  // what the freed bands held
  };
  struct OnExit {
    decltype(tile_done)& done;
    std::size_t t;
    ~OnExit() { done(t); }
  };
  std::vector<TileResult> results(count);
  std::atomic<bool> failed{false};
  std::mutex failure_mu;
  std::exception_ptr failure;
  // Tiles on the workers check the caller's stop requests too.
  Progress* progress = current_progress();
  const std::function<void(std::size_t)> task = [&](std::size_t t) {
    ProgressScope scope(progress);
    const OnExit exit{tile_done, t};
    try {
      checkpoint();
      results[t] = run_tile(plan.settings, plan.rect_of(t), plan.bands_of(t, bands));
    } catch (...) {
      std::lock_guard<std::mutex> lock(failure_mu);
      if (!failure) failure = std::current_exception();
      failed.store(true, std::memory_order_release);
    }
  };
  const std::function<bool()> stop = [&] {
    return failed.load(std::memory_order_acquire) ||
           (progress != nullptr && progress->stop.load(std::memory_order_relaxed));
  };
  if (options.parallel && count > 1 && !on_pool_worker()) {
    run_on_pool(count, task, stop);
  } else {
    for (std::size_t t = 0; t < count && !stop(); ++t) task(t);
  }
  if (failure) std::rethrow_exception(failure);
  checkpoint();
  // The pieces are all that is left to keep.
  std::vector<Ring>().swap(bands);
  release_free_memory(working_set);
  return assemble_tiles(grid, plan.tolerance, std::move(results), keep_boundary);
}

}  // namespace strokegraph
