#pragma once

// Work shared among a few threads of the standard library: no pool, every thread joined before
// its work is done with. A thread that cannot be started leaves its share to the caller.

#include <algorithm>
#include <atomic>
#include <exception>
#include <functional>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace kavun {

// The processors the machine offers, at least 1.
inline unsigned MachineThreads() {
  return std::max(1u, std::thread::hardware_concurrency());
}

// Runs part(i) for every i in [0, parts): part 0 on the calling thread, the others each on a
// thread of its own. Returns when every part is done; the first exception thrown by a part is
// thrown again here (after all of them ended).
template <typename Part>
void RunParts(unsigned parts, const Part& part) {
  std::vector<std::exception_ptr> errors(std::max(parts, 1u));
  std::vector<std::thread> threads;
  std::vector<unsigned> inlineParts{0};
  for (unsigned i = 1; i < parts; ++i) {
    try {
      threads.emplace_back([&part, &errors, i] {
        try {
          part(i);
        } catch (...) {
          errors[i] = std::current_exception();
        }
      });
    } catch (const std::system_error&) {
      inlineParts.push_back(i);
    }
  }
  for (const unsigned i : inlineParts) {
    try {
      part(i);
    } catch (...) {
      errors[i] = std::current_exception();
    }
  }
  for (std::thread& t : threads) t.join();
  for (const std::exception_ptr& e : errors) {
    if (e) std::rethrow_exception(e);
  }
}

// A result computed beside the caller on a thread of its own, or (with `ownThread` false, or when
// no thread can be started) by the caller when it first asks for it. The work is handed a flag
// to look at often: it is raised when the result is given up (destroyed unasked), and the work
// may then end at once with any result; destruction waits for it.
template <typename T>
class BackgroundResult {
 public:
  BackgroundResult(std::function<T(const std::atomic<bool>& stop)> work, bool ownThread)
      : work_(std::move(work)) {
    if (!ownThread) return;
    try {
      thread_ = std::thread([this] {
        try {
          result_ = work_(stop_);
        } catch (...) {
          error_ = std::current_exception();
        }
      });
    } catch (const std::system_error&) {
    }
  }
  BackgroundResult(const BackgroundResult&) = delete;
  BackgroundResult& operator=(const BackgroundResult&) = delete;
  ~BackgroundResult() {
    stop_.store(true, std::memory_order_relaxed);
    if (thread_.joinable()) thread_.join();
  }

  // The result, waited for (or computed now).
  T& Get() {
    if (thread_.joinable()) {
      thread_.join();
    } else if (!result_ && !error_) {
      result_ = work_(stop_);
    }
    if (error_) std::rethrow_exception(error_);
    return *result_;
  }

 private:
  std::function<T(const std::atomic<bool>&)> work_;
  std::atomic<bool> stop_{false};
  std::optional<T> result_;
  std::exception_ptr error_;
  std::thread thread_;  // last: started once everything it uses is there
};

}  // namespace kavun
