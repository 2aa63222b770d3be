#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/mt_constants.h"

namespace kavun {

// MT19937, the Mersenne Twister of Matsumoto and Nishimura with the 2002 seeding, as the one
// generator of the process. The XOR transform seeds it at the start of every MTwister run and
// draws one output per colour byte. No lock: only the user-interface thread uses it.

// The generator's state. MTIndex is the index of the next word to hand out: 625 marks a
// generator that was never seeded, 624 a state whose words are all used. Written only by the
// functions below; tests read them to check where a transform leaves the generator.
extern uint32_t MTState[kMTN];
extern int32_t MTIndex;

// Restarts the sequence from `seed`.
void MTInit(uint32_t seed);
// The next 32-bit output; a generator that was never seeded is first seeded with 5489.
uint32_t MTNext();

// Writes the low 8 bits of the next `n` outputs to out[0 .. n-1] and leaves the generator
// exactly where `n` calls of MTNext leave it (state and MTIndex), only faster.
void MTLowBytes(uint8_t* out, std::size_t n);

// Applies the low 8 bits of the next `len` outputs to pixel bytes stored blue, green, red while
// the outputs go to red, green, blue: data[j] ^= output j + 2 - 2 (j mod 3), for j < len, len a
// multiple of 3. Leaves the generator where `len` calls of MTNext leave it.
void MTXorTriplesReversed(uint8_t* data, std::size_t len);

// For tests only: puts the generator back into the state the process starts with (all words
// zero, never seeded), so that the first-use seeding can be observed.
void MTResetForTesting();

}  // namespace kavun
