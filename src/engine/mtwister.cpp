#include "engine/mtwister.h"

#include <algorithm>

#include "engine/fast_kernels.h"

namespace kavun {

uint32_t MTState[kMTN] = {};
int32_t MTIndex = kMTN + 1;

void MTInit(uint32_t seed) {
  MTState[0] = seed;
  for (int32_t i = 1; i < kMTN; ++i) {
    const uint32_t prev = MTState[i - 1];
    MTState[i] = 1812433253u * (prev ^ (prev >> 30)) + static_cast<uint32_t>(i);
  }
  MTIndex = kMTN;
}

namespace {

// Once every word is used: seeds a generator that never was, then regenerates every word in
// place, k = 0 .. 623 in increasing order, so that the words read across the wrap are the ones
// already regenerated in this pass.
void Regenerate() {
  if (MTIndex == kMTN + 1) MTInit(kMTDefaultSeed);
  kernels::MTRegenerateWords(MTState);
  MTIndex = 0;
}

}  // namespace

uint32_t MTNext() {
  if (MTIndex >= kMTN) Regenerate();
  return MTTemper(MTState[MTIndex++]);
}

void MTLowBytes(uint8_t* out, std::size_t n) {
  while (n > 0) {
    if (MTIndex >= kMTN) Regenerate();
    const std::size_t take = std::min(n, static_cast<std::size_t>(kMTN - MTIndex));
    kernels::MTTemperLowBytes(MTState + MTIndex, out, take);
    MTIndex += static_cast<int32_t>(take);
    out += take;
    n -= take;
  }
}

void MTXorTriplesReversed(uint8_t* data, std::size_t len) {
  // Triples that do not lie within one block of 624 words (only after a draw of a count not a
  // multiple of 3) take the bytes through a buffer.
  if (MTIndex % 3 != 0 && MTIndex < kMTN) {
    constexpr std::size_t kMargin = 16;  // the kernel reads two bytes either side
    uint8_t buffer[kMargin + kMTN + kMargin] = {};
    while (len > 0) {
      const std::size_t n = std::min<std::size_t>(len, kMTN);
      MTLowBytes(buffer + kMargin, n);
      kernels::XorTriplesReversed(data, buffer + kMargin, n);
      data += n;
      len -= n;
    }
    // The buffer holds nothing the state in MTState does not give again: it is not cleared.
    return;
  }
  while (len > 0) {
    if (MTIndex >= kMTN) {
      // The pixels of this block are fetched from memory while its words are computed.
#if defined(__GNUC__)
      for (std::size_t line = 0; line < std::min<std::size_t>(len, kMTN); line += 64) {
        __builtin_prefetch(data + line, 1);
      }
#endif
      Regenerate();
    }
    const std::size_t take = std::min(len, static_cast<std::size_t>(kMTN - MTIndex));
    kernels::MTTemperXorReversed(MTState + MTIndex, data, take);
    MTIndex += static_cast<int32_t>(take);
    data += take;
    len -= take;
  }
}

void MTResetForTesting() {
  for (uint32_t& word : MTState) word = 0;
  MTIndex = kMTN + 1;
}

}  // namespace kavun
