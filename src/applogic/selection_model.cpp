#include "applogic/selection_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <utility>

namespace kavun {

namespace {

constexpr int32_t kInt32Min = std::numeric_limits<int32_t>::min();
constexpr int32_t kInt32Max = std::numeric_limits<int32_t>::max();

int32_t Saturate(int64_t v) noexcept {
  return static_cast<int32_t>(std::clamp<int64_t>(v, kInt32Min, kInt32Max));
}

int32_t EffectiveRatio(int32_t ratio) noexcept {
  return ratio < 1 ? 1 : ratio;
}

// |a div b| without overflow for a == INT32_MIN.
int32_t AbsDiv(int32_t a, int32_t b) noexcept {
  return Saturate(std::llabs(static_cast<int64_t>(a) / b));
}

bool ValidHandle(int k) noexcept {
  return k >= 1 && k <= 4;
}

}  // namespace

int32_t RoundHalfEven(double value) noexcept {
  if (std::isnan(value)) return 0;
  if (value >= static_cast<double>(kInt32Max)) return kInt32Max;
  if (value <= static_cast<double>(kInt32Min)) return kInt32Min;
  const double lower = std::floor(value);
  const double diff = value - lower;
  double result = lower;
  if (diff > 0.5) {
    result = lower + 1.0;
  } else if (diff == 0.5) {
    // An exact half goes to the even neighbour.
    result = std::fmod(lower, 2.0) == 0.0 ? lower : lower + 1.0;
  }
  return Saturate(static_cast<int64_t>(result));
}

int32_t Snap(int32_t v, int32_t ratio) noexcept {
  const int32_t r = EffectiveRatio(ratio);
  if (r == 1) return v;
  const int64_t q = RoundHalfEven(static_cast<double>(v) / static_cast<double>(r));
  return Saturate(q * r);
}

TRect SelectionImageRect(int32_t left, int32_t top, int32_t width, int32_t height,
                         int32_t ratio) noexcept {
  const int32_t r = EffectiveRatio(ratio);
  const int64_t startX = width >= 0 ? left : static_cast<int64_t>(left) + width;
  const int64_t startY = height >= 0 ? top : static_cast<int64_t>(top) + height;
  const int32_t x0 = Saturate(startX / r);
  const int32_t y0 = Saturate(startY / r);
  const int32_t w = AbsDiv(width, r);
  const int32_t h = AbsDiv(height, r);
  return TRect{x0, y0, Saturate(static_cast<int64_t>(x0) + w),
               Saturate(static_cast<int64_t>(y0) + h)};
}

std::string FormatSelectionStatus(int32_t column, int32_t row, int32_t width, int32_t height) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "( %3d , %3d ) W:%4d H:%4d", column, row, width, height);
  return buffer;
}

// --- View ---------------------------------------------------------------------------------

TSelectionModel::TSelectionModel(std::function<int32_t()> ratio) : ratio_(std::move(ratio)) {}

int32_t TSelectionModel::Ratio() const noexcept {
  return EffectiveRatio(ratio_ ? ratio_() : 1);
}

void TSelectionModel::SetView(int32_t viewWidth, int32_t viewHeight) noexcept {
  viewWidth_ = std::max(viewWidth, 0);
  viewHeight_ = std::max(viewHeight, 0);
}

void TSelectionModel::OnRatioChanged(int32_t previousRatio, int32_t viewWidth,
                                     int32_t viewHeight) noexcept {
  SetView(viewWidth, viewHeight);
  const int32_t newRatio = Ratio();
  if (visible_ && previousRatio >= 1) {
    const auto rescale = [&](int32_t value) {
      return Saturate(static_cast<int64_t>(value / previousRatio) * newRatio);
    };
    left_ = rescale(left_);
    top_ = rescale(top_);
    width_ = rescale(width_);
    height_ = rescale(height_);
  }
  PlaceHandles();
}

// --- State --------------------------------------------------------------------------------

int32_t TSelectionModel::LeftEdge() const noexcept {
  return std::min(left_, Saturate(static_cast<int64_t>(left_) + width_));
}
int32_t TSelectionModel::RightEdge() const noexcept {
  return std::max(left_, Saturate(static_cast<int64_t>(left_) + width_));
}
int32_t TSelectionModel::TopEdge() const noexcept {
  return std::min(top_, Saturate(static_cast<int64_t>(top_) + height_));
}
int32_t TSelectionModel::BottomEdge() const noexcept {
  return std::max(top_, Saturate(static_cast<int64_t>(top_) + height_));
}

