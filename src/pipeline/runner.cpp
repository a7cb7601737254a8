#include "pipeline/runner.h"

#include <system_error>
#include <thread>
#include <utility>

namespace strokegraph {

std::shared_ptr<Runner> start_runner(std::function<void()> body) {
  auto runner = std::make_shared<Runner>();
  try {
    std::thread([runner, body = std::move(body)]() mutable {
      {
        ProgressScope scope(&runner->progress);
        body();
      }
      body = nullptr;  // release the call's data before anyone hears of the end
      std::lock_guard<std::mutex> lock(runner->mu);
      runner->done = true;
      runner->finished.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return nullptr;  // no thread to be had (limits): the caller runs the body
  }
  return runner;
}

bool wait_runner(Runner& runner, std::chrono::milliseconds slice) {
  std::unique_lock<std::mutex> lock(runner.mu);
  return runner.finished.wait_for(lock, slice, [&] { return runner.done; });
}

}  // namespace strokegraph
