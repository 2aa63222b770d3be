#include "engine/detect.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "engine/bitmap.h"
#include "engine/transform_params.h"
#include "test_bitmaps.h"

namespace kavun {
namespace {

// A picture like a photo: smooth colour gradients, a few soft shapes, fine texture and a
// little grain, each channel a little different (`spread` apart: small for a muted picture).
// `rough`: the grain's strength, most of it shared by the channels (rock, bark), instead.
Bitmap PhotoLike(int32_t width, int32_t height, unsigned seed, double spread = 40.0,
                 double rough = 0.0) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::normal_distribution<double> grain(0.0, rough > 0.0 ? rough : 1.5);
  const double fx = 0.05 + 0.1 * unit(rng), fy = 0.05 + 0.1 * unit(rng);
  const double cx = width * unit(rng), cy = height * unit(rng), radius = 20 + 40 * unit(rng);
  Bitmap bitmap(width, height, PixelFormat::Bits24);
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = bitmap.ScanLine(y).data();
    for (int32_t x = 0; x < width; ++x) {
      const double texture = 25.0 * std::sin(fx * x + 0.3 * std::sin(fy * y)) * std::cos(fy * y);
      const double disc = std::hypot(x - cx, y - cy) < radius ? 40.0 : 0.0;
      const double shared = rough > 0.0 ? grain(rng) : 0.0;
      for (int c = 0; c < 3; ++c) {
        const double base = 60.0 + spread * c + 80.0 * x / width + 50.0 * y / height;
        const double own = rough > 0.0 ? 0.3 * grain(rng) : grain(rng);
        const double value = base + texture * (1.0 - 0.2 * c) + disc + shared + own;
        row[3 * x + c] = static_cast<uint8_t>(std::clamp(value, 0.0, 255.0));
      }
    }
  }
  return bitmap;
}

// A clear sky: a gentle gradient and a faint swell, a level or two of grain. `grey`: a
// black-and-white one (or the grey part of a colour photograph), every pixel's channels equal.
Bitmap Sky(int32_t width, int32_t height, unsigned seed, bool grey = false) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> grain(0.0, 0.4);
  Bitmap bitmap(width, height, PixelFormat::Bits24);
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = bitmap.ScanLine(y).data();
    for (int32_t x = 0; x < width; ++x) {
      const double shared = grey ? grain(rng) : 0.0;
      for (int c = 0; c < 3; ++c) {
        const double value = 150.0 + (grey ? 0.0 : 30.0 * c) + 12.0 * y / height + 6.0 * x / width +
                             3.0 * std::sin(0.05 * x + 0.03 * y) + (grey ? shared : grain(rng));
        row[3 * x + c] = static_cast<uint8_t>(std::clamp(value, 0.0, 255.0));
      }
    }
  }
  return bitmap;
}

// Paints the columns [from, to) of `picture` one flat grey-blue from top to bottom.
void PaintFlatColumns(Bitmap& picture, int32_t from, int32_t to) {
  for (int32_t y = 0; y < picture.Height(); ++y) {
    for (int32_t x = from; x < to; ++x) {
      uint8_t* p = picture.ScanLine(y).data() + 3 * x;
      p[0] = 120, p[1] = 130, p[2] = 140;
    }
  }
}

TransformRequest MosaicRequest(int32_t blockW, int32_t blockH, int32_t key1, int32_t key2) {
  TransformRequest request;
  request.Kind = TransformKind::ReversibleMosaic;
  request.BlockW = blockW;
  request.BlockH = blockH;
  request.Key1 = key1;
  request.Key2 = key2;
  return request;
}

// Rotates `rect` of `picture` by `shift` bits; the detector must find exactly that rectangle.
void ExpectRotationFound(Bitmap picture, int32_t shift, const TRect& rect,
                         const std::string& what) {
  TransformRequest request;
  request.Kind = TransformKind::BitShift;
  request.Shift = shift;
  ApplyTransform(picture, rect, request);
  const std::optional<TRect> found = DetectScrambledRect(picture);
  ASSERT_TRUE(found.has_value()) << what;
  EXPECT_EQ(*found, rect) << what;
}

// A mosaic of `Key1` and `Key2` over `Rect`, whose blocks cover it whole.
struct MosaicCase {
  TRect Rect;
  int32_t BlockW, BlockH, Key1, Key2;
};

