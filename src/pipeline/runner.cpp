#include "pipeline/runner.h"

#include "common/errors.h"

#include <pthread.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <exception>
#include <system_error>
#include <thread>
#include <utility>

namespace strokegraph {

namespace {

// Threads that run calls, reused from call to call. A call that was left to
// finish in the background keeps its thread until it does; meanwhile new
// calls get another thread. Never destroyed, like the batch pool.
class RunnerThreads {
 public:
  // Queues the call for an idle thread, starting one when none is idle.
  // False when no thread could be started.
  bool submit(std::shared_ptr<Runner> runner, std::function<void()> body) {
    std::unique_lock<std::mutex> lock(mu_);
    if (idle_ == 0) {
      try {
        std::thread(&RunnerThreads::loop, this).detach();
      } catch (const std::system_error&) {
        return false;
      }
      ++idle_;
    }
    queue_.push_back({std::move(runner), std::move(body)});
    --idle_;
    lock.unlock();
    has_task_.notify_one();
    return true;
  }

  // Around fork: the child gets no threads, so it starts afresh.
  void before_fork() { mu_.lock(); }
  void after_fork_in_parent() { mu_.unlock(); }
  void after_fork_in_child() {
    queue_.clear();
    idle_ = 0;
    mu_.unlock();
  }

 private:
  struct Task {
    std::shared_ptr<Runner> runner;
    std::function<void()> body;
  };

  void loop() {
    touch_exception_state();
    for (;;) {
      Task task;
      {
        std::unique_lock<std::mutex> lock(mu_);
        has_task_.wait(lock, [&] { return !queue_.empty(); });
        task = std::move(queue_.front());
        queue_.pop_front();
      }
      {
        ProgressScope scope(&task.runner->progress);
        task.body();
      }
      task.body = nullptr;  // release the call's data before anyone hears of the end
      {
        // Idle again before the caller hears of the end, so that its next
        // call finds this thread.
        std::lock_guard<std::mutex> lock(mu_);
        ++idle_;
      }
      std::lock_guard<std::mutex> lock(task.runner->mu);
      task.runner->done = true;
      task.runner->finished.notify_all();
    }
  }

  std::mutex mu_;
  std::condition_variable has_task_;
  std::deque<Task> queue_;
  std::size_t idle_ = 0;  // threads waiting for a task, less the tasks queued
};

RunnerThreads& runner_threads() {
  static RunnerThreads* threads = [] {
    pthread_atfork([] { runner_threads().before_fork(); },
                   [] { runner_threads().after_fork_in_parent(); },
                   [] { runner_threads().after_fork_in_child(); });
    return new RunnerThreads;
  }();
  return *threads;
}

}  // namespace

std::shared_ptr<Runner> start_runner(std::function<void()> body) {
  auto runner = std::make_shared<Runner>();
  if (!runner_threads().submit(runner, std::move(body))) return nullptr;
  return runner;
}

bool wait_runner(Runner& runner, std::chrono::milliseconds slice) {
  std::unique_lock<std::mutex> lock(runner.mu);
  return runner.finished.wait_for(lock, slice, [&] { return runner.done; });
}

double band_work(const std::vector<Polyline>& curves, double radius, double feature_size) {
  constexpr double kTwoPi = 6.283185307179586;
  double points = 0.0, length = 0.0;
  for (const Polyline& curve : curves) {
    points += double(curve.size());
    for (std::size_t i = 1; i < curve.size(); ++i) {
      length += std::hypot(curve[i].x - curve[i - 1].x, curve[i].y - curve[i - 1].y);
    }
    length += kTwoPi * radius;  // the caps
  }
  return points + length / std::min(radius, feature_size);
}

}  // namespace strokegraph