TViewBox TSelectionModel::ShapeGeometry() const noexcept {
  return TViewBox{LeftEdge(), TopEdge(), RightEdge() - LeftEdge(), BottomEdge() - TopEdge()};
}

void TSelectionModel::SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) noexcept {
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
}

int32_t TSelectionModel::HandleTag(int k) const noexcept {
  return ValidHandle(k) ? handleTag_[k - 1] : 0;
}

TViewPoint TSelectionModel::HandlePos(int k) const noexcept {
  return ValidHandle(k) ? handle_[k - 1] : TViewPoint{};
}

// --- Routines -----------------------------------------------------------------------------

void TSelectionModel::ShowSelection() noexcept {
  visible_ = true;
}

void TSelectionModel::HideSelection() noexcept {
  SetBounds(0, 0, 0, 0);
  for (TViewPoint& h : handle_) h = TViewPoint{};
  visible_ = false;
}

void TSelectionModel::PlaceHandles() noexcept {
  const int64_t l = left_, t = top_, w = width_, h = height_;
  // Along one axis, the first and the last handle's place; a rectangle dragged backwards has a
  // negative size.
  const auto span = [](int64_t start, int64_t size, int64_t handle) {
    return size > 0 ? std::pair{start, start + size - handle}
                    : std::pair{start + size, start - handle};
  };
  const auto [left1, left2] = span(l, w, kHandleWidth);
  const auto [top12, top3] = span(t, h, kHandleHeight);
  handle_[0] = {Saturate(left1), Saturate(top12)};
  handle_[1] = {Saturate(left2), Saturate(top12)};
  handle_[2] = {Saturate(left2), Saturate(top3)};
  handle_[3] = {Saturate(left1), Saturate(top3)};
}

void TSelectionModel::TrimSelection() noexcept {
  const auto trimAxis = [](int32_t& start, int32_t& size, int32_t extent) {
    const auto clampEdge = [extent](int64_t e) -> int64_t {
      if (e < 0) return 0;
      if (e > extent) return extent;
      return e;
    };
    const int64_t first = clampEdge(start);
    const int64_t second = clampEdge(static_cast<int64_t>(start) + size);
    start = static_cast<int32_t>(first);
    size = static_cast<int32_t>(second - first);
  };
  trimAxis(left_, width_, viewWidth_);
  trimAxis(top_, height_, viewHeight_);
}

TRect TSelectionModel::SelectionImageRect(int32_t ratio) const noexcept {
  return kavun::SelectionImageRect(left_, top_, width_, height_, ratio);
}

void TSelectionModel::SelectAll(int32_t imageWidth, int32_t imageHeight) noexcept {
  const int32_t r = Ratio();
  const int32_t w = Saturate(static_cast<int64_t>(imageWidth) * r);
  const int32_t h = Saturate(static_cast<int64_t>(imageHeight) * r);
  SetBounds(0, 0, w, h);
  handle_[0] = {0, 0};
  handle_[1] = {w - kHandleWidth, 0};
  handle_[2] = {w - kHandleWidth, h - kHandleHeight};
  handle_[3] = {0, h - kHandleHeight};
  ShowSelection();
}

void TSelectionModel::SelectImageRect(const TRect& rect) noexcept {
  const int64_t r = Ratio();
  SetBounds(Saturate(rect.Left * r), Saturate(rect.Top * r),
            Saturate((static_cast<int64_t>(rect.Right) - rect.Left) * r),
            Saturate((static_cast<int64_t>(rect.Bottom) - rect.Top) * r));
  PlaceHandles();
  ShowSelection();
}

// --- Rubber band on the image view ---------------------------------------------------------

void TSelectionModel::MainPBoxMouseDown(TMouseButton button, int32_t x, int32_t y) noexcept {
  if (button != TMouseButton::Left) return;
  if (visible_) {
    // A press beside a shown selection only removes it.
    tag_ = 0;
    HideSelection();
    return;
  }
  tag_ = 1;
  width_ = 0;
  height_ = 0;
  left_ = SnapR(x);
  top_ = SnapR(y);
  // All four handles centred on the start point until the first move places them.
  const TViewPoint centred{left_ - kHandleWidth / 2, top_ - kHandleHeight / 2};
  for (TViewPoint& h : handle_) h = centred;
  ShowSelection();
}

