#include "app/main_form.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QStatusBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <limits>
#include <new>

#include "app/about_form.h"
#include "app/error_box.h"
#include "app/glyphs.h"
#include "app/image_view.h"
#include "app/selection_widgets.h"
#include "engine/beep.h"
#include "engine/bitshift.h"
#include "engine/error.h"
#include "engine/mosaic.h"
#include "engine/mosaic_order.h"
#include "engine/password.h"
#include "engine/xor.h"
#include "imagefile/imagefile.h"

namespace {

const QString kProgramName = QStringLiteral("Kavun");
const QString kConfirmCaption = QStringLiteral("確認");
const QString kJpegQuestion = QStringLiteral(
    "JPG保存してもよろしいですか？\r\nマスキングされている場合、復元できない場合があります");
const QString kOverwriteQuestion = QStringLiteral("上書きしてもよろしいですか？");

std::filesystem::path ToPath(const QString& path) {
  return std::filesystem::path(QFile::encodeName(path).toStdString());
}

QString LowerExtension(const QString& path) {
  return QString::fromStdString(kavun::FileExtension(QFile::encodeName(path).toStdString()))
      .toLower();
}

bool IsJpegExtension(const QString& extension) {
  const QString lower = extension.toLower();
  return lower == QLatin1String(".jpg") || lower == QLatin1String(".jpeg");
}

// `name` with the extension of its file-name part replaced by `extension` (appended when the
// file-name part has no ".").
QString ReplaceExtension(const QString& name, const QString& extension) {
  const qsizetype slash = name.lastIndexOf(u'/');
  const qsizetype dot = name.lastIndexOf(u'.');
  if (dot > slash) return name.left(dot) + extension;
  return name + extension;
}

kavun::TMouseButton ToModelButton(Qt::MouseButton button) {
  switch (button) {
    case Qt::LeftButton:
      return kavun::TMouseButton::Left;
    case Qt::RightButton:
      return kavun::TMouseButton::Right;
    default:
      return kavun::TMouseButton::Middle;
  }
}

// Disables a window for the life of the guard; enabled again however the scope is left.
class TDisabledWhile {
 public:
  explicit TDisabledWhile(QWidget* widget) : widget_(widget) { widget_->setEnabled(false); }
  ~TDisabledWhile() { widget_->setEnabled(true); }
  TDisabledWhile(const TDisabledWhile&) = delete;
  TDisabledWhile& operator=(const TDisabledWhile&) = delete;

 private:
  QWidget* widget_;
};

QLabel* AddLabel(QWidget* parent, const QString& text, int x, int y, int w = 96, int h = 16) {
  auto* label = new QLabel(text, parent);
  label->setGeometry(x, y, w, h);
  return label;
}

QLineEdit* AddEdit(QWidget* parent, const char* name, const QString& text, int x, int y, int w) {
  auto* edit = new QLineEdit(text, parent);
  edit->setObjectName(QLatin1String(name));
  edit->setGeometry(x, y, w, 20);
  // A file dropped on a field opens the picture like anywhere else on the window instead of
  // typing its path into the field.
  edit->setAcceptDrops(false);
  return edit;
}

QRadioButton* AddRadio(QWidget* parent, const char* name, const QString& text, int x, int y,
                       bool checked) {
  auto* radio = new QRadioButton(text, parent);
  radio->setObjectName(QLatin1String(name));
  radio->setChecked(checked);
  // As wide as its caption: a radio button reacts to clicks on its indicator and caption only.
  radio->adjustSize();
  radio->move(x, y);
  return radio;
}

QLabel* AddEndMark(QWidget* parent, int y) {
  QLabel* label = AddLabel(parent, QStringLiteral("-設定ここまで-"), 4, y);
  QFont small = label->font();
  small.setPixelSize(10);
  label->setFont(small);
  return label;
}

QFont DesignedFont() {
  QFont font;
  font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
                    QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Noto Sans JP"),
                    QStringLiteral("IPAPGothic"), QStringLiteral("VL PGothic"),
                    QStringLiteral("TakaoPGothic")});
  font.setPixelSize(12);
  return font;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction and destruction

TMainForm::TMainForm(TMainFormOptions options, QWidget* parent)
    : QMainWindow(parent), settingsPath_(options.SettingsPath) {
  if (options.Dialogs != nullptr) {
    dialogs_ = options.Dialogs;
  } else {
    ownDialogs_ = std::make_unique<TQtUserDialogs>(this);
    dialogs_ = ownDialogs_.get();
  }
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(kProgramName);
  setFont(DesignedFont());
  resize(594, 477);

  BuildMenus();
  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  BuildToolBar();
  column->addWidget(ToolButtonPanel);
  auto* row = new QHBoxLayout;
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  BuildToolPanel();
  row->addWidget(ToolPanel);
  BuildView();
  row->addWidget(ImgBaseScrollBox, 1);
  column->addLayout(row, 1);
  setCentralWidget(central);
  for (QWidget* w : {static_cast<QWidget*>(ToolButtonPanel), ToolPanel,
                     static_cast<QWidget*>(ImgBaseScrollBox)}) {
    w->setParent(central);
  }
  BuildStatusBar();

  // The designed state: only Open and Exit of the document commands are enabled.
  SetDocumentCommandsEnabled(false);
  TB_RatioPlus->setEnabled(false);
  TB_RatioMinus->setEnabled(false);

  FormCreate();
}

TMainForm::~TMainForm() {
  FormDestroy();
}

void TMainForm::FormCreate() {
  // Qt paints widgets double-buffered already (step 1).
  GlobalValue = std::make_unique<TGlobalValue>(this);
  LoadSettings();
  SetViewSize(0, 0);
  selection_.SetView(0, 0, 1);
  HideSelection();
  ProcValPageControl->setCurrentIndex(0);
  setAcceptDrops(true);
}

void TMainForm::FormDestroy() {
  if (!GlobalValue) return;
  SaveSettings();
  GlobalValue.reset();
}

