#include "app/main_form.h"

#include <QAction>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScrollArea>
#include <QStatusBar>
#include <QToolButton>

#include "app/busy_scope.h"
#include "app/file_names.h"
#include "app/image_view.h"
#include "app/main_form_parts.h"
#include "engine/error.h"
#include "imagefile/decode_watch.h"
#include "imagefile/formats.h"
#include "imagefile/imagefile.h"

using mainform::AddMenuAction;
using mainform::AddToolButton;
using mainform::kProgramName;

namespace {

const QString kConfirmCaption = QStringLiteral("確認");
const QString kJpegQuestion = QStringLiteral(
    "JPG保存してもよろしいですか？\r\nマスキングされている場合、復元できない場合があります");
const QString kOverwriteQuestion = QStringLiteral("上書きしてもよろしいですか？");

// What a file held that the picture does not keep, in words ("透明部分", "16ビットの色の精度").
QString LossesText(const kavun::DroppedOnLoad& losses) {
  const QString alpha = QStringLiteral("透明部分");
  const QString deep = QStringLiteral("16ビットの色の精度");
  if (losses.Alpha && losses.DeepSamples) return alpha + QStringLiteral("と") + deep;
  return losses.Alpha ? alpha : deep;
}

bool HasLosses(const kavun::DroppedOnLoad& losses) {
  return losses.Alpha || losses.DeepSamples;
}

// Asked before a file whose transparency or 16-bit samples the picture lost is written over.
QString LossQuestion(const kavun::DroppedOnLoad& losses) {
  return QStringLiteral("上書きしてもよろしいですか？\r\n元のファイルの") + LossesText(losses) +
         QStringLiteral("は保存されず、失われます");
}

// Whether `a` and `b` name the same file.
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code error;
  return std::filesystem::equivalent(a, b, error);
}

// The format the extension of `path` names, or null.
const kavun::PictureFormat* FormatOfName(const QString& path) {
  return kavun::FormatOfPath(QFile::encodeName(path).toStdString());
}

// The format of a save dialog's filter (1-based, in the table's order); BMP for any other.
const kavun::PictureFormat& FormatOfFilter(int filterIndex) {
  const auto formats = kavun::PictureFormats();
  if (filterIndex >= 1 && static_cast<std::size_t>(filterIndex) <= formats.size()) {
    return formats[static_cast<std::size_t>(filterIndex) - 1];
  }
  return kavun::FormatRow(kavun::PictureFormatId::Bmp);
}

