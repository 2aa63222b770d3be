#pragma once

#include <QAction>
#include <QApplication>
#include <QByteArray>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScrollArea>
#include <QScrollBar>
#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "app/image_view.h"
#include "app/main_form.h"
#include "app/selection_widgets.h"
#include "app/user_dialogs.h"
#include "applogic/selection_model.h"
#include "common/same_pixels.h"
#include "engine/beep.h"
#include "engine/bitmap.h"
#include "engine/error.h"

// Answers the window's questions and dialogs from queues and records what was asked.
class TFakeDialogs : public IUserDialogs {
 public:
  struct TMessage {
    QString text;
    QString caption;
    kavun::ErrorKind kind = kavun::ErrorKind::Other;  // error boxes only
  };

  bool AskYesNo(const QString& text, const QString& caption) override {
    questions.push_back({text, caption});
    if (onQuestion) onQuestion();
    if (answers.empty()) {
      ADD_FAILURE() << "unexpected question: " << text.toStdString();
      return false;
    }
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void ShowNotice(const QString& text, const QString& caption) override {
    notices.push_back({text, caption});
  }
  void ShowError(const QString& text, const QString& caption, kavun::ErrorKind kind) override {
    errors.push_back({text, caption, kind});
  }
  std::optional<QString> GetOpenFileName() override { return openName; }
  std::optional<QString> GetSaveFileName(int* filterIndex, const QString& picturePath) override {
    saveStartedAt.push_back(picturePath);
    if (saveName) *filterIndex = saveFilterIndex;
    return saveName;
  }
  std::optional<kavun::TRect> AskSelectionRect(const kavun::TRect& initial, int32_t pictureWidth,
                                               int32_t pictureHeight) override {
    selectionAsked.push_back(initial);
    selectionPictureSize = {pictureWidth, pictureHeight};
    return selectionAnswer;
  }

  std::deque<bool> answers;
  std::function<void()> onQuestion;  // called as each question is asked
  std::vector<TMessage> questions;
  std::vector<TMessage> notices;
  std::vector<TMessage> errors;
  std::optional<QString> openName;
  std::optional<QString> saveName;
  int saveFilterIndex = 1;
  std::vector<QString> saveStartedAt;        // the picture each save dialog started from
  std::vector<kavun::TRect> selectionAsked;  // what 選択範囲を数値で指定 was filled with
  std::optional<kavun::TRect> selectionAnswer;       // its answer; nothing: cancelled
  std::pair<int32_t, int32_t> selectionPictureSize;  // the picture size it showed
};

// A 24-bit picture whose every pixel differs from its neighbours.
kavun::Bitmap MakePatternBitmap(int width, int height);

// A main window with fake dialogs and its settings file in a temporary folder.
class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes a pattern picture into the temporary folder and returns its path.
  QString WritePicture(const QString& name, int width = 40, int height = 30);
  QString TempPath(const QString& name) const { return dir_.filePath(name); }
  // Recreates the window (its settings file is kept), with `settingsText` written first when
  // given.
  void RecreateForm(const std::optional<QByteArray>& settingsText = std::nullopt);

  QTemporaryDir dir_;
  TFakeDialogs dialogs_;
  std::unique_ptr<TMainForm> form_;
};

using kavun::test::SamePixels;

// The whole content of a file; empty when it cannot be read.
inline QByteArray ReadAll(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

// The control of `root` named `name`; a test failure when there is none.
template <typename T>
T* Find(QObject* root, const char* name) {
  T* found = root->findChild<T*>(QLatin1String(name));
  EXPECT_NE(found, nullptr) << name;
  return found;
}

inline bool ActionEnabled(TMainForm* form, const char* name) {
  if (QString::fromLatin1(name) == QLatin1String("MainMenu_PR")) {
    return form->MainMenu_PR->menuAction()->isEnabled();
  }
  return Find<QAction>(form, name)->isEnabled();
}

inline bool ButtonEnabled(TMainForm* form, const char* name) {
  return Find<QToolButton>(form, name)->isEnabled();
}

// Records the ratio notifications the window receives.
class TRatioSpy : public QObject {
 public:
  explicit TRatioSpy(QObject* target) : target_(target) { target->installEventFilter(this); }
  ~TRatioSpy() override { target_->removeEventFilter(this); }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == TRatioChangedEvent::kType) {
      const auto* e = static_cast<TRatioChangedEvent*>(event);
      seen.emplace_back(e->WParam, e->LParam);
    }
    return false;
  }
  std::vector<std::pair<int, int>> seen;

 private:
  QObject* target_;
};

