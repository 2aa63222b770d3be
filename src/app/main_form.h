#pragma once

#include <QList>
#include <QMainWindow>
#include <QString>
#include <QUrl>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "app/global_value.h"
#include "app/user_dialogs.h"
#include "applogic/number_field.h"
#include "applogic/selection_model.h"
#include "applogic/settings.h"
#include "applogic/undo_stack.h"

class QAction;
class QActionGroup;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QMenu;
class QPainter;
class QPushButton;
class QRadioButton;
class QRect;
class QScrollArea;
class QWheelEvent;
class QStackedWidget;
class QToolButton;
class TImageView;
class TInvertingShape;
class TAboutForm;
namespace kavun {
struct TransformRequest;
}

struct TMainFormOptions {
  // Questions, notices, the error box and the file dialogs; null: Qt's message boxes and
  // dialogs owned by the window.
  IUserDialogs* Dialogs = nullptr;
  // The settings file; empty: beside the executable, or in the user's configuration folder
  // when the executable's folder cannot be written.
  QString SettingsPath;
  // Runs on the decoding thread after every row of a picture being opened (tests slow the
  // decoder down with it); empty: nothing.
  std::function<void()> DecodeRowHook;
};

// The main window: file commands, zoomable image view, selection rectangle, processing panel.
class TMainForm : public QMainWindow {
  Q_OBJECT

 public:
  explicit TMainForm(TMainFormOptions options = {}, QWidget* parent = nullptr);
  ~TMainForm() override;

  TGlobalValue& Global() { return *GlobalValue; }
  kavun::TSelectionModel& Selection() { return selection_; }
  IUserDialogs& Dialogs() { return *dialogs_; }

  // The About box shown by "About"; the window is disabled while it is visible and enabled
  // again when it closes.
  void SetAboutForm(TAboutForm* about);
  // Writes the settings as the window's end does, for a session that ends before it is destroyed.
  void SaveSettingsNow() { SaveSettings(); }

  // The caption for a document opened from `path` ("Kavun" without one).
  static QString CaptionFor(const QString& path);

  // Reads the file as the new document; a file that cannot be read changes nothing.
  void LoadPicture(const QString& path);
  // Writes the working bitmap to `path` in the format that `extension` names.
  void SavePicture(const QString& path, const QString& extension);

  // Runs a command; an error it raises ends it and shows the application's error box.
  void RunCommand(const std::function<void()>& command);
  // The error box with the error worded in Japanese.
  void ShowErrorBox(const kavun::Error& error);

  // Opens the first local file of a drop.
  void WMDropFiles(const QList<QUrl>& urls);

  // Remembers the image rectangle of an Execute for 前回の範囲を選択.
  void SetLastSelection(const kavun::TRect& rect);
  const std::optional<kavun::TRect>& LastSelection() const { return lastSelection_; }

  void ShowSelection();
  void HideSelection();
  // Selects exactly the image pixels of `rect` and shows it.
  void SelectImageRect(const kavun::TRect& rect);
  // Mirrors the selection model onto ImgSelShape, the handles and ExecuteButton.
  void MirrorSelection();
  // For the commands that select without the mouse: scrolls the view as little as needed to
  // show the shown selection and writes its position and size into the first status panel, in
  // the format of a rubber band's read-out.
  void RevealSelection();

  // The image rectangle of the selection that the mosaic's whole blocks of the panel's block
  // size leave untouched, as the text of the first status panel ("" when none stays clear).
  QString MosaicClearText() const;

  // Undo and redo of Execute: the steps kept now.
  const kavun::TUndoStack& UndoStack() const { return undo_; }