void TMainForm::SetAboutForm(TAboutForm* about) {
  aboutForm_ = about;
  if (about != nullptr) connect(about, &TAboutForm::closed, this, [this] { setEnabled(true); });
}

// ---------------------------------------------------------------------------------------------
// Building the controls

void TMainForm::BuildMenus() {
  const QFont font = DesignedFont();
  menuBar()->setFont(font);
  auto addAction = [this](QMenu* menu, const char* name, const QString& caption) {
    auto* action = new QAction(caption, this);
    action->setObjectName(QLatin1String(name));
    menu->addAction(action);
    return action;
  };

  MainMenu_F = menuBar()->addMenu(QStringLiteral("ファイル"));
  MainMenu_F->setObjectName(QStringLiteral("MainMenu_F"));
  MainMenu_F_Open = addAction(MainMenu_F, "MainMenu_F_Open", QStringLiteral("開く"));
  MainMenu_F_Close = addAction(MainMenu_F, "MainMenu_F_Close", QStringLiteral("閉じる"));
  MainMenu_F->addSeparator();
  MainMenu_F_ReOpen =
      addAction(MainMenu_F, "MainMenu_F_ReOpen", QStringLiteral("同じファイルを開きなおす"));
  MainMenu_F->addSeparator();
  MainMenu_F_Save = addAction(MainMenu_F, "MainMenu_F_Save", QStringLiteral("上書き保存"));
  MainMenu_F_SaveAs =
      addAction(MainMenu_F, "MainMenu_F_SaveAs", QStringLiteral("名前を付けて保存"));
  MainMenu_F->addSeparator();
  MainMenu_F_Exit = addAction(MainMenu_F, "MainMenu_F_Exit", QStringLiteral("終了"));
  connect(MainMenu_F_Open, &QAction::triggered, this, &TMainForm::MainMenu_F_OpenClick);
  connect(MainMenu_F_Close, &QAction::triggered, this, &TMainForm::MainMenu_F_CloseClick);
  connect(MainMenu_F_ReOpen, &QAction::triggered, this, &TMainForm::MainMenu_F_ReOpenClick);
  connect(MainMenu_F_Save, &QAction::triggered, this, &TMainForm::MainMenu_F_SaveClick);
  connect(MainMenu_F_SaveAs, &QAction::triggered, this, &TMainForm::MainMenu_F_SaveAsClick);
  connect(MainMenu_F_Exit, &QAction::triggered, this, &TMainForm::MainMenu_F_ExitClick);

  MainMenu_PR = menuBar()->addMenu(QStringLiteral("表示倍率"));
  MainMenu_PR->setObjectName(QStringLiteral("MainMenu_PR"));
  MainMenu_PR->menuAction()->setObjectName(QStringLiteral("MainMenu_PR"));
  ratioGroup_ = new QActionGroup(this);
  ratioGroup_->setExclusive(true);
  for (int i = 0; i < 10; ++i) {
    const int tag = i + 1;
    const QString caption = QString::number(tag * 100) + u'%';
    auto* action = new QAction(caption, this);
    action->setObjectName(QStringLiteral("MainMenu_PR_") + QString::number(tag * 100));
    action->setCheckable(true);
    action->setChecked(tag == 1);
    action->setData(tag);  // the item's Tag: its ratio
    ratioGroup_->addAction(action);
    MainMenu_PR->addAction(action);
    connect(action, &QAction::triggered, this, &TMainForm::MainMenu_PR_100Click);
    MainMenu_PR_Items[static_cast<std::size_t>(i)] = action;
  }

  MainMenu_S = menuBar()->addMenu(QStringLiteral("設定"));
  MainMenu_S->setObjectName(QStringLiteral("MainMenu_S"));
  trackGroup_ = new QActionGroup(this);
  trackGroup_->setExclusive(true);
  MainMenu_S_NoTrack = addAction(MainMenu_S, "MainMenu_S_NoTrack",
                                 QStringLiteral("スクロールバーを離したらスクロール"));
  MainMenu_S_Track = addAction(MainMenu_S, "MainMenu_S_Track",
                               QStringLiteral("スクロールバーを動かすと同時にスクロール"));
  for (QAction* a : {MainMenu_S_NoTrack, MainMenu_S_Track}) {
    a->setCheckable(true);
    trackGroup_->addAction(a);
  }
  MainMenu_S_NoTrack->setChecked(true);
  MainMenu_S->addSeparator();
  MainMenu_S_SavChkDlg = addAction(MainMenu_S, "MainMenu_S_SavChkDlg",
                                   QStringLiteral("上書き保存の時、確認ダイアログを出す"));
  MainMenu_S_JpgSavChkDlg = addAction(MainMenu_S, "MainMenu_S_JpgSavChkDlg",
                                      QStringLiteral("Jpegで保存する時、確認ダイアログを出す"));
  for (QAction* a : {MainMenu_S_SavChkDlg, MainMenu_S_JpgSavChkDlg}) {
    // The check mark is toggled by the item itself; MainMenu_S_SavChkDlgClick does the rest
    // (nothing).
    a->setCheckable(true);
    a->setChecked(false);
    connect(a, &QAction::triggered, this, &TMainForm::MainMenu_S_SavChkDlgClick);
  }
  connect(MainMenu_S_NoTrack, &QAction::triggered, this, &TMainForm::MainMenu_S_NoTrackClick);
  connect(MainMenu_S_Track, &QAction::triggered, this, &TMainForm::MainMenu_S_TrackClick);

  MainMenu_H = menuBar()->addMenu(QStringLiteral("ヘルプ"));
  MainMenu_H->setObjectName(QStringLiteral("MainMenu_H"));
  MainMenu_H_RM = addAction(MainMenu_H, "MainMenu_H_RM", QStringLiteral("Readme.txt"));
  MainMenu_H_About = addAction(MainMenu_H, "MainMenu_H_About", QStringLiteral("About"));
  connect(MainMenu_H_RM, &QAction::triggered, this, &TMainForm::MainMenu_H_RMClick);
  connect(MainMenu_H_About, &QAction::triggered, this, &TMainForm::MainMenu_H_AboutClick);

  for (QMenu* m : {MainMenu_F, MainMenu_PR, MainMenu_S, MainMenu_H}) m->setFont(font);
}

