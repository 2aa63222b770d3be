#pragma once

// Work shared among a few threads of the standard library: no pool, every thread joined before
// its work is done with. A thread that cannot be started leaves its share to the caller.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <functional>
#include <future>
#include <system_error>
#include <thread>
#include <tuple>
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

// Results computed one after the other on a thread of its own beside the caller, or (with
// `ownThread` false, or when no thread can be started) by the caller when it first asks for each,
// in the same order. Every step is handed a flag to look at often: it is raised when the results
// are given up (destroyed before asked for), and a step may then end at once with any result;
// destruction waits for the thread.
template <typename... T>
class ResultsBeside {
 public:
  explicit ResultsBeside(bool ownThread, std::function<T(const std::atomic<bool>& stop)>... steps)
      : steps_(std::move(steps)...) {
    Share(std::index_sequence_for<T...>{});
    if (!ownThread) return;
    try {
      thread_ = std::thread([this] { RunAll(std::index_sequence_for<T...>{}); });
    } catch (const std::system_error&) {
    }
  }
  ResultsBeside(const ResultsBeside&) = delete;
  ResultsBeside& operator=(const ResultsBeside&) = delete;
  ~ResultsBeside() {
    stop_.store(true, std::memory_order_relaxed);
    if (thread_.joinable()) thread_.join();
  }

  // Step I's result, waited for (or computed now, with the steps before it); its exception is
  // thrown again here.
  template <std::size_t I>
  const auto& Get() {
    if (!thread_.joinable()) RunUpTo<I>();
    return std::get<I>(futures_).get();
  }

 private:
  template <std::size_t... I>
  void Share(std::index_sequence<I...>) {
    ((std::get<I>(futures_) = std::get<I>(promises_).get_future().share()), ...);
  }
  template <std::size_t I>
  void Run() {
    auto& promise = std::get<I>(promises_);
    try {
      promise.set_value(std::get<I>(steps_)(stop_));
    } catch (...) {
      promise.set_exception(std::current_exception());
    }
  }
  template <std::size_t... I>
  void RunAll(std::index_sequence<I...>) {
    (Run<I>(), ...);
  }
  template <std::size_t I>
  void RunUpTo() {
    if constexpr (I > 0) RunUpTo<I - 1>();
    if (ran_ == I) Run<I>(), ++ran_;
  }

  std::tuple<std::function<T(const std::atomic<bool>&)>...> steps_;
  std::tuple<std::promise<T>...> promises_;
  std::tuple<std::shared_future<T>...> futures_;
  std::atomic<bool> stop_{false};
  std::size_t ran_ = 0;  // steps run by the caller
  std::thread thread_;   // last: started once everything it uses is there
};

}  // namespace kavun
