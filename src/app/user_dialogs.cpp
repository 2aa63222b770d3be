#include "app/user_dialogs.h"

#include "app/picture_preview.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QMessageBox>

QStringList ToQtNameFilters(const QString& filter) {
  const QStringList parts = filter.split(u'|');
  QStringList result;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(u';', u' ');
    result << parts[i] + QStringLiteral(" (") + patterns + QStringLiteral(")");
  }
  return result;
}

namespace {

// The texts carry CR LF line breaks; a Qt label breaks at LF.
QString ForDisplay(const QString& text) {
  QString shown = text;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return shown;
}

// A box owned by `owner` that stays usable while the owner is disabled (Execute and the
// reversibility check disable the main window while they run).
void Prepare(QMessageBox& box) {
  box.setEnabled(true);
}

}  // namespace

bool TQtUserDialogs::AskYesNo(const QString& text, const QString& caption) {
  QMessageBox box(QMessageBox::NoIcon, caption, ForDisplay(text),
                  QMessageBox::Yes | QMessageBox::No, owner_);
  Prepare(box);
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

void TQtUserDialogs::ShowNotice(const QString& text, const QString& caption) {
  QMessageBox box(QMessageBox::NoIcon, caption, ForDisplay(text), QMessageBox::Ok, owner_);
  Prepare(box);
  box.exec();
}

void TQtUserDialogs::ShowError(const QString& text, const QString& caption,
                               kavun::ErrorKind /*kind*/) {
  QMessageBox box(QMessageBox::Critical, caption, ForDisplay(text), QMessageBox::Ok, owner_);
  Prepare(box);
  box.exec();
}

qsizetype NameFilterIndex(const QStringList& filters, const QString& selected) {
  const qsizetype exact = filters.indexOf(selected);
  if (exact >= 0) return exact;
  // With the patterns hidden, the dialog reports a filter as it shows it: without " (...)".
  for (qsizetype i = 0; i < filters.size(); ++i) {
    if (filters[i].startsWith(selected + QStringLiteral(" ("))) return i;
  }
  return -1;
}

namespace {

// The open-picture dialog shows the picture under the cursor beside its file list.
void AddPicturePreview(QFileDialog& dialog) {
  auto* grid = qobject_cast<QGridLayout*>(dialog.layout());
  if (grid == nullptr) return;
  auto* preview = new TPicturePreview(&dialog);
  grid->addWidget(preview, 0, grid->columnCount(), grid->rowCount(), 1);
  QObject::connect(&dialog, &QFileDialog::currentChanged, preview, &TPicturePreview::ShowFile);
}

std::optional<QString> RunPictureDialog(QWidget* owner, QFileDialog::AcceptMode mode,
                                        const char* systemFilter, QString* lastName,
                                        QString* lastFilter, int* filterIndex) {
  QFileDialog dialog(owner);
  dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails |
                    QFileDialog::DontConfirmOverwrite);
  dialog.setAcceptMode(mode);
  dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                     : QFileDialog::AnyFile);
  const QStringList filters = ToQtNameFilters(QString::fromUtf8(systemFilter));
  dialog.setNameFilters(filters);
  dialog.selectNameFilter(lastFilter->isEmpty() ? filters.value(0) : *lastFilter);
  if (!lastName->isEmpty()) dialog.selectFile(*lastName);
  if (mode == QFileDialog::AcceptOpen) AddPicturePreview(dialog);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return std::nullopt;
  *lastName = files.first();
  const qsizetype index = NameFilterIndex(filters, dialog.selectedNameFilter());
  if (index >= 0) *lastFilter = filters.at(index);
  if (filterIndex != nullptr) *filterIndex = static_cast<int>(index) + 1;
  return files.first();
}

}  // namespace

std::optional<QString> TQtUserDialogs::GetOpenFileName() {
  return RunPictureDialog(owner_, QFileDialog::AcceptOpen, kOpenPictureFilter, &lastOpenName_,
                          &lastOpenFilter_, nullptr);
}

std::optional<QString> TQtUserDialogs::GetSaveFileName(int* filterIndex) {
  return RunPictureDialog(owner_, QFileDialog::AcceptSave, kSavePictureFilter, &lastSaveName_,
                          &lastSaveFilter_, filterIndex);
}