void TMainForm::BuildToolBar() {
  ToolButtonPanel = new QWidget(this);
  ToolButtonPanel->setObjectName(QStringLiteral("ToolButtonPanel"));
  ToolButtonPanel->setFixedHeight(25);
  auto addButton = [this](const char* name, const QString& hint, int x, TGlyph glyph) {
    auto* button = new QToolButton(ToolButtonPanel);
    button->setObjectName(QLatin1String(name));
    button->setAutoRaise(true);
    button->setToolTip(hint);
    button->setIcon(MakeGlyph(glyph));
    button->setIconSize(QSize(20, 20));
    button->setGeometry(x, 1, 23, 23);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
  };
  TB_LoadNew = addButton("TB_LoadNew", QStringLiteral("開く"), 0, TGlyph::Open);
  TB_Close = addButton("TB_Close", QStringLiteral("閉じる"), 24, TGlyph::Close);
  TB_Load = addButton("TB_Load", QStringLiteral("同じファイルを開きなおす"), 56, TGlyph::Reopen);
  TB_Save = addButton("TB_Save", QStringLiteral("上書き保存"), 88, TGlyph::Save);
  TB_SaveNew = addButton("TB_SaveNew", QStringLiteral("名前を付けて保存"), 112, TGlyph::SaveAs);
  TB_RatioPlus = addButton("TB_RatioPlus", QStringLiteral("拡大"), 160, TGlyph::ZoomIn);
  TB_RatioMinus = addButton("TB_RatioMinus", QStringLiteral("縮小"), 184, TGlyph::ZoomOut);
  TB_SelMax = addButton("TB_SelMax", QStringLiteral("全体を選択"), 232, TGlyph::SelectAll);
  connect(TB_LoadNew, &QToolButton::clicked, this, &TMainForm::MainMenu_F_OpenClick);
  connect(TB_Close, &QToolButton::clicked, this, &TMainForm::MainMenu_F_CloseClick);
  connect(TB_Load, &QToolButton::clicked, this, &TMainForm::MainMenu_F_ReOpenClick);
  connect(TB_Save, &QToolButton::clicked, this, &TMainForm::MainMenu_F_SaveClick);
  connect(TB_SaveNew, &QToolButton::clicked, this, &TMainForm::MainMenu_F_SaveAsClick);
  connect(TB_RatioPlus, &QToolButton::clicked, this, &TMainForm::TB_RatioPlusClick);
  connect(TB_RatioMinus, &QToolButton::clicked, this, &TMainForm::TB_RatioMinusClick);
  connect(TB_SelMax, &QToolButton::clicked, this, &TMainForm::TB_SelMaxClick);
}

