// Running a native call while the calling thread watches: Ctrl-C and the
// progress callback are served from the calling thread, in short slices,
// while the call computes on a thread of its own.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

#include "common/errors.h"
#include "python/errors.h"

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
  // The call is known to take a few milliseconds at most: it runs on the
  // calling thread, which saves handing it to a runner and back, and is not
  // watched (no progress is reported; Ctrl-C is heard once it returns).
  bool short_call = false;
};

// Runs `body` (which must not throw, must touch no Python object and must own,
// through its captures, everything it reads and writes) on a runner thread
// and waits for it. Returns false with a Python exception set when the wait
// was cut short: a signal handler raised (KeyboardInterrupt on SIGINT) or the
// progress callback raised. The call is then asked to stop; it is given a
// moment to unwind and otherwise finishes, and frees its data, in the
// background. A short call, and any call when no thread can be started, runs
// on the calling thread, uninterruptibly.
bool run_watched(std::function<void()> body, const WatchOptions& options);

// Runs a pipeline through run_watched and turns its outcome into a Python
// result: to_python(T) on success, ValueError for a PipelineError,
// MemoryError or PanicException for a C++ exception, or the interrupting
// exception. `run` is a callable returning Result<T> that owns (by value)
// every input it reads; it must touch no Python object.
template <class T, class Run, class ToPython>
PyObject* run_pipeline(const WatchOptions& options, Run&& run, ToPython&& to_python) {
  struct Call {
    std::decay_t<Run> run;
    std::optional<Result<T>> outcome;
    std::exception_ptr failure;
  };
  auto call = std::make_shared<Call>(Call{std::forward<Run>(run), std::nullopt, nullptr});
  auto body = [call] {
    try {
      call->outcome.emplace(call->run());
    } catch (...) {
      call->failure = std::current_exception();
    }
  };
  if (!run_watched(body, options)) return nullptr;
  if (call->failure) {
    call->outcome.reset();  // destroy native data before raising
    raise_native_exception(call->failure);
    return nullptr;
  }
  if (const auto* error = std::get_if<PipelineError>(&*call->outcome)) {
    raise_pipeline_error(*error);
    return nullptr;
  }
  return to_python(std::get<T>(*call->outcome));
}

// Every entry runs inside this: whatever allocation fails outside the guarded
// pipeline (argument binding, messages) is a MemoryError too. The functions
// hold no Python reference while anything can throw.
template <PyObject* (*F)(PyObject*, PyObject* const*, size_t, PyObject*)>
PyObject* guarded(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
  touch_exception_state();
  try {
    return F(self, args, nargsf, kwnames);
  } catch (...) {
    raise_native_exception(std::current_exception());
    return nullptr;
  }
}

// An entry function in the fast calling convention, guarded.
#define SG_FASTCALL(f) \
  reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(::strokegraph::py::guarded<f>))

}  // namespace strokegraph::py