// `name` with the extension of its file-name part replaced by `extension` (appended when the
// file-name part has no ".").
QString ReplaceExtension(const QString& name, const QString& extension) {
  const qsizetype slash = name.lastIndexOf(u'/');
  const qsizetype dot = name.lastIndexOf(u'.');
  if (dot > slash) return name.left(dot) + extension;
  return name + extension;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Building and enabling the file commands

void TMainForm::BuildFileMenu() {
  MainMenu_F = menuBar()->addMenu(QStringLiteral("ファイル"));
  MainMenu_F->setObjectName(QStringLiteral("MainMenu_F"));
  MainMenu_F_Open = AddMenuAction(this, MainMenu_F, "MainMenu_F_Open", QStringLiteral("開く"));
  MainMenu_F_Close = AddMenuAction(this, MainMenu_F, "MainMenu_F_Close", QStringLiteral("閉じる"));
  MainMenu_F->addSeparator();
  MainMenu_F_ReOpen = AddMenuAction(this, MainMenu_F, "MainMenu_F_ReOpen",
                                    QStringLiteral("同じファイルを開きなおす"));
  MainMenu_F->addSeparator();
  MainMenu_F_Save =
      AddMenuAction(this, MainMenu_F, "MainMenu_F_Save", QStringLiteral("上書き保存"));
  MainMenu_F_SaveAs =
      AddMenuAction(this, MainMenu_F, "MainMenu_F_SaveAs", QStringLiteral("名前を付けて保存"));
  MainMenu_F->addSeparator();
  MainMenu_F_Exit = AddMenuAction(this, MainMenu_F, "MainMenu_F_Exit", QStringLiteral("終了"));
  connect(MainMenu_F_Open, &QAction::triggered, this, &TMainForm::MainMenu_F_OpenClick);
  connect(MainMenu_F_Close, &QAction::triggered, this, &TMainForm::MainMenu_F_CloseClick);
  connect(MainMenu_F_ReOpen, &QAction::triggered, this, &TMainForm::MainMenu_F_ReOpenClick);
  connect(MainMenu_F_Save, &QAction::triggered, this, &TMainForm::MainMenu_F_SaveClick);
  connect(MainMenu_F_SaveAs, &QAction::triggered, this, &TMainForm::MainMenu_F_SaveAsClick);
  connect(MainMenu_F_Exit, &QAction::triggered, this, &TMainForm::MainMenu_F_ExitClick);
}

void TMainForm::BuildFileTools() {
  TB_LoadNew =
      AddToolButton(ToolButtonPanel, "TB_LoadNew", QStringLiteral("開く"), 0, TGlyph::Open);
  TB_Close =
      AddToolButton(ToolButtonPanel, "TB_Close", QStringLiteral("閉じる"), 24, TGlyph::Close);
  TB_Load = AddToolButton(ToolButtonPanel, "TB_Load", QStringLiteral("同じファイルを開きなおす"),
                          56, TGlyph::Reopen);
  TB_Save =
      AddToolButton(ToolButtonPanel, "TB_Save", QStringLiteral("上書き保存"), 88, TGlyph::Save);
  TB_SaveNew = AddToolButton(ToolButtonPanel, "TB_SaveNew", QStringLiteral("名前を付けて保存"), 112,
                             TGlyph::SaveAs);
  using mainform::SetShortcuts;
  SetShortcuts(MainMenu_F_Open, {QKeySequence(Qt::CTRL | Qt::Key_O)}, TB_LoadNew);
  SetShortcuts(MainMenu_F_Close, {QKeySequence(Qt::CTRL | Qt::Key_W)}, TB_Close);
  SetShortcuts(MainMenu_F_ReOpen, {QKeySequence(Qt::Key_F5)}, TB_Load);
  SetShortcuts(MainMenu_F_Save, {QKeySequence(Qt::CTRL | Qt::Key_S)}, TB_Save);
  SetShortcuts(MainMenu_F_SaveAs, {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)}, TB_SaveNew);
  SetShortcuts(MainMenu_F_Exit, {QKeySequence(Qt::CTRL | Qt::Key_Q)});
  connect(TB_LoadNew, &QToolButton::clicked, this, &TMainForm::MainMenu_F_OpenClick);
  connect(TB_Close, &QToolButton::clicked, this, &TMainForm::MainMenu_F_CloseClick);
  connect(TB_Load, &QToolButton::clicked, this, &TMainForm::MainMenu_F_ReOpenClick);
  connect(TB_Save, &QToolButton::clicked, this, &TMainForm::MainMenu_F_SaveClick);
  connect(TB_SaveNew, &QToolButton::clicked, this, &TMainForm::MainMenu_F_SaveAsClick);
}

void TMainForm::SetFileCommandsEnabled(bool enabled) {
  // Open and Exit stay enabled.
  for (QToolButton* b : {TB_Close, TB_Load, TB_Save, TB_SaveNew}) b->setEnabled(enabled);
  for (QAction* a : {MainMenu_F_Close, MainMenu_F_ReOpen, MainMenu_F_Save, MainMenu_F_SaveAs}) {
    a->setEnabled(enabled);
  }
}

// ---------------------------------------------------------------------------------------------
// File commands