void TMainForm::BuildToolPanel() {
  auto* panel = new QFrame(this);
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  ToolPanel = panel;
  ToolPanel->setObjectName(QStringLiteral("ToolPanel"));
  ToolPanel->setFixedWidth(105);
  auto* layout = new QVBoxLayout(ToolPanel);
  layout->setContentsMargins(1, 1, 1, 1);
  layout->setSpacing(0);

  ProcSelPanel = new QWidget(ToolPanel);
  ProcSelPanel->setObjectName(QStringLiteral("ProcSelPanel"));
  ProcSelPanel->setFixedHeight(111);
  RadioButton_ProcSelRM =
      AddRadio(ProcSelPanel, "RadioButton_ProcSelRM", QStringLiteral("可逆モザイク"), 6, 6, true);
  RadioButton_ProcSelBS =
      AddRadio(ProcSelPanel, "RadioButton_ProcSelBS", QStringLiteral("ビットシフト"), 6, 26, false);
  RadioButton_ProcSelXOR =
      AddRadio(ProcSelPanel, "RadioButton_ProcSelXOR", QStringLiteral("XOR"), 6, 46, false);
  for (QRadioButton* r : {RadioButton_ProcSelRM, RadioButton_ProcSelBS, RadioButton_ProcSelXOR}) {
    connect(r, &QRadioButton::clicked, this, &TMainForm::RadioButton_ProcSelRMClick);
  }
  ExecuteButton = new QPushButton(QStringLiteral("実行"), ProcSelPanel);
  ExecuteButton->setObjectName(QStringLiteral("ExecuteButton"));
  ExecuteButton->setGeometry(6, 72, 89, 32);
  connect(ExecuteButton, &QPushButton::clicked, this, &TMainForm::ExecuteButtonClick);
  layout->addWidget(ProcSelPanel);

  auto* line = new QFrame(ToolPanel);
  line->setFrameStyle(QFrame::HLine | QFrame::Sunken);
  layout->addWidget(line);

  ProcValPageControl = new QStackedWidget(ToolPanel);
  ProcValPageControl->setObjectName(QStringLiteral("ProcValPageControl"));
  layout->addWidget(ProcValPageControl, 1);

  // Page 0: reversible mosaic.
  TabSheet1 = new QWidget;
  TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
  AddLabel(TabSheet1, QStringLiteral("【ブロックサイズ】"), 0, 4, 103);
  Edit_ProcRevMosBlockW =
      AddEdit(TabSheet1, "Edit_ProcRevMosBlockW", QStringLiteral("16"), 6, 22, 30);
  AddLabel(TabSheet1, QStringLiteral("×"), 42, 24, 14);
  Edit_ProcRevMosBlockH =
      AddEdit(TabSheet1, "Edit_ProcRevMosBlockH", QStringLiteral("16"), 58, 22, 30);
  AddLabel(TabSheet1, QStringLiteral("2～50"), 30, 44, 60);
  AddLabel(TabSheet1, QStringLiteral("【線形変換係数】"), 0, 66, 103);
  Edit_ProcRevMosKey1 = AddEdit(TabSheet1, "Edit_ProcRevMosKey1", QStringLiteral("3"), 6, 84, 32);
  AddLabel(TabSheet1, QStringLiteral("x +"), 42, 86, 18);
  Edit_ProcRevMosKey2 = AddEdit(TabSheet1, "Edit_ProcRevMosKey2", QStringLiteral("7"), 62, 84, 32);
  AddLabel(TabSheet1, QStringLiteral("0～255"), 30, 106, 60);
  ChkBijButton = new QPushButton(QStringLiteral("可逆チェック"), TabSheet1);
  ChkBijButton->setObjectName(QStringLiteral("ChkBijButton"));
  ChkBijButton->setGeometry(6, 128, 89, 24);
  connect(ChkBijButton, &QPushButton::clicked, this, &TMainForm::ChkBijButtonClick);
  RadioButton_ProcRevMosEncode =
      AddRadio(TabSheet1, "RadioButton_ProcRevMosEncode", QStringLiteral("変換"), 6, 160, true);
  RadioButton_ProcRevMosDecode =
      AddRadio(TabSheet1, "RadioButton_ProcRevMosDecode", QStringLiteral("逆変換"), 6, 180, false);
  AddEndMark(TabSheet1, 206);
  ProcValPageControl->addWidget(TabSheet1);

  // Page 1: bit shift.
  TabSheet2 = new QWidget;
  TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
  AddLabel(TabSheet2, QStringLiteral("シフト幅"), 4, 6, 50);
  Edit_ProcBitShiftLen = AddEdit(TabSheet2, "Edit_ProcBitShiftLen", QStringLiteral("3"), 56, 4, 30);
  AddLabel(TabSheet2, QStringLiteral("1～23"), 50, 28, 50);
  RadioButton_ProcBitShiftR =
      AddRadio(TabSheet2, "RadioButton_ProcBitShiftR", QStringLiteral("右巡回シフト"), 6, 52, true);
  RadioButton_ProcBitShiftL = AddRadio(TabSheet2, "RadioButton_ProcBitShiftL",
                                       QStringLiteral("左巡回シフト"), 6, 72, false);
  AddEndMark(TabSheet2, 98);
  ProcValPageControl->addWidget(TabSheet2);

  // Page 2: XOR.
  TabSheet3 = new QWidget;
  TabSheet3->setObjectName(QStringLiteral("TabSheet3"));
  AddLabel(TabSheet3, QStringLiteral("【関数】"), 0, 4);
  RadioButton_ProcXorFuncMT =
      AddRadio(TabSheet3, "RadioButton_ProcXorFuncMT", QStringLiteral("MTwister"), 6, 22, true);
  RadioButton_ProcXorFuncMD5OFB = AddRadio(TabSheet3, "RadioButton_ProcXorFuncMD5OFB",
                                           QStringLiteral("MD5(OFB)"), 6, 42, false);
  RadioButton_ProcXorFuncMD5 =
      AddRadio(TabSheet3, "RadioButton_ProcXorFuncMD5", QStringLiteral("MD5"), 6, 62, false);
  AddLabel(TabSheet3, QStringLiteral("【パスワード】"), 0, 88);
  Edit_ProcXorKey = AddEdit(TabSheet3, "Edit_ProcXorKey", QString(), 4, 106, 93);
  // The password has no length limit (a line edit stops at 32767 characters by default).
  Edit_ProcXorKey->setMaxLength(std::numeric_limits<int>::max());
  AddEndMark(TabSheet3, 132);
  ProcValPageControl->addWidget(TabSheet3);

  for (QLineEdit* edit : {Edit_ProcRevMosBlockW, Edit_ProcRevMosBlockH, Edit_ProcRevMosKey1,
                          Edit_ProcRevMosKey2, Edit_ProcBitShiftLen}) {
    edit->installEventFilter(this);
  }
}

void TMainForm::BuildStatusBar() {
  MainStatusBar = statusBar();
  MainStatusBar->setObjectName(QStringLiteral("MainStatusBar"));
  MainStatusBar->setSizeGripEnabled(true);
  // Two panels, 200 and 50 pixels wide; the last one stretches to the right end of the bar.
  const int widths[2] = {200, 50};
  for (int i = 0; i < 2; ++i) {
    auto* label = new QLabel(MainStatusBar);
    label->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    if (i == 0) {
      label->setFixedWidth(widths[i]);
      MainStatusBar->addWidget(label);
    } else {
      label->setMinimumWidth(widths[i]);
      MainStatusBar->addWidget(label, 1);
    }
    StatusPanels[static_cast<std::size_t>(i)] = label;
  }
}