// Scrambles `picture` with the mosaic of `c` and expects the detector to find its rectangle.
void ExpectMosaicFound(Bitmap picture, const MosaicCase& c, const std::string& what = {}) {
  ApplyTransform(picture, c.Rect, MosaicRequest(c.BlockW, c.BlockH, c.Key1, c.Key2));
  EXPECT_EQ(DetectScrambledRect(picture), std::optional<TRect>(c.Rect))
      << c.BlockW << "x" << c.BlockH << what;
}

TEST(DetectTest, FindsXorAndBitShiftRectanglesSoThatTheInverseRestoresThePicture) {
  struct Case {
    const char* Name;
    TransformRequest Scramble;
    TransformRequest Inverse;
  };
  std::vector<Case> cases;
  for (XorKeyMode mode : {XorKeyMode::MD5, XorKeyMode::MD5OFB, XorKeyMode::MTwister}) {
    TransformRequest xorRequest;
    xorRequest.Kind = TransformKind::Xor;
    xorRequest.Mode = mode;
    xorRequest.Password = "secret";
    cases.push_back({"xor", xorRequest, xorRequest});
  }
  for (int32_t bits : {3, -5, 13, -21}) {
    TransformRequest forward;
    forward.Kind = TransformKind::BitShift;
    forward.Shift = bits;
    TransformRequest back = forward;
    back.Shift = -bits;
    cases.push_back({"shift", forward, back});
  }
  std::mt19937 rng(7);
  const auto uniform = [&](int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng);
  };
  for (const Case& c : cases) {
    for (int trial = 0; trial < 3; ++trial) {
      const Bitmap original = PhotoLike(240, 180, static_cast<unsigned>(trial + 1));
      const int32_t w = uniform(32, 120), h = uniform(32, 100);
      const int32_t left = uniform(0, 240 - w), top = uniform(0, 180 - h);
      const TRect rect{left, top, left + w, top + h};
      Bitmap picture = original;
      ApplyTransform(picture, rect, c.Scramble);

      const std::optional<TRect> found = DetectScrambledRect(picture);
      const std::string what = std::string(c.Name) + " trial " + std::to_string(trial);
      ASSERT_TRUE(found.has_value()) << what;
      ApplyTransform(picture, *found, c.Inverse);
      EXPECT_EQ(testing_util::Bytes(picture), testing_util::Bytes(original)) << what;
    }
  }
}

// A rotation by whole bytes only moves the colour bytes one place, so on a muted picture the
// inside stays smooth and its edges differ from the outside by a few levels only.
TEST(DetectTest, FindsWholeByteRotationsOnAMutedPicture) {
  std::mt19937 rng(3);
  const auto uniform = [&](int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng);
  };
  for (int32_t bits : {8, -8, 16, -16}) {
    for (int trial = 0; trial < 2; ++trial) {
      const int32_t w = uniform(32, 120), h = uniform(32, 100);
      const int32_t left = uniform(1, 239 - w), top = uniform(1, 179 - h);
      ExpectRotationFound(PhotoLike(240, 180, static_cast<unsigned>(trial + 21), 6.0), bits,
                          TRect{left, top, left + w, top + h},
                          "shift " + std::to_string(bits) + " trial " + std::to_string(trial));
    }
  }
}

// Over rough, muted picture a whole-byte rotation is found by the seam of the edge that undoing
// joins, whose run of rows may reach well past the rectangle's, and whose other edges join only
// on the whole, their capped gains cancelled by the grain. Read as a rotation of another width,
// the seam must not give the picture beside it, down to the border.
TEST(DetectTest, FindsWholeByteRotationsByTheirSeamOverRoughPicture) {
  struct Case {
    unsigned Seed;
    double Rough;
    int32_t Shift;
    TRect Rect;
  };
  for (const Case& c : {Case{2739, 4.0, 16, TRect{10, 86, 229, 112}},
                        Case{34777, 8.0, -16, TRect{8, 129, 191, 163}},
                        Case{81511, 8.0, 16, TRect{91, 94, 215, 114}},
                        Case{41619, 8.0, -16, TRect{32, 130, 184, 155}}}) {
    ExpectRotationFound(PhotoLike(240, 180, c.Seed, 6.0, c.Rough), c.Shift, c.Rect,
                        "seed " + std::to_string(c.Seed));
  }
}

