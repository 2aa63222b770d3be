#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QStatusBar;
class QWidget;

// Long work of a command (open, save, Execute, the reversibility check): while a scope lives the
// whole program shows the wait cursor, the window has been repainted before the work starts (a
// dialog closed just before is gone from the screen), and mouse clicks, key presses and wheel
// turns made meanwhile are dropped when the scope ends instead of turning into commands
// afterwards; only Esc is heard, by the handler SetEscape gave. Scopes nest; only the outermost
// one acts.
class TBusyScope : public QObject {
  Q_OBJECT

 public:
  explicit TBusyScope(QWidget* window);
  ~TBusyScope() override;

  TBusyScope(const TBusyScope&) = delete;
  TBusyScope& operator=(const TBusyScope&) = delete;

  // Whether a scope is alive now.
  static bool IsBusy();

  // What Esc does while the scope lives (nothing: an empty function). The handler is dropped
  // when the scope that set it ends.
  void SetEscape(std::function<void()> handler);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool outermost_ = false;
  bool setEscape_ = false;
};

// Runs `work` on a thread of its own while this thread goes on painting the window and handling
// its events (user input is dropped as in a TBusyScope, which must be alive). Every tenth of a
// second `status` (may be empty) gives the text that `statusBar` shows meanwhile; it is cleared
// at the end. `cancel` (may be empty) asks the work to stop; Esc calls it.
//
// Returns true when the work ran to its end; an exception it threw is thrown here. Returns false
// when the application was told to end meanwhile (a signal, the last window closed): the work
// is then stopped with `cancel` (or, without one, waited for) and whatever it threw is dropped.
bool RunBesideEventLoop(QStatusBar* statusBar, const std::function<void()>& work,
                        const std::function<QString()>& status,
                        const std::function<void()>& cancel);
