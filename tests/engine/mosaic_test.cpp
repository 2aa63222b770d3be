#include "engine/mosaic.h"

#include <gtest/gtest.h>

#include "engine/beep.h"
#include "engine/error.h"
#include "engine/mosaic_order.h"
#include "test_bitmaps.h"

namespace kavun {
namespace {

using testing_util::Bytes;
using testing_util::RandomBitmap;

// Counts beeps for the length of a test.
class BeepCounter {
 public:
  BeepCounter() : previous_(SetBeepHandler([this] { ++count_; })) {}
  ~BeepCounter() { SetBeepHandler(previous_); }
  int count() const { return count_; }

 private:
  int count_ = 0;
  BeepHandler previous_;
};

// A bitmap whose pixel (x, y) has the colour value 1000 * y + x + 1: every pixel is distinct.
Bitmap NumberedBitmap(int32_t width, int32_t height) {
  Bitmap bitmap(width, height, PixelFormat::Bits24);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      UnpackColor(static_cast<uint32_t>(1000 * y + x + 1), bitmap.ScanLine(y).data() + 3 * x);
    }
  }
  return bitmap;
}

uint32_t At(const Bitmap& bitmap, int32_t x, int32_t y) {
  return PackColor(bitmap.ScanLine(y).data() + 3 * x);
}

TEST(ReversibleMosaic, FourByTwoBlockExample) {
  BeepCounter beeps;
  Bitmap bitmap = NumberedBitmap(4, 2);
  const auto original = Bytes(bitmap);
  // a b c d / e f g h becomes b e h c / f a d g
  const uint32_t a = 1, b = 2, c = 3, d = 4, e = 1001, f = 1002, g = 1003, h = 1004;
  ReversibleMosaic(&bitmap, {0, 0, 4, 2}, false, 4, 2, 3, 1);
  const std::vector<uint32_t> expected = {b, e, h, c, f, a, d, g};
  for (int32_t k = 0; k < 8; ++k) EXPECT_EQ(At(bitmap, k % 4, k / 4), expected[k]) << k;
  ReversibleMosaic(&bitmap, {0, 0, 4, 2}, true, 4, 2, 3, 1);
  EXPECT_EQ(Bytes(bitmap), original);
  EXPECT_EQ(beeps.count(), 0);
}

TEST(ReversibleMosaic, TilesFromTheTopLeftCornerAndLeavesTheRemainder) {
  Bitmap bitmap = NumberedBitmap(12, 6);
  const Bitmap original = bitmap;
  ReversibleMosaic(&bitmap, {1, 0, 10, 5}, false, 4, 2, 3, 1);
  // Four blocks: columns 1-4 and 5-8, rows 0-1 and 2-3. Each block holds its own pixels.
  for (int32_t y = 0; y < 6; ++y) {
    for (int32_t x = 0; x < 12; ++x) {
      const bool in_block = x >= 1 && x <= 8 && y <= 3;
      if (!in_block) {
        EXPECT_EQ(At(bitmap, x, y), At(original, x, y)) << x << "," << y;
        continue;
      }
      const uint32_t v = At(bitmap, x, y);
      const int32_t sx = static_cast<int32_t>(v % 1000) - 1, sy = static_cast<int32_t>(v / 1000);
      EXPECT_EQ((sx - 1) / 4, (x - 1) / 4);
      EXPECT_EQ(sy / 2, y / 2);
    }
  }
  // The first block's top row: cells 0-3 come from cells 1, 4, 7, 2.
  EXPECT_EQ(At(bitmap, 1, 0), At(original, 2, 0));
  EXPECT_EQ(At(bitmap, 2, 0), At(original, 1, 1));
}

