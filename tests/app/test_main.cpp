// Runs the desktop program's tests on the offscreen platform with one application object,
// with Qt's texts in Japanese as the program shows them.
#include <QApplication>

#include <gtest/gtest.h>

#include <cstdio>

#include "app/qt_translation.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (!InstallJapaneseQtTranslation(&app)) {
    std::fprintf(stderr,
                 "qtbase_ja.qm is missing (Debian package qt6-translations-l10n); the "
                 "tests of Qt's Japanese texts will fail\n");
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
