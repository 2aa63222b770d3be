#pragma once

#include <functional>

namespace kavun {

// The system beep is a service of the platform. The engine only asks for it; the GUI installs
// a handler that sounds it, tests install one that counts. Without a handler nothing happens.
using BeepHandler = std::function<void()>;

// Installs `handler` and returns the one it replaces.
BeepHandler SetBeepHandler(BeepHandler handler);
void Beep();

}  // namespace kavun