// Over grey picture a rotation by whole bytes changes pixels by a level or two, too little for its
// noise or its edges to tell; the grey the inverse brings back does.
TEST(DetectTest, FindsWholeByteRotationsOverAGreyPhotograph) {
  struct Case {
    int32_t Shift;
    TRect Rect;
  };
  for (const Case& c : {Case{8, TRect{18, 93, 115, 122}}, Case{-8, TRect{131, 20, 183, 82}},
                        Case{16, TRect{40, 30, 79, 92}}, Case{-16, TRect{0, 141, 218, 170}}}) {
    const Bitmap original = Sky(240, 180, 5, true);
    EXPECT_FALSE(DetectScrambledRect(original).has_value());
    ExpectRotationFound(original, c.Shift, c.Rect, "shift " + std::to_string(c.Shift));
  }
}

// A rotation by nearly a whole pixel fills the first pixel of every row with the bits of the
// row's last one: unlike the picture on both sides, so undoing gains as much one pixel further
// in. The edge must stay on that first pixel.
TEST(DetectTest, PlacesTheEdgeUndoneFromItsOwnRowOnTheRotationsFirstPixel) {
  struct Case {
    unsigned Seed;
    int32_t Shift;
    TRect Rect;
  };
  for (const Case& c :
       {Case{36, 23, TRect{97, 147, 199, 172}}, Case{42, 23, TRect{98, 111, 205, 139}}}) {
    ExpectRotationFound(PhotoLike(240, 180, c.Seed), c.Shift, c.Rect,
                        "seed " + std::to_string(c.Seed));
  }
}

TEST(DetectTest, FindsTheWholeBlocksOfAMosaicSoThatTheInverseRestoresThePicture) {
  struct Case {
    TRect Rect;
    int32_t BlockW, BlockH, Key1, Key2;
    int32_t FlatFrom = 0, FlatTo = 0;  // columns of flat grey in the picture
  };
  // Blocks wide, tall and flat; each rectangle leaves strips that no block covers. The first
  // three keep each block column's rows in order (read through the block columns), the next two
  // move them (read through the rows alone); the one after has a flat band across it, whose
  // columns follow no rows. The next two keep every column's rows in order, but for the one row
  // where it wraps round (read from the columns standing apart). The last is a single block,
  // narrower than the place its noise stands out in.
  const Case cases[] = {
      {{10, 46, 140, 159}, 17, 9, 233, 188},         {{95, 76, 211, 128}, 17, 14, 181, 231},
      {{31, 50, 142, 163}, 18, 4, 121, 180},         {{57, 21, 166, 170}, 12, 20, 7, 90},
      {{20, 30, 200, 140}, 15, 11, 233, 17, 78, 92}, {{120, 16, 152, 96}, 24, 9, 109, 131},
      {{22, 139, 131, 175}, 24, 13, 79, 6},          {{60, 70, 200, 130}, 14, 27, 29, 206},
      {{98, 135, 111, 165}, 13, 30, 37, 6}};
  for (const Case& c : cases) {
    Bitmap original = PhotoLike(240, 180, 5);
    PaintFlatColumns(original, c.FlatFrom, c.FlatTo);
    TransformRequest request = MosaicRequest(c.BlockW, c.BlockH, c.Key1, c.Key2);
    Bitmap picture = original;
    ApplyTransform(picture, c.Rect, request);
    const TRect covered{c.Rect.Left, c.Rect.Top,
                        c.Rect.Left + (c.Rect.Right - c.Rect.Left) / c.BlockW * c.BlockW,
                        c.Rect.Top + (c.Rect.Bottom - c.Rect.Top) / c.BlockH * c.BlockH};

    const std::optional<TRect> found = DetectScrambledRect(picture);
    ASSERT_TRUE(found.has_value()) << c.BlockW << "x" << c.BlockH;
    EXPECT_EQ(*found, covered);
    request.Decode = true;
    ApplyTransform(picture, *found, request);
    EXPECT_EQ(testing_util::Bytes(picture), testing_util::Bytes(original));
  }
}

// Blocks that keep each column's rows in order, one block row tall, are read where their columns
// stand apart from the pixels beside them; a band of flat picture across the strip ends those
// columns inside a block, on both sides of the band.
TEST(DetectTest, FindsAStripOfBlocksWhoseColumnsStandApartOnlyInPlaces) {
  struct Case {
    TRect Rect;
    int32_t BlockW, BlockH, Key1, Key2, FlatFrom, FlatTo;
  };
  const Case cases[] = {{{6, 91, 221, 116}, 43, 25, 126, 27, 27, 43},
                        {{10, 76, 94, 89}, 14, 13, 157, 87, 54, 65},
                        {{20, 39, 268, 52}, 31, 13, 157, 10, 109, 118}};
  for (const Case& c : cases) {
    Bitmap picture = PhotoLike(420, 200, 7);
    PaintFlatColumns(picture, c.FlatFrom, c.FlatTo);
    ApplyTransform(picture, c.Rect, MosaicRequest(c.BlockW, c.BlockH, c.Key1, c.Key2));
    EXPECT_EQ(DetectScrambledRect(picture), std::optional<TRect>(c.Rect))
        << c.BlockW << "x" << c.BlockH;
  }
}