std::optional<kavun::Bitmap> TMainForm::DecodeBesideEventLoop(const QString& path,
                                                              kavun::DroppedOnLoad* dropped) {
  const std::filesystem::path file = SystemPath(path);
  kavun::DecodeWatch watch;
  watch.AfterRow = decodeRowHook_;
  std::optional<kavun::Bitmap> decoded;
  const QString name = QFileInfo(path).fileName();
  TBusyScope busy(this);
  busy.SetEscape([&watch] { watch.Cancel(); });
  try {
    const bool ended = RunBesideEventLoop(
        MainStatusBar, [&] { decoded = kavun::LoadImageFile(file, dropped, &watch); },
        [&] {
          return QStringLiteral("「%1」を読み込んでいます… %2%（Esc キーで中止）")
              .arg(name)
              .arg(watch.PerMille() / 10);
        },
        [&watch] { watch.Cancel(); });
    if (!ended) return std::nullopt;
  } catch (const kavun::Error& e) {
    if (e.Kind() == kavun::ErrorKind::Interrupted && watch.Cancelled()) return std::nullopt;
    throw;
  }
  return decoded;
}

void TMainForm::TellFileLosses() {
  const kavun::DroppedOnLoad& losses = GlobalValue->FileLosses;
  if (!HasLosses(losses)) {
    // The words about the file before go with it.
    if (lossesTold_) StatusPanels[1]->clear();
    lossesTold_ = false;
    return;
  }
  lossesTold_ = true;
  StatusPanels[1]->setText(QStringLiteral("この画像の") + LossesText(losses) +
                           QStringLiteral("は保持されません（保存すると失われます）"));
}

void TMainForm::LoadPicture(const QString& path) {
  // Decoded into a temporary first: a file that cannot be read, or a read stopped with Esc,
  // leaves the document untouched.
  kavun::DroppedOnLoad dropped;
  std::optional<kavun::Bitmap> decoded = DecodeBesideEventLoop(path, &dropped);
  if (!decoded) return;
  GlobalValue->WorkBitmap = std::move(*decoded);
  decoded.reset();
  GlobalValue->FileLosses = dropped;
  ForgetUndo();
  const kavun::Bitmap& bitmap = GlobalValue->WorkBitmap;
  SetViewSize(bitmap.Width(), bitmap.Height());
  selection_.SetView(bitmap.Width(), bitmap.Height());
  MainPBox->BitmapChanged();
  HideSelection();
  GlobalValue->FileName = path;
  GlobalValue->SetRatio(1);
  SetDocumentCommandsEnabled(true);
  setWindowTitle(CaptionFor(path));
  TellFileLosses();
  // Selecting comes next: the view takes the keyboard, so Ctrl+A and the arrows act on the
  // picture at once.
  ImgBaseScrollBox->setFocus(Qt::OtherFocusReason);
}

void TMainForm::SavePicture(const QString& path, const QString& extension) {
  // The writer follows links, refuses write-protected files and keeps the old file on failure.
  // It runs beside the event loop so that the window stays painted; it cannot be stopped, and a
  // program told to end waits for it.
  const std::filesystem::path file = SystemPath(path);
  const std::string ext = extension.toStdString();
  const QString name = QFileInfo(path).fileName();
  TBusyScope busy(this);
  // The writers do not say how far they are: the seconds show that the work goes on.
  QElapsedTimer elapsed;
  elapsed.start();
  RunBesideEventLoop(
      MainStatusBar, [&] { kavun::SaveImageFile(file, ext, GlobalValue->WorkBitmap); },
      [&] {
        return QStringLiteral("「%1」を保存しています… %2 秒")
            .arg(name)
            .arg(elapsed.elapsed() / 1000);
      },
      {});
  // The file written holds what the picture holds: nothing more to lose by writing it again.
  if (SameFile(file, SystemPath(GlobalValue->FileName))) GlobalValue->FileLosses = {};
}

void TMainForm::MainMenu_F_OpenClick() {
  RunCommand([this] {
    const std::optional<QString> name = dialogs_->GetOpenFileName();
    if (!name) return;
    TBusyScope busy(this);
    LoadPicture(*name);
  });
}