 public slots:
  void MainMenu_F_OpenClick();
  void MainMenu_F_CloseClick();
  void MainMenu_F_ReOpenClick();
  void MainMenu_F_SaveClick();
  void MainMenu_F_SaveAsClick();
  void MainMenu_F_ExitClick();
  void MainMenu_PR_100Click();
  void TB_RatioPlusClick();
  void TB_RatioMinusClick();
  void MainMenu_S_NoTrackClick();
  void MainMenu_S_TrackClick();
  void MainMenu_S_SavChkDlgClick();
  void MainMenu_H_RMClick();
  void MainMenu_H_AboutClick();
  void TB_SelMaxClick();
  void TB_SelNumClick();
  void TB_SelLastClick();
  void TB_SelDetectClick();
  void RadioButton_ProcSelRMClick();
  void ExecuteButtonClick();
  void ChkBijButtonClick();
  void MainMenu_E_UndoClick();
  void MainMenu_E_RedoClick();
  void StepUndo(bool redo);  // one step back or forward, told in the status bar

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  // While the About box disables the window, closing it does nothing.
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  // --- The window (main_form.cpp): builds the frame and calls each concern's part.
  void BuildMenus();
  void BuildToolBar();
  void BuildStatusBar();
  // The commands that need a document: each concern enables its own.
  void SetDocumentCommandsEnabled(bool enabled);

  // --- File commands (main_form_file.cpp).
  void BuildFileMenu();
  void BuildFileTools();
  void SetFileCommandsEnabled(bool enabled);
  // Decodes `path` on a thread of its own while the window goes on painting, with progress in
  // the status bar; Esc stops it. Nothing when stopped (or the program is ending); throws Error
  // when the file cannot be read.
  std::optional<kavun::Bitmap> DecodeBesideEventLoop(const QString& path,
                                                     kavun::DroppedOnLoad* dropped);
  // Says in the status bar what the file just opened held that the picture does not keep.
  void TellFileLosses();

  // --- Image view and zoom (main_form_view.cpp).
  void BuildViewMenu();
  void BuildViewTools();
  void BuildView();
  void SetZoomEnabled(bool enabled);
  void MainPBoxPaint(QPainter& painter, const QRect& exposed);
  void WMRatioChanged(int32_t n, int32_t p);
  void SetViewSize(int width, int height);
  void SetScrollTracking(bool on);
  // The stored window size is the outer size, frame and caption included; the frame is known
  // only once the window manager has framed the window (none: the outer size is the inner one).
  void ApplyOuterSize();
  // Ctrl+wheel: one ratio step in the wheel's direction, through SetRatio; the image pixel
  // under `at` (viewport coordinates) is brought back under it after the jump to the top-left.
  void ZoomAtPointer(int32_t step, const QPoint& at);
  // The middle button, or the left one while Space is held, drags the view; true when the
  // event was part of such a drag.
  bool PanEvent(QObject* watched, QEvent* event);
  // Scrolls as little as needed to show `viewRect` (view coordinates), or its start when it
  // does not fit and no part of it is shown.
  void ScrollIntoView(const QRect& viewRect);
  // Hatches the strips of the selection that no whole mosaic block covers, while the mosaic
  // page is shown.
  void PaintMosaicClearStrips(QPainter& painter);
  void ShowPanCursor();
  void ShowFocusFrame(bool focused);
  bool ViewEventFilter(QObject* watched, QEvent* event);

  // --- Selection rectangle (main_form_selection.cpp).
  void BuildSelectionTools();
  void BuildSelectionShapes();
  void SetSelectAllEnabled(bool enabled);
  // 前回の範囲を選択 is enabled while a document is open and the stored rectangle fits it.
  void UpdateSelectLastEnabled();
  // The arrow keys on the focused view: move the selection by one image pixel, with Shift
  // its right or bottom edge; true when the key was used.
  bool ImgBaseScrollBoxKeyPress(QKeyEvent* key);
  void MainPBoxMouseDown(Qt::MouseButton button, int x, int y);
  void MainPBoxMouseMove(int x, int y);
  void MainPBoxMouseUp(Qt::MouseButton button, int x, int y);
  void ImgSelShapeMouseDown(Qt::MouseButton button, int x, int y);
  void ImgSelShapeMouseMove(int x, int y);
  void ImgSelShapeMouseUp(Qt::MouseButton button, int x, int y);
  void CornerShape1MouseDown(QObject* sender, Qt::MouseButton button, int x, int y);
  void CornerShape1MouseMove(QObject* sender, int x, int y);
  void CornerShape1MouseUp(QObject* sender, Qt::MouseButton button, int x, int y);

