#include "engine/xor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <vector>

#include "engine/error.h"
#include "engine/md5.h"
#include "engine/mtwister.h"

namespace kavun {
namespace {

using Key = std::array<uint8_t, 16>;

Key Md5Key(std::string_view text) {
  return PasswordDigest(text).Key;
}

Bitmap RandomBitmap(int32_t w, int32_t h, std::mt19937& rng) {
  Bitmap bitmap(w, h, PixelFormat::Bits24);
  for (uint8_t& b : bitmap.Bits()) b = static_cast<uint8_t>(rng());
  return bitmap;
}

std::vector<uint8_t> Bytes(const Bitmap& bitmap) {
  return {bitmap.Bits().begin(), bitmap.Bits().end()};
}

// The keystream in closed form: visited byte n (rows from the top, pixels from the left, red,
// green, blue) of row r.
std::vector<uint8_t> ClosedFormStream(TRect rect, XorKeyMode mode, std::string_view password) {
  const int64_t w = rect.Right - rect.Left;
  const int64_t h = rect.Bottom - rect.Top;
  std::vector<uint8_t> stream(static_cast<std::size_t>(3 * w * h));
  PasswordDigestResult digest = PasswordDigest(password);
  if (mode == XorKeyMode::MTwister) {
    std::mt19937 gen(MTwisterSeed(digest.Key));
    for (uint8_t& b : stream) b = static_cast<uint8_t>(gen());
    return stream;
  }
  const int64_t p = mode == XorKeyMode::MD5OFB ? 16 / std::gcd(w, int64_t{16}) : 0;
  for (int64_t r = 0; r < h; ++r) {
    if (p != 0 && r % p == 0) digest = PasswordDigest(digest.HexText);
    for (int64_t i = 0; i < 3 * w; ++i) {
      const int64_t n = 3 * w * r + i;
      stream[static_cast<std::size_t>(n)] = digest.Key[static_cast<std::size_t>(n % 16)];
    }
  }
  return stream;
}

// What XorKeystream must leave in `bitmap`: every selected colour byte XORed with the stream,
// every other byte (padding included) as it was.
std::vector<uint8_t> Expected(const Bitmap& bitmap, TRect rect, XorKeyMode mode,
                              std::string_view password) {
  std::vector<uint8_t> bytes = Bytes(bitmap);
  if (rect.IsEmpty()) return bytes;
  const std::vector<uint8_t> stream = ClosedFormStream(rect, mode, password);
  std::size_t n = 0;
  for (int32_t y = rect.Top; y < rect.Bottom; ++y) {
    for (int32_t x = rect.Left; x < rect.Right; ++x) {
      uint8_t* pixel = bytes.data() + static_cast<std::size_t>(y) * bitmap.Stride() + 3 * x;
      pixel[2] ^= stream[n++];
      pixel[1] ^= stream[n++];
      pixel[0] ^= stream[n++];
    }
  }
  return bytes;
}

constexpr XorKeyMode kModes[] = {XorKeyMode::MD5, XorKeyMode::MD5OFB, XorKeyMode::MTwister};

class XorTest : public testing::Test {
 protected:
  void TearDown() override { MTResetForTesting(); }
};

TEST_F(XorTest, OnePixelSelectionInEachMode) {
  const std::string password = "kavun";
  const Key k0 = Md5Key(password);
  const Key k1 = Md5Key(PasswordDigest(password).HexText);
  std::mt19937 gen(MTwisterSeed(k0));
  const std::array<uint8_t, 3> mt = {static_cast<uint8_t>(gen()), static_cast<uint8_t>(gen()),
                                     static_cast<uint8_t>(gen())};
  struct {
    XorKeyMode mode;
    std::array<uint8_t, 3> red_green_blue;
  } cases[] = {{XorKeyMode::MD5, {k0[0], k0[1], k0[2]}},
               {XorKeyMode::MD5OFB, {k1[0], k1[1], k1[2]}},
               {XorKeyMode::MTwister, mt}};
  for (const auto& c : cases) {
    Bitmap bitmap(5, 7, PixelFormat::Bits24);
    XorKeystream(&bitmap, TRect{3, 5, 4, 6}, c.mode, password);
    const uint8_t* pixel = bitmap.ScanLine(5).data() + 9;
    EXPECT_EQ(pixel[2], c.red_green_blue[0]);
    EXPECT_EQ(pixel[1], c.red_green_blue[1]);
    EXPECT_EQ(pixel[0], c.red_green_blue[2]);
    bitmap.ScanLine(5)[9] = bitmap.ScanLine(5)[10] = bitmap.ScanLine(5)[11] = 0;
    for (const uint8_t b : bitmap.Bits()) ASSERT_EQ(b, 0) << "a byte outside the pixel changed";
  }
}

TEST_F(XorTest, FivePixelWideSelectionWalksTheKeyAcrossRows) {
  const Key k = Md5Key("walk");
  Bitmap bitmap(5, 3, PixelFormat::Bits24);
  XorKeystream(&bitmap, TRect{0, 0, 5, 3}, XorKeyMode::MD5, "walk");
  // Row starts go 0, 15, 14: row 1 pixel 0 uses 15, 0, 1; row 2 pixel 0 uses 14, 15, 0.
  const uint8_t* row0 = bitmap.ScanLine(0).data();
  const uint8_t* row1 = bitmap.ScanLine(1).data();
  const uint8_t* row2 = bitmap.ScanLine(2).data();
  EXPECT_EQ(row0[2], k[0]);
  EXPECT_EQ(row0[3 * 4 + 0], k[14]);  // blue of pixel 4
  EXPECT_EQ(row1[2], k[15]);
  EXPECT_EQ(row1[1], k[0]);
  EXPECT_EQ(row1[0], k[1]);
  EXPECT_EQ(row1[3 * 4 + 0], k[13]);
  EXPECT_EQ(row2[2], k[14]);
  EXPECT_EQ(row2[1], k[15]);
  EXPECT_EQ(row2[0], k[0]);
}

class XorRehashTest : public testing::TestWithParam<std::pair<int32_t, int32_t>> {};

TEST_P(XorRehashTest, Md5OfbRehashesOnEveryPthRowAtItsFirstPixel) {
  const auto [width, period] = GetParam();
  const int32_t height = 40;
  // K1, K2, ... : K0 is never applied in this mode.
  std::vector<PasswordDigestResult> chain{PasswordDigest("ofb")};
  for (int i = 0; i <= height; ++i) chain.push_back(PasswordDigest(chain.back().HexText));
  Bitmap bitmap(width, height, PixelFormat::Bits24);
  XorKeystream(&bitmap, TRect{0, 0, width, height}, XorKeyMode::MD5OFB, "ofb");
  for (int32_t r = 0; r < height; ++r) {
    const Key& k = chain[static_cast<std::size_t>(1 + r / period)].Key;
    const uint8_t* row = bitmap.ScanLine(r).data();
    for (int32_t i = 0; i < 3 * width; ++i) {
      const int32_t n = 3 * width * r + i;
      const uint8_t got = row[3 * (i / 3) + 2 - i % 3];
      ASSERT_EQ(got, k[static_cast<std::size_t>(n % 16)]) << "row " << r << " byte " << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Widths, XorRehashTest,
                         testing::Values(std::pair{16, 1}, std::pair{32, 1}, std::pair{8, 2},
                                         std::pair{24, 2}, std::pair{4, 4}, std::pair{12, 4},
                                         std::pair{2, 8}, std::pair{6, 8}, std::pair{1, 16},
                                         std::pair{5, 16}));

TEST(XorSeed, UsesTheFirstFourDigestBytesWithWeight2To32AndModulus2To32Minus1) {
  Key key{};
  key = {1, 2, 3, 4, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
  EXPECT_EQ(MTwisterSeed(key), 1u + 65536u * 2 + 256u * 3 + 4);
  key = {255, 255, 255, 255};
  EXPECT_EQ(MTwisterSeed(key), 16777470u);
  key = {};
  EXPECT_EQ(MTwisterSeed(key), 0u);
  // Bytes 0 and 3 may change places without changing the seed.
  std::mt19937 rng(7);
  for (int i = 0; i < 100; ++i) {
    Key a{};
    for (uint8_t& b : a) b = static_cast<uint8_t>(rng());
    Key b = a;
    std::swap(b[0], b[3]);
    b[4] ^= 0x5A;  // bytes 4 to 15 play no part
    EXPECT_EQ(MTwisterSeed(a), MTwisterSeed(b));
  }
}

TEST_F(XorTest, FirstRowDoesNotDependOnTheWidth) {
  std::mt19937 rng(11);
  for (const XorKeyMode mode : kModes) {
    Bitmap original = RandomBitmap(40, 6, rng);
    Bitmap bitmap = original;
    XorKeystream(&bitmap, TRect{3, 1, 40, 6}, mode, "width");
    XorKeystream(&bitmap, TRect{3, 1, 20, 4}, mode, "width");
    const auto row_now = bitmap.ScanLine(1);
    const auto row_then = original.ScanLine(1);
    EXPECT_TRUE(std::equal(row_now.begin() + 9, row_now.begin() + 60, row_then.begin() + 9))
        << static_cast<int>(mode);
  }
}

TEST_F(XorTest, FewerRowsRestoreExactlyThoseRows) {
  std::mt19937 rng(12);
  for (const XorKeyMode mode : kModes) {
    Bitmap original = RandomBitmap(21, 30, rng);
    Bitmap bitmap = original;
    XorKeystream(&bitmap, TRect{2, 3, 19, 30}, mode, "rows");
    XorKeystream(&bitmap, TRect{2, 3, 19, 20}, mode, "rows");
    for (int32_t y = 0; y < 30; ++y) {
      const auto now = bitmap.ScanLine(y);
      const bool restored = std::equal(now.begin(), now.end(), original.ScanLine(y).begin());
      EXPECT_EQ(restored, y < 20) << "row " << y << " mode " << static_cast<int>(mode);
    }
  }
}

TEST_F(XorTest, RectReachingOutsideIsRefusedWithNothingChanged) {
  std::mt19937 rng(13);
  for (const XorKeyMode mode : kModes) {
    for (const TRect rect : {TRect{-1, 0, 3, 3}, TRect{0, -1, 3, 3}, TRect{0, 0, 9, 3},
                             TRect{0, 0, 3, 6}, TRect{7, 4, 9, 6}}) {
      Bitmap bitmap = RandomBitmap(8, 5, rng);
      bitmap.ConvertTo24();
      const std::vector<uint8_t> before = Bytes(bitmap);
      MTInit(99);
      MTNext();
      const std::vector<uint32_t> state(std::begin(MTState), std::end(MTState));
      EXPECT_THROW(XorKeystream(&bitmap, rect, mode, "x"), Error);
      EXPECT_EQ(Bytes(bitmap), before);
      EXPECT_EQ(MTIndex, 1);
      EXPECT_TRUE(std::equal(state.begin(), state.end(), std::begin(MTState)));
    }
  }
}

TEST_F(XorTest, RefusalHappensBeforeThePaletteBitmapIsConverted) {
  Bitmap bitmap(4, 4, PixelFormat::Bits8);
  bitmap.SetPalette({{1, 2, 3}});
  EXPECT_THROW(XorKeystream(&bitmap, TRect{0, 0, 5, 4}, XorKeyMode::MD5, "x"), Error);
  EXPECT_EQ(bitmap.Format(), PixelFormat::Bits8);
}

TEST_F(XorTest, EmptyRectConvertsPaletteBitmapAndStillReseeds) {
  for (const XorKeyMode mode : kModes) {
    Bitmap bitmap(3, 2, PixelFormat::Bits8);
    bitmap.SetPalette({{10, 20, 30}});
    MTInit(1);
    MTNext();
    XorKeystream(&bitmap, TRect{1, 1, 1, 2}, mode, "pal");
    EXPECT_EQ(bitmap.Format(), PixelFormat::Bits24);
    EXPECT_EQ(bitmap.Width(), 3);
    EXPECT_EQ(bitmap.Height(), 2);
    for (int32_t y = 0; y < 2; ++y) {
      for (int32_t x = 0; x < 3; ++x) {
        EXPECT_EQ(bitmap.PixelColor(x, y), (PaletteEntry{10, 20, 30}));
      }
    }
    if (mode == XorKeyMode::MTwister) {
      EXPECT_EQ(MTIndex, 624);
      std::mt19937 reference(MTwisterSeed(Md5Key("pal")));
      EXPECT_EQ(MTNext(), reference());
    } else {
      EXPECT_EQ(MTIndex, 1);
    }
  }
}

TEST_F(XorTest, EmptyRectOutsideTheBitmapChangesNothingAndThrowsNothing) {
  Bitmap bitmap(3, 2, PixelFormat::Bits24);
  EXPECT_NO_THROW(XorKeystream(&bitmap, TRect{5, -3, 5, 9}, XorKeyMode::MD5, "e"));
  for (const uint8_t b : bitmap.Bits()) EXPECT_EQ(b, 0);
}

TEST_F(XorTest, NoBitmapOrNoPixelsDoesNothing) {
  EXPECT_NO_THROW(XorKeystream(nullptr, TRect{0, 0, 1, 1}, XorKeyMode::MTwister, "n"));
  EXPECT_EQ(MTIndex, 625);  // not reseeded
  Bitmap empty(0, 5, PixelFormat::Bits8);
  XorKeystream(&empty, TRect{0, 0, 1, 1}, XorKeyMode::MD5, "n");
  EXPECT_EQ(empty.Format(), PixelFormat::Bits8);
  EXPECT_EQ(MTIndex, 625);
}

TEST_F(XorTest, EmptyPasswordStillScrambles) {
  Bitmap bitmap(2, 1, PixelFormat::Bits24);
  XorKeystream(&bitmap, TRect{0, 0, 2, 1}, XorKeyMode::MD5, "");
  const Key k = Md5Key("");  // d41d8cd9...
  EXPECT_EQ(bitmap.ScanLine(0)[2], 0xd4);
  EXPECT_EQ(bitmap.ScanLine(0)[1], 0x1d);
  EXPECT_EQ(bitmap.ScanLine(0)[0], k[2]);
}

TEST_F(XorTest, RandomCallsMatchTheClosedFormAndTwiceRestoresEveryByte) {
  std::mt19937 rng(2024);
  const std::string passwords[] = {"", "a", "kavun", "\x82\xA0\x82\xA2", std::string(70, 'z')};
  for (int iteration = 0; iteration < 150; ++iteration) {
    const auto w = static_cast<int32_t>(1 + rng() % 37);
    const auto h = static_cast<int32_t>(1 + rng() % 40);
    const auto left = static_cast<int32_t>(rng() % (w + 1));
    const auto right = static_cast<int32_t>(left + rng() % (w - left + 1));
    const auto top = static_cast<int32_t>(rng() % (h + 1));
    const auto bottom = static_cast<int32_t>(top + rng() % (h - top + 1));
    const TRect rect{left, top, right, bottom};
    const XorKeyMode mode = kModes[rng() % 3];
    const std::string& password = passwords[rng() % 5];

    Bitmap bitmap = RandomBitmap(w, h, rng);
    const std::vector<uint8_t> original = Bytes(bitmap);
    const std::vector<uint8_t> expected = Expected(bitmap, rect, mode, password);
    XorKeystream(&bitmap, rect, mode, password);
    ASSERT_EQ(Bytes(bitmap), expected) << "iteration " << iteration;
    if (mode == XorKeyMode::MTwister) {
      const int64_t used = 3 * int64_t{right - left} * (rect.IsEmpty() ? 0 : bottom - top);
      EXPECT_EQ(MTIndex, used == 0 ? 624 : static_cast<int32_t>((used - 1) % 624 + 1));
    }
    XorKeystream(&bitmap, rect, mode, password);
    ASSERT_EQ(Bytes(bitmap), original) << "iteration " << iteration;
  }
}

}  // namespace
}  // namespace kavun
