// Two tasks on the two cores a user's machine has at least: the one thread helper of the tool.
#pragma once

#include <optional>
#include <system_error>
#include <thread>

namespace qovira {

// Runs both tasks, the first on a second thread when `parallel` and one can be started, otherwise
// first on this one; returns when both are done.
template <typename First, typename Second>
void run_side_by_side(bool parallel, First&& first, Second&& second) {
  std::optional<std::thread> worker;
  if (parallel) {
    try {
      worker.emplace(first);
    } catch (const std::system_error&) {
    }
  }
  if (!worker) {
    first();
  }
  second();
  if (worker) {
    worker->join();
  }
}

}  // namespace qovira
