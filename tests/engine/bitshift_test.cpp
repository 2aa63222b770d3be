#include "engine/bitshift.h"

#include <gtest/gtest.h>

#include "engine/error.h"
#include "test_bitmaps.h"

namespace kavun {
namespace {

using testing_util::Bytes;
using testing_util::RandomBitmap;
using testing_util::RowBitmap;
using testing_util::RowBytes;

struct ShiftCase {
  std::vector<uint8_t> before;
  int32_t shift;
  std::vector<uint8_t> after;
};
class BitShiftExamples : public testing::TestWithParam<ShiftCase> {};

TEST_P(BitShiftExamples, RotatesTheRowsBitString) {
  const ShiftCase& c = GetParam();
  Bitmap bitmap = RowBitmap(c.before);
  BitShiftRotate(&bitmap, {0, 0, bitmap.Width(), 1}, c.shift);
  EXPECT_EQ(RowBytes(bitmap), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, BitShiftExamples,
    testing::Values(
        ShiftCase{{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}, 4, {0xC1, 0x23, 0x45, 0x67, 0x89, 0xAB}},
        ShiftCase{{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}, -4, {0x23, 0x45, 0x67, 0x89, 0xAB, 0xC1}},
        ShiftCase{{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x11},
                  1,
                  {0x89, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x78, 0x08}},
        ShiftCase{{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x11},
                  -1,
                  {0x24, 0x68, 0xAC, 0xF1, 0x35, 0x79, 0xBD, 0xE0, 0x22}},
        ShiftCase{{0x12, 0x34, 0x56}, 4, {0x61, 0x23, 0x45}},
        ShiftCase{{0x12, 0x34, 0x56}, -4, {0x23, 0x45, 0x61}}));

TEST(BitShiftRotate, OnePixelDoesNotTouchItsNeighbours) {
  Bitmap bitmap = RowBitmap({0xAA, 0xBB, 0xCC, 0x12, 0x34, 0x56, 0xDD, 0xEE, 0xFF});
  BitShiftRotate(&bitmap, {1, 0, 2, 1}, 4);
  EXPECT_EQ(RowBytes(bitmap),
            (std::vector<uint8_t>{0xAA, 0xBB, 0xCC, 0x61, 0x23, 0x45, 0xDD, 0xEE, 0xFF}));
}

TEST(BitShiftRotate, ShiftWidthIsClampedTo23) {
  std::mt19937 rng(11);
  const Bitmap source = RandomBitmap(9, 3, rng);
  auto rotated = [&](int32_t shift) {
    Bitmap b = source;
    BitShiftRotate(&b, {1, 0, 8, 3}, shift);
    return Bytes(b);
  };
  EXPECT_EQ(rotated(100), rotated(23));
  EXPECT_EQ(rotated(24), rotated(23));
  EXPECT_EQ(rotated(-100), rotated(-23));
  EXPECT_EQ(rotated(-24), rotated(-23));
  EXPECT_EQ(rotated(std::numeric_limits<int32_t>::min()), rotated(-23));
  EXPECT_NE(rotated(23), rotated(22));
}

TEST(BitShiftRotate, ZeroShiftReturnsBeforeConverting) {
  std::mt19937 rng(12);
  Bitmap bitmap = RandomBitmap(6, 4, rng, PixelFormat::Bits8);
  const auto before = Bytes(bitmap);
  BitShiftRotate(&bitmap, {0, 0, 6, 4}, 0);
  EXPECT_EQ(bitmap.Format(), PixelFormat::Bits8);
  EXPECT_EQ(Bytes(bitmap), before);
}

TEST(BitShiftRotate, EmptyRectangleConvertsWithTheSameColours) {
  std::mt19937 rng(13);
  Bitmap bitmap = RandomBitmap(6, 4, rng, PixelFormat::Bits1);
  Bitmap expected = bitmap;
  expected.ConvertTo24();
  BitShiftRotate(&bitmap, {3, 1, 3, 4}, 5);
  EXPECT_EQ(Bytes(bitmap), Bytes(expected));
  BitShiftRotate(nullptr, {0, 0, 1, 1}, 5);  // no bitmap: nothing happens
}

TEST(BitShiftRotate, RectangleOutsideTheBitmapChangesNothing) {
  std::mt19937 rng(14);
  for (const TRect rect :
       {TRect{-1, 0, 4, 4}, TRect{0, -1, 4, 4}, TRect{0, 0, 7, 4}, TRect{0, 0, 4, 5}}) {
    Bitmap bitmap = RandomBitmap(6, 4, rng, PixelFormat::Bits16_565);
    const auto before = Bytes(bitmap);
    EXPECT_THROW(BitShiftRotate(&bitmap, rect, 3), Error);
    EXPECT_EQ(bitmap.Format(), PixelFormat::Bits16_565);
    EXPECT_EQ(Bytes(bitmap), before);
  }
}

// The row segment as a string of bits, rotated the slow, obvious way.
std::vector<uint8_t> RotateBitsSlowly(const std::vector<uint8_t>& bytes, int32_t shift) {
  const std::size_t n = bytes.size() * 8;
  std::vector<bool> bits(n);
  for (std::size_t i = 0; i < n; ++i) bits[i] = (bytes[i / 8] >> (7 - i % 8)) & 1;
  std::vector<bool> rotated(n);
  const std::size_t k = static_cast<std::size_t>(shift > 0 ? shift : -shift);
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t to = shift > 0 ? (i + k) % n : (i + n - k) % n;
    rotated[to] = bits[i];
  }
  std::vector<uint8_t> out(bytes.size(), 0);
  for (std::size_t i = 0; i < n; ++i) {
    if (rotated[i]) out[i / 8] |= static_cast<uint8_t>(1u << (7 - i % 8));
  }
  return out;
}

TEST(BitShiftRotate, AgreesWithARotatedBitString) {
  std::mt19937 rng(15);
  for (int32_t k = 1; k <= 23; ++k) {
    for (int32_t m = 1; m <= 9; ++m) {
      for (int32_t sign : {1, -1}) {
        Bitmap bitmap = RandomBitmap(m + 2, 1, rng);
        std::vector<uint8_t> row = RowBytes(bitmap);
        std::vector<uint8_t> segment(row.begin() + 3, row.begin() + 3 + 3 * m);
        const auto rotated = RotateBitsSlowly(segment, sign * k);
        std::copy(rotated.begin(), rotated.end(), row.begin() + 3);
        BitShiftRotate(&bitmap, {1, 0, 1 + m, 1}, sign * k);
        ASSERT_EQ(RowBytes(bitmap), row) << "k " << k << " m " << m << " sign " << sign;
      }
    }
  }
}

TEST(BitShiftRotate, RotatingBackRestoresEveryByte) {
  std::mt19937 rng(16);
  for (int32_t k = 1; k <= 23; ++k) {
    for (int round = 0; round < 12; ++round) {
      const int32_t w = std::uniform_int_distribution<int32_t>(1, 45)(rng);
      const int32_t h = std::uniform_int_distribution<int32_t>(1, 9)(rng);
      Bitmap bitmap = RandomBitmap(w, h, rng);
      const int32_t left = std::uniform_int_distribution<int32_t>(0, w - 1)(rng);
      const int32_t top = std::uniform_int_distribution<int32_t>(0, h - 1)(rng);
      const TRect rect{left, top,
                       round % 2 ? w : std::uniform_int_distribution<int32_t>(left, w)(rng),
                       round % 3 ? h : std::uniform_int_distribution<int32_t>(top, h)(rng)};
      const auto before = Bytes(bitmap);
      const int32_t first = round % 2 ? k : -k;
      BitShiftRotate(&bitmap, rect, first);
      BitShiftRotate(&bitmap, rect, -first);
      ASSERT_EQ(Bytes(bitmap), before) << "k " << k << " round " << round;
    }
  }
}

}  // namespace
}  // namespace kavun
