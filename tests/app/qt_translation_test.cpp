// Qt's own texts in Japanese.
#include <QDir>
#include <QFileSystemModel>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

TEST(QtTranslationTest, TheFileDialogsTypeColumnNamesAFolderInJapanese) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("sub")));
  // The model the file dialogs list their folders with; its third column is the type.
  QFileSystemModel model;
  const QModelIndex root = model.setRootPath(dir.path());
  QTRY_COMPARE_WITH_TIMEOUT(model.rowCount(root), 1, 5000);
  EXPECT_EQ(model.index(0, 2, root).data().toString(), QStringLiteral("フォルダー"));
}

}  // namespace
