#include "engine/mtwister.h"

namespace kavun {

uint32_t MTState[kMTN] = {};
int32_t MTIndex = kMTN + 1;

namespace {

constexpr uint32_t kMatrixA = 0x9908B0DF;
constexpr uint32_t kUpperMask = 0x80000000;
constexpr uint32_t kLowerMask = 0x7FFFFFFF;

// Regenerates every word in place, k = 0 .. 623 in increasing order, so that the words read
// across the wrap are the ones already regenerated in this pass.
void Regenerate() {
  for (int32_t k = 0; k < kMTN; ++k) {
    const uint32_t y = (MTState[k] & kUpperMask) | (MTState[(k + 1) % kMTN] & kLowerMask);
    MTState[k] = MTState[(k + kMTM) % kMTN] ^ (y >> 1) ^ ((y & 1) != 0 ? kMatrixA : 0);
  }
}

}  // namespace

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
    Regenerate();
    MTIndex = 0;
  }
  uint32_t y = MTState[MTIndex++];
  y ^= y >> 11;
  y ^= (y << 7) & 0x9D2C5680;
  y ^= (y << 15) & 0xEFC60000;
  y ^= y >> 18;
  return y;
}

void MTResetForTesting() {
  for (uint32_t& word : MTState) word = 0;
  MTIndex = kMTN + 1;
}

}  // namespace kavun
