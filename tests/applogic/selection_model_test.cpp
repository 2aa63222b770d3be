#include "applogic/selection_model.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "applogic/image_rect.h"

namespace kavun {
namespace {

using B = TMouseButton;

// ---- Snapping -------------------------------------------------------------------------------

TEST(RoundHalfEven, HalvesGoToEven) {
  struct Case {
    double in;
    int32_t out;
  };
  for (const Case& c : {Case{0.5, 0}, Case{1.5, 2}, Case{2.5, 2}, Case{3.5, 4}, Case{-0.5, 0},
                        Case{-1.5, -2}, Case{-2.5, -2}, Case{0.49, 0}, Case{0.51, 1},
                        Case{-0.51, -1}, Case{1e12, 2147483647}, Case{-1e12, -2147483647 - 1}}) {
    EXPECT_EQ(RoundHalfEven(c.in), c.out) << c.in;
  }
}

TEST(Snap, RatioTwoAndOthers) {
  struct Case {
    int32_t v, r, out;
  };
  for (const Case& c :
       {Case{1, 2, 0}, Case{3, 2, 4}, Case{5, 2, 4}, Case{7, 2, 8}, Case{2, 2, 2}, Case{-1, 2, 0},
        Case{-3, 2, -4}, Case{4, 3, 3}, Case{5, 3, 6}, Case{13, 10, 10}, Case{15, 10, 20},
        Case{25, 10, 20}, Case{17, 1, 17}, Case{-17, 1, -17}, Case{7, 0, 7}}) {
    EXPECT_EQ(Snap(c.v, c.r), c.out) << c.v << " at ratio " << c.r;
  }
}

TEST(SelectionImageRect, TruncatesAndHandlesNegativeSize) {
  struct Case {
    int32_t left, top, width, height, ratio;
    TRect out;
  };
  for (const Case& c : {
           Case{9, 0, 30, 6, 3, TRect{3, 0, 13, 2}}, Case{39, 6, -30, -6, 3, TRect{3, 0, 13, 2}},
           Case{9, 9, 0, 0, 3, TRect{3, 3, 3, 3}}, Case{10, 20, 100, 50, 1, TRect{10, 20, 110, 70}},
           Case{4, 4, 1, 1, 2, TRect{2, 2, 2, 2}},  // narrower than the ratio: empty
       }) {
    EXPECT_EQ(SelectionImageRect(c.left, c.top, c.width, c.height, c.ratio), c.out)
        << c.left << "," << c.top << " " << c.width << "x" << c.height << " r" << c.ratio;
  }
}

// ---- Fixture --------------------------------------------------------------------------------

class SelectionTest : public ::testing::Test {
 protected:
  // A 100 x 80 image at ratio r.
  void Open(int32_t r, int32_t imageW = 100, int32_t imageH = 80) {
    imageW_ = imageW;
    imageH_ = imageH;
    ratio_ = r;
    m.SetView(imageW * r, imageH * r);
    m.HideSelection();
  }
  void RubberBand(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    m.MainPBoxMouseDown(B::Left, x0, y0);
    m.MainPBoxMouseMove(x1, y1);
    m.MainPBoxMouseUp(B::Left, x1, y1);
  }
  // Drags handle k with the pointer moving from view point (px, py) by (dx, dy), giving the
  // handle-relative coordinates the widget would report after each step.
  void DragHandle(int k, int32_t px, int32_t py, int32_t dx, int32_t dy) {
    TViewPoint h = m.HandlePos(k);
    m.CornerShapeMouseDown(k, B::Left, px - h.X, py - h.Y);
    h = m.HandlePos(k);
    m.CornerShapeMouseMove(k, px + dx - h.X, py + dy - h.Y);
    h = m.HandlePos(k);
    m.CornerShapeMouseUp(k, B::Left, px + dx - h.X, py + dy - h.Y);
  }
  // Moves the rectangle, pressing at view point (px, py) inside it.
  void DragShape(int32_t px, int32_t py, int32_t dx, int32_t dy) {
    TViewPoint o = m.ShapeEventOrigin();
    m.ImgSelShapeMouseDown(B::Left, px - o.X, py - o.Y);
    o = m.ShapeEventOrigin();
    m.ImgSelShapeMouseMove(px + dx - o.X, py + dy - o.Y);
    o = m.ShapeEventOrigin();
    m.ImgSelShapeMouseUp(B::Left, px + dx - o.X, py + dy - o.Y);
  }
  void ExpectBounds(int32_t l, int32_t t, int32_t w, int32_t h) {
    EXPECT_EQ(m.Left(), l);
    EXPECT_EQ(m.Top(), t);
    EXPECT_EQ(m.Width(), w);
    EXPECT_EQ(m.Height(), h);
  }
  void ExpectHandlesOnCorners() {
    const int32_t hw = TSelectionModel::kHandleWidth, hh = TSelectionModel::kHandleHeight;
    EXPECT_EQ(m.HandlePos(1), (TViewPoint{m.LeftEdge(), m.TopEdge()}));
    EXPECT_EQ(m.HandlePos(2), (TViewPoint{m.RightEdge() - hw, m.TopEdge()}));
    EXPECT_EQ(m.HandlePos(3), (TViewPoint{m.RightEdge() - hw, m.BottomEdge() - hh}));
    EXPECT_EQ(m.HandlePos(4), (TViewPoint{m.LeftEdge(), m.BottomEdge() - hh}));
  }

