#include "app/error_box.h"

#include <QCoreApplication>
#include <QFileInfo>

QString ErrorBoxText(const QString& message) {
  if (!message.isEmpty() && message.back().unicode() > u'.') return message + u'.';
  return message;
}

QString ApplicationTitleFor(const QString& executablePath) {
  QString name = QFileInfo(executablePath).fileName();
  const qsizetype dot = name.indexOf(u'.');
  if (dot >= 0) name.truncate(dot);
  if (name.isEmpty()) return name;
  // The first letter stays as it is; every later one is lower-cased.
  return name.left(1) + name.mid(1).toLower();
}

QString ApplicationTitle() {
  return ApplicationTitleFor(QCoreApplication::applicationFilePath());
}

QString WithLineBreakOpportunities(const QString& text) {
  constexpr qsizetype kLongestRun = 40;
  constexpr char16_t kZeroWidthSpace = u'\u200B';
  QString result;
  result.reserve(text.size() + text.size() / 8);
  qsizetype run = 0;  // characters since the last place to break
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    if (u <= u' ' || u >= 0x2E80 || c.isSpace()) {
      run = 0;  // a space, or CJK text, which breaks between its characters anyway
      result += c;
      continue;
    }
    // A run longer than the limit breaks after its first kLongestRun characters.
    if (run >= kLongestRun && !c.isLowSurrogate()) {
      result += QChar(kZeroWidthSpace);
      run = 0;
    }
    result += c;
    ++run;
    if (u == u'/' || u == u'\\') {
      result += QChar(kZeroWidthSpace);
      run = 0;
    }
  }
  return result;
}
