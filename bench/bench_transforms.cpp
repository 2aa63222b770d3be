// Times each transform on a 7680 x 4320 24-bit picture with the whole image selected, and
// memcpy of the same buffer in the same run. The summary at the end gives every transform's
// time as a multiple of the memcpy time, which is what the speed goals are stated in. Times are
// the process's CPU time (one thread), so that other load on the machine distorts them less.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/bitmap.h"
#include "engine/bitshift.h"
#include "engine/mosaic.h"
#include "engine/xor.h"

namespace {

constexpr int32_t kWidth = 7680;
constexpr int32_t kHeight = 4320;
constexpr kavun::TRect kWhole{0, 0, kWidth, kHeight};

kavun::Bitmap& Picture() {
  static kavun::Bitmap bitmap = [] {
    kavun::Bitmap b(kWidth, kHeight, kavun::PixelFormat::Bits24);
    std::mt19937 rng(1);
    for (uint8_t& byte : b.Bits()) byte = static_cast<uint8_t>(rng());
    return b;
  }();
  return bitmap;
}

void BytesProcessed(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(Picture().Bits().size()));
}

void BM_Memcpy(benchmark::State& state) {
  kavun::Bitmap& bitmap = Picture();
  std::vector<uint8_t> target(bitmap.Bits().size(), 1);
  for (auto _ : state) {
    std::memcpy(target.data(), bitmap.Bits().data(), target.size());
    benchmark::ClobberMemory();
  }
  BytesProcessed(state);
}

void BM_Mosaic(benchmark::State& state) {
  const auto block_w = static_cast<int32_t>(state.range(0));
  const auto block_h = static_cast<int32_t>(state.range(1));
  for (auto _ : state) {
    kavun::ReversibleMosaic(&Picture(), kWhole, false, block_w, block_h, 3, 7);
    benchmark::ClobberMemory();
  }
  BytesProcessed(state);
}

void BM_BitShift(benchmark::State& state) {
  const auto shift = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    kavun::BitShiftRotate(&Picture(), kWhole, shift);
    benchmark::ClobberMemory();
  }
  BytesProcessed(state);
}

void BM_Xor(benchmark::State& state) {
  const auto mode = static_cast<kavun::XorKeyMode>(state.range(0));
  for (auto _ : state) {
    kavun::XorKeystream(&Picture(), kWhole, mode, "benchmark password");
    benchmark::ClobberMemory();
  }
  BytesProcessed(state);
}

}  // namespace

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Mosaic)
    ->Unit(benchmark::kMillisecond)

    ->Args({16, 16})
    ->Args({2, 2})
    ->Args({50, 50});
BENCHMARK(BM_BitShift)
    ->Unit(benchmark::kMillisecond)

    ->Arg(3)
    ->Arg(-3)
    ->Arg(8)
    ->Arg(-13);
BENCHMARK(BM_Xor)->Unit(benchmark::kMillisecond)->Arg(0)->Arg(1)->Arg(2);

namespace {

// Prints the usual console output and remembers each run's time per iteration.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_None) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
      const double seconds = run.cpu_accumulated_time / static_cast<double>(run.iterations);
      const std::string name = run.benchmark_name();
      if (times_.find(name) == times_.end()) order_.push_back(name);
      times_[name] = seconds;
    }
  }

  void PrintSummary() const {
    const auto memcpy_time = times_.find("BM_Memcpy");
    if (memcpy_time == times_.end() || memcpy_time->second <= 0) return;
    std::printf("\n%-28s %12s %10s\n", "transform (7680x4320, 24 bit)", "CPU ms", "x memcpy");
    for (const std::string& name : order_) {
      const double seconds = times_.at(name);
      std::printf("%-28s %12.2f %10.2f\n", name.c_str(), seconds * 1e3,
                  seconds / memcpy_time->second);
    }
  }

 private:
  std::map<std::string, double> times_;
  std::vector<std::string> order_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintSummary();
  benchmark::Shutdown();
  return 0;
}