  // The display ratio, owned here as the document state owns it in the program.
  int32_t ratio_ = 1;
  TSelectionModel m{[this] { return ratio_; }};
  int32_t imageW_ = 0, imageH_ = 0;
};

// ---- Rubber band ----------------------------------------------------------------------------

TEST_F(SelectionTest, RubberBandAtRatioOne) {
  Open(1, 200, 100);
  m.MainPBoxMouseDown(B::Left, 10, 20);
  EXPECT_TRUE(m.Visible());
  EXPECT_TRUE(m.ExecuteEnabled());
  EXPECT_EQ(m.Tag(), 1);
  for (int k = 1; k <= 4; ++k) EXPECT_EQ(m.HandlePos(k), (TViewPoint{5, 15}));
  const auto status = m.MainPBoxMouseMove(110, 70);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, "( 110 ,  70 ) W: 100 H:  50");
  m.MainPBoxMouseUp(B::Left, 110, 70);
  EXPECT_EQ(m.Tag(), 0);
  ExpectBounds(10, 20, 100, 50);
  ExpectHandlesOnCorners();
  EXPECT_EQ(m.SelectionImageRect(), (TRect{10, 20, 110, 70}));
  EXPECT_EQ(m.StatusText(), "( 110 ,  70 ) W: 100 H:  50");
}

TEST_F(SelectionTest, RubberBandUpAndLeftHasNegativeSize) {
  Open(2);  // view 200 x 160
  m.MainPBoxMouseDown(B::Left, 120, 100);
  const auto status = m.MainPBoxMouseMove(41, 61);  // snaps to 40, 60
  ASSERT_TRUE(status);
  EXPECT_EQ(*status, "(  20 ,  30 ) W:  40 H:  20");
  m.MainPBoxMouseUp(B::Left, 41, 61);
  ExpectBounds(120, 100, -80, -40);
  ExpectHandlesOnCorners();
  EXPECT_EQ(m.ShapeGeometry(), (TViewBox{40, 60, 80, 40}));
  EXPECT_EQ(m.SelectionImageRect(), (TRect{20, 30, 60, 50}));
}

TEST_F(SelectionTest, RubberBandStopsAtTheBorders) {
  struct Case {
    int32_t x, y;
    std::string status;
    TRect rect;
  };
  // 100 x 80 image at ratio 2, band started at view (20, 30) = image (10, 15).
  for (const Case& c : {
           Case{500, 400, "( 100 ,  80 ) W:  90 H:  65", TRect{10, 15, 100, 80}},
           Case{-50, -60, "(   0 ,   0 ) W:  10 H:  15", TRect{0, 0, 10, 15}},
           Case{500, -60, "( 100 ,   0 ) W:  90 H:  15", TRect{10, 0, 100, 15}},
           Case{-3, 400, "(   0 ,  80 ) W:  10 H:  65", TRect{0, 15, 10, 80}},
       }) {
    Open(2);
    m.MainPBoxMouseDown(B::Left, 20, 30);
    EXPECT_EQ(m.MainPBoxMouseMove(c.x, c.y).value_or(""), c.status) << c.x << "," << c.y;
    m.MainPBoxMouseUp(B::Left, c.x, c.y);
    EXPECT_EQ(m.SelectionImageRect(), c.rect) << c.x << "," << c.y;
    EXPECT_GE(m.LeftEdge(), 0);
    EXPECT_LE(m.RightEdge(), m.ViewWidth());
  }
}

TEST_F(SelectionTest, SnapsTheStartPointAtRatioTwo) {
  Open(2);
  m.MainPBoxMouseDown(B::Left, 1, 3);
  EXPECT_EQ(m.Left(), 0);
  EXPECT_EQ(m.Top(), 4);
  m.MainPBoxMouseUp(B::Left, 1, 3);
  m.MainPBoxMouseDown(B::Left, 50, 50);  // hides
  m.MainPBoxMouseUp(B::Left, 50, 50);
  m.MainPBoxMouseDown(B::Left, 5, 7);  // 2.5 -> 2, 3.5 -> 4
  EXPECT_EQ(m.Left(), 4);
  EXPECT_EQ(m.Top(), 8);
}

TEST_F(SelectionTest, ClickWithoutMoveThenClickBeside) {
  Open(1);
  m.MainPBoxMouseDown(B::Left, 30, 40);
  m.MainPBoxMouseUp(B::Left, 30, 40);
  EXPECT_TRUE(m.Visible());
  EXPECT_TRUE(m.ExecuteEnabled());
  ExpectBounds(30, 40, 0, 0);
  // The handles form a 20 x 20 block around the point, each in the opposite quadrant.
  EXPECT_EQ(m.HandlePos(1), (TViewPoint{30, 40}));
  EXPECT_EQ(m.HandlePos(2), (TViewPoint{20, 40}));
  EXPECT_EQ(m.HandlePos(3), (TViewPoint{20, 30}));
  EXPECT_EQ(m.HandlePos(4), (TViewPoint{30, 30}));
  const TRect r = m.SelectionImageRect();
  EXPECT_EQ(r, (TRect{30, 40, 30, 40}));
  EXPECT_TRUE(r.IsEmpty());
  EXPECT_EQ(m.StatusText(), "");

  // A second click beside it removes it and starts nothing.
  m.MainPBoxMouseDown(B::Left, 60, 60);
  EXPECT_FALSE(m.Visible());
  EXPECT_FALSE(m.ExecuteEnabled());
  EXPECT_EQ(m.Tag(), 0);
  EXPECT_FALSE(m.MainPBoxMouseMove(70, 70).has_value());
  m.MainPBoxMouseUp(B::Left, 70, 70);
  EXPECT_FALSE(m.Visible());
  // A further press starts a new band.
  m.MainPBoxMouseDown(B::Left, 60, 60);
  EXPECT_TRUE(m.Visible());
  EXPECT_EQ(m.Tag(), 1);
}

TEST_F(SelectionTest, RightPressOnViewDoesNothing) {
  Open(1);
  RubberBand(10, 10, 50, 50);
  m.MainPBoxMouseDown(B::Right, 70, 70);
  m.MainPBoxMouseUp(B::Right, 70, 70);
  EXPECT_TRUE(m.Visible());
  ExpectBounds(10, 10, 40, 40);
}

// ---- Move -----------------------------------------------------------------------------------

TEST_F(SelectionTest, MoveInsideTheImage) {
  Open(2);
  RubberBand(20, 20, 60, 40);
  const std::string status = m.StatusText();
  // Grabbed at relative (10, 10); released at relative (21, 5), which snaps to (20, 4)
  // because 10.5 and 2.5 go to the even neighbours.
  DragShape(30, 30, 11, -5);
  ExpectBounds(30, 14, 40, 20);
  ExpectHandlesOnCorners();
  EXPECT_TRUE(m.Visible());
  EXPECT_EQ(m.Tag(), 0);
  EXPECT_EQ(m.StatusText(), status);  // a move leaves the read-out alone
}

TEST_F(SelectionTest, MovePartlyOffIsTrimmedWhollyOffIsRemoved) {
  Open(1);
  RubberBand(10, 10, 50, 40);
  DragShape(20, 20, 70, 50);  // to (80, 60) .. (120, 90) in a 100 x 80 view
  EXPECT_TRUE(m.Visible());
  ExpectBounds(80, 60, 20, 20);
  ExpectHandlesOnCorners();

  DragShape(85, 65, -200, 0);  // wholly left of the image
  EXPECT_FALSE(m.Visible());
  EXPECT_FALSE(m.ExecuteEnabled());
  ExpectBounds(0, 0, 0, 0);
  EXPECT_EQ(m.Tag(), 0);
}

TEST_F(SelectionTest, MoveDoesNotClampWhileDragging) {
  Open(1);
  RubberBand(10, 10, 50, 40);
  m.ImgSelShapeMouseDown(B::Left, 5, 5);
  m.ImgSelShapeMouseMove(-95, 5);
  EXPECT_EQ(m.Left(), -90);
  EXPECT_EQ(m.HandlePos(1), (TViewPoint{-90, 10}));
}

TEST_F(SelectionTest, RightPressOnRectangleHides) {
  Open(1);
  RubberBand(10, 10, 50, 40);
  m.ImgSelShapeMouseDown(B::Right, 5, 5);
  EXPECT_FALSE(m.Visible());
  ExpectBounds(0, 0, 0, 0);
  for (int k = 1; k <= 4; ++k) EXPECT_EQ(m.HandlePos(k), (TViewPoint{0, 0}));
}

// ---- Resize ---------------------------------------------------------------------------------

TEST_F(SelectionTest, DragHandleThreeOfAPoint) {
  Open(1);
  m.MainPBoxMouseDown(B::Left, 30, 40);
  m.MainPBoxMouseUp(B::Left, 30, 40);
  const TViewPoint h3 = m.HandlePos(3);
  DragHandle(3, h3.X + 5, h3.Y + 5, 25, 15);
  ExpectBounds(30, 40, 25, 15);
  ExpectHandlesOnCorners();
  EXPECT_EQ(m.HandleTag(3), 0);
  EXPECT_EQ(m.SelectionImageRect(), (TRect{30, 40, 55, 55}));
}

TEST_F(SelectionTest, EachHandleMovesItsOwnCorner) {
  struct Case {
    int k;
    int32_t dx, dy;
    int32_t l, t, w, h;
  };
  // Rectangle (20, 20) 40 x 30 at ratio 1 in a 100 x 80 view.
  for (const Case& c : {Case{1, 5, 6, 25, 26, 35, 24}, Case{2, 5, 6, 20, 26, 45, 24},
                        Case{3, 5, 6, 20, 20, 45, 36}, Case{4, 5, 6, 25, 20, 35, 36}}) {
    Open(1);
    RubberBand(20, 20, 60, 50);
    const TViewPoint hp = m.HandlePos(c.k);
    DragHandle(c.k, hp.X + 3, hp.Y + 3, c.dx, c.dy);
    EXPECT_EQ(m.Left(), c.l) << "handle " << c.k;
    EXPECT_EQ(m.Top(), c.t) << "handle " << c.k;
    EXPECT_EQ(m.Width(), c.w) << "handle " << c.k;
    EXPECT_EQ(m.Height(), c.h) << "handle " << c.k;
    ExpectHandlesOnCorners();
  }
}

TEST_F(SelectionTest, HandlePastOppositeEdgeTurnsInsideOutAndIsTrimmed) {
  Open(1);
  RubberBand(20, 20, 60, 50);
  // Handle 3 dragged up and left past the top-left corner, still inside the image.
  TViewPoint h = m.HandlePos(3);
  DragHandle(3, h.X + 5, h.Y + 5, -60, -45);
  ExpectBounds(20, 20, -20, -15);
  ExpectHandlesOnCorners();
  EXPECT_EQ(m.ShapeGeometry(), (TViewBox{0, 5, 20, 15}));
  EXPECT_EQ(m.SelectionImageRect(), (TRect{0, 5, 20, 20}));

  // Past the opposite edge and beyond the image: not clamped while dragging, trimmed on release.
  Open(1);
  RubberBand(20, 20, 60, 50);
  h = m.HandlePos(3);
  m.CornerShapeMouseDown(3, B::Left, 5, 5);
  m.CornerShapeMouseMove(3, 5 - 90, 5 - 60);
  ExpectBounds(20, 20, -50, -30);
  EXPECT_EQ(m.LeftEdge(), -30);
  ExpectHandlesOnCorners();
  h = m.HandlePos(3);
  m.CornerShapeMouseUp(3, B::Left, 0, 0);
  ExpectBounds(20, 20, -20, -20);
  ExpectHandlesOnCorners();
  EXPECT_TRUE(m.Visible());  // no removal test after a resize
  EXPECT_EQ(m.HandleTag(3), 0);
  EXPECT_EQ(m.SelectionImageRect(), (TRect{0, 0, 20, 20}));
}

TEST_F(SelectionTest, RightPressOnHandleDoesNothing) {
  Open(1);
  RubberBand(20, 20, 60, 50);
  m.CornerShapeMouseDown(2, B::Right, 3, 3);
  EXPECT_EQ(m.HandleTag(2), 0);
  m.CornerShapeMouseMove(2, 30, 30);
  ExpectBounds(20, 20, 40, 30);
  EXPECT_TRUE(m.Visible());
}

// ---- Select all, ratio change ---------------------------------------------------------------

TEST_F(SelectionTest, SelectAllAtEveryRatio) {
  for (int32_t r = 1; r <= 10; ++r) {
    Open(r, 37, 23);
    m.SelectAll(37, 23);
    EXPECT_TRUE(m.Visible());
    EXPECT_EQ(m.SelectionImageRect(), (TRect{0, 0, 37, 23})) << "ratio " << r;
    EXPECT_EQ(m.HandlePos(3), (TViewPoint{37 * r - 10, 23 * r - 10}));
    ExpectHandlesOnCorners();
  }
}

TEST_F(SelectionTest, RatioChangeRescalesTheSelection) {
  Open(2);
  m.SetBounds(6, 4, 10, 8);
  m.ShowSelection();
  ratio_ = 5;
  m.OnRatioChanged(2, 500, 400);
  ExpectBounds(15, 10, 25, 20);
  ExpectHandlesOnCorners();
  EXPECT_EQ(m.Ratio(), 5);
  EXPECT_EQ(m.SelectionImageRect(), (TRect{3, 2, 8, 6}));

  // Negative sizes scale the same way; a hidden selection is not touched.
  m.SetBounds(30, 20, -10, -5);
  ratio_ = 1;
  m.OnRatioChanged(5, 100, 80);
  ExpectBounds(6, 4, -2, -1);
  m.HideSelection();
  ratio_ = 3;
  m.OnRatioChanged(1, 300, 240);
  ExpectBounds(0, 0, 0, 0);
  EXPECT_FALSE(m.Visible());
}

}  // namespace
}  // namespace kavun

