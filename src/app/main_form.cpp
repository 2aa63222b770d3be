#include "app/main_form.h"

#include <QAbstractButton>
#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScrollArea>
#include <QShortcut>
#include <QShowEvent>
#include <QStatusBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/about_form.h"
#include "app/error_box.h"
#include "app/main_form_parts.h"
#include "app/platform.h"
#include "applogic/error_text.h"

using mainform::DesignedFont;
using mainform::kProgramName;

namespace mainform {

const QString kProgramName = QStringLiteral("Kavun");

std::filesystem::path ToPath(const QString& path) {
  return PathFromQt(path);
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

QAction* AddMenuAction(QObject* owner, QMenu* menu, const char* name, const QString& caption) {
  auto* action = new QAction(caption, owner);
  action->setObjectName(QLatin1String(name));
  menu->addAction(action);
  return action;
}

QToolButton* AddToolButton(QWidget* panel, const char* name, const QString& hint, int x,
                           TGlyph glyph) {
  auto* button = new QToolButton(panel);
  button->setObjectName(QLatin1String(name));
  button->setAutoRaise(true);
  button->setToolTip(hint);
  button->setIcon(MakeGlyph(glyph));
  button->setIconSize(QSize(20, 20));
  button->setGeometry(x, 1, 23, 23);
  button->setFocusPolicy(Qt::NoFocus);
  return button;
}

namespace {

QString WithShortcut(const QString& hint, const QKeySequence& key) {
  return hint + QStringLiteral(" (") + key.toString(QKeySequence::NativeText) + u')';
}

}  // namespace

void SetShortcuts(QAction* action, const QList<QKeySequence>& keys, QAbstractButton* button) {
  action->setShortcuts(keys);
  if (button != nullptr && !keys.isEmpty()) {
    button->setToolTip(WithShortcut(button->toolTip(), keys.first()));
  }
}

void SetButtonShortcuts(QWidget* window, QAbstractButton* button, const QList<QKeySequence>& keys) {
  if (keys.isEmpty()) return;
  const QString hint = button->toolTip().isEmpty() ? button->text() : button->toolTip();
  button->setToolTip(WithShortcut(hint, keys.first()));
  for (const QKeySequence& key : keys) {
    auto* shortcut = new QShortcut(key, window);
    // click() does nothing while the button is disabled, and clicks at once (a button's own
    // shortcut would click only after its pressed look has been shown for a while).
    QObject::connect(shortcut, &QShortcut::activated, button, &QAbstractButton::click);
  }
}

}  // namespace mainform

// ---------------------------------------------------------------------------------------------
// Construction and destruction

TMainForm::TMainForm(TMainFormOptions options, QWidget* parent)
    : QMainWindow(parent),
      settingsPath_(options.SettingsPath),
      // The selection reads the display ratio from the document state, its one owner.
      selection_([this] { return GlobalValue ? GlobalValue->GetRatio() : 1; }) {
  decodeRowHook_ = options.DecodeRowHook;
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
  BuildSelectionShapes();
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

  FormCreate();
}

TMainForm::~TMainForm() {
  FormDestroy();
}

// ---------------------------------------------------------------------------------------------
// Building the controls

void TMainForm::BuildMenus() {
  const QFont font = DesignedFont();
  menuBar()->setFont(font);
  BuildFileMenu();
  BuildViewMenu();
  BuildSettingsMenu();
  BuildHelpMenu();
  BuildEditMenu();
  for (QMenu* m : {MainMenu_F, MainMenu_PR, MainMenu_S, MainMenu_H, MainMenu_E}) m->setFont(font);
}

void TMainForm::BuildToolBar() {
  ToolButtonPanel = new QWidget(this);
  ToolButtonPanel->setObjectName(QStringLiteral("ToolButtonPanel"));
  ToolButtonPanel->setFixedHeight(25);
  BuildFileTools();
  BuildViewTools();
  BuildSelectionTools();
}

void TMainForm::SetDocumentCommandsEnabled(bool enabled) {
  SetFileCommandsEnabled(enabled);
  SetZoomEnabled(enabled);
  SetSelectAllEnabled(enabled);
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
  // As high from the start as with text in it, so that the view does not lose a row and jump
  // when the first read-out appears.
  StatusPanels[0]->setText(QStringLiteral(" "));
  MainStatusBar->setFixedHeight(MainStatusBar->sizeHint().height());
  StatusPanels[0]->clear();
}

// ---------------------------------------------------------------------------------------------
// Commands and the error box

void TMainForm::RunCommand(const std::function<void()>& command) {
  try {
    command();
  } catch (const std::exception& e) {
    ShowErrorBox(kavun::ToError(e));  // out of memory included
  }
}

void TMainForm::ShowErrorBox(const kavun::Error& error) {
  const QString message = QString::fromStdString(kavun::JapaneseErrorText(error));
  dialogs_->ShowError(ErrorBoxText(message), ApplicationTitle(), error.Kind());
}

QString TMainForm::CaptionFor(const QString& path) {
  if (path.isEmpty()) return kProgramName;
  // As the system writes file names: with backslashes on Windows.
  return QStringLiteral("Kavun  ") + u'"' + QDir::toNativeSeparators(path) + u'"';
}

void TMainForm::closeEvent(QCloseEvent* event) {
  // The About box disables the window; the title bar's close button is the window manager's
  // and still works, so it is refused here while the box is shown.
  if (aboutForm_ != nullptr && aboutForm_->isVisible()) {
    event->ignore();
    return;
  }
  QMainWindow::closeEvent(event);
}

void TMainForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  ApplyOuterSize();
}

bool TMainForm::event(QEvent* event) {
  if (event->type() == TRatioChangedEvent::kType) {
    const auto* ratio = static_cast<TRatioChangedEvent*>(event);
    WMRatioChanged(ratio->WParam, ratio->LParam);
    return true;
  }
  // The window manager frames the window after it is shown and moves it into its frame.
  if (event->type() == QEvent::Move && !outerSizeApplied_) ApplyOuterSize();
  return QMainWindow::event(event);
}