TEST(DetectTest, FindsAMosaicThatBarelyChangesASky) {
  const MosaicCase cases[] = {{{72, 143, 99, 157}, 27, 14, 17, 40},
                              {{187, 79, 209, 103}, 22, 12, 37, 152}};
  for (const MosaicCase& c : cases) {
    // Alone, and with four grey speckled patches in the corners, each a noisier place than the
    // mosaic's.
    for (const bool leaves : {false, true}) {
      Bitmap original = Sky(240, 180, 3);
      std::mt19937 rng(5);
      for (const auto& [x0, y0] :
           {std::pair{0, 0}, std::pair{216, 0}, std::pair{0, 156}, std::pair{216, 156}}) {
        for (int32_t y = y0; leaves && y < y0 + 24; ++y) {
          for (int32_t x = x0; x < x0 + 24; ++x) {
            const int grey = 60 + static_cast<int>(rng() % 60);
            uint8_t* p = original.ScanLine(y).data() + 3 * x;
            for (int ch = 0; ch < 3; ++ch) p[ch] = static_cast<uint8_t>(grey + 10 * ch);
          }
        }
      }
      ExpectMosaicFound(original, c, leaves ? " with leaves" : "");
    }
  }
}

// A rendered gradient without grain whose channels run their own ways: a mosaic moves pixels
// that differ by a level in one channel and not in the next.
TEST(DetectTest, FindsAFaintMosaicOnAGradientWhoseChannelsRunApart) {
  Bitmap gradient(320, 240, PixelFormat::Bits24);
  for (int32_t y = 0; y < 240; ++y) {
    uint8_t* row = gradient.ScanLine(y).data();
    for (int32_t x = 0; x < 320; ++x) {
      row[3 * x] = static_cast<uint8_t>(120.0 + 3.0 * (12.0 * x / 320 + 5.0 * y / 240));
      row[3 * x + 1] = static_cast<uint8_t>(48.0 + 3.0 * (-8.0 * x / 320 + 10.0 * y / 240));
      row[3 * x + 2] = static_cast<uint8_t>(149.0 + 3.0 * (6.0 * x / 320 - 9.0 * y / 240));
    }
  }
  EXPECT_FALSE(DetectScrambledRect(gradient).has_value());
  for (const MosaicCase& c : {MosaicCase{{72, 143, 99, 157}, 27, 14, 17, 40},
                              MosaicCase{{100, 100, 241, 133}, 47, 11, 102, 247}}) {
    ExpectMosaicFound(gradient, c);
  }
}

// A flat golden wall, its shade changing by a few levels across the picture: a mosaic moves pixels
// a level apart, noisier than the wall tenfold and still far below the floors of a textured
// picture.
TEST(DetectTest, FindsAMosaicOnAFlatWall) {
  Bitmap wall(320, 240, PixelFormat::Bits24);
  for (int32_t y = 0; y < 240; ++y) {
    uint8_t* row = wall.ScanLine(y).data();
    for (int32_t x = 0; x < 320; ++x) {
      const double shade = 8.0 * x / 320 + 4.0 * y / 240 + 0.8 * std::sin(0.04 * x + 0.05 * y);
      row[3 * x] = static_cast<uint8_t>(50.0 + 0.6 * shade);
      row[3 * x + 1] = static_cast<uint8_t>(130.0 + shade);
      row[3 * x + 2] = static_cast<uint8_t>(170.0 + 1.2 * shade);
    }
  }
  EXPECT_FALSE(DetectScrambledRect(wall).has_value());
  for (const MosaicCase& c : {MosaicCase{{60, 40, 110, 76}, 25, 18, 17, 8},
                              MosaicCase{{40, 100, 96, 128}, 28, 14, 13, 171},
                              MosaicCase{{100, 140, 150, 176}, 25, 18, 211, 160}}) {
    ExpectMosaicFound(wall, c);
  }
}