// Rectangles chosen by number or by key stay inside a 100 x 50 picture and keep a pixel.
TEST(ImageRect, ClampMoveAndResizeStayInsideThePicture) {
  using kavun::TRect;
  constexpr int32_t kW = 100, kH = 50;
  struct Case {
    const char* what;
    TRect got;
    TRect want;
  };
  const Case cases[] = {
      {"inside stays", kavun::ClampIntoPicture({10, 5, 30, 25}, kW, kH), {10, 5, 30, 25}},
      {"past the right and bottom",
       kavun::ClampIntoPicture({90, 40, 500, 900}, kW, kH),
       {90, 40, 100, 50}},
      {"left of the picture", kavun::ClampIntoPicture({-20, -3, 10, 10}, kW, kH), {0, 0, 10, 10}},
      {"no width keeps a pixel",
       kavun::ClampIntoPicture({99, 49, 99, 49}, kW, kH),
       {99, 49, 100, 50}},
      {"wholly outside", kavun::ClampIntoPicture({300, 300, 400, 400}, kW, kH), {99, 49, 100, 50}},
      {"inside out", kavun::ClampIntoPicture({30, 25, 10, 5}, kW, kH), {10, 5, 30, 25}},
      {"extreme values",
       kavun::ClampIntoPicture({INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}, kW, kH),
       {0, 0, 100, 50}},
      {"move right", kavun::MoveInsidePicture({10, 5, 30, 25}, 1, 0, kW, kH), {11, 5, 31, 25}},
      {"move up", kavun::MoveInsidePicture({10, 5, 30, 25}, 0, -1, kW, kH), {10, 4, 30, 24}},
      {"move stops at the edge",
       kavun::MoveInsidePicture({80, 0, 100, 20}, 1, -1, kW, kH),
       {80, 0, 100, 20}},
      {"move far",
       kavun::MoveInsidePicture({10, 5, 30, 25}, INT32_MAX, INT32_MIN, kW, kH),
       {80, 0, 100, 20}},
      {"grow", kavun::ResizeInsidePicture({10, 5, 30, 25}, 1, 1, kW, kH), {10, 5, 31, 26}},
      {"shrink keeps a pixel",
       kavun::ResizeInsidePicture({10, 5, 11, 6}, -1, -1, kW, kH),
       {10, 5, 11, 6}},
      {"grow stops at the edge",
       kavun::ResizeInsidePicture({10, 5, 100, 50}, 1, 1, kW, kH),
       {10, 5, 100, 50}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.got, c.want);
  }
  EXPECT_TRUE(kavun::LiesInsidePicture({0, 0, 100, 50}, kW, kH));
  EXPECT_FALSE(kavun::LiesInsidePicture({0, 0, 101, 50}, kW, kH));
  EXPECT_FALSE(kavun::LiesInsidePicture({-1, 0, 10, 10}, kW, kH));
  EXPECT_FALSE(kavun::LiesInsidePicture({5, 5, 5, 10}, kW, kH));
}
