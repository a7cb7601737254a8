// Working buffers a thread keeps from call to call (Borrowed).
#pragma once

#include <cstddef>
#include <memory>
#include <utility>

namespace strokegraph {

// A T taken from this thread's spare for the length of a scope and handed
// back after: buffers keep their capacity from call to call, so a small
// drawing's passes do not allocate them afresh. A second borrow on the same
// thread while the first is out (a worker running another task as it waits)
// finds no spare and makes its own; the spare stays one per type and thread.
// One grown past kSpareBytes (T::bytes(): its buffers' capacity) is freed
// instead: a large drawing's buffers are not held after its call.
inline constexpr std::size_t kSpareBytes = std::size_t{64} << 10;

template <class T>
class Borrowed {
 public:
  Borrowed() : held_(std::move(spare())) {
    if (!held_) held_ = std::make_unique<T>();
  }
  ~Borrowed() {
    if (held_->bytes() <= kSpareBytes) spare() = std::move(held_);
  }
  Borrowed(const Borrowed&) = delete;
  Borrowed& operator=(const Borrowed&) = delete;
  T& operator*() { return *held_; }
  T* operator->() { return held_.get(); }

 private:
  static std::unique_ptr<T>& spare() {
    thread_local std::unique_ptr<T> kept;
    return kept;
  }
  std::unique_ptr<T> held_;
};

}  // namespace strokegraph