void TMainForm::BuildView() {
  ImgBaseScrollBox = new QScrollArea(this);
  ImgBaseScrollBox->setObjectName(QStringLiteral("ImgBaseScrollBox"));
  ImgBaseScrollBox->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  ImgBaseScrollBox->setWidgetResizable(false);
  ImgBaseScrollBox->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  ScrolledArea = new QWidget;
  ScrolledArea->setObjectName(QStringLiteral("ScrolledArea"));
  MainPBox = new TImageView(
      [this]() -> const kavun::Bitmap* { return GlobalValue ? &GlobalValue->WorkBitmap : nullptr; },
      [this] { return GlobalValue ? GlobalValue->GetRatio() : 1; }, ScrolledArea);
  MainPBox->setObjectName(QStringLiteral("MainPBox"));
  ImgBaseScrollBox->setWidget(ScrolledArea);
  connect(MainPBox, &TImageView::MouseDown, this, &TMainForm::MainPBoxMouseDown);
  connect(MainPBox, &TImageView::MouseMove, this, &TMainForm::MainPBoxMouseMove);
  connect(MainPBox, &TImageView::MouseUp, this, &TMainForm::MainPBoxMouseUp);

  // The selection overlay, stacked above the view in this order.
  ImgSelShape = new TInvertingShape(TInvertingShape::TKind::Outline, ScrolledArea);
  ImgSelShape->setObjectName(QStringLiteral("ImgSelShape"));
  connect(ImgSelShape, &TInvertingShape::MouseDown, this, &TMainForm::ImgSelShapeMouseDown);
  connect(ImgSelShape, &TInvertingShape::MouseMove, this, &TMainForm::ImgSelShapeMouseMove);
  connect(ImgSelShape, &TInvertingShape::MouseUp, this, &TMainForm::ImgSelShapeMouseUp);
  for (int k = 1; k <= 4; ++k) {
    auto* handle = new TInvertingShape(TInvertingShape::TKind::FilledSquare, ScrolledArea);
    handle->setObjectName(QStringLiteral("CornerShape%1").arg(k));
    handle->setGeometry(0, 0, kavun::TSelectionModel::kHandleWidth,
                        kavun::TSelectionModel::kHandleHeight);
    // One set of handlers for the four handles; they tell them apart by the sender's name.
    connect(handle, &TInvertingShape::MouseDown, this,
            [this, handle](Qt::MouseButton b, int x, int y) {
              CornerShape1MouseDown(handle, b, x, y);
            });
    connect(handle, &TInvertingShape::MouseMove, this,
            [this, handle](int x, int y) { CornerShape1MouseMove(handle, x, y); });
    connect(
        handle, &TInvertingShape::MouseUp, this,
        [this, handle](Qt::MouseButton b, int x, int y) { CornerShape1MouseUp(handle, b, x, y); });
    CornerShapes[static_cast<std::size_t>(k - 1)] = handle;
  }
}

// ---------------------------------------------------------------------------------------------
// Commands and the error box

void TMainForm::RunCommand(const std::function<void()>& command) {
  try {
    command();
  } catch (const std::bad_alloc&) {
    ShowErrorBox(QStringLiteral("メモリが不足しています"));
  } catch (const std::exception& e) {
    ShowErrorBox(QString::fromUtf8(e.what()));
  }
}

void TMainForm::ShowErrorBox(const QString& message) {
  dialogs_->ShowError(ErrorBoxText(message), ApplicationTitle());
}

QString TMainForm::CaptionFor(const QString& path) {
  if (path.isEmpty()) return kProgramName;
  return QStringLiteral("Kavun  ") + u'"' + path + u'"';
}

void TMainForm::SetDocumentCommandsEnabled(bool enabled) {
  for (QToolButton* b : {TB_Close, TB_Load, TB_Save, TB_SaveNew, TB_SelMax}) b->setEnabled(enabled);
  for (QAction* a : {MainMenu_F_Close, MainMenu_F_ReOpen, MainMenu_F_Save, MainMenu_F_SaveAs}) {
    a->setEnabled(enabled);
  }
  MainMenu_PR->menuAction()->setEnabled(enabled);
  MainMenu_PR->setEnabled(enabled);
}

void TMainForm::SetViewSize(int width, int height) {
  MainPBox->setGeometry(0, 0, width, height);
  ScrolledArea->resize(width, height);
}

// ---------------------------------------------------------------------------------------------
// File commands

void TMainForm::LoadPicture(const QString& path) {
  // Decoded into a temporary first: a file that cannot be read leaves the document untouched.
  kavun::Bitmap decoded = kavun::LoadImageFile(ToPath(path));
  GlobalValue->WorkBitmap = std::move(decoded);
  const kavun::Bitmap& bitmap = GlobalValue->WorkBitmap;
  SetViewSize(bitmap.Width(), bitmap.Height());
  selection_.SetView(bitmap.Width(), bitmap.Height(), GlobalValue->GetRatio());
  MainPBox->BitmapChanged();
  HideSelection();
  GlobalValue->FileName = path;
  GlobalValue->SetRatio(1);
  SetDocumentCommandsEnabled(true);
  setWindowTitle(CaptionFor(path));
}

void TMainForm::SavePicture(const QString& path, const QString& extension) {
  // The writer goes through a temporary file and a rename: the old file survives a failure.
  kavun::SaveImageFile(ToPath(path), extension.toStdString(), GlobalValue->WorkBitmap);
}

void TMainForm::MainMenu_F_OpenClick() {
  RunCommand([this] {
    const std::optional<QString> name = dialogs_->GetOpenFileName();
    if (name) LoadPicture(*name);
  });
}

void TMainForm::MainMenu_F_ReOpenClick() {
  RunCommand([this] {
    kavun::Bitmap decoded = kavun::LoadImageFile(ToPath(GlobalValue->FileName));
    GlobalValue->WorkBitmap = std::move(decoded);
    MainPBox->BitmapChanged();
    GlobalValue->SetRatio(1);
    MainPBox->update();
    HideSelection();
  });
}

void TMainForm::MainMenu_F_CloseClick() {
  RunCommand([this] {
    GlobalValue->SetRatio(1);
    GlobalValue->WorkBitmap.Clear();
    SetViewSize(0, 0);
    selection_.SetView(0, 0, 1);
    MainPBox->BitmapChanged();
    HideSelection();
    SetDocumentCommandsEnabled(false);
    TB_RatioPlus->setEnabled(false);
    TB_RatioMinus->setEnabled(false);
    setWindowTitle(kProgramName);
  });
}

void TMainForm::MainMenu_F_SaveClick() {
  RunCommand([this] {
    const QString path = GlobalValue->FileName;
    const QString ext = LowerExtension(path);
    const bool askOverwrite = MainMenu_S_SavChkDlg->isChecked();
    if (IsJpegExtension(ext) && MainMenu_S_JpgSavChkDlg->isChecked()) {
      if (!dialogs_->AskYesNo(kJpegQuestion, kConfirmCaption)) return;
    } else if (askOverwrite) {
      if (!dialogs_->AskYesNo(kOverwriteQuestion, kConfirmCaption)) return;
    }
    SavePicture(path, ext);
  });
}

