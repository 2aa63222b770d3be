// Times the whole job of kavun-cli restoring a picture, stage by stage, for PNG, BMP and JPEG
// files: open the scrambled file, undo the mosaic over the whole picture, save the result. The
// picture is 7680 x 4320, 24 bits, made here to look like a photograph (smooth gradients, a
// fine texture and sensor-like noise), since random bytes do not compress and would not time
// the PNG writer fairly. The PNG save runs twice, on all processors (the writer the program
// uses) and with the single-threaded writer it keeps as the reference, in the same run.
// Times are wall-clock (the PNG writer uses several threads); every case runs three times in
// random interleaved order and the summary takes each case's fastest run.
//
// build/bench/bench_files [--write_photo=FILE.png | --write_batch=DIR] [Google Benchmark options]
// --write_photo writes the photo-like picture as PNG and exits (for timing kavun-cli itself);
// --write_batch writes 50 full-HD PNG files cut from it, DIR/01.png .. DIR/50.png, and exits
// (for timing a batch of kavun-cli).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/bitmap.h"
#include "engine/mosaic.h"
#include "imagefile/imagefile.h"

namespace {

namespace fs = std::filesystem;

constexpr int32_t kWidth = 7680;
constexpr int32_t kHeight = 4320;
constexpr kavun::TRect kWhole{0, 0, kWidth, kHeight};
constexpr int32_t kBlock = 16;
constexpr int32_t kKey1 = 3;
constexpr int32_t kKey2 = 7;

// Gradients across the picture, slow waves, a fine texture and +-3 of noise per channel; every
// term but the noise is a product of a column and a row table, so that 33 million pixels are
// made in a moment.
kavun::Bitmap MakePhotoLike() {
  kavun::Bitmap b(kWidth, kHeight, kavun::PixelFormat::Bits24);
  std::vector<double> sx1(kWidth), cx1(kWidth), sx2(kWidth), tx(kWidth);
  std::vector<double> sy1(kHeight), cy1(kHeight), cy2(kHeight), ty(kHeight);
  for (int32_t x = 0; x < kWidth; ++x) {
    sx1[x] = std::sin(x / 211.0);
    cx1[x] = std::cos(x / 211.0);
    sx2[x] = std::sin(x / 173.0);
    tx[x] = std::sin(x / 2.7) + 0.5 * std::sin(x / 7.3);
  }
  for (int32_t y = 0; y < kHeight; ++y) {
    sy1[y] = std::sin(y / 211.0);
    cy1[y] = std::cos(y / 211.0);
    cy2[y] = std::cos(y / 131.0);
    ty[y] = std::sin(y / 3.1) + 0.5 * std::sin(y / 11.0);
  }
  uint32_t state = 2463534242u;  // xorshift32
  auto noise = [&state] {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return static_cast<int>(state % 7) - 3;
  };
  auto clamp = [](double v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
  for (int32_t y = 0; y < kHeight; ++y) {
    auto row = b.ScanLine(y);
    const double fy = static_cast<double>(y) / kHeight;
    for (int32_t x = 0; x < kWidth; ++x) {
      const double fx = static_cast<double>(x) / kWidth;
      const double wave = sx1[x] * cy1[y] + cx1[x] * sy1[y];  // sin((x + y) / 211)
      const double texture = 3.0 * tx[x] * ty[y];
      const double red = 50 + 150 * fx + 25 * wave + texture;
      const double green = 70 + 110 * fy + 30 * sx2[x] * cy2[y] + texture;
      const double blue = 190 - 90 * (fx + fy) / 2 + 20 * wave + texture;
      row[3 * x] = clamp(blue + noise());
      row[3 * x + 1] = clamp(green + noise());
      row[3 * x + 2] = clamp(red + noise());
    }
  }
  return b;
}

const kavun::Bitmap& Photo() {
  static const kavun::Bitmap photo = MakePhotoLike();
  return photo;
}

// 50 pictures of 1920 x 1080 taken from different places of the photo.
void WriteBatch(const fs::path& folder) {
  constexpr int32_t kW = 1920, kH = 1080;
  fs::create_directories(folder);
  for (int i = 0; i < 50; ++i) {
    const int32_t left = (i * 577) % (kWidth - kW);
    const int32_t top = (i * 331) % (kHeight - kH);
    kavun::Bitmap part(kW, kH, kavun::PixelFormat::Bits24);
    for (int32_t y = 0; y < kH; ++y) {
      const auto from = Photo().ScanLine(top + y).subspan(3 * static_cast<std::size_t>(left));
      std::copy_n(from.begin(), 3 * kW, part.ScanLine(y).begin());
    }
    char name[16];
    std::snprintf(name, sizeof name, "%02d.png", i + 1);
    kavun::SaveImageFile(folder / name, ".png", part);
  }
}

fs::path& Folder() {
  static fs::path folder;
  return folder;
}

struct Format {
  const char* Name;
  const char* Extension;
};
constexpr Format kFormats[] = {{"PNG", ".png"}, {"BMP", ".bmp"}, {"JPEG", ".jpg"}};

fs::path Scrambled(const Format& f) {
  return Folder() / (std::string("scrambled") + f.Extension);
}
fs::path Output(const std::string& name) {
  return Folder() / name;
}

// The scrambled inputs of the open stage, written once.
void WriteInputs() {
  kavun::Bitmap scrambled = Photo();
  kavun::ReversibleMosaic(&scrambled, kWhole, false, kBlock, kBlock, kKey1, kKey2);
  for (const Format& f : kFormats) kavun::SaveImageFile(Scrambled(f), f.Extension, scrambled);
}

void Restore(kavun::Bitmap* bitmap) {
  kavun::ReversibleMosaic(bitmap, kWhole, true, kBlock, kBlock, kKey1, kKey2);
}

// The same save with a budget of one thread, which takes the single-threaded PNG writer.
void SaveSingleThreadedPng(const fs::path& path, const kavun::Bitmap& bitmap) {
  const unsigned budget = kavun::SaveThreadBudget();
  kavun::SetSaveThreadBudget(1);
  kavun::SaveImageFile(path, ".png", bitmap);
  kavun::SetSaveThreadBudget(budget);
}

std::vector<std::string>& Order() {
  static std::vector<std::string> names;
  return names;
}

void Register(const std::string& name, std::function<void()> run) {
  Order().push_back(name);
  benchmark::RegisterBenchmark(Order().back().c_str(),
                               [run](benchmark::State& state) {
                                 for (auto _ : state) run();
                               })
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime()
      ->Iterations(1);
}

void RegisterAll() {
  static kavun::Bitmap working = Photo();
  for (const Format& f : kFormats) {
    const std::string name = f.Name;
    Register("open " + name, [f] { benchmark::DoNotOptimize(kavun::LoadImageFile(Scrambled(f))); });
  }
  Register("transform", [] { Restore(&working); });
  for (const Format& f : kFormats) {
    const std::string name = f.Name;
    Register("save " + name, [f] {
      kavun::SaveImageFile(Output(std::string("out") + f.Extension), f.Extension, Photo());
    });
  }
  Register("save PNG single-threaded",
           [] { SaveSingleThreadedPng(Output("out-single.png"), Photo()); });
  for (const Format& f : kFormats) {
    const std::string name = f.Name;
    Register("whole job " + name, [f] {
      kavun::Bitmap bitmap = kavun::LoadImageFile(Scrambled(f));
      Restore(&bitmap);
      kavun::SaveImageFile(Output(std::string("job") + f.Extension), f.Extension, bitmap);
    });
  }
}

// Prints the usual console output and keeps each case's fastest wall-clock time.
class StageReporter : public benchmark::ConsoleReporter {
 public:
  StageReporter() : ConsoleReporter(OO_None) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
      const double seconds = run.real_accumulated_time / static_cast<double>(run.iterations);
      const std::string name = run.run_name.function_name;
      const auto known = times_.find(name);
      if (known == times_.end() || seconds < known->second) times_[name] = seconds;
    }
  }