// A shown and active window, whose beeps are counted, driven by mouse and key events.
class SelectionPanelTest : public MainFormTest {
 protected:
  void SetUp() override {
    MainFormTest::SetUp();
    previousBeep_ = kavun::SetBeepHandler([this] { ++beeps_; });
    form_->show();
    QApplication::setActiveWindow(form_.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  }
  void TearDown() override {
    kavun::SetBeepHandler(previousBeep_);
    MainFormTest::TearDown();
  }

  // Opens a pattern picture and zooms it.
  void Open(int width, int height, int ratio) {
    path_ = WritePicture(QStringLiteral("sel.png"), width, height);
    form_->LoadPicture(path_);
    form_->Global().SetRatio(ratio);
    QApplication::processEvents();
  }

  // Mouse events through the window, so that Qt routes them to the widget under the pointer and
  // keeps the pressing widget as the receiver of moves and the release.
  QPoint InWindow(QWidget* w, QPoint p) const { return w->mapTo(form_.get(), p); }
  void Press(QPoint viewPoint, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mousePress(form_->windowHandle(), button, {}, InWindow(form_->MainPBox, viewPoint));
  }
  void MoveTo(QPoint viewPoint) {
    QTest::mouseMove(form_->windowHandle(), InWindow(form_->MainPBox, viewPoint));
  }
  void Release(QPoint viewPoint, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mouseRelease(form_->windowHandle(), button, {}, InWindow(form_->MainPBox, viewPoint));
  }
  void Drag(QPoint from, QPoint to) {
    Press(from);
    MoveTo((from + to) / 2);
    MoveTo(to);
    Release(to);
  }

  QRect ShapeGeometry() const { return form_->ImgSelShape->geometry(); }
  kavun::TRect ImageRect() { return form_->Selection().SelectionImageRect(); }
  QString Status(int panel) const {
    return form_->StatusPanels[static_cast<std::size_t>(panel)]->text();
  }

  void Type(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    QTest::keyClicks(edit, text);
  }
  // Leaves the field by moving the focus elsewhere.
  void Leave(QLineEdit* edit) {
    edit->setFocus();
    QApplication::processEvents();
    form_->Edit_ProcXorKey->setFocus();
    QApplication::processEvents();
  }

  QString path_;
  int beeps_ = 0;
  kavun::BeepHandler previousBeep_;
};

// A shown and active window, with the view's scroll bars and read-outs at hand.
class ViewNavigationTest : public MainFormTest {
 protected:
  void SetUp() override {
    MainFormTest::SetUp();
    form_->show();
    QApplication::setActiveWindow(form_.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  }

  void Open(int width, int height, int ratio) {
    form_->LoadPicture(WritePicture(QStringLiteral("nav.png"), width, height));
    form_->Global().SetRatio(ratio);
    QApplication::processEvents();
  }

  QScrollBar* HBar() const { return form_->ImgBaseScrollBox->horizontalScrollBar(); }
  QScrollBar* VBar() const { return form_->ImgBaseScrollBox->verticalScrollBar(); }
  // The part of the view (view coordinates) that the viewport shows.
  QRect Shown() const {
    return QRect(QPoint(HBar()->value(), VBar()->value()),
                 form_->ImgBaseScrollBox->viewport()->size());
  }
  QRect SelectionInView() const { return form_->ImgSelShape->geometry(); }
  QString Status(int panel) const {
    return form_->StatusPanels[static_cast<std::size_t>(panel)]->text();
  }
  static QString ReadOut(const kavun::TRect& r) {
    return QString::fromStdString(
        kavun::FormatSelectionStatus(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top));
  }
  // A view point in the window's coordinates, for events the window routes itself.
  QPoint InWindow(QPoint viewPoint) const { return form_->MainPBox->mapTo(form_.get(), viewPoint); }
};
