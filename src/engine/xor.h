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
  std::string HexText;           // 32 lower-case hex digits
  std::array<uint8_t, 16> Key;   // the digest bytes in digest order
};

// MD5 of the bytes of `text`, as hex text and as the 16 key bytes.
PasswordDigestResult PasswordDigest(std::string_view text);

// XORs every colour byte of `rect` (red, green, blue of each pixel, rows from the top, pixels from
// the left) with the keystream of `password` in `mode`. `password` holds the bytes that are
// hashed (CP932, see PasswordToCp932). Running the same call twice restores the pixels.
void XorKeystream(Bitmap* bitmap, TRect rect, XorKeyMode mode, std::string_view password);

}  // namespace kavun
