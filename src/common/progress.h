// Cancellation and progress of a running pipeline.
//
// A pipeline runs with a Progress installed for its thread (ProgressScope).
// Stages call checkpoint() between units of work (clusters, polygons, rings,
// jobs) and poll(i) inside long loops; once the caller has asked the call to
// stop, the next check throws Cancelled and the pipeline unwinds, freeing
// everything it holds. Without an installed Progress every check is a single
// thread-local load.
#pragma once

#include <atomic>
#include <cstddef>
#include <exception>

namespace strokegraph {

// Thrown by a check after the caller asked the call to stop. The caller
// discards the call's outcome.
class Cancelled : public std::exception {
 public:
  const char* what() const noexcept override { return "the call was cancelled"; }
};

// Shared by a running call and the thread that waits for it.
struct Progress {
  std::atomic<bool> stop{false};               // set by the waiting thread
  std::atomic<const char*> stage{nullptr};     // a string literal, or nullptr before the first stage
  std::atomic<double> fraction{0.0};           // of the whole call, in [0, 1], never decreasing
  // Stages report only when true (a batch shares one Progress among its jobs
  // and counts finished jobs instead).
  bool detailed = true;
  // The current stage's share of the call; written by the running thread only.
  double begin = 0.0, end = 0.0;
};

namespace progress_detail {
// Initial-exec: the slot lives in every thread's static TLS block, set up with
// the thread itself. The default model for a loadable module would allocate
// it on a thread's first access, and glibc aborts the process when that
// allocation fails.
inline thread_local Progress* current __attribute__((tls_model("initial-exec"))) = nullptr;
}

// Installs `p` for the calling thread for the life of the scope.
class ProgressScope {
 public:
  explicit ProgressScope(Progress* p) noexcept : saved_(progress_detail::current) {
    progress_detail::current = p;
  }
  ~ProgressScope() { progress_detail::current = saved_; }
  ProgressScope(const ProgressScope&) = delete;
  ProgressScope& operator=(const ProgressScope&) = delete;

 private:
  Progress* saved_;
};

inline Progress* current_progress() noexcept { return progress_detail::current; }

inline void checkpoint() {
  const Progress* p = progress_detail::current;
  if (p != nullptr && p->stop.load(std::memory_order_relaxed)) throw Cancelled();
}

// checkpoint() every 4096th step of a long loop.
inline void poll(std::size_t step) {
  if ((step & 4095) == 0) checkpoint();
}

// Enters stage `name` (a string literal), which covers [begin, end) of the
// whole call, then checks for a stop request.
void enter_stage(const char* name, double begin, double end);

// Reports that `done` (0 to 1) of the current stage is finished, then checks
// for a stop request.
void advance(double done);

}  // namespace strokegraph
