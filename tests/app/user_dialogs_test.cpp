// The Qt side of the dialogs: filter texts and message boxes that stay usable.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <memory>

#include "app/picture_preview.h"
#include "app/user_dialogs.h"
#include "engine/bitmap.h"
#include "imagefile/imagefile.h"

namespace {

TEST(QtDialogsTest, FiltersKeepTheirWordingAndTakeTheirPatterns) {
  EXPECT_EQ(ToQtNameFilters(QString::fromUtf8(kOpenPictureFilter)),
            (QStringList{"対応形式(*.png, *.jpg, *.jpeg, *.bmp) (*.png *.jpg *.jpeg *.bmp)",
                         "PNG(*.png) (*.png)", "JPEG(*.jpg, *.jpeg) (*.jpg *.jpeg)",
                         "Bitmap(*.bmp) (*.bmp)"}));
  EXPECT_EQ(ToQtNameFilters(QString::fromUtf8(kSavePictureFilter)),
            (QStringList{"PNG(*.png) (*.png)", "JPEG(*.jpg) (*.jpg)", "Bitmap(*.bmp) (*.bmp)"}));
}

TEST(QtDialogsTest, AQuestionFromADisabledWindowCanBeAnswered) {
  QWidget owner;
  owner.show();
  owner.setEnabled(false);
  TQtUserDialogs dialogs(&owner);
  bool enabled = false;
  QString shown;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    enabled = box->isEnabled();
    shown = box->text();
    box->button(QMessageBox::Yes)->click();
  });
  EXPECT_TRUE(dialogs.AskYesNo(QStringLiteral("a\r\nb"), QStringLiteral("確認")));
  EXPECT_TRUE(enabled);
  EXPECT_EQ(shown, QStringLiteral("a\nb"));
}

TEST(QtDialogsTest, TheSaveDialogReportsAndRemembersTheChosenFilter) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QWidget owner;
  TQtUserDialogs dialogs(&owner);
  const QStringList filters = ToQtNameFilters(QString::fromUtf8(kSavePictureFilter));
  const QString name = dir.filePath(QStringLiteral("photo.png"));
  // Each run picks a filter (0-based) and accepts; the next run starts on the one picked before.
  qsizetype previous = 0;
  for (int pick : {1, 2, 0}) {
    qsizetype preselected = -1;
    QTimer::singleShot(0, [&, pick] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      preselected = NameFilterIndex(filters, dialog->selectedNameFilter());
      dialog->selectNameFilter(filters.at(pick));
      dialog->selectFile(name);
      static_cast<QDialog*>(dialog)->accept();  // as the dialog's own button does
    });
    int filterIndex = -1;
    const std::optional<QString> chosen = dialogs.GetSaveFileName(&filterIndex);
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(filterIndex, pick + 1);
    EXPECT_EQ(preselected, previous);
    previous = pick;
  }
}

// The open dialog's preview shows the file under the cursor, or the one whose name is typed,
// without blocking the dialog: a picture with its size and depth, a damaged file as a line
// saying so, a folder as nothing.
TEST(QtDialogsTest, TheOpenDialogPreviewsTheFileUnderTheCursor) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString picture = dir.filePath(QStringLiteral("wide.png"));
  kavun::SaveImageFile(picture.toStdString(), ".png",
                       kavun::Bitmap(600, 100, kavun::PixelFormat::Bits24));
  const QString damaged = dir.filePath(QStringLiteral("damaged.png"));
  {
    QFile file(damaged);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("\x89PNG\r\n\x1a\n broken");
  }
  struct Case {
    QString path;
    QString info;     // what the line under the picture starts with
    QSize thumbnail;  // empty: no picture shown
    bool typed;       // typed into the name field rather than chosen in the list
  };
  const Case cases[] = {
      {picture, QStringLiteral("600 × 100 ピクセル  24 ビット"), QSize(200, 33), true},
      {damaged, QStringLiteral("プレビューできません。"), QSize(), false},
      {dir.path(), QString(), QSize(), false},
  };
  QWidget owner;
  TQtUserDialogs dialogs(&owner);
  std::vector<std::pair<QString, QSize>> seen;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    auto* preview = dialog->findChild<TPicturePreview*>();
    ASSERT_NE(preview, nullptr);
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    for (const Case& c : cases) {
      if (c.typed) {
        QTest::keyClicks(name, c.path);
      } else {
        emit dialog->currentChanged(c.path);
      }
      QTRY_VERIFY(!preview->IsBusy());
      seen.emplace_back(preview->InfoText(), preview->Thumbnail().size());
    }
    dialog->reject();
  });
  EXPECT_FALSE(dialogs.GetOpenFileName().has_value());
  ASSERT_EQ(seen.size(), std::size(cases));
  for (size_t i = 0; i < seen.size(); ++i) {
    SCOPED_TRACE(cases[i].path.toStdString());
    EXPECT_TRUE(seen[i].first.startsWith(cases[i].info)) << seen[i].first.toStdString();
    if (cases[i].info.isEmpty()) {
      EXPECT_TRUE(seen[i].first.isEmpty());
    }
    EXPECT_EQ(seen[i].second, cases[i].thumbnail.isEmpty() ? QSize(0, 0) : cases[i].thumbnail);
  }
}

