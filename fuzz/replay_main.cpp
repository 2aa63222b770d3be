// A main() for the fuzz targets where libFuzzer is not used (GCC builds, every test run): feeds
// each file named on the command line, and each file inside each folder named there, to
// LLVMFuzzerTestOneInput once. A crash or a sanitizer report ends the process as it would end
// the fuzzer; otherwise it prints how many inputs it ran and exits 0.
//   fuzz_replay_png FILE_OR_FOLDER...

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

bool ReadWhole(const fs::path& file, std::vector<uint8_t>& bytes) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE_OR_FOLDER...\n", argv[0]);
    return 2;
  }
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const fs::path arg = argv[i];
    std::error_code ec;
    const fs::file_status status = fs::status(arg, ec);
    if (fs::is_directory(status)) {
      std::vector<fs::path> files;
      for (fs::recursive_directory_iterator it(arg, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_regular_file()) files.push_back(it->path());
      }
      std::sort(files.begin(), files.end());
      inputs.insert(inputs.end(), files.begin(), files.end());
    } else if (fs::is_regular_file(status)) {
      inputs.push_back(arg);
    } else {
      ec = std::make_error_code(std::errc::no_such_file_or_directory);
    }
    // A missing or unreadable input means the test data is not what the test expects: fail
    // instead of replaying less.
    if (ec) {
      std::fprintf(stderr, "%s: cannot read %s: %s\n", argv[0], argv[i], ec.message().c_str());
      return 2;
    }
  }
  std::vector<uint8_t> bytes;
  for (const fs::path& file : inputs) {
    if (!ReadWhole(file, bytes)) {
      std::fprintf(stderr, "%s: cannot read %s\n", argv[0], file.c_str());
      return 2;
    }
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  std::printf("replayed %zu inputs\n", inputs.size());
  return inputs.empty() ? 2 : 0;
}
