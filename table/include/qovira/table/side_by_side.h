// Two tasks on the two cores a user's machine has at least: the one thread helper of the tool.
#pragma once

#include <optional>
#include <system_error>
#include <thread>
#include <utility>

namespace qovira {

// A task run on a second thread when `parallel` and one can be started, otherwise at once on this
// one; wait() (or the end of its lifetime) returns when it is done.
class SideTask {
 public:
  template <typename Task>
  SideTask(bool parallel, Task&& task) {
    if (parallel) {
      try {
        worker_.emplace(task);
      } catch (const std::system_error&) {
      }
    }
    if (!worker_) {
      std::forward<Task>(task)();
    }
  }
  SideTask(const SideTask&) = delete;
  SideTask& operator=(const SideTask&) = delete;
  ~SideTask() { wait(); }

  void wait() {
    if (worker_) {
      worker_->join();
      worker_.reset();
    }
  }

 private:
  std::optional<std::thread> worker_;
};

// Runs both tasks, the first as a SideTask; returns when both are done.
template <typename First, typename Second>
void run_side_by_side(bool parallel, First&& first, Second&& second) {
  SideTask side(parallel, std::forward<First>(first));
  second();
}

}  // namespace qovira
