#include "app/busy_scope.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QStatusBar>
#include <QTimer>
#include <QWidget>

#include <exception>
#include <thread>

#include "app/quit_on_signal.h"

namespace {

int depth = 0;
std::function<void()> escape;

bool IsUserInput(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::ContextMenu:
    case QEvent::Drop:
      return true;
    default:
      return false;
  }
}

}  // namespace

TBusyScope::TBusyScope(QWidget* window) : outermost_(depth == 0) {
  ++depth;
  if (!outermost_) return;
  qApp->installEventFilter(this);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  // Paint the window now, so that a dialog closed just before does not stay on the screen
  // while the work runs; input that arrives meanwhile is dropped by the filter.
  if (window != nullptr) window->repaint();
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

TBusyScope::~TBusyScope() {
  if (setEscape_) escape = nullptr;
  --depth;
  if (!outermost_) return;
  // Input queued during the work is delivered now and dropped by the filter.
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  qApp->removeEventFilter(this);
  QApplication::restoreOverrideCursor();
}

bool TBusyScope::IsBusy() {
  return depth > 0;
}

void TBusyScope::SetEscape(std::function<void()> handler) {
  escape = std::move(handler);
  setEscape_ = true;
}

bool TBusyScope::eventFilter(QObject* watched, QEvent* event) {
  if (IsUserInput(event->type())) {
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && escape) {
      // The press is dropped where it arrives first, so the handler runs once for it.
      if (!static_cast<QKeyEvent*>(event)->isAutoRepeat()) {
        const auto handler = escape;
        handler();
      }
    }
    event->accept();
    return true;
  }
  return QObject::eventFilter(watched, event);
}

bool RunBesideEventLoop(QStatusBar* statusBar, const std::function<void()>& work,
                        const std::function<QString()>& status,
                        const std::function<void()>& cancel) {
  QEventLoop loop;
  std::exception_ptr failure;
  bool finished = false;
  std::thread worker([&] {
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    // Queued to the loop's thread; dropped if the loop has gone meanwhile.
    QMetaObject::invokeMethod(
        &loop,
        [&] {
          finished = true;
          loop.quit();
        },
        Qt::QueuedConnection);
  });
  QTimer ticker;
  const auto showStatus = [&] {
    if (status && statusBar != nullptr) statusBar->showMessage(status());
  };
  QObject::connect(&ticker, &QTimer::timeout, &loop, showStatus);
  ticker.start(100);
  showStatus();
  if (!QuitRequested()) loop.exec();
  ticker.stop();
  if (!finished && cancel) cancel();  // the application ends: stop the work at once
  worker.join();
  if (statusBar != nullptr) statusBar->clearMessage();
  if (!finished) return false;
  if (failure) std::rethrow_exception(failure);
  return true;
}