// A flat band (a painted stripe, a blown-out cloud) one block row high across a mosaic: its
// blocks stay as they were and pair no better than in place, yet the blocks beyond it are part of
// the same mosaic. So are those beyond it when the band is the mosaic's second or last but one
// block row, with a single block row beyond (the last four cases: two for each reading of the
// grid).
TEST(DetectTest, FindsAMosaicAcrossAFlatBand) {
  Bitmap banded = PhotoLike(320, 240, 9);
  for (int32_t y = 120; y < 128; ++y) {
    for (int32_t x = 0; x < 320; ++x) {
      uint8_t* p = banded.ScanLine(y).data() + 3 * x;
      p[0] = 90, p[1] = 130, p[2] = 170;
    }
  }
  for (const MosaicCase& c :
       {MosaicCase{{90, 72, 162, 152}, 8, 8, 103, 73}, MosaicCase{{100, 96, 164, 144}, 8, 8, 39, 5},
        MosaicCase{{40, 104, 120, 144}, 8, 8, 103, 73},
        MosaicCase{{90, 112, 162, 152}, 8, 8, 103, 73},
        MosaicCase{{40, 96, 136, 136}, 12, 8, 103, 73}, MosaicCase{{90, 112, 162, 152}, 8, 8, 3, 7},
        MosaicCase{{90, 88, 162, 136}, 8, 8, 5, 11}}) {
    ExpectMosaicFound(banded, c);
  }
}

// A textured photograph holds many places noisier than a mosaic's, whose rows match rows further
// off: here eight grey speckled patches whose rows come back, a little changed, six rows further
// down, each a heavier place than the mosaic on the smooth picture between them.
TEST(DetectTest, FindsAMosaicAmongManyNoisierPlaces) {
  const MosaicCase cases[] = {{{120, 100, 200, 128}, 20, 7, 31, 206},
                              {{140, 84, 176, 156}, 9, 12, 101, 18},
                              {{100, 110, 220, 150}, 15, 8, 7, 90},
                              {{150, 60, 190, 180}, 8, 15, 53, 11}};
  Bitmap original = PhotoLike(320, 240, 9);
  std::mt19937 rng(5);
  for (int i = 0; i < 8; ++i) {
    const int32_t x0 = 8 + (i % 4) * 80, y0 = i < 4 ? 8 : 200;
    for (int32_t y = y0; y < y0 + 32; ++y) {
      for (int32_t x = x0; x < x0 + 32; ++x) {
        uint8_t* p = original.ScanLine(y).data() + 3 * x;
        const int grey = y >= y0 + 6
                             ? original.ScanLine(y - 6)[3 * x] + static_cast<int>(rng() % 31) - 15
                             : 40 + static_cast<int>(rng() % 120);
        for (int ch = 0; ch < 3; ++ch) {
          p[ch] = static_cast<uint8_t>(std::clamp(grey + 10 * ch, 0, 255));
        }
      }
    }
  }
  for (const MosaicCase& c : cases) ExpectMosaicFound(original, c);
}

TEST(DetectTest, FindsARectangleOnTheBorderAndTheWholePicture) {
  TransformRequest request;
  request.Kind = TransformKind::Xor;
  request.Mode = XorKeyMode::MTwister;
  for (const TRect rect : {TRect{0, 0, 50, 40}, TRect{150, 120, 200, 150}, TRect{0, 0, 200, 150}}) {
    Bitmap picture = PhotoLike(200, 150, 3);
    ApplyTransform(picture, rect, request);
    const std::optional<TRect> found = DetectScrambledRect(picture);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(*found, rect);
  }
}

// The clean column between the picture's border and the scramble has a neighbour in its row
// on the scramble's side only.
TEST(DetectTest, LeavesTheCleanColumnBetweenTheBorderAndARectangleOutside) {
  TransformRequest request;
  request.Kind = TransformKind::Xor;
  request.Mode = XorKeyMode::MD5;
  for (const TRect rect : {TRect{1, 20, 60, 70}, TRect{140, 30, 199, 90}}) {
    Bitmap picture = PhotoLike(200, 150, 4);
    ApplyTransform(picture, rect, request);
    const std::optional<TRect> found = DetectScrambledRect(picture);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(*found, rect);
  }
}