void TMainForm::MainMenu_F_SaveAsClick() {
  RunCommand([this] {
    int filterIndex = 1;
    const std::optional<QString> name = dialogs_->GetSaveFileName(&filterIndex);
    if (!name) return;
    const QString ext = filterIndex == 1   ? QStringLiteral(".png")
                        : filterIndex == 2 ? QStringLiteral(".jpg")
                                           : QStringLiteral(".bmp");
    const QString target = ReplaceExtension(*name, ext);
    if (ext == QLatin1String(".jpg") && MainMenu_S_JpgSavChkDlg->isChecked()) {
      if (!dialogs_->AskYesNo(kJpegQuestion, kConfirmCaption)) return;
    }
    if (QFileInfo::exists(target)) {
      const QString question = u'"' + target + u'"' + QStringLiteral("は既に存在します。") +
                               QStringLiteral("\r\n") + QStringLiteral("上書きしますか？");
      if (!dialogs_->AskYesNo(question, kConfirmCaption)) return;
    }
    SavePicture(target, ext);
    GlobalValue->FileName = target;
    LoadPicture(target);
  });
}

void TMainForm::MainMenu_F_ExitClick() {
  RunCommand([this] { close(); });
}

// ---------------------------------------------------------------------------------------------
// Image view and zoom

bool TMainForm::event(QEvent* event) {
  if (event->type() == TRatioChangedEvent::kType) {
    const auto* ratio = static_cast<TRatioChangedEvent*>(event);
    WMRatioChanged(ratio->WParam, ratio->LParam);
    return true;
  }
  return QMainWindow::event(event);
}

void TMainForm::WMRatioChanged(int32_t n, int32_t p) {
  const kavun::Bitmap& bitmap = GlobalValue->WorkBitmap;
  const int width = bitmap.Width() * n;
  const int height = bitmap.Height() * n;
  SetViewSize(width, height);
  for (QAction* item : MainMenu_PR_Items) {
    if (item->data().toInt() == n) item->setChecked(true);
  }
  ImgBaseScrollBox->horizontalScrollBar()->setValue(0);
  ImgBaseScrollBox->verticalScrollBar()->setValue(0);
  // Rescales a shown selection (it covers the same image pixels afterwards), then places the
  // handles whether it is shown or not.
  selection_.OnRatioChanged(n, p, width, height);
  MirrorSelection();
  TB_RatioPlus->setEnabled(GlobalValue->GetRatio() < 10);
  TB_RatioMinus->setEnabled(GlobalValue->GetRatio() > 1);
  MainPBox->update();
}

void TMainForm::MainMenu_PR_100Click() {
  auto* item = qobject_cast<QAction*>(sender());
  if (item == nullptr) return;
  RunCommand([this, item] { GlobalValue->SetRatio(item->data().toInt()); });
}

void TMainForm::TB_RatioPlusClick() {
  RunCommand([this] { GlobalValue->SetRatio(GlobalValue->GetRatio() + 1); });
}

void TMainForm::TB_RatioMinusClick() {
  RunCommand([this] { GlobalValue->SetRatio(GlobalValue->GetRatio() - 1); });
}

void TMainForm::SetScrollTracking(bool on) {
  ImgBaseScrollBox->horizontalScrollBar()->setTracking(on);
  ImgBaseScrollBox->verticalScrollBar()->setTracking(on);
}

void TMainForm::MainMenu_S_NoTrackClick() {
  MainMenu_S_NoTrack->setChecked(true);
  SetScrollTracking(false);
}

void TMainForm::MainMenu_S_TrackClick() {
  MainMenu_S_Track->setChecked(true);
  SetScrollTracking(true);
}

void TMainForm::MainMenu_S_SavChkDlgClick() {
  // The item is checkable: Qt has already inverted its check mark, which is all this does.
}

// ---------------------------------------------------------------------------------------------
// Selection rectangle

void TMainForm::MirrorSelection() {
  const bool visible = selection_.Visible();
  const kavun::TViewBox box = selection_.ShapeGeometry();
  ImgSelShape->setGeometry(box.Left, box.Top, box.Width, box.Height);
  ImgSelShape->setVisible(visible);
  for (int k = 1; k <= 4; ++k) {
    const kavun::TViewPoint pos = selection_.HandlePos(k);
    TInvertingShape* handle = CornerShapes[static_cast<std::size_t>(k - 1)];
    handle->move(pos.X, pos.Y);
    handle->setVisible(visible);
  }
  ExecuteButton->setEnabled(selection_.ExecuteEnabled());
}

void TMainForm::ShowSelection() {
  selection_.ShowSelection();
  MirrorSelection();
}

void TMainForm::HideSelection() {
  selection_.HideSelection();
  MirrorSelection();
}

void TMainForm::MainPBoxMouseDown(Qt::MouseButton button, int x, int y) {
  MainPBox->repaint();
  selection_.MainPBoxMouseDown(ToModelButton(button), x, y);
  MirrorSelection();
}

void TMainForm::MainPBoxMouseMove(int x, int y) {
  RunCommand([&] {
    if (const std::optional<std::string> status = selection_.MainPBoxMouseMove(x, y)) {
      StatusPanels[0]->setText(QString::fromStdString(*status));
    }
    MirrorSelection();
  });
}

void TMainForm::MainPBoxMouseUp(Qt::MouseButton button, int x, int y) {
  selection_.MainPBoxMouseUp(ToModelButton(button), x, y);
  MirrorSelection();
}

void TMainForm::ImgSelShapeMouseDown(Qt::MouseButton button, int x, int y) {
  // The widget sits at the geometric corner; the model counts from its Left/Top.
  const kavun::TViewBox box = selection_.ShapeGeometry();
  const kavun::TViewPoint origin = selection_.ShapeEventOrigin();
  selection_.ImgSelShapeMouseDown(ToModelButton(button), x + box.Left - origin.X,
                                  y + box.Top - origin.Y);
  MirrorSelection();
}

