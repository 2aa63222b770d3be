// Feeds arbitrary bytes to one decoder (chosen at build time) and writes every picture that
// decodes back out in the same format. Any crash, leak or undefined behaviour is a finding;
// Error exceptions are the expected answer to bad input.

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "engine/error.h"
#include "imagefile/codecs.h"

namespace {

// Keeps a fuzzer's memory small: pictures claiming more pixels are refused like oversized ones.
constexpr uint64_t kMaxFuzzPixels = uint64_t{1} << 22;

#if defined(KAVUN_FUZZ_PNG)
constexpr auto kDecode = kavun::codec::DecodePng;
constexpr auto kEncode = kavun::codec::EncodePng;
#elif defined(KAVUN_FUZZ_JPEG)
constexpr auto kDecode = kavun::codec::DecodeJpeg;
constexpr auto kEncode = kavun::codec::EncodeJpeg;
#elif defined(KAVUN_FUZZ_BMP)
constexpr auto kDecode = kavun::codec::DecodeBmp;
constexpr auto kEncode = kavun::codec::EncodeBmp;
#else
#error "define KAVUN_FUZZ_PNG, KAVUN_FUZZ_JPEG or KAVUN_FUZZ_BMP"
#endif

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::FILE* in = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (in == nullptr) return 0;
  try {
    kavun::codec::DecodeLimits limits;
    limits.MaxPixels = kMaxFuzzPixels;
    const kavun::Bitmap bitmap = kDecode(in, limits, nullptr);
    // Touch every pixel so that the sanitizers see any byte left uninitialised or out of range.
    unsigned sum = 0;
    for (int32_t y = 0; y < bitmap.Height(); ++y) {
      for (int32_t x = 0; x < bitmap.Width(); ++x) sum += bitmap.PixelColor(x, y).Red;
    }
    char* buffer = nullptr;
    std::size_t length = 0;
    std::FILE* out = open_memstream(&buffer, &length);
    if (out != nullptr) {
      try {
        kEncode(out, bitmap);
      } catch (const kavun::Error&) {
      }
      std::fclose(out);
      std::free(buffer);
    }
    if (sum == 0xFFFFFFFFu) std::abort();  // keeps the loop from being optimised away
  } catch (const kavun::Error&) {
  }
  std::fclose(in);
  return 0;
}
