#pragma once

#include <QObject>

class QWidget;

// Long work on the user-interface thread (open, save, Execute, the reversibility check): while
// a scope lives the whole program shows the wait cursor, the window has been repainted before
// the work starts (a dialog closed just before is gone from the screen), and mouse clicks, key
// presses and wheel turns made meanwhile are dropped when the scope ends instead of turning
// into commands afterwards. Scopes nest; only the outermost one acts.
class TBusyScope : public QObject {
  Q_OBJECT

 public:
  explicit TBusyScope(QWidget* window);
  ~TBusyScope() override;

  TBusyScope(const TBusyScope&) = delete;
  TBusyScope& operator=(const TBusyScope&) = delete;

  // Whether a scope is alive now.
  static bool IsBusy();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool outermost_ = false;
};
