#pragma once

// The selection rectangle of the image view as a model without widgets.
//
// The main window owns one TSelectionModel, feeds it the mouse events of the image view
// (MainPBox), of the rectangle (ImgSelShape) and of the four corner handles (CornerShape1..4),
// and after every call mirrors the model onto its widgets:
//   - ImgSelShape: shown while Visible(), geometry ShapeGeometry() (non-negative size);
//   - CornerShapeK: shown while Visible(), top-left HandlePos(k), size 10 x 10;
//   - ExecuteButton: enabled exactly while Visible();
//   - status bar panel 0: StatusText() (changed only by MainPBoxMouseMove).
//
// All positions are view coordinates: screen pixels of the image view from its top-left corner,
// independent of scrolling. At display ratio r, image pixel (x, y) covers view pixels
// x*r .. x*r + r - 1. Every position the user gives is snapped to a multiple of r.
// Integer division truncates toward zero everywhere (C++ `/`).

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "engine/rect.h"

namespace kavun {

// A point in view coordinates (or relative to a control, where stated).
struct TViewPoint {
  int32_t X = 0;
  int32_t Y = 0;
  friend constexpr bool operator==(const TViewPoint&, const TViewPoint&) = default;
};

// A box with a non-negative size in view coordinates, for placing a widget.
struct TViewBox {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Width = 0;
  int32_t Height = 0;
  friend constexpr bool operator==(const TViewBox&, const TViewBox&) = default;
};

enum class TMouseButton { Left, Right, Middle };

// Rounds to the nearest integer, exact halves to the even one (0.5 -> 0, 1.5 -> 2, 2.5 -> 2),
// independent of the floating-point rounding mode. Saturates at the int32 range.
int32_t RoundHalfEven(double value) noexcept;

// Snap(v, r) = round(v / r) * r with v / r in floating point and RoundHalfEven.
// A ratio below 1 is taken as 1. Snap(v, 1) == v.
int32_t Snap(int32_t v, int32_t ratio) noexcept;

// The selection, given in view coordinates (Width/Height may be negative), as image pixels:
// x0 = (Left if Width >= 0 else Left + Width) div r, likewise y0; w = |Width div r|,
// h = |Height div r|; result (x0, y0, x0 + w, y0 + h). A ratio below 1 is taken as 1.
TRect SelectionImageRect(int32_t left, int32_t top, int32_t width, int32_t height,
                         int32_t ratio) noexcept;

// The status read-out of the rubber band: "( %3d , %3d ) W:%4d H:%4d".
std::string FormatSelectionStatus(int32_t column, int32_t row, int32_t width, int32_t height);

class TSelectionModel {
 public:
  // Size of each corner handle (CornerShape1..4).
  static constexpr int32_t kHandleWidth = 10;
  static constexpr int32_t kHandleHeight = 10;

  // `ratio` gives the display ratio whenever the model needs it: the document state owns it and
  // the model keeps no copy. It must not throw. Null: ratio 1.
  explicit TSelectionModel(std::function<int32_t()> ratio);

  // --- The view -------------------------------------------------------------------------
  // The window calls this whenever the view's size changes without going through
  // OnRatioChanged (start-up and close: 0 x 0; open: the image's size). It does not touch the
  // rectangle.
  void SetView(int32_t viewWidth, int32_t viewHeight) noexcept;
  int32_t ViewWidth() const noexcept { return viewWidth_; }
  int32_t ViewHeight() const noexcept { return viewHeight_; }
  // The display ratio as the model uses it (below 1 taken as 1).
  int32_t Ratio() const noexcept;

  // The reaction of WMRatioChanged once the owner holds the new ratio n and the view has been
  // resized to image size * n: stores the new view size; if the selection is visible, Left,
  // Top, Width and Height each become (value div previousRatio) * n; then PlaceHandles (whether
  // visible or not). A previous ratio below 1 skips the rescale.
  void OnRatioChanged(int32_t previousRatio, int32_t viewWidth, int32_t viewHeight) noexcept;

  // --- State ----------------------------------------------------------------------------
  // Visible: ImgSelShape and the handles are shown; ExecuteButton is enabled exactly then.
  bool Visible() const noexcept { return visible_; }
  bool ExecuteEnabled() const noexcept { return visible_; }
  // The start corner and the signed size (negative = extends left of / above Left, Top).
  int32_t Left() const noexcept { return left_; }
  int32_t Top() const noexcept { return top_; }
  int32_t Width() const noexcept { return width_; }
  int32_t Height() const noexcept { return height_; }
  // Geometric edges: left = min(Left, Left + Width), right = max(...); likewise vertically.
  int32_t LeftEdge() const noexcept;
  int32_t RightEdge() const noexcept;
  int32_t TopEdge() const noexcept;
  int32_t BottomEdge() const noexcept;
  // Where to put ImgSelShape: geometric left/top and |Width| x |Height|.
  TViewBox ShapeGeometry() const noexcept;
  // Sets the four values directly (for the window's tests and for restoring a state); does not
  // show, hide or place handles.
  void SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) noexcept;

