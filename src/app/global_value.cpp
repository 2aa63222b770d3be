#include "app/global_value.h"

#include <QCoreApplication>

#include <algorithm>

void TGlobalValue::SetRatio(int32_t value) {
  value = std::clamp(value, kMinRatio, kMaxRatio);
  const int32_t previous = Ratio;
  Ratio = value;
  if (OwnerWindow != nullptr) {
    TRatioChangedEvent event(value, previous);
    QCoreApplication::sendEvent(OwnerWindow, &event);
  }
}
