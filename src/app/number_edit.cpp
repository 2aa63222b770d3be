#include "app/number_edit.h"

#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QValidator>

#include <algorithm>

#include "applogic/number_field.h"
#include "engine/beep.h"

namespace {

class TDigitsValidator : public QValidator {
 public:
  TDigitsValidator(int limit, QObject* parent) : QValidator(parent), limit_(limit) {}

  State validate(QString& input, int& /*pos*/) const override {
    const bool digits =
        std::all_of(input.cbegin(), input.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    if (digits && input.size() <= limit_) return Acceptable;
    kavun::Beep();
    return Invalid;
  }

 private:
  int limit_;
};

}  // namespace

void KeepDigitsOnly(QLineEdit* edit, int limit) {
  edit->setValidator(new TDigitsValidator(limit, edit));
}

bool FilterNumberKeyPress(QLineEdit* edit, QKeyEvent* event, int limit) {
  // Copying and selecting change nothing; cutting removes the selection as Delete would; a
  // paste goes through the validator. None of them is a typed character.
  if (event->matches(QKeySequence::Copy) || event->matches(QKeySequence::Cut) ||
      event->matches(QKeySequence::Paste) || event->matches(QKeySequence::SelectAll)) {
    return false;
  }
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
