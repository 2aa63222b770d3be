#include "applogic/undo_stack.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/bitmap.h"
#include "engine/transform_params.h"

namespace kavun {
namespace {

Bitmap Pattern(int32_t w, int32_t h, uint32_t seed = 1) {
  Bitmap b(w, h, PixelFormat::Bits24);
  uint32_t x = seed;
  for (int32_t y = 0; y < h; ++y) {
    for (uint8_t& byte : b.ScanLine(y)) {
      x = x * 1664525u + 1013904223u;
      byte = static_cast<uint8_t>(x >> 24);
    }
  }
  return b;
}

bool Same(const Bitmap& a, const Bitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.Format() != b.Format()) return false;
  const std::size_t row = static_cast<std::size_t>(a.Width()) * BitsPerPixel(a.Format()) / 8;
  for (int32_t y = 0; y < a.Height(); ++y) {
    if (!std::equal(a.ScanLine(y).begin(), a.ScanLine(y).begin() + static_cast<long>(row),
                    b.ScanLine(y).begin())) {
      return false;
    }
  }
  return a.Palette() == b.Palette();
}

// Runs an Execute of `request` on `rect` as the window does: prepare, transform, commit.
void Execute(TUndoStack& stack, Bitmap& bitmap, const TRect& rect, const TransformRequest& request,
             const std::string& label) {
  stack.Prepare(bitmap, rect, label);
  ApplyTransform(bitmap, rect, request);
  stack.Commit();
}

TransformRequest Xor(const std::string& password) {
  TransformRequest r;
  r.Kind = TransformKind::Xor;
  r.Mode = XorKeyMode::MD5;
  r.Password = password;
  return r;
}

TransformRequest Shift(int32_t shift) {
  TransformRequest r;
  r.Kind = TransformKind::BitShift;
  r.Shift = shift;
  return r;
}

TransformRequest Mosaic(int32_t block) {
  TransformRequest r;
  r.Kind = TransformKind::ReversibleMosaic;
  r.BlockW = block;
  r.BlockH = block;
  r.Key1 = 3;
  r.Key2 = 7;
  return r;
}

TEST(UndoStack, EachUndoAndRedoRestoresThePixelsBitForBit) {
  struct Case {
    TRect rect;
    TransformRequest request;
  };
  const std::vector<Case> cases = {
      {TRect{3, 4, 40, 30}, Xor("abc")}, {TRect{0, 0, 57, 43}, Shift(5)},
      {TRect{10, 1, 50, 41}, Mosaic(4)}, {TRect{56, 42, 57, 43}, Shift(-23)},
      {TRect{5, 5, 5, 9}, Xor("empty")},  // no pixels: nothing to keep, nothing changes
  };
  Bitmap bitmap = Pattern(57, 43);
  std::vector<Bitmap> states = {bitmap};
  TUndoStack stack;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    Execute(stack, bitmap, cases[i].rect, cases[i].request, "step " + std::to_string(i));
    states.push_back(bitmap);
  }
  ASSERT_FALSE(Same(states[0], states[1]));
  for (std::size_t i = cases.size(); i > 0; --i) {
    EXPECT_EQ(stack.Undo(bitmap), "step " + std::to_string(i - 1));
    EXPECT_TRUE(Same(bitmap, states[i - 1])) << "after undoing step " << i - 1;
  }
  EXPECT_FALSE(stack.Undo(bitmap));
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(stack.Redo(bitmap), "step " + std::to_string(i));
    EXPECT_TRUE(Same(bitmap, states[i + 1])) << "after redoing step " << i;
  }
  EXPECT_FALSE(stack.Redo(bitmap));
}

