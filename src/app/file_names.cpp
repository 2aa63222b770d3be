#include "app/file_names.h"

#include <QFile>
#include <QStringList>

#include <system_error>

namespace {

std::filesystem::path Encoded(const QString& path) {
#ifdef _WIN32
  return std::filesystem::path(path.toStdWString());
#else
  return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

bool Exists(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

// The one entry of `folder` that Qt shows as `name`; empty when there is none or several.
std::filesystem::path FindEntry(const std::filesystem::path& folder, const QString& name) {
  std::error_code error;
  std::filesystem::directory_iterator entries(folder.empty() ? "." : folder, error);
  if (error) return {};
  std::filesystem::path found;
  for (; entries != std::filesystem::directory_iterator(); entries.increment(error)) {
    if (error) return {};
    const std::filesystem::path entry = entries->path().filename();
#ifdef _WIN32
    const QString shown = QString::fromStdWString(entry.native());
#else
    const QString shown = QFile::decodeName(QByteArray::fromStdString(entry.native()));
#endif
    if (shown != name) continue;
    if (!found.empty()) return {};  // two names shown alike: neither is meant more than the other
    found = folder / entry;
  }
  return found;
}

}  // namespace

std::filesystem::path SystemPath(const QString& path) {
  std::filesystem::path encoded = Encoded(path);
  if (!path.contains(QChar::ReplacementCharacter) || Exists(encoded)) return encoded;
  // Rebuild the path part by part, looking up each part Qt could not show.
  const bool absolute = path.startsWith(u'/');
  std::filesystem::path built = absolute ? std::filesystem::path("/") : std::filesystem::path();
  const QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
  for (const QString& part : parts) {
    if (part.contains(QChar::ReplacementCharacter)) {
      const std::filesystem::path found = FindEntry(built, part);
      if (found.empty()) return encoded;
      built = found;
    } else {
      built /= Encoded(part);
    }
  }
  return built;
}