// Both picture dialogs open wide enough that no column of their detail view is cut off, with
// Japanese headings and dates and a folder of files.
TEST(QtDialogsTest, TheFileDialogsShowEveryColumnWhole) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  for (const char* name : {"写真_2026年12月8日の夕焼け.png", "b.bmp", "c.jpg"}) {
    QFile file(dir.filePath(QString::fromUtf8(name)));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(70000, 'x'));
  }
  QWidget owner;
  TQtUserDialogs dialogs(&owner);
  for (const bool save : {false, true}) {
    SCOPED_TRACE(save ? "save dialog" : "open dialog");
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      dialog->setDirectory(dir.path());
      auto* tree = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
      ASSERT_NE(tree, nullptr);
      ASSERT_TRUE(tree->isVisible());
      // The save dialog lists the PNG file only, under its first filter.
      QTRY_COMPARE(tree->model()->rowCount(tree->rootIndex()), save ? 1 : 3);
      QTest::qWait(50);  // the columns take their widths from the entries shown
      QHeaderView* header = tree->header();
      int shown = 0;
      for (int i = 0; i < header->count(); ++i) {
        if (header->isSectionHidden(i)) continue;
        ++shown;
        SCOPED_TRACE(tree->model()->headerData(i, Qt::Horizontal).toString().toStdString());
        EXPECT_GE(header->sectionSize(i), header->sectionSizeHint(i));
        if (i > 0) {
          // The width its widest entry needs (public through the base class).
          const int entries = static_cast<QAbstractItemView*>(tree)->sizeHintForColumn(i);
          EXPECT_GE(header->sectionSize(i), entries);
        }
      }
      // Name, size and date at least; the type (the extension again) may give way on a narrow
      // screen, and the name has room for a usual file name.
      EXPECT_GE(shown, 3);
      EXPECT_GE(header->sectionSize(0), tree->fontMetrics().horizontalAdvance(u'M') * 12);
      EXPECT_LE(header->length(), tree->viewport()->width());
      dialog->reject();
    });
    int index = 0;
    if (save) {
      dialogs.GetSaveFileName(&index);
    } else {
      dialogs.GetOpenFileName();
    }
  }
}

// A button's or menu item's text as the user reads it: without its mnemonic ("はい(&Y)" shows
// はい with Y underlined) and without the shortcut after a tab.
QString Shown(QString text) {
  text = text.section(u'\t', 0, 0);
  static const QRegularExpression mnemonic(QStringLiteral("\\(&.\\)$"));
  text.remove(mnemonic);
  text.remove(u'&');
  return text;
}

// The texts of the dialog's standard buttons, in the order of `buttons`.
QStringList ButtonTexts(QWidget* dialog,
                        std::initializer_list<QDialogButtonBox::StandardButton> buttons) {
  QStringList texts;
  auto* box = dialog->findChild<QDialogButtonBox*>();
  for (const auto b : buttons) {
    if (auto* message = qobject_cast<QMessageBox*>(dialog)) {
      texts << Shown(message->button(static_cast<QMessageBox::StandardButton>(b))->text());
    } else {
      texts << (box != nullptr && box->button(b) != nullptr ? Shown(box->button(b)->text())
                                                            : QStringLiteral("(none)"));
    }
  }
  return texts;
}