void TMainForm::ImgSelShapeMouseMove(int x, int y) {
  const kavun::TViewBox box = selection_.ShapeGeometry();
  const kavun::TViewPoint origin = selection_.ShapeEventOrigin();
  selection_.ImgSelShapeMouseMove(x + box.Left - origin.X, y + box.Top - origin.Y);
  MirrorSelection();
}

void TMainForm::ImgSelShapeMouseUp(Qt::MouseButton button, int x, int y) {
  const kavun::TViewBox box = selection_.ShapeGeometry();
  const kavun::TViewPoint origin = selection_.ShapeEventOrigin();
  selection_.ImgSelShapeMouseUp(ToModelButton(button), x + box.Left - origin.X,
                                y + box.Top - origin.Y);
  MirrorSelection();
}

namespace {

// The digit that ends a handle's name: 1..4, 0 for anything else.
int HandleNumber(const QObject* sender) {
  const QString name = sender != nullptr ? sender->objectName() : QString();
  if (name.isEmpty()) return 0;
  const int digit = name.back().digitValue();
  return digit >= 1 && digit <= 4 ? digit : 0;
}

}  // namespace

void TMainForm::CornerShape1MouseDown(QObject* sender, Qt::MouseButton button, int x, int y) {
  selection_.CornerShapeMouseDown(HandleNumber(sender), ToModelButton(button), x, y);
  MirrorSelection();
}

void TMainForm::CornerShape1MouseMove(QObject* sender, int x, int y) {
  selection_.CornerShapeMouseMove(HandleNumber(sender), x, y);
  MirrorSelection();
}

void TMainForm::CornerShape1MouseUp(QObject* sender, Qt::MouseButton button, int x, int y) {
  selection_.CornerShapeMouseUp(HandleNumber(sender), ToModelButton(button), x, y);
  MirrorSelection();
}

void TMainForm::TB_SelMaxClick() {
  RunCommand([this] {
    selection_.SelectAll(GlobalValue->WorkBitmap.Width(), GlobalValue->WorkBitmap.Height());
    MirrorSelection();
  });
}

// ---------------------------------------------------------------------------------------------
// Processing panel

void TMainForm::RadioButton_ProcSelRMClick() {
  const QString name = sender() != nullptr ? sender()->objectName() : QString();
  if (name == QLatin1String("RadioButton_ProcSelRM")) {
    ProcValPageControl->setCurrentIndex(0);
  } else if (name == QLatin1String("RadioButton_ProcSelBS")) {
    ProcValPageControl->setCurrentIndex(1);
  } else if (name == QLatin1String("RadioButton_ProcSelXOR")) {
    ProcValPageControl->setCurrentIndex(2);
  }
}