  // --- Processing panel (main_form_panel.cpp).
  void BuildToolPanel();
  // The number fields' handlers (the event filter calls them); a key handler returns true when
  // it discards the key press.
  bool Edit_ProcRevMosBlockWKeyPress(QLineEdit* sender, QKeyEvent* key);
  bool Edit_ProcRevMosKey1KeyPress(QLineEdit* sender, QKeyEvent* key);
  void Edit_ProcRevMosBlockWExit(QLineEdit* sender);
  void Edit_ProcRevMosKey1Exit(QLineEdit* sender);
  void Edit_ProcBitShiftLenExit(QLineEdit* sender);
  bool FilterNumberKey(QLineEdit* edit, QKeyEvent* event, int limit);
  void RangeCheck(QLineEdit* edit);
  int32_t FieldValue(QLineEdit* edit) const;
  // The numeric field of a parameter, the parameter of a field (none for another object), the
  // most characters a field takes, and the button of an XOR mode.
  QLineEdit* NumberEdit(kavun::TNumberField field) const;
  std::optional<kavun::TNumberField> FieldOf(const QObject* edit) const;
  int KeyLimit(const QLineEdit* edit) const;
  QRadioButton*& XorButton(kavun::XorKeyMode mode);

  // --- Undo and redo of Execute (main_form_undo.cpp).
  void BuildEditMenu();
  // Keeps what an Execute of `request` on `rect` is about to change; ExecuteDone keeps it as a
  // step once the transform succeeded.
  void PrepareUndo(const kavun::TRect& rect, const kavun::TransformRequest& request);
  void ExecuteDone();
  // Forgets every step: the document was opened, read again or closed.
  void ForgetUndo();
  void UpdateUndoActions();

  // --- Settings, start-up, drops and help (main_form_settings.cpp).
  void BuildSettingsMenu();
  void BuildHelpMenu();
  void FormCreate();
  void FormDestroy();
  void LoadSettings();
  void SaveSettings();
  kavun::TSettingsLocation SettingsLocation() const;

  std::unique_ptr<IUserDialogs> ownDialogs_;
  IUserDialogs* dialogs_ = nullptr;
  QString settingsPath_;
  std::unique_ptr<TGlobalValue> GlobalValue;
  kavun::TSelectionModel selection_;
  TAboutForm* aboutForm_ = nullptr;
  // The image rectangle of the last Execute, kept in the settings file.
  std::optional<kavun::TRect> lastSelection_;
  bool documentOpen_ = false;
  kavun::TUndoStack undo_;
  // Dragging the view: whether Space is held on it, and where the drag started.
  bool spaceHeld_ = false;
  bool panning_ = false;
  QPoint panStart_;
  QPoint panScrollStart_;
  int wheelRemainder_ = 0;  // wheel angle not yet turned into a ratio step
  int designedFrameStyle_ = 0;
  int designedLineWidth_ = 0;
  QSize outerSize_;                      // the window size read from the settings, frame included
  bool outerSizeApplied_ = false;        // true once it was applied with a known frame
  std::function<void()> decodeRowHook_;  // TMainFormOptions::DecodeRowHook
  bool lossesTold_ = false;              // the status bar tells what the open file lost