TEST(UndoStack, AFirstTransformOfAPaletteBitmapIsUndoneToThatBitmap) {
  Bitmap bitmap(9, 7, PixelFormat::Bits8);
  bitmap.SetPalette({{1, 2, 3}, {200, 100, 50}, {9, 8, 7}});
  for (int32_t y = 0; y < 7; ++y) {
    for (int32_t x = 0; x < 9; ++x) bitmap.ScanLine(y)[static_cast<std::size_t>(x)] = (x + y) % 3;
  }
  const Bitmap original = bitmap;
  TUndoStack stack;
  Execute(stack, bitmap, TRect{1, 1, 8, 6}, Xor("k"), "xor");
  ASSERT_EQ(bitmap.Format(), PixelFormat::Bits24);
  const Bitmap scrambled = bitmap;
  Execute(stack, bitmap, TRect{0, 0, 4, 4}, Shift(3), "shift");
  ASSERT_TRUE(stack.Undo(bitmap));
  EXPECT_TRUE(Same(bitmap, scrambled));
  ASSERT_TRUE(stack.Undo(bitmap));
  EXPECT_TRUE(Same(bitmap, original));
  ASSERT_TRUE(stack.Redo(bitmap));
  EXPECT_TRUE(Same(bitmap, scrambled));
}

TEST(UndoStack, ANewStepDropsWhatCouldBeRedone) {
  Bitmap bitmap = Pattern(20, 20);
  TUndoStack stack;
  Execute(stack, bitmap, TRect{0, 0, 10, 10}, Xor("a"), "a");
  Execute(stack, bitmap, TRect{0, 0, 10, 10}, Xor("b"), "b");
  ASSERT_TRUE(stack.Undo(bitmap));
  Execute(stack, bitmap, TRect{5, 5, 15, 15}, Xor("c"), "c");
  EXPECT_FALSE(stack.CanRedo());
  EXPECT_EQ(stack.StepCount(), 2u);
  EXPECT_EQ(stack.Bytes(), 2u * 10 * 10 * 3);
  EXPECT_EQ(stack.Undo(bitmap), "c");
  EXPECT_EQ(stack.Undo(bitmap), "a");
}

TEST(UndoStack, KeepsTheNewestStepsWithinTheStepAndByteLimits) {
  struct Case {
    std::size_t maxBytes, maxSteps, executes, kept;
  };
  // Each step keeps 10 x 10 pixels: 300 bytes.
  for (const Case& c : {Case{1 << 20, 20, 25, 20}, Case{1000, 20, 5, 3}, Case{300, 20, 4, 1},
                        Case{299, 20, 3, 0}, Case{1 << 20, 1, 3, 1}}) {
    Bitmap bitmap = Pattern(30, 30);
    TUndoStack stack(c.maxBytes, c.maxSteps);
    std::vector<Bitmap> states = {bitmap};
    for (std::size_t i = 0; i < c.executes; ++i) {
      Execute(stack, bitmap, TRect{0, 0, 10, 10}, Xor(std::to_string(i)), std::to_string(i));
      states.push_back(bitmap);
    }
    EXPECT_EQ(stack.StepCount(), c.kept) << c.maxBytes << " bytes, " << c.maxSteps << " steps";
    EXPECT_LE(stack.Bytes(), c.maxBytes);
    std::size_t undone = 0;
    while (stack.Undo(bitmap)) ++undone;
    EXPECT_EQ(undone, c.kept);
    EXPECT_TRUE(Same(bitmap, states[c.executes - c.kept]));
  }
}

TEST(UndoStack, AStepPreparedButNotCommittedIsNeverUndone) {
  Bitmap bitmap = Pattern(10, 10);
  TUndoStack stack;
  stack.Prepare(bitmap, TRect{0, 0, 5, 5}, "failed");  // the transform threw
  EXPECT_FALSE(stack.CanUndo());
  Execute(stack, bitmap, TRect{0, 0, 2, 2}, Xor("x"), "ok");
  EXPECT_EQ(stack.Undo(bitmap), "ok");
  EXPECT_FALSE(stack.CanUndo());
}

TEST(UndoStack, AStepForALargerPictureIsDroppedNotApplied) {
  Bitmap bitmap = Pattern(20, 20);
  TUndoStack stack;
  Execute(stack, bitmap, TRect{10, 10, 20, 20}, Xor("x"), "x");
  Bitmap smaller = Pattern(8, 8, 7);
  const Bitmap before = smaller;
  EXPECT_FALSE(stack.Undo(smaller));
  EXPECT_TRUE(Same(smaller, before));
  EXPECT_FALSE(stack.CanUndo());
}

}  // namespace
}  // namespace kavun
