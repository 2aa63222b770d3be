// Times each transform on a 7680 x 4320 24-bit picture with the whole image selected, and
// memcpy of the same buffer in the same run. Every transform runs in three forms: the
// straightforward version ("reference"), the fast version on the plain code path ("baseline")
// and the fast version on the widest path this processor supports ("auto"). The summary at the
// end gives every time as a multiple of the memcpy time, which is what the speed goals are
// stated in. Times are the process's CPU time (one thread), the fastest of the repetitions, so
// that other load on the machine distorts them less.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "engine/bitmap.h"
#include "engine/bitshift.h"
#include "engine/cpu_path.h"
#include "engine/mosaic.h"
#include "engine/reference_transforms.h"
#include "engine/xor.h"

namespace {

// Benchmark names in the order they are registered, which the summary keeps.
std::vector<std::string>& RegisteredNames() {
  static std::vector<std::string> names;
  return names;
}

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

enum class Form { Reference, Portable, Sse2, Avx2, Auto };

const char* FormName(Form form) {
  switch (form) {
    case Form::Reference:
      return "reference";
    case Form::Portable:
      return "portable";
    case Form::Sse2:
      return "sse2";
    case Form::Avx2:
      return "avx2";
    case Form::Auto:
      return "auto";
  }
  return "";
}

std::optional<kavun::CpuPath> FormPath(Form form) {
  switch (form) {
    case Form::Portable:
      return kavun::CpuPath::Portable;
    case Form::Sse2:
      return kavun::CpuPath::Sse2;
    case Form::Avx2:
      return kavun::CpuPath::Avx2;
    default:
      return std::nullopt;
  }
}

// Runs `fast` on the path of `form`, or `slow` for the reference form.
void RunTransform(benchmark::State& state, Form form,
                  const std::function<void(kavun::Bitmap*)>& fast,
                  const std::function<void(kavun::Bitmap*)>& slow) {
  if (FormPath(form) && !kavun::CpuPathSupported(*FormPath(form))) {
    state.SkipWithError("this processor cannot run the path");
    return;
  }
  kavun::ForceCpuPath(FormPath(form));
  const auto& run = form == Form::Reference ? slow : fast;
  for (auto _ : state) {
    run(&Picture());
    benchmark::ClobberMemory();
  }
  kavun::ForceCpuPath(std::nullopt);
  BytesProcessed(state);
}

void RegisterTransforms() {
  using kavun::Bitmap;
  struct Case {
    std::string name;
    std::function<void(Bitmap*)> fast, slow;
  };
  std::vector<Case> cases;
  for (const auto& [w, h] : {std::pair{16, 16}, {2, 2}, {50, 50}}) {
    cases.push_back(
        {"mosaic " + std::to_string(w) + "x" + std::to_string(h),
         [w = w, h = h](Bitmap* b) { kavun::ReversibleMosaic(b, kWhole, false, w, h, 3, 7); },
         [w = w, h = h](Bitmap* b) {
           kavun::reference::ReversibleMosaic(b, kWhole, false, w, h, 3, 7);
         }});
  }
  for (const int32_t shift : {3, -3, 8, -13, 23}) {
    cases.push_back({"shift " + std::to_string(shift),
                     [shift](Bitmap* b) { kavun::BitShiftRotate(b, kWhole, shift); },
                     [shift](Bitmap* b) { kavun::reference::BitShiftRotate(b, kWhole, shift); }});
  }
  const std::pair<kavun::XorKeyMode, const char*> modes[] = {
      {kavun::XorKeyMode::MD5, "xor MD5"},
      {kavun::XorKeyMode::MD5OFB, "xor MD5OFB"},
      {kavun::XorKeyMode::MTwister, "xor MTwister"}};
  for (const auto& [mode, name] : modes) {
    cases.push_back(
        {name,
         [mode = mode](Bitmap* b) { kavun::XorKeystream(b, kWhole, mode, "benchmark password"); },
         [mode = mode](Bitmap* b) {
           kavun::reference::XorKeystream(b, kWhole, mode, "benchmark password");
         }});
  }
  for (const Case& c : cases) {
    for (const Form form : {Form::Reference, Form::Portable, Form::Sse2, Form::Avx2, Form::Auto}) {
      RegisteredNames().push_back(c.name + " [" + FormName(form) + "]");
      benchmark::RegisterBenchmark(RegisteredNames().back().c_str(), [c, form](
                                                                         benchmark::State& state) {
        RunTransform(state, form, c.fast, c.slow);
      })->Unit(benchmark::kMillisecond);
    }
  }
}

// Prints the usual console output and remembers each run's CPU time per iteration.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_None) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
      const double seconds = run.cpu_accumulated_time / static_cast<double>(run.iterations);
      const std::string name = run.run_name.function_name;
      const auto known = times_.find(name);
      if (known == times_.end()) {
        times_[name] = seconds;
      } else if (seconds < known->second) {
        known->second = seconds;  // the least disturbed repetition
      }
    }
  }

  void PrintSummary() const {
    const auto memcpy_time = times_.find("memcpy");
    if (memcpy_time == times_.end() || memcpy_time->second <= 0) return;
    std::printf("\n%-34s %10s %10s\n", "7680x4320, 24 bit, whole image", "CPU ms", "x memcpy");
    for (const std::string& name : RegisteredNames()) {
      const auto found = times_.find(name);
      if (found == times_.end()) continue;  // filtered out or skipped
      const double seconds = found->second;
      std::printf("%-34s %10.2f %10.2f\n", name.c_str(), seconds * 1e3,
                  seconds / memcpy_time->second);
    }
    const kavun::CpuPath path = kavun::ActiveCpuPath();
    std::printf("(auto = %s path)\n", kavun::CpuPathName(path));
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  RegisteredNames().push_back("memcpy");
  benchmark::RegisterBenchmark("memcpy", BM_Memcpy)->Unit(benchmark::kMillisecond);
  RegisterTransforms();
  // By default every benchmark runs three times, interleaved in random order, and the summary
  // takes each one's fastest run, so that a burst of other load on the machine hits memcpy and
  // the transforms alike. Options given on the command line come later and win.
  std::vector<char*> args{argv[0]};
  std::string repetitions = "--benchmark_repetitions=3";
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  args.push_back(repetitions.data());
  args.push_back(interleave.data());
  for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
  argc = static_cast<int>(args.size());
  argv = args.data();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Picture();  // fill the picture before the first timing
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintSummary();
  benchmark::Shutdown();
  return 0;
}
