#include "app/quit_on_signal.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace {

int signalPipe[2] = {-1, -1};
bool quitRequested = false;

// Runs in the signal's context: only write(2), which is async-signal-safe, and errno kept.
void PassToEventLoop(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

bool QuitOnTerminationSignals() {
  if (signalPipe[0] >= 0) return true;
  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  auto* notifier =
      new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
    char bytes[16];
    while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
    }
    // exit() rather than quit(): it leaves every event loop, a modal dialog's too, and no window
    // can refuse it (the main window refuses to close while the About box is shown). The main
    // window is then destroyed as after "終了", which writes the settings.
    quitRequested = true;
    QCoreApplication::exit(0);
  });
  struct sigaction action {};
  action.sa_handler = PassToEventLoop;
  sigemptyset(&action.sa_mask);
  // Restarted system calls: a save under way goes on undisturbed.
  action.sa_flags = SA_RESTART;
  for (const int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &action, nullptr);
  return true;
}

bool QuitRequested() {
  return quitRequested;
}
