#pragma once

#include <cstddef>
#include <cstdint>

// The inner loops of the fast transforms, each in a plain version for any processor and a
// vector version chosen at run time (see cpu_path.h). Every version computes the same bytes.
namespace kavun::kernels {

// data[j] ^= pattern[j mod 96] for j < len. `pattern` holds 128 bytes: the 96-byte period
// followed by its first 32 bytes again.
void XorRepeating96(uint8_t* data, std::size_t len, const uint8_t* pattern);

// Applies a keystream given in visiting order (red, green, blue of each pixel) to pixel bytes
// stored blue, green, red: data[j] ^= stream[j + 2 - 2 * (j mod 3)] for j < len, len a multiple
// of 3. The bytes stream[-2], stream[-1], stream[len] and stream[len + 1] must be readable.
void XorTriplesReversed(uint8_t* data, const uint8_t* stream, std::size_t len);

// dst[j] = low 8 bits of (src[j] << s1) | (src[j + 1] >> s2) for j < len, with s1 + s2 = 8:
// one byte of a bit string shifted by a part of a byte. src[len] must be readable.
void CombineShiftedBytes(uint8_t* dst, const uint8_t* src, std::size_t len, unsigned s1,
                         unsigned s2);

// Writes `width` pixels of 3 bytes: out[3c .. 3c+2] = from_base[offset[c] .. offset[c]+2]. Four
// bytes at from_base + offset[c] must be readable; nothing beyond out[3 * width - 1] is written.
void GatherPixels(uint8_t* out, const uint8_t* from_base, const uint32_t* offset,
                  std::size_t width);

// Regenerates the 624 words of an MT19937 state in place, k = 0 .. 623 in increasing order.
void MTRegenerateWords(uint32_t* mt);

// out[i] = low 8 bits of the MT19937 tempering of words[i], for i < n.
void MTTemperLowBytes(const uint32_t* words, uint8_t* out, std::size_t n);

// The two steps above and XorTriplesReversed in one: data[j] ^= low 8 bits of the tempering of
// words[j + 2 - 2 * (j mod 3)] for j < n, n a multiple of 3 and at most 624.
void MTTemperXorReversed(const uint32_t* words, uint8_t* data, std::size_t n);

}  // namespace kavun::kernels
