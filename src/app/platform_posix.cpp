#include <QFile>
#include <QStandardPaths>

#include "app/platform.h"

std::filesystem::path PathFromQt(const QString& path) {
  return std::filesystem::path(QFile::encodeName(path).toStdString());
}

QString QtFromPath(const std::filesystem::path& path) {
  return QFile::decodeName(path.c_str());
}

QString UserSettingsFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
}

void EndInOrderWithSession(std::function<void()>) {}
