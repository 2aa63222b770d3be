// The fast transforms against their straightforward versions, byte for byte, in every code path
// the processor check can pick.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/bitshift.h"
#include "engine/cpu_path.h"
#include "engine/error.h"
#include "engine/mosaic.h"
#include "engine/mosaic_order.h"
#include "engine/mtwister.h"
#include "engine/reference_transforms.h"
#include "engine/xor.h"
#include "test_bitmaps.h"

namespace kavun {
namespace {

using testing_util::Bytes;
using testing_util::RandomBitmap;

std::string PathName(const testing::TestParamInfo<CpuPath>& info) {
  return CpuPathName(info.param);
}

class FastPathTest : public testing::TestWithParam<CpuPath> {
 protected:
  void SetUp() override {
    if (!CpuPathSupported(GetParam())) GTEST_SKIP() << "this processor cannot run the path";
    ForceCpuPath(GetParam());
    ASSERT_EQ(ActiveCpuPath(), GetParam());
  }
  void TearDown() override {
    ForceCpuPath(std::nullopt);
    MTResetForTesting();
  }
  std::mt19937 rng_{20261207};
};

// A random rectangle inside a w x h bitmap, with a bias towards the awkward ones: one pixel,
// whole rows, and rectangles touching the edges.
TRect RandomRect(int32_t w, int32_t h, std::mt19937& rng) {
  auto span = [&rng](int32_t size, int32_t& lo, int32_t& hi) {
    switch (rng() % 5) {
      case 0:  // the whole extent
        lo = 0, hi = size;
        break;
      case 1:  // one pixel
        lo = static_cast<int32_t>(rng() % static_cast<uint32_t>(size)), hi = lo + 1;
        break;
      case 2:  // touching the far edge
        lo = static_cast<int32_t>(rng() % static_cast<uint32_t>(size)), hi = size;
        break;
      default:
        lo = static_cast<int32_t>(rng() % static_cast<uint32_t>(size + 1));
        hi = lo + static_cast<int32_t>(rng() % static_cast<uint32_t>(size - lo + 1));
    }
  };
  TRect rect;
  span(w, rect.Left, rect.Right);
  span(h, rect.Top, rect.Bottom);
  return rect;
}

int32_t RandomWidth(std::mt19937& rng) {
  // Small odd and even widths, widths around the vector and chunk sizes, and wide rows.
  static const int32_t kWidths[] = {1,  2,  3,  5,  7,  10,  11,  16,   31,
                                    32, 33, 47, 65, 97, 255, 257, 1025, 1100};
  return kWidths[rng() % std::size(kWidths)];
}

template <typename Fast, typename Slow>
void ExpectSame(Bitmap& bitmap, Fast fast, Slow slow, const std::string& what) {
  Bitmap expected = bitmap;
  slow(&expected);
  const std::vector<uint32_t> state(std::begin(MTState), std::end(MTState));
  const int32_t index = MTIndex;
  fast(&bitmap);
  ASSERT_EQ(Bytes(bitmap), Bytes(expected)) << what;
  ASSERT_EQ(MTIndex, index) << what;
  ASSERT_TRUE(std::equal(state.begin(), state.end(), std::begin(MTState))) << what;
}

TEST_P(FastPathTest, XorMatchesTheStraightforwardVersion) {
  const std::string passwords[] = {"", "p", "kavun", "\x82\xA0\x82\xA2\x82\xA4"};
  for (int i = 0; i < 120; ++i) {
    const int32_t w = RandomWidth(rng_);
    const auto h = static_cast<int32_t>(1 + rng_() % 24);
    Bitmap bitmap = RandomBitmap(w, h, rng_);
    const TRect rect = RandomRect(w, h, rng_);
    const auto mode = static_cast<XorKeyMode>(rng_() % 3);
    const std::string& password = passwords[rng_() % 4];
    ExpectSame(
        bitmap, [&](Bitmap* b) { XorKeystream(b, rect, mode, password); },
        [&](Bitmap* b) { reference::XorKeystream(b, rect, mode, password); },
        "xor " + std::to_string(i));
  }
}

TEST_P(FastPathTest, XorMTwisterOverManyRegenerations) {
  // 3 * 700 * 5 outputs: the keystream pieces end at every position of the state.
  Bitmap bitmap = RandomBitmap(703, 5, rng_);
  for (const TRect rect : {TRect{0, 0, 703, 5}, TRect{1, 1, 702, 4}, TRect{2, 0, 3, 5}}) {
    ExpectSame(
        bitmap, [&](Bitmap* b) { XorKeystream(b, rect, XorKeyMode::MTwister, "mt"); },
        [&](Bitmap* b) { reference::XorKeystream(b, rect, XorKeyMode::MTwister, "mt"); }, "mt");
  }
}

TEST_P(FastPathTest, BitShiftMatchesTheStraightforwardVersion) {
  for (int i = 0; i < 200; ++i) {
    const int32_t w = RandomWidth(rng_);
    const auto h = static_cast<int32_t>(1 + rng_() % 6);
    Bitmap bitmap = RandomBitmap(w, h, rng_);
    const TRect rect = RandomRect(w, h, rng_);
    const auto shift = static_cast<int32_t>(rng_() % 51) - 25;  // beyond 23 is clamped
    ExpectSame(
        bitmap, [&](Bitmap* b) { BitShiftRotate(b, rect, shift); },
        [&](Bitmap* b) { reference::BitShiftRotate(b, rect, shift); },
        "shift " + std::to_string(shift) + " iteration " + std::to_string(i));
  }
}

TEST_P(FastPathTest, BitShiftEveryWidthInBothDirections) {
  Bitmap bitmap = RandomBitmap(41, 2, rng_);
  for (int32_t shift = -23; shift <= 23; ++shift) {
    const TRect rect{3, 0, 40, 2};
    ExpectSame(
        bitmap, [&](Bitmap* b) { BitShiftRotate(b, rect, shift); },
        [&](Bitmap* b) { reference::BitShiftRotate(b, rect, shift); },
        "shift " + std::to_string(shift));
  }
}

TEST_P(FastPathTest, MosaicMatchesTheStraightforwardVersion) {
  for (int i = 0; i < 150; ++i) {
    const int32_t w = RandomWidth(rng_);
    const auto h = static_cast<int32_t>(1 + rng_() % 60);
    Bitmap bitmap = RandomBitmap(w, h, rng_);
    const TRect rect = RandomRect(w, h, rng_);
    const auto bw = static_cast<int32_t>(1 + rng_() % 50);
    const auto bh = static_cast<int32_t>(1 + rng_() % 50);
    // Mostly reversible keys, so that decoding has something to do.
    const auto key1 = static_cast<int32_t>(rng_() % 4 == 0 ? rng_() % 100 : 1 + 2 * (rng_() % 40));
    const auto key2 = static_cast<int32_t>(rng_() % 1000) - 500;
    const bool decode = rng_() % 2 == 0;
    ExpectSame(
        bitmap, [&](Bitmap* b) { ReversibleMosaic(b, rect, decode, bw, bh, key1, key2); },
        [&](Bitmap* b) { reference::ReversibleMosaic(b, rect, decode, bw, bh, key1, key2); },
        "mosaic " + std::to_string(i));
  }
}

TEST_P(FastPathTest, MosaicPanelBlockSizes) {
  Bitmap bitmap = RandomBitmap(301, 103, rng_);
  for (const auto& [bw, bh] : {std::pair{16, 16}, {2, 2}, {50, 50}, {3, 7}, {50, 2}, {2, 50}}) {
    for (const TRect rect : {TRect{0, 0, 301, 103}, TRect{1, 2, 300, 101}}) {
      ExpectSame(
          bitmap,
          [&, bw = bw, bh = bh](Bitmap* b) { ReversibleMosaic(b, rect, false, bw, bh, 3, 7); },
          [&, bw = bw, bh = bh](Bitmap* b) {
            reference::ReversibleMosaic(b, rect, false, bw, bh, 3, 7);
          },
          "mosaic " + std::to_string(bw) + "x" + std::to_string(bh));
    }
  }
}

TEST_P(FastPathTest, RefusalsStayTheSame) {
  Bitmap bitmap = RandomBitmap(9, 9, rng_);
  const std::vector<uint8_t> before = Bytes(bitmap);
  const TRect outside{0, 0, 10, 9};
  EXPECT_THROW(XorKeystream(&bitmap, outside, XorKeyMode::MTwister, "x"), Error);
  EXPECT_THROW(BitShiftRotate(&bitmap, outside, 5), Error);
  EXPECT_THROW(ReversibleMosaic(&bitmap, outside, false, 2, 2, 3, 7), Error);
  EXPECT_EQ(Bytes(bitmap), before);
  EXPECT_EQ(MTIndex, 625);
}

TEST_P(FastPathTest, GeneratorMatchesTheStandardSequence) {
  for (const uint32_t seed : {0u, 5489u, 16777470u}) {
    std::mt19937 reference(seed);
    MTInit(seed);
    for (int i = 0; i < kMTN * 3; ++i) ASSERT_EQ(MTNext(), reference()) << seed << " " << i;
  }
}

TEST_P(FastPathTest, LowBytesLeaveTheGeneratorWhereSingleDrawsDo) {
  for (const std::size_t n : {0u, 1u, 31u, 32u, 33u, 623u, 624u, 625u, 1000u, 3000u}) {
    for (const int32_t start : {0, 1, 17, 600, 623}) {
      MTInit(77);
      for (int32_t i = 0; i < start; ++i) MTNext();
      std::vector<uint8_t> fast(n);
      MTLowBytes(fast.data(), n);
      const std::vector<uint32_t> state(std::begin(MTState), std::end(MTState));
      const int32_t index = MTIndex;

      MTInit(77);
      for (int32_t i = 0; i < start; ++i) MTNext();
      for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(fast[i], static_cast<uint8_t>(MTNext()));
      EXPECT_EQ(MTIndex, index);
      EXPECT_TRUE(std::equal(state.begin(), state.end(), std::begin(MTState)));
    }
  }
  // A generator that was never seeded seeds itself with 5489 here too.
  MTResetForTesting();
  uint8_t first = 0;
  MTLowBytes(&first, 1);
  EXPECT_EQ(first, static_cast<uint8_t>(3499211612u));
}

// The keystream applied in place, pixel bytes reversed, from every kind of starting point: a
// fresh block, one that starts inside a block at a pixel boundary, and ones whose pixels straddle
// two blocks (taken through a buffer). Checked against single draws of std::mt19937.
TEST_P(FastPathTest, ReversedTriplesTakeTheStandardSequence) {
  for (const std::size_t n : {0u, 3u, 48u, 99u, 621u, 624u, 627u, 1872u, 6000u}) {
    for (const int32_t start : {0, 1, 2, 3, 300, 622, 623, 624, 625}) {
      std::mt19937 reference(4242);
      MTInit(4242);
      for (int32_t i = 0; i < start; ++i) ASSERT_EQ(MTNext(), reference());
      std::vector<uint8_t> data(n);
      for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<uint8_t>(rng_());
      std::vector<uint8_t> expected = data;
      for (std::size_t j = 0; j < n; j += 3) {
        const auto r = static_cast<uint8_t>(reference());
        const auto g = static_cast<uint8_t>(reference());
        const auto b = static_cast<uint8_t>(reference());
        expected[j] ^= b;
        expected[j + 1] ^= g;
        expected[j + 2] ^= r;
      }
      MTXorTriplesReversed(data.data(), n);
      ASSERT_EQ(data, expected) << "n " << n << ", start " << start;
      ASSERT_EQ(MTNext(), reference()) << "n " << n << ", start " << start;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, FastPathTest,
                         testing::Values(CpuPath::Portable, CpuPath::Sse2, CpuPath::Avx2,
                                         CpuPath::Avx512, CpuPath::Neon),
                         PathName);

}  // namespace
}  // namespace kavun
