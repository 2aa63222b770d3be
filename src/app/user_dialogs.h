#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <string>

#include "engine/error.h"
#include "engine/rect.h"

class QWidget;

// Questions, notices, the error box and the two picture dialogs of the main window. The window
// talks to them only through this interface so that tests can answer them.
class IUserDialogs {
 public:
  virtual ~IUserDialogs() = default;

  // Yes/No question without icon; true means Yes.
  virtual bool AskYesNo(const QString& text, const QString& caption) = 0;
  // Notice with an OK button and no icon.
  virtual void ShowNotice(const QString& text, const QString& caption) = 0;
  // Error box: error icon and an OK button. `kind` says what went wrong, for those who tell
  // errors apart without reading their wording.
  virtual void ShowError(const QString& text, const QString& caption, kavun::ErrorKind kind) = 0;
  // The open-picture dialog; nothing when cancelled.
  virtual std::optional<QString> GetOpenFileName() = 0;
  // The save-picture dialog; on success *filterIndex is the 1-based index of the filter left
  // selected. It starts in the folder of `picturePath` (the open picture) with its name, the
  // extension that of the filter selected; without one, with the name chosen last.
  virtual std::optional<QString> GetSaveFileName(int* filterIndex,
                                                 const QString& picturePath = QString()) = 0;
  // The dialog of 選択範囲を数値で指定, filled with `initial` (image pixels) and showing the
  // picture's size; the rectangle the fields describe after OK, nothing when cancelled.
  virtual std::optional<kavun::TRect> AskSelectionRect(const kavun::TRect& initial,
                                                       int32_t pictureWidth = 0,
                                                       int32_t pictureHeight = 0) = 0;
};

// The filters of the two picture dialogs in the system's own form: text|patterns|text|patterns,
// one filter per format of the table (imagefile/formats.h), in its order; the open dialog's
// first filter takes every format, and the save dialog offers each format's first extension
// (its filter index, 1-based, is the format's place in the table).
std::string OpenPictureFilter();
std::string SavePictureFilter();
inline const std::string kOpenPictureFilter = OpenPictureFilter();
inline const std::string kSavePictureFilter = SavePictureFilter();

// The name a save dialog starts with for the picture at `picturePath`: its folder and name, the
// extension replaced by the first pattern's of `filter` ("PNG (*.png)" gives ".png").
QString SaveNameFor(const QString& picturePath, const QString& filter);

// Turns "text|p1;p2|text|p" into QFileDialog name filters: the text as worded followed by the
// patterns in parentheses, which the dialog hides from view (HideNameFilterDetails).
QStringList ToQtNameFilters(const QString& filter);
// The index in `filters` (ToQtNameFilters) of the filter a file dialog reports as selected,
// whether it reports it whole or as shown with its patterns hidden; -1 when none matches.
qsizetype NameFilterIndex(const QStringList& filters, const QString& selected);

// Message boxes and non-native file dialogs owned by `owner`. Each dialog keeps its last file
// name and filter between uses.
class TQtUserDialogs : public IUserDialogs {
 public:
  explicit TQtUserDialogs(QWidget* owner) : owner_(owner) {}

  bool AskYesNo(const QString& text, const QString& caption) override;
  void ShowNotice(const QString& text, const QString& caption) override;
  void ShowError(const QString& text, const QString& caption, kavun::ErrorKind kind) override;
  std::optional<QString> GetOpenFileName() override;
  std::optional<QString> GetSaveFileName(int* filterIndex,
                                         const QString& picturePath = QString()) override;
  std::optional<kavun::TRect> AskSelectionRect(const kavun::TRect& initial,
                                               int32_t pictureWidth = 0,
                                               int32_t pictureHeight = 0) override;

 private:
  QWidget* owner_;
  QString lastOpenName_;
  QString lastOpenFilter_;
  QString lastSaveName_;
  QString lastSaveFilter_;
};
