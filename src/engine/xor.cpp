#include "engine/xor.h"

#include <algorithm>
#include <vector>

#include "engine/fast_kernels.h"
#include "engine/md5.h"
#include "engine/mtwister.h"
#include "engine/transform_frame.h"

namespace kavun {

PasswordDigestResult PasswordDigest(std::string_view text) {
  PasswordDigestResult result;
  result.HexText = MD5HexDigest(text.data(), static_cast<uint32_t>(text.size()));
  HexToBytes(result.HexText, result.Key.data(), result.Key.size());
  return result;
}

uint8_t XorKeyByte(XorKeyMode mode, int32_t counter, const std::array<uint8_t, 16>& key) {
  if (mode == XorKeyMode::MTwister) return static_cast<uint8_t>(MTNext());
  return key[static_cast<std::size_t>(counter % 16)];
}

uint32_t MTwisterSeed(const std::array<uint8_t, 16>& key) {
  const uint64_t v = (uint64_t{key[0]} << 32) + (uint64_t{key[1]} << 16) + (uint64_t{key[2]} << 8) +
                     uint64_t{key[3]};
  return static_cast<uint32_t>(v % 4294967295u);
}

// The keystream is applied row by row. A row's pixels lie in storage order blue, green, red
// while the stream visits red, green, blue, so stored byte j of the row takes visited byte
// n = j + 2 - 2 (j mod 3).
//
// MD5 modes: with the counter s at the row start, stored byte j takes key[(s + j + 2 - 2 (j mod
// 3)) mod 16], a pattern of period 48 (96 for the vector width), built once per row and XORed
// over the row. MD5OFB re-hashes first when s is 0, the only place the counter can be 0.
//
// MTwister: the low bytes of the generator's outputs are applied a block of 624 outputs at a time
// (208 pixels: the blocks start at pixel boundaries), each pixel's three bytes reversed.
void XorKeystream(Bitmap* bitmap, TRect rect, XorKeyMode mode, std::string_view password) {
  if (!HasPixels(bitmap)) return;
  BeginTransform(*bitmap, rect);
  PasswordDigestResult digest = PasswordDigest(password);
  if (mode == XorKeyMode::MTwister) MTInit(MTwisterSeed(digest.Key));
  if (rect.IsEmpty()) return;

  const std::size_t len = 3 * static_cast<std::size_t>(rect.Right - rect.Left);
  const std::size_t offset = 3 * static_cast<std::size_t>(rect.Left);
  if (mode == XorKeyMode::MTwister) {
    for (int32_t y = rect.Top; y < rect.Bottom; ++y) {
      MTXorTriplesReversed(bitmap->ScanLine(y).data() + offset, len);
    }
  } else {
    uint8_t pattern[128];
    int32_t counter = 0;
    for (int32_t y = rect.Top; y < rect.Bottom; ++y) {
      uint8_t* row = bitmap->ScanLine(y).data() + offset;
      counter %= 16;
      if (counter == 0 && mode == XorKeyMode::MD5OFB) {
        PasswordDigestResult next = PasswordDigest(digest.HexText);
        SecureZero(digest.HexText.data(), digest.HexText.size());
        digest = std::move(next);
      }
      for (std::size_t j = 0; j < sizeof pattern; ++j) {
        const std::size_t n = static_cast<std::size_t>(counter) + j + 2 - 2 * (j % 3);
        pattern[j] = digest.Key[n % 16];
      }
      kernels::XorRepeating96(row, len, pattern);
      counter += static_cast<int32_t>(len);
    }
    SecureZero(pattern, sizeof pattern);
  }
  SecureZero(digest.Key.data(), digest.Key.size());
  SecureZero(digest.HexText.data(), digest.HexText.size());
}

}  // namespace kavun
