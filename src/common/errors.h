// Failures that can leave the native pipeline.
#pragma once

#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>

namespace strokegraph {

// A complete, user-facing message produced by an entry operation. Raised in
// Python as ValueError; stages never produce one.
struct PipelineError {
  std::string message;
  friend bool operator==(const PipelineError&, const PipelineError&) = default;
};

template <class T>
using Result = std::variant<T, PipelineError>;

// Thrown by a stage that would have to grow a list past a sane bound because
// a parameter asks for an absurd density. Surfaces as MemoryError with this
// message instead of exhausting the machine.
class MemoryLimitError : public std::bad_alloc {
 public:
  explicit MemoryLimitError(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// A violated internal invariant: a state that valid input does not reach.
class InvariantError : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

// The C++ runtime keeps its exception state in thread-local storage that a
// loaded module's thread gets only on first use, and the loader ends the
// process when it cannot allocate it then. Threads that may throw
// std::bad_alloc call this first, while memory is still to be had.
inline void touch_exception_state() noexcept {
  volatile int count = std::uncaught_exceptions();  // declared pure: keep the call
  (void)count;
}

}  // namespace strokegraph
