#include "applogic/undo_stack.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace kavun {

namespace {

constexpr std::size_t kPixelBytes = 3;

// `rect` held inside the bitmap; empty when nothing of it lies inside.
TRect ClipTo(const Bitmap& bitmap, const TRect& rect) {
  TRect clipped{std::max(rect.Left, 0), std::max(rect.Top, 0), std::min(rect.Right, bitmap.Width()),
                std::min(rect.Bottom, bitmap.Height())};
  if (clipped.IsEmpty()) return TRect{};
  return clipped;
}

}  // namespace

void TUndoStack::Prepare(const Bitmap& bitmap, const TRect& rect, std::string label) {
  prepared_.reset();
  TStep step;
  step.Label = std::move(label);
  if (bitmap.Format() != PixelFormat::Bits24) {
    // The transform brings the whole bitmap to 24 bits first: only the whole old one restores it.
    step.Whole = bitmap;
  } else {
    step.Rect = ClipTo(bitmap, rect);
    if (!step.Rect.IsEmpty()) {
      const auto row = static_cast<std::size_t>(step.Rect.Right - step.Rect.Left) * kPixelBytes;
      const auto rows = static_cast<std::size_t>(step.Rect.Bottom - step.Rect.Top);
      step.Bytes.resize(row * rows);
      for (std::size_t i = 0; i < rows; ++i) {
        const auto line = bitmap.ScanLine(step.Rect.Top + static_cast<int32_t>(i));
        std::memcpy(step.Bytes.data() + i * row,
                    line.data() + static_cast<std::size_t>(step.Rect.Left) * kPixelBytes, row);
      }
    }
  }
  prepared_ = std::move(step);
}

void TUndoStack::Commit() {
  if (!prepared_) return;
  TStep step = std::move(*prepared_);
  prepared_.reset();
  // An undone whole-bitmap step holds the larger 24-bit bitmap: counted as that from the start.
  step.Cost = step.Bytes.size() +
              (step.Whole ? std::max(step.Whole->Bits().size(),
                                     Bitmap::StrideFor(step.Whole->Width(), PixelFormat::Bits24) *
                                         static_cast<std::size_t>(step.Whole->Height()))
                          : 0);
  while (steps_.size() > done_) {
    bytes_ -= steps_.back().Cost;
    steps_.pop_back();
  }
  if (step.Cost > maxBytes_ || maxSteps_ == 0) {
    Clear();
    return;
  }
  bytes_ += step.Cost;
  steps_.push_back(std::move(step));
  while (steps_.size() > maxSteps_ || bytes_ > maxBytes_) {
    bytes_ -= steps_.front().Cost;
    steps_.pop_front();
  }
  done_ = steps_.size();
}

void TUndoStack::Swap(TStep& step, Bitmap& bitmap) {
  if (step.Whole) {
    std::swap(*step.Whole, bitmap);
    return;
  }
  if (step.Rect.IsEmpty()) return;
  const auto row = static_cast<std::size_t>(step.Rect.Right - step.Rect.Left) * kPixelBytes;
  const auto rows = static_cast<std::size_t>(step.Rect.Bottom - step.Rect.Top);
  for (std::size_t i = 0; i < rows; ++i) {
    const auto line = bitmap.ScanLine(step.Rect.Top + static_cast<int32_t>(i));
    uint8_t* pixels = line.data() + static_cast<std::size_t>(step.Rect.Left) * kPixelBytes;
    std::swap_ranges(pixels, pixels + row, step.Bytes.data() + i * row);
  }
}

std::optional<std::string> TUndoStack::Undo(Bitmap& bitmap) {
  if (!CanUndo()) return std::nullopt;
  TStep& step = steps_[done_ - 1];
  // A step of another bitmap's size (it cannot happen while Clear follows every load) is
  // never applied.
  if (!step.Whole && (step.Rect.Right > bitmap.Width() || step.Rect.Bottom > bitmap.Height() ||
                      bitmap.Format() != PixelFormat::Bits24)) {
    Clear();
    return std::nullopt;
  }
  Swap(step, bitmap);
  --done_;
  return step.Label;
}

std::optional<std::string> TUndoStack::Redo(Bitmap& bitmap) {
  if (!CanRedo()) return std::nullopt;
  TStep& step = steps_[done_];
  if (!step.Whole && (step.Rect.Right > bitmap.Width() || step.Rect.Bottom > bitmap.Height() ||
                      bitmap.Format() != PixelFormat::Bits24)) {
    Clear();
    return std::nullopt;
  }
  Swap(step, bitmap);
  ++done_;
  return step.Label;
}

void TUndoStack::Clear() noexcept {
  steps_.clear();
  prepared_.reset();
  done_ = 0;
  bytes_ = 0;
}

}  // namespace kavun
