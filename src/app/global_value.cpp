#include "app/global_value.h"

#include <QCoreApplication>

void TGlobalValue::SetRatio(int32_t value) {
  if (value > 10) value = 10;
  if (value < 1) value = 1;
  const int32_t previous = Ratio;
  Ratio = value;
  if (OwnerWindow != nullptr) {
    TRatioChangedEvent event(value, previous);
    QCoreApplication::sendEvent(OwnerWindow, &event);
  }
}