// Qt draws these texts itself; the program loads Qt's Japanese translation so that they are
// Japanese like the rest of the interface, whatever the system's locale.
TEST(QtDialogsTest, QtsOwnTextsAreJapanese) {
  QWidget owner;
  TQtUserDialogs dialogs(&owner);
  struct Case {
    const char* name;
    std::function<void()> open;
    std::initializer_list<QDialogButtonBox::StandardButton> buttons;
    QStringList texts;
  };
  const Case cases[] = {
      {"overwrite question",
       [&] {
         dialogs.AskYesNo(QStringLiteral("上書きしてもよろしいですか？"), QStringLiteral("確認"));
       },
       {QDialogButtonBox::Yes, QDialogButtonBox::No},
       {QStringLiteral("はい"), QStringLiteral("いいえ")}},
      {"error box",
       [&] {
         dialogs.ShowError(QStringLiteral("x"), QStringLiteral("Kavun"), kavun::ErrorKind::Other);
       },
       {QDialogButtonBox::Ok},
       {QStringLiteral("OK")}},
      {"open dialog",
       [&] { dialogs.GetOpenFileName(); },
       {QDialogButtonBox::Open, QDialogButtonBox::Cancel},
       {QStringLiteral("開く"), QStringLiteral("キャンセル")}},
      {"save dialog",
       [&] {
         int index = 0;
         dialogs.GetSaveFileName(&index);
       },
       {QDialogButtonBox::Save, QDialogButtonBox::Cancel},
       {QStringLiteral("保存"), QStringLiteral("キャンセル")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QStringList seen;
    QTimer::singleShot(0, [&] {
      QWidget* dialog = QApplication::activeModalWidget();
      ASSERT_NE(dialog, nullptr);
      seen = ButtonTexts(dialog, c.buttons);
      qobject_cast<QDialog*>(dialog)->reject();
    });
    c.open();
    EXPECT_EQ(seen, c.texts);
  }

  QLineEdit edit;
  edit.setText(QStringLiteral("abc"));
  std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
  QStringList items;
  for (QAction* a : menu->actions()) {
    if (!a->isSeparator()) items << Shown(a->text());
  }
  EXPECT_EQ(items, (QStringList{QStringLiteral("元に戻す"), QStringLiteral("やり直す"),
                                QStringLiteral("切り取り"), QStringLiteral("コピー"),
                                QStringLiteral("貼り付け"), QStringLiteral("削除"),
                                QStringLiteral("すべてを選択")}))
      << items.join(u'|').toStdString();
}

// The name the save dialog starts with: the picture's, with the extension of the chosen filter.
TEST(QtSaveDialogTest, TheStartNameTakesTheFilterExtension) {
  struct Case {
    const char* picture;
    const char* filter;
    const char* start;
  };
  for (const Case& c : {Case{"/p/q/photo.jpg", "PNG(*.png) (*.png)", "/p/q/photo.png"},
                        Case{"/p/q/photo", "JPEG(*.jpg) (*.jpg)", "/p/q/photo.jpg"},
                        Case{"/p.d/photo", "Bitmap(*.bmp)", "/p.d/photo.bmp"},
                        Case{"/p/a.b.png", "JPEG(*.jpg)", "/p/a.b.jpg"}}) {
    EXPECT_EQ(SaveNameFor(QString::fromUtf8(c.picture), QString::fromUtf8(c.filter)),
              QString::fromUtf8(c.start));
  }
}

TEST(QtSaveDialogTest, StartsInThePicturesFolderAndFollowsTheFilter) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString picture = dir.filePath(QStringLiteral("夏.jpg"));
  QWidget owner;
  TQtUserDialogs dialogs(&owner);
  QString folder;
  QStringList names;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    folder = dialog->directory().absolutePath();
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    names << name->text();
    const QStringList filters = dialog->nameFilters();
    dialog->selectNameFilter(filters.value(1));
    names << name->text();
    dialog->reject();
  });
  int index = 0;
  EXPECT_FALSE(dialogs.GetSaveFileName(&index, picture));
  EXPECT_EQ(folder, QDir(dir.path()).absolutePath());
  EXPECT_EQ(names, (QStringList{QStringLiteral("夏.png"), QStringLiteral("夏.jpg")}));
}

}  // namespace
