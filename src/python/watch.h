// Running a native call while the calling thread watches: Ctrl-C and the
// progress callback are served from the calling thread, in short slices,
// while the call computes on a thread of its own.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <functional>

namespace strokegraph::py {

struct WatchOptions {
  // Release the interpreter lock while waiting; otherwise the lock stays held
  // for the whole call (other Python threads do not run meanwhile).
  bool release_gil = false;
  // Borrowed; nullptr for none. Called as progress(stage: str, fraction:
  // float) with the lock held, at most about ten times a second, whenever the
  // reported stage or fraction (of the whole call, 0 to 1) changed. Nothing is
  // reported after the call ends. An exception from it cancels the call and
  // propagates.
  PyObject* progress = nullptr;
};

// Runs `body` (which must not throw, must touch no Python object and must own,
// through its captures, everything it reads and writes) on a runner thread
// and waits for it. Returns false with a Python exception set when the wait
// was cut short: a signal handler raised (KeyboardInterrupt on SIGINT) or the
// progress callback raised. The call is then asked to stop; it is given a
// moment to unwind and otherwise finishes, and frees its data, in the
// background. When no thread can be started the body runs on the calling
// thread, uninterruptibly.
bool run_watched(std::function<void()> body, const WatchOptions& options);

}  // namespace strokegraph::py