  double Ms(const std::string& name) const {
    const auto found = times_.find(name);
    return found == times_.end() ? -1 : found->second * 1e3;
  }

  void PrintSummary() const {
    std::printf(
        "\n7680x4320 photo-like, 24 bit, restore the whole picture; wall-clock ms, "
        "fastest run; %u threads per save\n",
        kavun::SaveThreadBudget());
    std::printf("%-28s %10s %10s %10s\n", "stage", "PNG", "BMP", "JPEG");
    for (const char* stage : {"open", "save", "whole job"}) {
      std::printf("%-28s", stage);
      for (const Format& f : kFormats)
        std::printf(" %10.0f", Ms(std::string(stage) + " " + f.Name));
      std::printf("\n");
    }
    std::printf("%-28s %10.0f\n", "transform (mosaic 16x16)", Ms("transform"));
    const double single = Ms("save PNG single-threaded");
    const double parallel = Ms("save PNG");
    std::printf("%-28s %10.0f\n", "save PNG single-threaded", single);
    if (single > 0 && parallel > 0) {
      std::printf("PNG save speed-up: %.2fx\n", single / parallel);
    }
    std::error_code ec;
    const auto sizeParallel = fs::file_size(Output("out.png"), ec);
    const auto sizeSingle = fs::file_size(Output("out-single.png"), ec);
    if (!ec && sizeSingle > 0) {
      std::printf("PNG size: %ju bytes (single-threaded %ju), ratio %.5f\n",
                  static_cast<uintmax_t>(sizeParallel), static_cast<uintmax_t>(sizeSingle),
                  static_cast<double>(sizeParallel) / static_cast<double>(sizeSingle));
    }
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args{argv[0]};
  std::string repetitions = "--benchmark_repetitions=3";
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  args.push_back(repetitions.data());
  args.push_back(interleave.data());
  const std::string writePhoto = "--write_photo=";
  const std::string writeBatch = "--write_batch=";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind(writePhoto, 0) == 0) {
      kavun::SaveImageFile(arg.substr(writePhoto.size()), ".png", Photo());
      return 0;
    }
    if (arg.rfind(writeBatch, 0) == 0) {
      WriteBatch(arg.substr(writeBatch.size()));
      return 0;
    }
    args.push_back(argv[i]);
  }
  argc = static_cast<int>(args.size());
  argv = args.data();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  Folder() = fs::temp_directory_path() / ("kavun-bench-files-" + std::to_string(::getpid()));
  fs::create_directories(Folder());
  WriteInputs();
  RegisterAll();
  StageReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintSummary();
  benchmark::Shutdown();
  fs::remove_all(Folder());
  return 0;
}
