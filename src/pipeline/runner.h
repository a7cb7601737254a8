// Running a call on a thread of its own, so that the thread that made the call
// stays free to watch for interrupts and to report progress while it waits.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "common/geometry.h"
#include "common/progress.h"

namespace strokegraph {

struct Runner {
  Progress progress;  // installed for the body's thread
  std::mutex mu;
  std::condition_variable finished;
  bool done = false;  // guarded by mu
};

// Starts `body` on a new detached thread with the runner's Progress
// installed. The thread owns `body` and everything it captures until the body
// returns, then marks the runner done; the caller may stop waiting at any
// time (after setting progress.stop) and leave the body to finish, and free
// its data, on its own. `body` must not throw. Returns nullptr when no thread
// could be started; the caller then runs the body itself.
std::shared_ptr<Runner> start_runner(std::function<void()> body);

// Waits at most `slice` for the body to return; true once it has.
bool wait_runner(Runner& runner, std::chrono::milliseconds slice);

// A measure of the work of banding and tracing `curves`: their points plus
// the outlines of their bands counted in steps of the finer of `radius` and
// `feature_size` (both positive). Overlaps are not counted, so it is only
// good as a bound for small drawings. Not finite for non-finite input.
double band_work(const std::vector<Polyline>& curves, double radius, double feature_size);

// Calls with the default band options and at most this much work take a few
// milliseconds at most (tangles of short strokes take longest, about 8 us a
// unit): too short for a runner thread to pay off, or for Ctrl-C and
// progress to matter.
inline constexpr double kShortCallWork = 1500.0;

}  // namespace strokegraph
