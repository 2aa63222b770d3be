#pragma once

#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "app/main_form.h"
#include "app/user_dialogs.h"
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

// Whether two 24-bit bitmaps hold the same pixels.
bool SamePixels(const kavun::Bitmap& a, const kavun::Bitmap& b);
