#include "app/number_edit.h"

#include <QKeyEvent>
#include <QLineEdit>

#include "applogic/number_field.h"
#include "engine/beep.h"

bool FilterNumberKeyPress(QLineEdit* edit, QKeyEvent* event, int limit) {
  // Only typed characters go through the filter, as key presses that produce a character do;
  // cursor keys, Delete and focus keys are left to the edit.
  int key = 0;
  if (event->key() == Qt::Key_Backspace) {
    key = kavun::kKeyBackspace;
  } else if (!event->text().isEmpty() && event->key() != Qt::Key_Tab &&
             event->key() != Qt::Key_Backtab && event->key() != Qt::Key_Delete) {
    key = event->text().front().unicode();
  } else {
    return false;
  }
  const int selStart = edit->hasSelectedText() ? static_cast<int>(edit->selectionStart()) : -1;
  const int selLength = edit->hasSelectedText() ? static_cast<int>(edit->selectedText().size()) : 0;
  const kavun::TNumberKeyResult result =
      kavun::FilterNumberKey(edit->text().toStdU16String(), selStart, selLength, key, limit);
  if (result.textChanged) {
    edit->setText(QString::fromStdU16String(result.text));
    edit->setCursorPosition(selStart);
  }
  if (result.beep) kavun::Beep();
  // Backspace over a selection: removing the selection was all it had to do; passing it on as
  // well would take the character before the selection with it.
  if (result.textChanged && key == kavun::kKeyBackspace) return true;
  return !result.keyPasses;
}