std::optional<std::string> TSelectionModel::MainPBoxMouseMove(int32_t x, int32_t y) {
  if (!visible_ || tag_ != 1) return std::nullopt;
  const int32_t r = Ratio();
  const int32_t gx = Snap(x, r);
  const int32_t gy = Snap(y, r);
  const auto farEdge = [r](int32_t g, int32_t extent, int32_t& readOut) {
    if (g < 0) {
      readOut = 0;
      return 0;
    }
    if (g > extent) {
      readOut = extent / r;
      return extent;
    }
    readOut = g / r;
    return g;
  };
  int32_t column = 0, row = 0;
  const int32_t farX = farEdge(gx, viewWidth_, column);
  const int32_t farY = farEdge(gy, viewHeight_, row);
  width_ = Saturate(static_cast<int64_t>(farX) - left_);
  height_ = Saturate(static_cast<int64_t>(farY) - top_);
  status_ = FormatSelectionStatus(column, row, AbsDiv(width_, r), AbsDiv(height_, r));
  PlaceHandles();
  return status_;
}

void TSelectionModel::MainPBoxMouseUp(TMouseButton button, int32_t, int32_t) noexcept {
  if (button != TMouseButton::Left) return;
  TrimSelection();
  PlaceHandles();
  tag_ = 0;
}

// --- Moving the rectangle ------------------------------------------------------------------

void TSelectionModel::ImgSelShapeMouseDown(TMouseButton button, int32_t x, int32_t y) noexcept {
  if (button == TMouseButton::Right) {
    HideSelection();
  } else if (button == TMouseButton::Left) {
    tag_ = 1;
    moveGrab_ = {SnapR(x), SnapR(y)};
  }
}

void TSelectionModel::ImgSelShapeMouseMove(int32_t x, int32_t y) noexcept {
  if (tag_ != 1) return;
  left_ = Saturate(static_cast<int64_t>(left_) + SnapR(x) - moveGrab_.X);
  top_ = Saturate(static_cast<int64_t>(top_) + SnapR(y) - moveGrab_.Y);
  PlaceHandles();
}

void TSelectionModel::ImgSelShapeMouseUp(TMouseButton button, int32_t, int32_t) noexcept {
  if (button != TMouseButton::Left) return;
  TrimSelection();
  PlaceHandles();
  const bool onImage =
      RightEdge() > 0 && LeftEdge() < viewWidth_ && BottomEdge() > 0 && TopEdge() < viewHeight_;
  if (!onImage) HideSelection();
  tag_ = 0;
}

// --- Resizing by a handle ------------------------------------------------------------------

void TSelectionModel::CornerShapeMouseDown(int k, TMouseButton button, int32_t x,
                                           int32_t y) noexcept {
  if (!ValidHandle(k) || button != TMouseButton::Left) return;
  handleTag_[k - 1] = 1;
  handleGrab_ = {SnapR(x), SnapR(y)};
}

void TSelectionModel::CornerShapeMouseMove(int k, int32_t x, int32_t y) noexcept {
  if (!ValidHandle(k) || handleTag_[k - 1] != 1) return;
  const int64_t dx = static_cast<int64_t>(SnapR(x)) - handleGrab_.X;
  const int64_t dy = static_cast<int64_t>(SnapR(y)) - handleGrab_.Y;
  const TViewPoint hp = handle_[k - 1];
  const int64_t handleLeft = hp.X, handleTop = hp.Y;
  const int64_t handleRight = handleLeft + kHandleWidth;
  const int64_t handleBottom = handleTop + kHandleHeight;
  int64_t newLeft = LeftEdge(), newTop = TopEdge();
  int64_t newRight = RightEdge(), newBottom = BottomEdge();
  switch (k) {
    case 1:
      newLeft = handleLeft + dx;
      newTop = handleTop + dy;
      break;
    case 2:
      newTop = handleTop + dy;
      newRight = handleRight + dx;
      break;
    case 3:
      newRight = handleRight + dx;
      newBottom = handleBottom + dy;
      break;
    default:  // 4
      newLeft = handleLeft + dx;
      newBottom = handleBottom + dy;
      break;
  }
  SetBounds(Saturate(newLeft), Saturate(newTop), Saturate(newRight - newLeft),
            Saturate(newBottom - newTop));
  PlaceHandles();
}

void TSelectionModel::CornerShapeMouseUp(int k, TMouseButton button, int32_t, int32_t) noexcept {
  if (!ValidHandle(k) || button != TMouseButton::Left) return;
  TrimSelection();
  PlaceHandles();
  handleTag_[k - 1] = 0;
}

}  // namespace kavun
