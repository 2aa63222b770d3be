#pragma once

#include <QEvent>
#include <QString>

#include <cstdint>

#include "engine/bitmap.h"
#include "imagefile/imagefile.h"

class QObject;

// The display ratio's range: 100 % to 1000 %, in steps of 100 %.
inline constexpr int32_t kMinRatio = 1;
inline constexpr int32_t kMaxRatio = 10;

// WM_RATIOCHANGED (0x8014): sent synchronously to the main window on every ratio assignment.
inline constexpr int WM_RATIOCHANGED = 0x8014;

// The ratio notification as a Qt event: WParam carries the new ratio, LParam the previous one.
class TRatioChangedEvent : public QEvent {
 public:
  static constexpr QEvent::Type kType = static_cast<QEvent::Type>(QEvent::User + 0x14);

  TRatioChangedEvent(int32_t wparam, int32_t lparam)
      : QEvent(kType), WParam(wparam), LParam(lparam) {}

  int32_t WParam;  // new ratio
  int32_t LParam;  // previous ratio
};

// The state of the open document: the working bitmap, the path it came from and the display
// ratio, whose one owner this is (the image view and the selection read it through GetRatio).
// The grab points of the selection drags are the selection's own (kavun::TSelectionModel).
// Owned by the main window for its whole life.
class TGlobalValue {
 public:
  explicit TGlobalValue(QObject* ownerWindow) : OwnerWindow(ownerWindow) {}
  TGlobalValue(const TGlobalValue&) = delete;
  TGlobalValue& operator=(const TGlobalValue&) = delete;
  virtual ~TGlobalValue() = default;

  // Clamps the value to kMinRatio..kMaxRatio, stores it and sends the ratio notification to
  // OwnerWindow, also when the value did not change.
  void SetRatio(int32_t value);
  int32_t GetRatio() const noexcept { return Ratio; }

  QObject* const OwnerWindow;
  kavun::Bitmap WorkBitmap;
  QString FileName;
  // What the file at FileName held that WorkBitmap does not (transparency, 16-bit samples): an
  // overwrite-save would lose it. Set by open and reopen, cleared once the file is overwritten.
  kavun::DroppedOnLoad FileLosses;

 private:
  int32_t Ratio = 1;
};