namespace {

std::optional<kavun::TNumberField> FieldOf(const QObject* edit) {
  const QString name = edit->objectName();
  for (kavun::TNumberField f :
       {kavun::TNumberField::BlockW, kavun::TNumberField::BlockH, kavun::TNumberField::Key1,
        kavun::TNumberField::Key2, kavun::TNumberField::ShiftLen}) {
    if (name == QLatin1String(kavun::NumberFieldSpec(f).name)) return f;
  }
  return std::nullopt;
}

}  // namespace

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  auto* edit = qobject_cast<QLineEdit*>(watched);
  const std::optional<kavun::TNumberField> field = edit != nullptr ? FieldOf(edit) : std::nullopt;
  if (field) {
    if (event->type() == QEvent::KeyPress) {
      return FilterNumberKey(edit, static_cast<QKeyEvent*>(event),
                             kavun::NumberFieldSpec(*field).limit);
    }
    if (event->type() == QEvent::FocusOut) {
      // Leaving the field, not the window: switching to another window or opening a popup
      // (the edit's context menu) keeps the focus in the field when it comes back.
      const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
      if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
        RangeCheck(edit);
      }
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

bool TMainForm::FilterNumberKey(QLineEdit* edit, QKeyEvent* event, int limit) {
  // Only typed characters go through the filter, as key presses that produce a character do;
  // cursor keys, Delete and focus keys are left to the edit.
  int key = 0;
  if (event->key() == Qt::Key_Backspace) {
    key = kavun::kKeyBackspace;
  } else if (!event->text().isEmpty() && event->key() != Qt::Key_Tab &&
             event->key() != Qt::Key_Backtab && event->key() != Qt::Key_Delete) {
    key = event->text().front().unicode();
  } else {
    return false;
  }
  const int selStart = edit->hasSelectedText() ? static_cast<int>(edit->selectionStart()) : -1;
  const int selLength = edit->hasSelectedText() ? static_cast<int>(edit->selectedText().size()) : 0;
  const kavun::TNumberKeyResult result =
      kavun::FilterNumberKey(edit->text().toStdU16String(), selStart, selLength, key, limit);
  if (result.textChanged) {
    edit->setText(QString::fromStdU16String(result.text));
    edit->setCursorPosition(selStart);
  }
  if (result.beep) kavun::Beep();
  // Backspace over a selection: removing the selection was all it had to do; passing it on as
  // well would take the character before the selection with it.
  if (result.textChanged && key == kavun::kKeyBackspace) return true;
  return !result.keyPasses;  // true: the key press is discarded
}

void TMainForm::RangeCheck(QLineEdit* edit) {
  const std::optional<kavun::TNumberField> field = FieldOf(edit);
  if (!field) return;
  const QString checked =
      QString::fromStdU16String(kavun::RangeCheckText(edit->text().toStdU16String(), *field));
  if (checked != edit->text()) edit->setText(checked);
}

int32_t TMainForm::FieldValue(QLineEdit* edit) const {
  const std::optional<kavun::TNumberField> field = FieldOf(edit);
  return field ? kavun::NumberFieldValue(edit->text().toStdU16String(), *field) : 0;
}

void TMainForm::ExecuteButtonClick() {
  RunCommand([this] {
    // Enabled again however the transform ends.
    TDisabledWhile disabled(this);
    const int32_t r = GlobalValue->GetRatio();
    const kavun::TRect rect = selection_.SelectionImageRect(r);
    const auto t0 = std::chrono::steady_clock::now();
    kavun::Bitmap* bitmap = &GlobalValue->WorkBitmap;
    if (RadioButton_ProcSelRM->isChecked()) {
      const bool decode = !RadioButton_ProcRevMosEncode->isChecked();
      const int32_t blockW = FieldValue(Edit_ProcRevMosBlockW);
      const int32_t blockH = FieldValue(Edit_ProcRevMosBlockH);
      const int32_t key1 = FieldValue(Edit_ProcRevMosKey1);
      const int32_t key2 = FieldValue(Edit_ProcRevMosKey2);
      kavun::ReversibleMosaic(bitmap, rect, decode, blockW, blockH, key1, key2);
    } else if (RadioButton_ProcSelBS->isChecked()) {
      int32_t shift = FieldValue(Edit_ProcBitShiftLen);
      if (!RadioButton_ProcBitShiftR->isChecked()) shift = -shift;
      kavun::BitShiftRotate(bitmap, rect, shift);
    } else {
      const kavun::XorKeyMode mode =
          RadioButton_ProcXorFuncMT->isChecked()    ? kavun::XorKeyMode::MTwister
          : RadioButton_ProcXorFuncMD5->isChecked() ? kavun::XorKeyMode::MD5
                                                    : kavun::XorKeyMode::MD5OFB;
      const std::string password =
          kavun::PasswordToCp932(Edit_ProcXorKey->text().toUtf8().toStdString());
      kavun::XorKeystream(bitmap, rect, mode, password);
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - t0);
    StatusPanels[1]->setText(
        QStringLiteral("処理時間: %1 ミリ秒").arg(static_cast<long long>(elapsed.count())));
    MainPBox->BitmapChanged();
  });
}

void TMainForm::ChkBijButtonClick() {
  RunCommand([this] {
    TDisabledWhile disabledWindow(this);
    ChkBijButton->setEnabled(false);
    struct TEnableAgain {
      QPushButton* button;
      ~TEnableAgain() { button->setEnabled(true); }
    } enableAgain{ChkBijButton};
    const int32_t n = FieldValue(Edit_ProcRevMosBlockW) * FieldValue(Edit_ProcRevMosBlockH);
    const bool ok = kavun::IsReversibleOrder(FieldValue(Edit_ProcRevMosKey1),
                                             FieldValue(Edit_ProcRevMosKey2), n);
    dialogs_->ShowNotice(
        ok ? QStringLiteral("可逆です。")
           : QStringLiteral("非可逆です。\r\nモザイクを掛けた画像を戻すことは出来ません。"),
        QStringLiteral("可逆チェック"));
  });
}

// ---------------------------------------------------------------------------------------------
// Settings, drops and help

kavun::TSettingsLocation TMainForm::SettingsLocation() const {
  if (!settingsPath_.isEmpty()) return kavun::TSettingsLocation{ToPath(settingsPath_), {}};
  const QString configDir = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
  return kavun::ResolveSettingsPath(ToPath(QCoreApplication::applicationFilePath()),
                                    ToPath(configDir));
}

void TMainForm::LoadSettings() {
  kavun::TSettingsValues values;
  values.FormWidth = width();
  values.FormHeight = height();
  // Values read from a file that cannot be written back are applied all the same.
  RunCommand([&] { kavun::LoadSettingsValues(SettingsLocation(), width(), height(), &values); });
  SetScrollTracking(values.isScrollTrack);
  MainMenu_S_Track->setChecked(values.isScrollTrack);
  MainMenu_S_SavChkDlg->setChecked(values.isShowSaveChkDlg);
  MainMenu_S_JpgSavChkDlg->setChecked(values.isShowJpgSaveChkDlg);
  // The windowing system's limit: a window no larger than the desktop, as a window of the
  // original platform is held to its maximum tracking size. A size from a hand-edited file
  // beyond that would give a window far off the screen that cannot even be painted.
  QSize limit(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  if (const QScreen* desktop = QGuiApplication::primaryScreen()) {
    limit = desktop->virtualGeometry().size();
  }
  resize(std::min(values.FormWidth, limit.width()), height());
  resize(width(), std::min(values.FormHeight, limit.height()));
}

void TMainForm::SaveSettings() {
  kavun::TSettingsValues values;
  values.isScrollTrack = MainMenu_S_Track->isChecked();
  values.isShowSaveChkDlg = MainMenu_S_SavChkDlg->isChecked();
  values.isShowJpgSaveChkDlg = MainMenu_S_JpgSavChkDlg->isChecked();
  values.FormWidth = width();
  values.FormHeight = height();
  RunCommand([&] { kavun::SaveSettingsValues(SettingsLocation(), values); });
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.isEmpty()) return;
  event->acceptProposedAction();
  WMDropFiles(urls);
}

void TMainForm::WMDropFiles(const QList<QUrl>& urls) {
  // The first file of the drop, its path taken whole however long; the others are ignored.
  for (const QUrl& url : urls) {
    if (!url.isLocalFile()) continue;
    const QString path = url.toLocalFile();
    RunCommand([&] { LoadPicture(path); });
    return;
  }
}

void TMainForm::MainMenu_H_RMClick() {
  QDesktopServices::openUrl(
      QUrl::fromLocalFile(QDir::current().absoluteFilePath(QStringLiteral("Readme.txt"))));
}

void TMainForm::MainMenu_H_AboutClick() {
  if (aboutForm_ == nullptr) return;
  setEnabled(false);
  // Kept above the main window: were the window manager to raise the disabled main window over
  // it, the box that alone can enable the window again would be out of reach.
  aboutForm_->winId();
  if (QWindow* box = aboutForm_->windowHandle()) box->setTransientParent(windowHandle());
  aboutForm_->show();
}