// The part whole blocks cover is exactly the part the mosaic rewrites: with numbered pixels and
// an order that moves every cell (3i + 1 mod 8), every pixel inside changes and none outside.
TEST(MosaicCoveredRect, IsThePartTheMosaicRewrites) {
  const struct {
    TRect rect;
    int32_t w, h;
    TRect covered;
  } cases[] = {
      {{1, 0, 10, 5}, 4, 2, {1, 0, 9, 4}},   // strips at the right and the bottom
      {{0, 0, 8, 6}, 4, 2, {0, 0, 8, 6}},    // whole blocks only
      {{2, 3, 5, 12}, 4, 2, {2, 3, 2, 3}},   // too narrow for one block
      {{2, 3, 12, 4}, 4, 2, {2, 3, 2, 3}},   // too low for one block
      {{0, 0, 4, 2}, 4, 2, {0, 0, 4, 2}},    // one block
      {{3, 3, 3, 9}, 4, 2, {3, 3, 3, 3}},    // empty
      {{0, 0, 12, 6}, 0, 2, {0, 0, 0, 0}},   // no block side
      {{0, 0, 12, 6}, 4, -2, {0, 0, 0, 0}},  // a negative one
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rect.Left << "," << c.rect.Top << "," << c.rect.Right
                                    << "," << c.rect.Bottom << " / " << c.w << "x" << c.h);
    const TRect covered = MosaicCoveredRect(c.rect, c.w, c.h);
    EXPECT_EQ(covered, c.covered);
    if (c.w <= 0 || c.h <= 0) continue;
    Bitmap bitmap = NumberedBitmap(12, 12);
    const Bitmap original = bitmap;
    ReversibleMosaic(&bitmap, c.rect, false, c.w, c.h, 3, 1);
    for (int32_t y = 0; y < 12; ++y) {
      for (int32_t x = 0; x < 12; ++x) {
        const bool inside =
            x >= covered.Left && x < covered.Right && y >= covered.Top && y < covered.Bottom;
        EXPECT_EQ(At(bitmap, x, y) != At(original, x, y), inside) << x << "," << y;
      }
    }
  }
  // Edges far apart do not overflow.
  EXPECT_EQ(MosaicCoveredRect({-2147483647 - 1, 0, 2147483647, 3}, 2, 2),
            (TRect{-2147483647 - 1, 0, 2147483646, 2}));
}

TEST(ReversibleMosaic, IrreversibleCoefficients) {
  BeepCounter beeps;
  std::mt19937 rng(2);
  Bitmap bitmap = RandomBitmap(40, 40, rng);
  const auto before = Bytes(bitmap);
  ReversibleMosaic(&bitmap, {0, 0, 40, 40}, true, 16, 16, 2, 7);
  EXPECT_EQ(beeps.count(), 1);
  EXPECT_EQ(Bytes(bitmap), before);
  ReversibleMosaic(&bitmap, {0, 0, 40, 40}, false, 16, 16, 2, 7);  // encoding does not test
  EXPECT_EQ(beeps.count(), 1);
  EXPECT_NE(Bytes(bitmap), before);
}

struct RefusedCase {
  const char* name;
  bool decode;
  int32_t block_w, block_h, key1, key2;
};
class MosaicRefusalTest : public testing::TestWithParam<RefusedCase> {};

TEST_P(MosaicRefusalTest, BeepsAndLeavesEvenAPaletteBitmapUnconverted) {
  const RefusedCase& c = GetParam();
  BeepCounter beeps;
  std::mt19937 rng(3);
  Bitmap bitmap = RandomBitmap(30, 30, rng, PixelFormat::Bits8);
  const auto before = Bytes(bitmap);
  ReversibleMosaic(&bitmap, {0, 0, 30, 30}, c.decode, c.block_w, c.block_h, c.key1, c.key2);
  EXPECT_EQ(beeps.count(), 1);
  EXPECT_EQ(bitmap.Format(), PixelFormat::Bits8);
  EXPECT_EQ(Bytes(bitmap), before);
  // The order is decided before the bitmap is looked at: no bitmap still beeps.
  ReversibleMosaic(nullptr, {0, 0, 30, 30}, c.decode, c.block_w, c.block_h, c.key1, c.key2);
  EXPECT_EQ(beeps.count(), 2);
}

