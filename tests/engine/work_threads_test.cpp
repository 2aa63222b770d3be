#include "engine/work_threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace kavun {
namespace {

// Each step notes that it ran; the last one runs until it is told to stop, so a destruction that
// does not raise the flag never ends.
TEST(WorkThreadsTest, ResultsBesideRunsItsStepsInOrderAndStopsTheOneNotAskedFor) {
  for (const bool ownThread : {true, false}) {
    std::mutex m;
    std::vector<int> ran;
    const auto note = [&](int step) {
      const std::lock_guard<std::mutex> lock(m);
      ran.push_back(step);
    };
    {
      ResultsBeside<std::string, int, int> beside(
          ownThread,
          [&](const std::atomic<bool>&) {
            note(0);
            return std::string("first");
          },
          [&](const std::atomic<bool>&) {
            note(1);
            return 2;
          },
          [&](const std::atomic<bool>& stop) {
            note(2);
            while (!stop.load()) std::this_thread::yield();
            return 3;
          });
      EXPECT_EQ(beside.Get<1>(), 2);
      EXPECT_EQ(beside.Get<0>(), "first");
      EXPECT_EQ(beside.Get<1>(), 2);
    }
    const std::vector<int> expected =
        ownThread ? std::vector<int>{0, 1, 2} : std::vector<int>{0, 1};
    EXPECT_EQ(ran, expected) << (ownThread ? "own thread" : "caller's thread");
  }
}

TEST(WorkThreadsTest, AStepsExceptionIsThrownWhereItsResultIsAskedFor) {
  for (const bool ownThread : {true, false}) {
    ResultsBeside<int, int> beside(
        ownThread, [](const std::atomic<bool>&) -> int { throw std::runtime_error("step 0"); },
        [](const std::atomic<bool>&) { return 1; });
    EXPECT_THROW(beside.Get<0>(), std::runtime_error);
    EXPECT_EQ(beside.Get<1>(), 1);
  }
}

TEST(WorkThreadsTest, RunPartsRunsEveryPartOnceAndThrowsAfterAllEnded) {
  std::vector<std::atomic<int>> runs(5);
  RunParts(5, [&](unsigned i) { ++runs[i]; });
  for (const std::atomic<int>& r : runs) EXPECT_EQ(r.load(), 1);

  std::atomic<int> ended{0};
  EXPECT_THROW(RunParts(4,
                        [&](unsigned i) {
                          if (i == 2) throw std::runtime_error("part 2");
                          ++ended;
                        }),
               std::runtime_error);
  EXPECT_EQ(ended.load(), 3);
}

}  // namespace
}  // namespace kavun
