// Reading and writing the settings file at start and exit, for files of many lines: a file of
// N keys in [Setup] and one of N one-key sections, each read (LoadSettingsValues, which also
// writes it back) and then saved (SaveSettingsValues). The time of both is linear in the size.
//
// build/bench/bench_settings [Google Benchmark options]
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "applogic/settings.h"

namespace {

namespace fs = std::filesystem;

fs::path MakeFile(int64_t lines, bool sections) {
  const fs::path dir =
      fs::temp_directory_path() / ("kavun_bench_settings_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path file = dir / "kavun.ini";
  std::string text = "[Setup]\r\nisScrollTrack=1\r\nFormWidth=800\r\n";
  for (int64_t i = 0; i < lines; ++i) {
    if (sections) text += "[Section" + std::to_string(i) + "]\r\n";
    text += "Key" + std::to_string(i) + "=value of the key number " + std::to_string(i) + "\r\n";
  }
  std::ofstream(file, std::ios::binary) << text;
  return file;
}

void LoadAndSave(benchmark::State& state, bool sections) {
  const fs::path file = MakeFile(state.range(0), sections);
  const kavun::TSettingsLocation location{file, {}};
  for (auto _ : state) {
    kavun::TSettingsValues values = kavun::LoadSettingsValues(location, 594, 477);
    benchmark::DoNotOptimize(values);
    values.FormHeight = 500;
    kavun::SaveSettingsValues(location, values);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(fs::file_size(file)));
  fs::remove_all(file.parent_path());
}

void BM_SettingsKeys(benchmark::State& state) {
  LoadAndSave(state, false);
}
void BM_SettingsSections(benchmark::State& state) {
  LoadAndSave(state, true);
}

BENCHMARK(BM_SettingsKeys)->Arg(10000)->Arg(80000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SettingsSections)->Arg(10000)->Arg(80000)->Arg(200000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
