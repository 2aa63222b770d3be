#include "app/busy_scope.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

namespace {

int depth = 0;

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

bool TBusyScope::eventFilter(QObject* watched, QEvent* event) {
  if (IsUserInput(event->type())) {
    event->accept();
    return true;
  }
  return QObject::eventFilter(watched, event);
}
