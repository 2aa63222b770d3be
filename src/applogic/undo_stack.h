#pragma once

// Undo and redo of Execute. A step keeps only what Execute may change: the old pixels of the
// rectangle it rewrote, or the whole old bitmap when the transform first had to bring it to 24
// bits per pixel. Undoing a step swaps those pixels with the bitmap's, so that the same step
// then holds what redo puts back.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "engine/bitmap.h"
#include "engine/rect.h"

namespace kavun {

class TUndoStack {
 public:
  static constexpr std::size_t kDefaultMaxBytes = std::size_t{512} << 20;  // 512 MiB
  static constexpr std::size_t kDefaultMaxSteps = 20;

  explicit TUndoStack(std::size_t maxBytes = kDefaultMaxBytes,
                      std::size_t maxSteps = kDefaultMaxSteps)
      : maxBytes_(maxBytes), maxSteps_(maxSteps) {}

  // Remembers what an Execute on `rect` of `bitmap` is about to change, under `label` (what
  // the status bar names when it is undone or redone). Call it before the transform runs and
  // Commit() after it succeeded; a failed transform leaves the bitmap as it was, so a prepared
  // step that is not committed is simply dropped by the next Prepare. Throws std::bad_alloc
  // when the copy cannot be made (the bitmap is then untouched as well).
  void Prepare(const Bitmap& bitmap, const TRect& rect, std::string label);
  // Puts the prepared step on top: the steps that could be redone are dropped, then the oldest
  // steps until at most the step and byte limits are kept. A step larger than the byte limit on
  // its own cannot be kept; it clears the stack, since the older steps can no longer be reached.
  void Commit();

  // Undoes the newest step on `bitmap` and returns its label; nothing when there is none.
  std::optional<std::string> Undo(Bitmap& bitmap);
  // Redoes the step undone last and returns its label; nothing when there is none.
  std::optional<std::string> Redo(Bitmap& bitmap);

  bool CanUndo() const noexcept { return done_ > 0; }
  bool CanRedo() const noexcept { return done_ < steps_.size(); }
  // Forgets every step (a new or re-read picture, or none).
  void Clear() noexcept;

  std::size_t StepCount() const noexcept { return steps_.size(); }
  std::size_t Bytes() const noexcept { return bytes_; }

 private:
  struct TStep {
    std::string Label;
    TRect Rect;                   // the rectangle whose pixels are kept (whole: unused)
    std::vector<uint8_t> Bytes;   // its rows, 3 bytes a pixel, tightly packed
    std::optional<Bitmap> Whole;  // the whole bitmap, when the transform changed its format
    std::size_t Cost = 0;         // the bytes counted for it, fixed when it is committed
  };

  static void Swap(TStep& step, Bitmap& bitmap);

  std::size_t maxBytes_;
  std::size_t maxSteps_;
  std::deque<TStep> steps_;
  std::size_t done_ = 0;  // steps_[0 .. done_) are done, the rest were undone
  std::size_t bytes_ = 0;
  std::optional<TStep> prepared_;
};

}  // namespace kavun
