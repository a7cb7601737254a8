#include "python/watch.h"

#include <chrono>
#include <memory>

#include "pipeline/runner.h"

namespace strokegraph::py {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How often the calling thread looks at signals and progress, how long an
// interrupted call gets to unwind before it is left to finish on its own, and
// the least time between two progress reports. A stage that reports nothing
// new for kHeartbeat (one long polygon's triangulation) is reported again as
// it stands, so that the callback is heard, and can cancel, in every stage.
constexpr milliseconds kSlice{20};
constexpr milliseconds kGrace{100};
constexpr milliseconds kReportInterval{100};
constexpr milliseconds kHeartbeat{400};

bool wait(Runner& runner, milliseconds slice, bool release_gil) {
  if (!release_gil) return wait_runner(runner, slice);
  bool done;
  Py_BEGIN_ALLOW_THREADS
  done = wait_runner(runner, slice);
  Py_END_ALLOW_THREADS
  return done;
}

// Runs the body here, with a Progress of its own installed as on a runner.
void run_here(const std::function<void()>& body, bool release_gil) {
  Progress progress;
  ProgressScope scope(&progress);
  if (!release_gil) {
    body();
    return;
  }
  Py_BEGIN_ALLOW_THREADS
  body();
  Py_END_ALLOW_THREADS
}

bool report(PyObject* callback, const char* stage, double fraction) {
  PyObject* result = PyObject_CallFunction(callback, "sd", stage, fraction);
  Py_XDECREF(result);
  return result != nullptr;
}

}  // namespace

bool run_watched(std::function<void()> body, const WatchOptions& options) {
  std::shared_ptr<Runner> runner = options.short_call ? nullptr : start_runner(body);
  if (runner == nullptr) {
    run_here(body, options.release_gil);
    return true;
  }
  body = nullptr;

  Progress& progress = runner->progress;
  const char* reported_stage = nullptr;
  double reported_fraction = -1.0;
  Clock::time_point last_report = Clock::now();
  while (!wait(*runner, kSlice, options.release_gil)) {
    bool failed = PyErr_CheckSignals() < 0;
    const Clock::duration quiet = Clock::now() - last_report;
    if (!failed && options.progress != nullptr && quiet >= kReportInterval) {
      const char* stage = progress.stage.load(std::memory_order_relaxed);
      const double fraction = progress.fraction.load(std::memory_order_relaxed);
      if (stage != nullptr &&
          (stage != reported_stage || fraction != reported_fraction || quiet >= kHeartbeat)) {
        failed = !report(options.progress, stage, fraction);
        reported_stage = stage;
        reported_fraction = fraction;
        last_report = Clock::now();
      }
    }
    if (failed) {
      progress.stop.store(true, std::memory_order_relaxed);
      // Most calls unwind at their next check; one stuck in a single library
      // call is left to finish in the background.
      PyObject *type, *value, *traceback;
      PyErr_Fetch(&type, &value, &traceback);
      (void)wait(*runner, kGrace, options.release_gil);
      PyErr_Restore(type, value, traceback);
      return false;
    }
  }
  return true;
}

}  // namespace strokegraph::py