// Thin lines of the picture along a short rectangle's left and right edges are as unlike their
// neighbours across as the noise is, but not unlike the pixels above and below.
TEST(DetectTest, LeavesLinesOfThePictureAlongAnXorRectangleOutside) {
  const TRect rect{80, 60, 150, 82};
  Bitmap picture = PhotoLike(200, 150, 5);
  for (int32_t y = 40; y < 100; ++y) {
    uint8_t* row = picture.ScanLine(y).data();
    for (const auto& [x, level] : {std::pair{74, 200},
                                   {75, 40},
                                   {76, 30},
                                   {77, 45},
                                   {78, 220},
                                   {79, 235},
                                   {150, 235},
                                   {151, 220},
                                   {152, 45},
                                   {153, 30},
                                   {154, 40},
                                   {155, 200}}) {
      for (int c = 0; c < 3; ++c) row[3 * x + c] = static_cast<uint8_t>(level + c);
    }
  }
  TransformRequest request;
  request.Kind = TransformKind::Xor;
  request.Mode = XorKeyMode::MD5OFB;
  request.Password = "lines";
  ApplyTransform(picture, rect, request);
  const std::optional<TRect> found = DetectScrambledRect(picture);
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(*found, rect);
}

TEST(DetectTest, FindsNothingOnCleanFlatOrGrainyPictures) {
  std::mt19937 rng(3);
  EXPECT_FALSE(DetectScrambledRect(PhotoLike(300, 200, 11)).has_value());
  EXPECT_FALSE(DetectScrambledRect(Bitmap(300, 200, PixelFormat::Bits24)).has_value());
  Bitmap grainy = PhotoLike(300, 200, 12);
  std::normal_distribution<double> grain(0.0, 12.0);
  for (uint8_t& b : grainy.Bits()) b = static_cast<uint8_t>(std::clamp(b + grain(rng), 0.0, 255.0));
  EXPECT_FALSE(DetectScrambledRect(grainy).has_value());
  EXPECT_FALSE(DetectScrambledRect(Bitmap()).has_value());
}

// The columns are shared among the threads (at x = 80 and 160 among 3 on these pictures): edges
// found by their noise, by their seams and by undoing whole bytes, on those columns and beside
// them; and pictures narrower than the threads.
TEST(DetectTest, GivesTheSameAnswerOnAnyNumberOfThreads) {
  struct Case {
    TransformKind Kind;
    int32_t Shift;
    double Spread;
    TRect Rect;
  };
  std::vector<Bitmap> pictures;
  unsigned seed = 60;
  for (const Case& c : {Case{TransformKind::BitShift, 3, 40.0, TRect{80, 40, 160, 120}},
                        Case{TransformKind::BitShift, -13, 40.0, TRect{79, 20, 161, 90}},
                        Case{TransformKind::BitShift, 8, 6.0, TRect{80, 40, 160, 120}},
                        Case{TransformKind::BitShift, -16, 6.0, TRect{81, 50, 159, 130}},
                        Case{TransformKind::BitShift, 16, 6.0, TRect{30, 10, 200, 170}},
                        Case{TransformKind::Xor, 0, 40.0, TRect{80, 30, 160, 100}},
                        Case{TransformKind::ReversibleMosaic, 0, 40.0, TRect{80, 40, 160, 121}},
                        Case{TransformKind::Xor, 0, 40.0, TRect{0, 0, 0, 0}}}) {
    Bitmap picture = PhotoLike(240, 180, ++seed, c.Spread);
    TransformRequest request;
    request.Kind = c.Kind;
    request.Shift = c.Shift;
    request.BlockW = 4, request.BlockH = 3, request.Key1 = 5, request.Key2 = 7;
    ApplyTransform(picture, c.Rect, request);
    pictures.push_back(std::move(picture));
  }
  for (const auto& [w, h] : {std::pair{1, 1}, {2, 9}, {9, 2}, {17, 5}, {24, 40}}) {
    pictures.push_back(PhotoLike(w, h, ++seed));
  }
  int found = 0;
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    const std::optional<TRect> alone = DetectScrambledRect(pictures[i], 1);
    found += alone.has_value();
    for (const unsigned threads : {2u, 3u, 7u}) {
      EXPECT_EQ(DetectScrambledRect(pictures[i], threads), alone)
          << "picture " << i << ", " << threads << " threads";
    }
  }
  EXPECT_GE(found, 6);
}

TEST(DetectTest, LooksAtAPalettePictureInItsTwentyFourBitFormWithoutChangingIt) {
  Bitmap palette(64, 48, PixelFormat::Bits8);
  palette.SetPalette({{10, 20, 30}, {200, 100, 50}});
  EXPECT_FALSE(DetectScrambledRect(palette).has_value());
  EXPECT_EQ(palette.Format(), PixelFormat::Bits8);
}

}  // namespace
}  // namespace kavun
