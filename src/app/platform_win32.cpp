// The desktop program on Windows (platform.h), and the Windows form of quit_on_signal.h.

#include <windows.h>

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QDir>
#include <QMetaObject>

#include <atomic>
#include <utility>

#include "app/platform.h"
#include "app/quit_on_signal.h"

// The file layer's paths, and so the file names its messages give, have Windows' separators;
// Qt's have forward slashes.
std::filesystem::path PathFromQt(const QString& path) {
  return std::filesystem::path(QDir::toNativeSeparators(path).toStdWString());
}

QString QtFromPath(const std::filesystem::path& path) {
  return QDir::fromNativeSeparators(QString::fromStdWString(path.wstring()));
}

QString UserSettingsFolder() {
  const QString appData = qEnvironmentVariable("APPDATA");
  if (appData.isEmpty()) return {};
  return QDir::fromNativeSeparators(appData) + QStringLiteral("/Kavun");
}

namespace {

// Set once the session or the console has asked the program to end.
std::atomic<bool> quitRequested{false};

class SessionEndFilter : public QAbstractNativeEventFilter {
 public:
  explicit SessionEndFilter(std::function<void()> saveState) : saveState_(std::move(saveState)) {}

  bool nativeEventFilter(const QByteArray& type, void* message, qintptr* result) override {
    if (type != "windows_generic_MSG") return false;
    const MSG* msg = static_cast<const MSG*>(message);
    if (msg->message == WM_QUERYENDSESSION) {
      // Nothing to ask the user: the work at hand is finished before the process goes.
      *result = TRUE;
      return true;
    }
    if (msg->message == WM_ENDSESSION && msg->wParam != FALSE) {
      // Every top-level window gets the message; the state is saved once.
      if (!saved_.exchange(true)) {
        quitRequested = true;
        saveState_();
        QCoreApplication::exit(0);
      }
      *result = 0;
      return true;
    }
    return false;
  }

 private:
  std::function<void()> saveState_;
  std::atomic<bool> saved_{false};
};

// Ctrl+C, Ctrl+Break or the closing of the console that started the program: ended in order on
// the event loop's thread, as after "終了". The handler runs on a thread of the system's.
BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) return FALSE;
  quitRequested = true;
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
  return TRUE;
}

}  // namespace

void EndInOrderWithSession(std::function<void()> saveState) {
  QCoreApplication::instance()->installNativeEventFilter(
      new SessionEndFilter(std::move(saveState)));
}

bool QuitOnTerminationSignals() {
  return ::SetConsoleCtrlHandler(OnConsoleControl, TRUE) != FALSE;
}

bool QuitRequested() {
  return quitRequested;
}
