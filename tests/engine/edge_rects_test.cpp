// Rectangles at the edges of what the transforms accept: selections that end in the last byte of
// the pixel buffer (rows without padding), and empty or outside rectangles with extreme
// coordinates. Every transform, fast and straightforward, in every code path the processor
// check can pick.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "engine/beep.h"
#include "engine/bitshift.h"
#include "engine/cpu_path.h"
#include "engine/error.h"
#include "engine/mosaic.h"
#include "engine/mtwister.h"
#include "engine/reference_transforms.h"
#include "engine/xor.h"
#include "test_bitmaps.h"

namespace kavun {
namespace {

using testing_util::Bytes;
using testing_util::RandomBitmap;

constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();

using Transform = std::function<void(Bitmap*, TRect)>;

struct NamedTransform {
  std::string Name;
  Transform Fast;
  Transform Slow;
};

// Every transform with parameters that pass its own checks; the mosaic's blocks include 1 x 1
// and blocks that end on the last pixel of the buffer.
std::vector<NamedTransform> AllTransforms() {
  std::vector<NamedTransform> all;
  for (const auto& [bw, bh] : {std::pair{1, 1}, {2, 1}, {1, 2}, {3, 1}, {2, 2}, {4, 3}}) {
    for (const bool decode : {false, true}) {
      all.push_back(
          {"mosaic " + std::to_string(bw) + "x" + std::to_string(bh) + (decode ? " decode" : ""),
           [=, bw = bw, bh = bh](Bitmap* b, TRect r) {
             ReversibleMosaic(b, r, decode, bw, bh, 5, 3);
           },
           [=, bw = bw, bh = bh](Bitmap* b, TRect r) {
             reference::ReversibleMosaic(b, r, decode, bw, bh, 5, 3);
           }});
    }
  }
  for (const int32_t shift : {1, -1, 7, -7, 8, -8, 9, -9, 16, -16, 23, -23}) {
    all.push_back({"shift " + std::to_string(shift),
                   [=](Bitmap* b, TRect r) { BitShiftRotate(b, r, shift); },
                   [=](Bitmap* b, TRect r) { reference::BitShiftRotate(b, r, shift); }});
  }
  for (const auto mode : {XorKeyMode::MD5, XorKeyMode::MD5OFB, XorKeyMode::MTwister}) {
    all.push_back({"xor " + std::to_string(static_cast<int>(mode)),
                   [=](Bitmap* b, TRect r) { XorKeystream(b, r, mode, "edge"); },
                   [=](Bitmap* b, TRect r) { reference::XorKeystream(b, r, mode, "edge"); }});
  }
  return all;
}

std::string PathName(const testing::TestParamInfo<CpuPath>& info) {
  return CpuPathName(info.param);
}

class EdgeRectTest : public testing::TestWithParam<CpuPath> {
 protected:
  void SetUp() override {
    if (!CpuPathSupported(GetParam())) GTEST_SKIP() << "this processor cannot run the path";
    ForceCpuPath(GetParam());
    previous_beep_ = SetBeepHandler([this] { ++beeps_; });
  }
  void TearDown() override {
    ForceCpuPath(std::nullopt);
    SetBeepHandler(previous_beep_);
    MTResetForTesting();
  }
  int beeps_ = 0;
  BeepHandler previous_beep_;
  std::mt19937 rng_{77};
};

// Widths 1 to 40 take every remainder of the row length against the vector widths; those that
// are multiples of 4 have rows without padding, so the last pixel of the bottom row is the last
// byte of the buffer and any load or store past a row's end leaves the allocation (the sanitizer
// build reports it). The rectangles all reach the bottom-right corner.
TEST_P(EdgeRectTest, SelectionsEndingInTheLastByteOfTheBufferMatchTheStraightforwardVersions) {
  const std::vector<NamedTransform> transforms = AllTransforms();
  for (int32_t w = 1; w <= 40; ++w) {
    for (const int32_t h : {1, 2, 3}) {
      const Bitmap original = RandomBitmap(w, h, rng_);
      if (w % 4 == 0) {
        ASSERT_EQ(original.Stride(), 3 * static_cast<std::size_t>(w));
        ASSERT_EQ(original.Bits().size(), original.Stride() * static_cast<std::size_t>(h));
      }
      std::vector<TRect> rects = {{0, 0, w, h}, {0, h - 1, w, h}, {w - 1, h - 1, w, h}};
      for (int32_t left = 1; left < w && left < 5; ++left) rects.push_back({left, 0, w, h});
      rects.push_back({w / 2, h - 1, w, h});
      for (const TRect& rect : rects) {
        for (const NamedTransform& t : transforms) {
          Bitmap fast = original;
          Bitmap slow = original;
          t.Slow(&slow, rect);
          const std::vector<uint32_t> state(std::begin(MTState), std::end(MTState));
          const int32_t index = MTIndex;
          t.Fast(&fast, rect);
          ASSERT_EQ(Bytes(fast), Bytes(slow))
              << t.Name << " width " << w << " height " << h << " rect " << rect.Left << ","
              << rect.Top << "," << rect.Right << "," << rect.Bottom;
          ASSERT_EQ(MTIndex, index) << t.Name;
          ASSERT_TRUE(std::equal(state.begin(), state.end(), std::begin(MTState))) << t.Name;
        }
      }
    }
  }
}

// An empty rectangle is empty whatever its coordinates: no pixel changes, nothing is thrown,
// and the width or height is never computed from the extreme values (the sanitizer build
// reports a signed overflow).
TEST_P(EdgeRectTest, EmptyRectanglesWithExtremeCoordinatesOnlyConvert) {
  const TRect empties[] = {
      {kMin, 0, kMax, 0},       {kMin, kMax, kMax, kMin},
      {kMax, kMin, kMin, kMax}, {0, kMin, 5, kMin},
      {kMin, kMin, kMin, kMin}, {kMax, kMax, kMax, kMax},
      {kMax, 0, kMin, 3},       {9, 9, 9, 12},
      {-4, -4, -4, -1},         {2, 1, 1, kMax},
      {kMin, 2, kMax, 1},       {0, 0, 0, 0},
  };
  std::vector<NamedTransform> transforms = AllTransforms();
  for (const TRect& rect : empties) {
    ASSERT_TRUE(rect.IsEmpty());
    for (const NamedTransform& t : transforms) {
      for (const bool fast : {true, false}) {
        Bitmap bitmap = RandomBitmap(5, 3, rng_, PixelFormat::Bits8);
        Bitmap expected = bitmap;
        expected.ConvertTo24();
        MTResetForTesting();
        EXPECT_NO_THROW((fast ? t.Fast : t.Slow)(&bitmap, rect))
            << t.Name << " rect " << rect.Left << "," << rect.Top << "," << rect.Right << ","
            << rect.Bottom;
        EXPECT_EQ(bitmap.Format(), PixelFormat::Bits24) << t.Name;
        EXPECT_EQ(Bytes(bitmap), Bytes(expected)) << t.Name;
        // Mode MTwister still reseeds; nothing else touches the generator.
        EXPECT_EQ(MTIndex, t.Name == "xor 2" ? 624 : 625) << t.Name;
      }
    }
  }
  EXPECT_EQ(beeps_, 0);
}

// A non-empty rectangle reaching outside is refused before anything changes, also when its
// width or height does not fit in 32 bits.
TEST_P(EdgeRectTest, NonEmptyRectanglesWithExtremeCoordinatesAreRefusedUnchanged) {
  const TRect outside[] = {
      {kMin, 0, kMax, 1}, {0, kMin, 1, kMax}, {kMin, kMin, kMax, kMax}, {kMax - 1, 0, kMax, 1},
      {kMin, 0, 1, 1},    {0, 0, 1, kMax},    {-1, -1, 0, 0},           {5, 0, 6, 1},
  };
  std::vector<NamedTransform> transforms = AllTransforms();
  for (const TRect& rect : outside) {
    ASSERT_FALSE(rect.IsEmpty());
    for (const NamedTransform& t : transforms) {
      for (const bool fast : {true, false}) {
        Bitmap bitmap = RandomBitmap(5, 3, rng_, PixelFormat::Bits4);
        const std::vector<uint8_t> before = Bytes(bitmap);
        MTResetForTesting();
        try {
          (fast ? t.Fast : t.Slow)(&bitmap, rect);
          ADD_FAILURE() << t.Name << " accepted the rectangle";
        } catch (const Error& e) {
          // The front ends tell this kind apart (kavun-cli: a usage error, status 2).
          EXPECT_EQ(e.Kind(), ErrorKind::OutsideRectangle) << t.Name << ": " << e.what();
        }
        EXPECT_EQ(bitmap.Format(), PixelFormat::Bits4) << t.Name;
        EXPECT_EQ(Bytes(bitmap), before) << t.Name;
        EXPECT_EQ(MTIndex, 625) << t.Name;
      }
    }
  }
  EXPECT_EQ(beeps_, 0);
}

INSTANTIATE_TEST_SUITE_P(Paths, EdgeRectTest,
                         testing::Values(CpuPath::Portable, CpuPath::Sse2, CpuPath::Avx2,
                                         CpuPath::Avx512, CpuPath::Neon),
                         PathName);

}  // namespace
}  // namespace kavun