INSTANTIATE_TEST_SUITE_P(Orders, MosaicRefusalTest,
                         testing::Values(RefusedCase{"ZeroWidth", false, 0, 16, 3, 7},
                                         RefusedCase{"ZeroHeight", true, 16, 0, 3, 7},
                                         RefusedCase{"BothSidesNegative", false, -4, -4, 3, 7},
                                         RefusedCase{"OneSideNegative", false, -4, 4, 3, 7},
                                         RefusedCase{"NegativeEntries", false, 4, 4, -1, 0},
                                         RefusedCase{"OverflowingCells", false, 65536, 65536, 1, 0},
                                         RefusedCase{"IrreversibleDecode", true, 2, 2, 2, 0}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(ReversibleMosaic, NothingToDoIsSilent) {
  BeepCounter beeps;
  ReversibleMosaic(nullptr, {0, 0, 4, 4}, false, 2, 2, 3, 7);
  Bitmap empty;
  ReversibleMosaic(&empty, {0, 0, 4, 4}, false, 2, 2, 3, 7);
  EXPECT_TRUE(empty.IsEmpty());
  // A rectangle smaller than one block changes nothing.
  std::mt19937 rng(4);
  Bitmap bitmap = RandomBitmap(9, 9, rng);
  const auto before = Bytes(bitmap);
  ReversibleMosaic(&bitmap, {2, 2, 5, 5}, false, 4, 4, 3, 7);
  EXPECT_EQ(Bytes(bitmap), before);
  EXPECT_EQ(beeps.count(), 0);
}

TEST(ReversibleMosaic, EmptyRectangleStillConvertsToTwentyFourBits) {
  std::mt19937 rng(5);
  Bitmap bitmap = RandomBitmap(5, 4, rng, PixelFormat::Bits8);
  Bitmap expected = bitmap;
  expected.ConvertTo24();
  ReversibleMosaic(&bitmap, {2, 2, 2, 4}, false, 2, 2, 3, 7);
  EXPECT_EQ(bitmap.Format(), PixelFormat::Bits24);
  EXPECT_EQ(Bytes(bitmap), Bytes(expected));
}

TEST(ReversibleMosaic, RectangleOutsideTheBitmapChangesNothing) {
  std::mt19937 rng(6);
  for (const TRect rect :
       {TRect{-1, 0, 4, 4}, TRect{0, -2, 4, 4}, TRect{0, 0, 11, 4}, TRect{0, 0, 4, 9}}) {
    Bitmap bitmap = RandomBitmap(10, 8, rng, PixelFormat::Bits4);
    const auto before = Bytes(bitmap);
    EXPECT_THROW(ReversibleMosaic(&bitmap, rect, false, 2, 2, 3, 7), Error);
    EXPECT_EQ(bitmap.Format(), PixelFormat::Bits4);
    EXPECT_EQ(Bytes(bitmap), before);
  }
}

TEST(ReversibleMosaic, EncodeThenDecodeRestoresEveryByte) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int32_t> side(2, 12), key(0, 255);
  for (int round = 0; round < 300; ++round) {
    const int32_t w = std::uniform_int_distribution<int32_t>(1, 61)(rng);
    const int32_t h = std::uniform_int_distribution<int32_t>(1, 37)(rng);
    Bitmap bitmap = RandomBitmap(w, h, rng);
    const int32_t left = std::uniform_int_distribution<int32_t>(0, w - 1)(rng);
    const int32_t top = std::uniform_int_distribution<int32_t>(0, h - 1)(rng);
    // Every other rectangle reaches the right and bottom edges.
    const int32_t right = round % 2 ? w : std::uniform_int_distribution<int32_t>(left, w)(rng);
    const int32_t bottom = round % 2 ? h : std::uniform_int_distribution<int32_t>(top, h)(rng);
    const int32_t bw = side(rng), bh = side(rng);
    int32_t k1 = key(rng);
    while (!IsReversibleOrder(k1, 0, bw * bh)) k1 = key(rng);
    const int32_t k2 = key(rng);
    const auto before = Bytes(bitmap);
    ReversibleMosaic(&bitmap, {left, top, right, bottom}, false, bw, bh, k1, k2);
    ReversibleMosaic(&bitmap, {left, top, right, bottom}, true, bw, bh, k1, k2);
    ASSERT_EQ(Bytes(bitmap), before) << "round " << round;
  }
}

TEST(ReversibleMosaic, AnotherOriginDoesNotRestore) {
  std::mt19937 rng(8);
  Bitmap bitmap = RandomBitmap(40, 40, rng);
  const auto before = Bytes(bitmap);
  ReversibleMosaic(&bitmap, {0, 0, 32, 32}, false, 16, 16, 3, 7);
  ReversibleMosaic(&bitmap, {1, 0, 33, 32}, true, 16, 16, 3, 7);
  EXPECT_NE(Bytes(bitmap), before);
}

}  // namespace
}  // namespace kavun
