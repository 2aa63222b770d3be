#pragma once

// The constants of MT19937 (Matsumoto and Nishimura), shared by the generator and its
// vectorised kernels.

#include <cstdint>

namespace kavun {

inline constexpr int32_t kMTN = 624;  // words of state
inline constexpr int32_t kMTM = 397;  // the distance of the word mixed into each new one
inline constexpr uint32_t kMTDefaultSeed = 5489;
inline constexpr uint32_t kMTMatrixA = 0x9908B0DF;
inline constexpr uint32_t kMTUpperMask = 0x80000000;
inline constexpr uint32_t kMTLowerMask = 0x7FFFFFFF;
// The tempering's masks: y ^= (y << 7) & kMTTemperB; y ^= (y << 15) & kMTTemperC.
inline constexpr uint32_t kMTTemperB = 0x9D2C5680;
inline constexpr uint32_t kMTTemperC = 0xEFC60000;

// One output from one word of state.
constexpr uint32_t MTTemper(uint32_t y) {
  y ^= y >> 11;
  y ^= (y << 7) & kMTTemperB;
  y ^= (y << 15) & kMTTemperC;
  y ^= y >> 18;
  return y;
}

}  // namespace kavun
