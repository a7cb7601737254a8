#include "parallel/pool.h"

#include "common/errors.h"
#include "common/progress.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace strokegraph {
namespace {

// Set on the pool's own threads.
thread_local bool is_pool_worker = false;

// One call's share of work: tasks are claimed under the pool lock, finished
// tasks are counted under the call's own lock. A thread that joins a call
// claims its tasks one at a time until none is left.
struct Work {
  std::size_t count = 0;
  const std::function<void(std::size_t)>* task = nullptr;
  const std::function<bool()>* stop = nullptr;
  std::size_t next = 0;   // guarded by the pool lock
  std::size_t seats = 0;  // workers that may still join; guarded by the pool lock

  std::mutex mu;
  std::condition_variable all_done;
  std::size_t finished = 0;  // guarded by mu
};

class WorkerPool {
 public:
  explicit WorkerPool(std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
      try {
        std::thread(&WorkerPool::worker_loop, this).detach();
        ++workers_;
      } catch (const std::system_error&) {
        break;  // run with the workers we could start
      }
    }
  }

  std::size_t workers() const { return workers_; }

  // Runs the tasks on the workers. With `caller_helps` the calling thread
  // runs tasks too, in place of one worker (so no more threads than workers
  // are busy): it does not sleep while work is waiting, and work that is
  // over before a worker wakes costs no hand-over.
  void run(std::size_t count, const std::function<void(std::size_t)>& task,
           const std::function<bool()>& stop, bool caller_helps) {
    if (count == 0) return;
    auto work = std::make_shared<Work>();
    work->count = count;
    work->task = &task;
    work->stop = &stop;
    if (workers_ == 0) {  // no thread could be started: run here
      for (std::size_t i = 0; i < count && !stop(); ++i) task(i);
      return;
    }
    work->seats = std::min(caller_helps ? workers_ - 1 : workers_, caller_helps ? count - 1 : count);
    if (work->seats > 0) {
      {
        std::lock_guard<std::mutex> lock(mu_);
        queue_.push_back(work);
      }
      for (std::size_t i = 0; i < work->seats; ++i) has_work_.notify_one();
    }
    if (caller_helps) {
      const bool was_worker = is_pool_worker;
      is_pool_worker = true;  // tasks that fan out again run inline, as on a worker
      run_tasks(*work);
      is_pool_worker = was_worker;
    }
    std::unique_lock<std::mutex> lock(work->mu);
    work->all_done.wait(lock, [&] { return work->finished == work->count; });
  }

 private:
  // The first queued call a worker may join, or nullptr. Under the pool lock.
  std::shared_ptr<Work> joinable() const {
    for (const std::shared_ptr<Work>& work : queue_) {
      if (work->seats > 0) return work;
    }
    return nullptr;
  }

  // Claims and runs tasks of `work` until none is left to claim.
  void run_tasks(Work& work) {
    for (;;) {
      std::size_t index = 0;
      {
        std::lock_guard<std::mutex> lock(mu_);
        if (work.next == work.count) return;
        index = work.next++;
        if (work.next == work.count) {  // fully handed out (queued only when it had seats)
          const auto it = std::find_if(queue_.begin(), queue_.end(),
                                       [&](const std::shared_ptr<Work>& w) { return w.get() == &work; });
          if (it != queue_.end()) queue_.erase(it);
        }
      }
      // Tasks catch their own failures; `stop` says whether one was recorded.
      if (!(*work.stop)()) (*work.task)(index);
      std::lock_guard<std::mutex> lock(work.mu);
      if (++work.finished == work.count) work.all_done.notify_all();
    }
  }

  void worker_loop() {
    is_pool_worker = true;
    touch_exception_state();
    for (;;) {
      std::shared_ptr<Work> work;
      {
        std::unique_lock<std::mutex> lock(mu_);
        has_work_.wait(lock, [&] { return (work = joinable()) != nullptr; });
        --work->seats;
      }
      run_tasks(*work);
    }
  }

  std::mutex mu_;
  std::condition_variable has_work_;
  std::deque<std::shared_ptr<Work>> queue_;  // calls with tasks left to claim
  std::size_t workers_ = 0;
};

// The pool lives until the process ends: it is never destroyed, so idle
// workers blocked on its condition variable cannot race interpreter or
// process shutdown.
std::mutex creation_mu;
WorkerPool* pool = nullptr;

void before_fork() { creation_mu.lock(); }
void after_fork_in_parent() { creation_mu.unlock(); }
void after_fork_in_child() {
  // The workers did not survive the fork; the next batch starts a new pool.
  pool = nullptr;
  creation_mu.unlock();
}

WorkerPool& get_pool() {
  static const int registered =
      pthread_atfork(before_fork, after_fork_in_parent, after_fork_in_child);
  (void)registered;
  std::lock_guard<std::mutex> lock(creation_mu);
  if (pool == nullptr) pool = new WorkerPool(pool_size_from_environment());
  return *pool;
}

// A decimal integer with an optional '+' (leading zeros allowed), or -1 for
// anything else, including values too large to count threads with.
long long parse_count(const char* text) {
  if (text == nullptr) return -1;
  if (*text == '+') ++text;
  if (*text == '\0') return -1;
  long long value = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return -1;
    value = value * 10 + (*c - '0');
    if (value > 1'000'000'000) return -1;
  }
  return value;
}

std::size_t processors() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : n;
}

}  // namespace

std::size_t pool_size_from_environment() {
  const long long threads = parse_count(std::getenv("RAYON_NUM_THREADS"));
  if (threads > 0) return static_cast<std::size_t>(threads);
  if (threads == 0) return processors();
  const long long cpus = parse_count(std::getenv("RAYON_RS_NUM_CPUS"));
  if (cpus > 0) return static_cast<std::size_t>(cpus);
  return processors();
}

void run_on_pool(std::size_t count, const std::function<void(std::size_t)>& task,
                 const std::function<bool()>& stop) {
  get_pool().run(count, task, stop, false);
}

bool on_pool_worker() { return is_pool_worker; }

std::size_t pool_worker_count() { return get_pool().workers(); }

void parallel_for(std::size_t count, const std::function<void(std::size_t)>& task, bool parallel) {
  std::vector<std::exception_ptr> failures(count);
  const std::function<void(std::size_t)> guarded = [&](std::size_t i) {
    try {
      task(i);
    } catch (...) {
      failures[i] = std::current_exception();
    }
  };
  if (parallel && count > 1 && !is_pool_worker && pool_worker_count() > 1) {
    // The tasks check the caller's stop requests on the workers too, and none
    // starts after one.
    Progress* progress = current_progress();
    const std::function<void(std::size_t)> scoped = [&](std::size_t i) {
      ProgressScope scope(progress);
      guarded(i);
    };
    const std::function<bool()> stop = [progress] {
      return progress != nullptr && progress->stop.load(std::memory_order_relaxed);
    };
    get_pool().run(count, scoped, stop, true);
    checkpoint();
  } else {
    for (std::size_t i = 0; i < count; ++i) guarded(i);
  }
  for (const std::exception_ptr& failure : failures) {
    if (failure) std::rethrow_exception(failure);
  }
}

void parallel_ranges(std::size_t count, std::size_t grain,
                     const std::function<void(std::size_t, std::size_t)>& body) {
  if (grain == 0) grain = 1;
  const std::size_t ranges = count / grain + (count % grain != 0);
  parallel_for(
      ranges,
      [&](std::size_t r) { body(r * grain, std::min(count, (r + 1) * grain)); },
      true);
}

}  // namespace strokegraph