void TMainForm::MainMenu_F_ReOpenClick() {
  RunCommand([this] {
    TBusyScope busy(this);
    kavun::DroppedOnLoad dropped;
    std::optional<kavun::Bitmap> decoded = DecodeBesideEventLoop(GlobalValue->FileName, &dropped);
    if (!decoded) return;  // stopped: the document stays as it was
    GlobalValue->WorkBitmap = std::move(*decoded);
    decoded.reset();
    GlobalValue->FileLosses = dropped;
    ForgetUndo();
    MainPBox->BitmapChanged();
    GlobalValue->SetRatio(1);
    MainPBox->update();
    HideSelection();
    TellFileLosses();
  });
}

void TMainForm::MainMenu_F_CloseClick() {
  RunCommand([this] {
    GlobalValue->SetRatio(1);
    GlobalValue->WorkBitmap.Clear();
    ForgetUndo();
    SetViewSize(0, 0);
    selection_.SetView(0, 0);
    MainPBox->BitmapChanged();
    HideSelection();
    SetDocumentCommandsEnabled(false);
    setWindowTitle(kProgramName);
  });
}

void TMainForm::MainMenu_F_SaveClick() {
  RunCommand([this] {
    const QString path = GlobalValue->FileName;
    const kavun::PictureFormat* format = FormatOfName(path);
    const QString ext =
        QString::fromStdString(kavun::FileExtension(QFile::encodeName(path).toStdString()))
            .toLower();
    const bool askOverwrite = MainMenu_S_SavChkDlg->isChecked();
    const kavun::DroppedOnLoad losses = GlobalValue->FileLosses;
    if (HasLosses(losses)) {
      // The file holds more than the picture: asked whatever the switches say, in place of the
      // overwrite question.
      if (!dialogs_->AskYesNo(LossQuestion(losses), kConfirmCaption)) return;
    } else if (format != nullptr && format->Lossy && MainMenu_S_JpgSavChkDlg->isChecked()) {
      if (!dialogs_->AskYesNo(kJpegQuestion, kConfirmCaption)) return;
    } else if (askOverwrite) {
      if (!dialogs_->AskYesNo(kOverwriteQuestion, kConfirmCaption)) return;
    }
    TBusyScope busy(this);
    SavePicture(path, ext);
  });
}

void TMainForm::MainMenu_F_SaveAsClick() {
  RunCommand([this] {
    int filterIndex = 1;
    const std::optional<QString> name =
        dialogs_->GetSaveFileName(&filterIndex, GlobalValue->FileName);
    if (!name) return;
    const kavun::PictureFormat& format = FormatOfFilter(filterIndex);
    const QString ext = QString::fromUtf8(format.Extensions[0].data(),
                                          static_cast<qsizetype>(format.Extensions[0].size()));
    const QString target = ReplaceExtension(*name, ext);
    // A folder (or a FIFO or device) of that name can never become the picture: refused before
    // any question, instead of asking "overwrite?" and then failing.
    const QFileInfo existing(target);
    if (existing.exists() && !existing.isFile()) {
      throw kavun::Error(kavun::ErrorKind::NotAFile, target.toStdString(),
                         existing.isDir() ? "it is a folder" : "it is not a regular file");
    }
    if (format.Lossy && MainMenu_S_JpgSavChkDlg->isChecked()) {
      if (!dialogs_->AskYesNo(kJpegQuestion, kConfirmCaption)) return;
    }
    const kavun::DroppedOnLoad losses = GlobalValue->FileLosses;
    if (HasLosses(losses) && SameFile(SystemPath(target), SystemPath(GlobalValue->FileName))) {
      if (!dialogs_->AskYesNo(LossQuestion(losses), kConfirmCaption)) return;
    }
    if (QFileInfo::exists(target)) {
      const QString question = u'"' + target + u'"' + QStringLiteral("は既に存在します。") +
                               QStringLiteral("\r\n") + QStringLiteral("上書きしますか？");
      if (!dialogs_->AskYesNo(question, kConfirmCaption)) return;
    }
    TBusyScope busy(this);
    SavePicture(target, ext);
    GlobalValue->FileName = target;
    LoadPicture(target);
  });
}

void TMainForm::MainMenu_F_ExitClick() {
  RunCommand([this] { close(); });
}
