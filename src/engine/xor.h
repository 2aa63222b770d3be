#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/bitmap.h"
#include "engine/rect.h"

namespace kavun {

// One byte. MTwister draws from the generator; every other value indexes the key; only MD5OFB
// re-hashes.
enum class XorKeyMode : uint8_t { MD5 = 0, MD5OFB = 1, MTwister = 2 };

struct PasswordDigestResult {
  std::string HexText;          // 32 lower-case hex digits
  std::array<uint8_t, 16> Key;  // the digest bytes in digest order
};

// MD5 of the bytes of `text`, as hex text and as the 16 key bytes.
PasswordDigestResult PasswordDigest(std::string_view text);

// The key byte for `counter`: in mode MTwister the low 8 bits of the generator's next output
// (the counter is not used); in every other mode key[counter mod 16] (counter is never negative).
uint8_t XorKeyByte(XorKeyMode mode, int32_t counter, const std::array<uint8_t, 16>& key);

// The generator seed of mode MTwister: (d0 * 2^32 + d1 * 65536 + d2 * 256 + d3) mod (2^32 - 1) for
// the first four key bytes, which always equals d0 + 65536 * d1 + 256 * d2 + d3.
uint32_t MTwisterSeed(const std::array<uint8_t, 16>& key);

// XORs every colour byte of `rect` (red, green, blue of each pixel, rows from the top, pixels from
// the left) with the keystream of `password` in `mode`. `password` holds the bytes that are
// hashed (CP932, see PasswordToCp932). Running the same call twice restores the pixels.
// No bitmap or no pixels: nothing happens. A non-empty `rect` reaching outside the bitmap throws
// Error before anything changes (the generator is not reseeded either). An empty `rect` changes no
// pixel, but the bitmap is still converted to 24 bits and mode MTwister still reseeds.
void XorKeystream(Bitmap* bitmap, TRect rect, XorKeyMode mode, std::string_view password);

}  // namespace kavun
