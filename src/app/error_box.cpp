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