 public:
  // Controls, named as designed (objectName is the same).
  QMenu* MainMenu_F = nullptr;
  QAction* MainMenu_F_Open = nullptr;
  QAction* MainMenu_F_Close = nullptr;
  QAction* MainMenu_F_ReOpen = nullptr;
  QAction* MainMenu_F_Save = nullptr;
  QAction* MainMenu_F_SaveAs = nullptr;
  QAction* MainMenu_F_Exit = nullptr;
  QMenu* MainMenu_PR = nullptr;
  QActionGroup* ratioGroup_ = nullptr;
  std::array<QAction*, kMaxRatio - kMinRatio + 1> MainMenu_PR_Items{};
  QMenu* MainMenu_S = nullptr;
  QActionGroup* trackGroup_ = nullptr;
  QAction* MainMenu_S_NoTrack = nullptr;
  QAction* MainMenu_S_Track = nullptr;
  QAction* MainMenu_S_SavChkDlg = nullptr;
  QAction* MainMenu_S_JpgSavChkDlg = nullptr;
  QMenu* MainMenu_H = nullptr;
  QAction* MainMenu_H_RM = nullptr;
  QAction* MainMenu_H_About = nullptr;
  // "編集", after the designed menus: undo and redo of Execute.
  QMenu* MainMenu_E = nullptr;
  QAction* MainMenu_E_Undo = nullptr;
  QAction* MainMenu_E_Redo = nullptr;

  QWidget* ToolButtonPanel = nullptr;
  QToolButton* TB_LoadNew = nullptr;
  QToolButton* TB_Close = nullptr;
  QToolButton* TB_Load = nullptr;
  QToolButton* TB_Save = nullptr;
  QToolButton* TB_SaveNew = nullptr;
  QToolButton* TB_RatioPlus = nullptr;
  QToolButton* TB_RatioMinus = nullptr;
  QToolButton* TB_SelMax = nullptr;
  QToolButton* TB_SelNum = nullptr;
  QToolButton* TB_SelLast = nullptr;
  QToolButton* TB_SelDetect = nullptr;

  QWidget* ToolPanel = nullptr;
  QWidget* ProcSelPanel = nullptr;
  QRadioButton* RadioButton_ProcSelRM = nullptr;
  QRadioButton* RadioButton_ProcSelBS = nullptr;
  QRadioButton* RadioButton_ProcSelXOR = nullptr;
  QPushButton* ExecuteButton = nullptr;
  QStackedWidget* ProcValPageControl = nullptr;
  QWidget* TabSheet1 = nullptr;
  QWidget* TabSheet2 = nullptr;
  QWidget* TabSheet3 = nullptr;
  QLineEdit* Edit_ProcRevMosBlockW = nullptr;
  QLineEdit* Edit_ProcRevMosBlockH = nullptr;
  QLineEdit* Edit_ProcRevMosKey1 = nullptr;
  QLineEdit* Edit_ProcRevMosKey2 = nullptr;
  QPushButton* ChkBijButton = nullptr;
  QRadioButton* RadioButton_ProcRevMosEncode = nullptr;
  QRadioButton* RadioButton_ProcRevMosDecode = nullptr;
  QLineEdit* Edit_ProcBitShiftLen = nullptr;
  QRadioButton* RadioButton_ProcBitShiftR = nullptr;
  QRadioButton* RadioButton_ProcBitShiftL = nullptr;
  QRadioButton* RadioButton_ProcXorFuncMT = nullptr;
  QRadioButton* RadioButton_ProcXorFuncMD5OFB = nullptr;
  QRadioButton* RadioButton_ProcXorFuncMD5 = nullptr;
  QLineEdit* Edit_ProcXorKey = nullptr;

  QStatusBar* MainStatusBar = nullptr;
  // Panel 0: the rubber band's read-out; panel 1 (the last, stretching): the time of Execute.
  std::array<QLabel*, 2> StatusPanels{};

  QScrollArea* ImgBaseScrollBox = nullptr;
  QWidget* ScrolledArea = nullptr;
  TImageView* MainPBox = nullptr;
  TInvertingShape* ImgSelShape = nullptr;
  std::array<TInvertingShape*, 4> CornerShapes{};
};
