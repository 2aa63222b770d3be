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

uint32_t MTNext() {
  if (MTIndex >= kMTN) {
    if (MTIndex == kMTN + 1) MTInit(kMTDefaultSeed);
    // Every word in place, k = 0 .. 623 in increasing order, so that the words read across the
    // wrap are the ones already regenerated in this pass.
    kernels::MTRegenerateWords(MTState);
    MTIndex = 0;
  }
  uint32_t y = MTState[MTIndex++];
  y ^= y >> 11;
  y ^= (y << 7) & 0x9D2C5680;
  y ^= (y << 15) & 0xEFC60000;
  y ^= y >> 18;
  return y;
}

void MTLowBytes(uint8_t* out, std::size_t n) {
  while (n > 0) {
    if (MTIndex >= kMTN) {
      if (MTIndex == kMTN + 1) MTInit(kMTDefaultSeed);
      kernels::MTRegenerateWords(MTState);
      MTIndex = 0;
    }
    const std::size_t take = std::min(n, static_cast<std::size_t>(kMTN - MTIndex));
    kernels::MTTemperLowBytes(MTState + MTIndex, out, take);
    MTIndex += static_cast<int32_t>(take);
    out += take;
    n -= take;
  }
}

void MTResetForTesting() {
  for (uint32_t& word : MTState) word = 0;
  MTIndex = kMTN + 1;
}

}  // namespace kavun