  // Drag flag of the rectangle (the shape's Tag): 1 while a rubber band or a move is dragged.
  int32_t Tag() const noexcept { return tag_; }
  // Drag flag of handle k (1..4; CornerShapeK's Tag): 1 while it is dragged. 0 for other k.
  int32_t HandleTag(int k) const noexcept;
  // Top-left corner of handle k (1 = top-left, 2 = top-right, 3 = bottom-right,
  // 4 = bottom-left); each is kHandleWidth x kHandleHeight. (0, 0) for other k.
  TViewPoint HandlePos(int k) const noexcept;
  // The grab points of a move and of a resize (snapped, relative to the grabbed control); only
  // the drags of the rectangle and its handles use them.
  TViewPoint MoveGrabPoint() const noexcept { return moveGrab_; }
  TViewPoint HandleGrabPoint() const noexcept { return handleGrab_; }
  // Text of status panel 0; empty at start, changed only while a rubber band is dragged.
  const std::string& StatusText() const noexcept { return status_; }

  // --- Routines -------------------------------------------------------------------------
  // Shows the rectangle and the handles (ExecuteButton enabled).
  void ShowSelection() noexcept;
  // Bounds to 0, 0, 0 x 0, every handle to (0, 0), all hidden (ExecuteButton disabled).
  // The drag flags are left as they are.
  void HideSelection() noexcept;
  // Puts the handles into the rectangle's geometric corners.
  void PlaceHandles() noexcept;
  // Clamps both edges of each axis into 0..view extent (an edge inside stays).
  void TrimSelection() noexcept;
  // The selection in image pixels at ratio r (or at the display ratio).
  TRect SelectionImageRect(int32_t ratio) const noexcept;
  TRect SelectionImageRect() const noexcept { return SelectionImageRect(Ratio()); }
  // TB_SelMaxClick: the whole image (imageWidth * r x imageHeight * r) from (0, 0), handles in
  // its corners, shown. Status text and drag flags stay.
  void SelectAll(int32_t imageWidth, int32_t imageHeight) noexcept;
  // Selects exactly the image pixels of `rect` (Left/Top/Width/Height = rect * r), handles in
  // its corners, shown. Status text and drag flags stay.
  void SelectImageRect(const TRect& rect) noexcept;

  // --- Mouse events ---------------------------------------------------------------------
  // The window repaints the image view at once on every MainPBox press (any button) itself.
  // The control that got the press gets the moves and the release (mouse capture).

  // MainPBox: x, y are view coordinates.
  void MainPBoxMouseDown(TMouseButton button, int32_t x, int32_t y) noexcept;
  // Returns the new status text when it changed (rubber band in progress), else nullopt.
  std::optional<std::string> MainPBoxMouseMove(int32_t x, int32_t y);
  void MainPBoxMouseUp(TMouseButton button, int32_t x, int32_t y) noexcept;

  // ImgSelShape: x, y are relative to the model's (Left, Top) — NOT to the geometric corner
  // where the widget sits when Width or Height is negative. Convert a widget-relative position
  // p with p + ShapeGeometry().Left - Left() (likewise for y), or use ShapeEventOrigin().
  TViewPoint ShapeEventOrigin() const noexcept { return {left_, top_}; }
  void ImgSelShapeMouseDown(TMouseButton button, int32_t x, int32_t y) noexcept;
  void ImgSelShapeMouseMove(int32_t x, int32_t y) noexcept;
  void ImgSelShapeMouseUp(TMouseButton button, int32_t x, int32_t y) noexcept;

  // CornerShapeK (k = 1..4, the digit ending the handle's name): x, y relative to that
  // handle's current top-left corner, HandlePos(k). Other k are ignored.
  void CornerShapeMouseDown(int k, TMouseButton button, int32_t x, int32_t y) noexcept;
  void CornerShapeMouseMove(int k, int32_t x, int32_t y) noexcept;
  void CornerShapeMouseUp(int k, TMouseButton button, int32_t x, int32_t y) noexcept;

 private:
  int32_t SnapR(int32_t v) const noexcept { return Snap(v, Ratio()); }

  std::function<int32_t()> ratio_;
  int32_t viewWidth_ = 0;
  int32_t viewHeight_ = 0;

  bool visible_ = false;
  int32_t left_ = 0;
  int32_t top_ = 0;
  int32_t width_ = 0;
  int32_t height_ = 0;
  int32_t tag_ = 0;
  int32_t handleTag_[4] = {0, 0, 0, 0};
  TViewPoint handle_[4];
  TViewPoint moveGrab_;
  TViewPoint handleGrab_;
  std::string status_;
};

}  // namespace kavun
