#include "engine/beep.h"

#include <utility>

namespace kavun {
namespace {
BeepHandler& CurrentHandler() {
  static BeepHandler handler;
  return handler;
}
}  // namespace

BeepHandler SetBeepHandler(BeepHandler handler) {
  return std::exchange(CurrentHandler(), std::move(handler));
}

void Beep() {
  if (const auto& handler = CurrentHandler()) handler();
}

}  // namespace kavun
