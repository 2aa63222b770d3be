#include "app/main_form.h"

#include <QAction>
#include <QActionGroup>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QUrl>
#include <QWindow>

#include <algorithm>

#include "app/about_form.h"
#include "app/busy_scope.h"
#include "app/main_form_parts.h"
#include "app/platform.h"
#include "applogic/readme_path.h"

using mainform::AddMenuAction;
using mainform::ToPath;

// ---------------------------------------------------------------------------------------------
// Start-up and shutdown

void TMainForm::FormCreate() {
  // Qt paints widgets double-buffered already (step 1).
  GlobalValue = std::make_unique<TGlobalValue>(this);
  LoadSettings();
  SetViewSize(0, 0);
  selection_.SetView(0, 0);
  HideSelection();
  ProcValPageControl->setCurrentIndex(0);
  setAcceptDrops(true);
}

void TMainForm::FormDestroy() {
  if (!GlobalValue) return;
  SaveSettings();
  GlobalValue.reset();
}

// ---------------------------------------------------------------------------------------------
// Settings, drops and help

void TMainForm::BuildSettingsMenu() {
  MainMenu_S = menuBar()->addMenu(QStringLiteral("設定"));
  MainMenu_S->setObjectName(QStringLiteral("MainMenu_S"));
  trackGroup_ = new QActionGroup(this);
  trackGroup_->setExclusive(true);
  MainMenu_S_NoTrack = AddMenuAction(this, MainMenu_S, "MainMenu_S_NoTrack",
                                     QStringLiteral("スクロールバーを離したらスクロール"));
  MainMenu_S_Track = AddMenuAction(this, MainMenu_S, "MainMenu_S_Track",
                                   QStringLiteral("スクロールバーを動かすと同時にスクロール"));
  for (QAction* a : {MainMenu_S_NoTrack, MainMenu_S_Track}) {
    a->setCheckable(true);
    trackGroup_->addAction(a);
  }
  MainMenu_S_NoTrack->setChecked(true);
  MainMenu_S->addSeparator();
  MainMenu_S_SavChkDlg = AddMenuAction(this, MainMenu_S, "MainMenu_S_SavChkDlg",
                                       QStringLiteral("上書き保存の時、確認ダイアログを出す"));
  MainMenu_S_JpgSavChkDlg = AddMenuAction(this, MainMenu_S, "MainMenu_S_JpgSavChkDlg",
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
}

kavun::TSettingsLocation TMainForm::SettingsLocation() const {
  if (!settingsPath_.isEmpty()) return kavun::TSettingsLocation{ToPath(settingsPath_), {}};
  const QString configDir = UserSettingsFolder();
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
  lastSelection_ = values.LastSelection;
  // The windowing system's limit: a window no larger than the desktop, as a window of the
  // original platform is held to its maximum tracking size. A size from a hand-edited file
  // beyond that would give a window far off the screen that cannot even be painted.
  QSize limit(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  if (const QScreen* desktop = QGuiApplication::primaryScreen()) {
    limit = desktop->virtualGeometry().size();
  }
  outerSize_ =
      QSize(std::min(values.FormWidth, limit.width()), std::min(values.FormHeight, limit.height()));
  ApplyOuterSize();
}

void TMainForm::ApplyOuterSize() {
  if (outerSize_.isEmpty() || outerSizeApplied_) return;
  QMargins frame;
  if (isVisible()) {
    if (const QWindow* window = windowHandle()) frame = window->frameMargins();
  }
  if (!frame.isNull()) outerSizeApplied_ = true;
  resize(std::max(1, outerSize_.width() - frame.left() - frame.right()),
         std::max(1, outerSize_.height() - frame.top() - frame.bottom()));
}

void TMainForm::SaveSettings() {
  kavun::TSettingsValues values;
  values.isScrollTrack = MainMenu_S_Track->isChecked();
  values.isShowSaveChkDlg = MainMenu_S_SavChkDlg->isChecked();
  values.isShowJpgSaveChkDlg = MainMenu_S_JpgSavChkDlg->isChecked();
  values.LastSelection = lastSelection_;
  // The outer size, frame and caption included (the inner size where there is no frame).
  values.FormWidth = frameGeometry().width();
  values.FormHeight = frameGeometry().height();
  RunCommand([&] { kavun::SaveSettingsValues(SettingsLocation(), values); });
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
    RunCommand([&] {
      TBusyScope busy(this);
      LoadPicture(path);
    });
    return;
  }
}

void TMainForm::BuildHelpMenu() {
  MainMenu_H = menuBar()->addMenu(QStringLiteral("ヘルプ"));
  MainMenu_H->setObjectName(QStringLiteral("MainMenu_H"));
  MainMenu_H_RM = AddMenuAction(this, MainMenu_H, "MainMenu_H_RM", QStringLiteral("Readme.txt"));
  MainMenu_H_About = AddMenuAction(this, MainMenu_H, "MainMenu_H_About", QStringLiteral("About"));
  mainform::SetShortcuts(MainMenu_H_RM, {QKeySequence(Qt::Key_F1)});
  connect(MainMenu_H_RM, &QAction::triggered, this, &TMainForm::MainMenu_H_RMClick);
  connect(MainMenu_H_About, &QAction::triggered, this, &TMainForm::MainMenu_H_AboutClick);
}

void TMainForm::SetAboutForm(TAboutForm* about) {
  aboutForm_ = about;
  if (about != nullptr) connect(about, &TAboutForm::closed, this, [this] { setEnabled(true); });
}

void TMainForm::MainMenu_H_RMClick() {
  // "Readme.txt" of the current folder; an installed program started from the desktop menu
  // (whose current folder is the home folder) opens the readme installed with it instead.
  const std::filesystem::path readme = kavun::FindReadme(
      ToPath(QDir::currentPath()), ToPath(QCoreApplication::applicationFilePath()));
  QDesktopServices::openUrl(QUrl::fromLocalFile(QtFromPath(readme)));
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
