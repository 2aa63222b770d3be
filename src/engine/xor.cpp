#include "engine/xor.h"

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

void XorKeystream(Bitmap* bitmap, TRect rect, XorKeyMode mode, std::string_view password) {
  if (!HasPixels(bitmap)) return;
  BeginTransform(*bitmap, rect);
  PasswordDigestResult digest = PasswordDigest(password);
  if (mode == XorKeyMode::MTwister) MTInit(MTwisterSeed(digest.Key));
  if (rect.IsEmpty()) return;

  int32_t counter = 0;
  for (int32_t y = rect.Top; y < rect.Bottom; ++y) {
    uint8_t* row = bitmap->ScanLine(y).data();
    counter %= 16;
    for (int32_t x = rect.Left; x < rect.Right; ++x) {
      if (counter == 0 && mode == XorKeyMode::MD5OFB) {
        PasswordDigestResult next = PasswordDigest(digest.HexText);
        digest = std::move(next);
      }
      uint8_t* pixel = row + 3 * static_cast<std::size_t>(x);
      pixel[2] ^= XorKeyByte(mode, counter++, digest.Key);
      pixel[1] ^= XorKeyByte(mode, counter++, digest.Key);
      pixel[0] ^= XorKeyByte(mode, counter++, digest.Key);
    }
  }
  SecureZero(digest.Key.data(), digest.Key.size());
  SecureZero(digest.HexText.data(), digest.HexText.size());
}

}  // namespace kavun
