#include "app/user_dialogs.h"

#include "app/error_box.h"
#include "app/picture_preview.h"
#include "app/sel_num_form.h"

#include <QFileDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QStyle>
#include <QTreeView>

#include <string>
#include <string_view>
#include <vector>

#include "imagefile/formats.h"

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

// The texts carry CR LF line breaks; a Qt label breaks at LF. A long path gets places where a
// line may break, which keeps the box wrapping the message as Japanese text wraps.
QString ForDisplay(const QString& text) {
  QString shown = text;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return WithLineBreakOpportunities(shown);
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
  // A name typed into the name field is selected in the list without becoming its current
  // entry, so currentChanged says nothing of it: follow the field too.
  if (auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
    QObject::connect(
        name, &QLineEdit::textChanged, preview, [&dialog, preview](const QString& text) {
          preview->ShowFile(text.isEmpty() ? QString() : dialog.directory().absoluteFilePath(text));
        });
  }
}

// The detail view's columns never cut their texts off: size, type and date take the width their
// headings and entries need (Japanese headings and dates are wider than the English ones the
// dialog's default size was made for), the name takes the rest, and the dialog opens wide enough
// for a name column of a useful width, as far as the screen allows.
void FitColumns(QFileDialog& dialog) {
  dialog.setViewMode(QFileDialog::Detail);
  auto* tree = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
  if (tree == nullptr) return;
  QHeaderView* header = tree->header();
  header->setStretchLastSection(false);
  header->setSectionResizeMode(0, QHeaderView::Stretch);
  for (int i = 1; i < header->count(); ++i) {
    header->setSectionResizeMode(i, QHeaderView::ResizeToContents);
  }
  // The widest entries the three columns show: a size, a type, a date and time.
  const QFontMetrics metrics(tree->font());
  const int padding = metrics.horizontalAdvance(QStringLiteral("MMM"));
  const auto widthOf = [&](const QString& sample) {
    return metrics.horizontalAdvance(sample) + padding;
  };
  const int type = widthOf(QStringLiteral("jpeg ファイル"));
  const int columns =
      widthOf(QStringLiteral("1023.99 KiB")) + type + widthOf(QStringLiteral("2026/12/31 23:59"));
  const int name = metrics.horizontalAdvance(u'M') * 16;
  // The side bar shows its places' names whole: "コンピューター" is the longest, after an icon.
  if (auto* sidebar = dialog.findChild<QWidget*>(QStringLiteral("sidebar"))) {
    const int icon = sidebar->style()->pixelMetric(QStyle::PM_SmallIconSize);
    sidebar->setMinimumWidth(metrics.horizontalAdvance(QStringLiteral("コンピューター")) + icon +
                             padding);
  }
  const QSize hint = dialog.sizeHint();
  const int besideTree = hint.width() - tree->sizeHint().width();
  QSize size(qMax(hint.width(), besideTree + columns + name), qMax(hint.height(), 480));
  if (const QScreen* screen = dialog.screen()) {
    size = size.boundedTo(screen->availableGeometry().size() * 9 / 10);
  }
  // On a narrow screen the type column, which the extension in the name repeats, gives way to
  // the name.
  if (size.width() - besideTree - columns < name) header->hideSection(2);
  dialog.resize(size);
}

// The extension of a name filter's first pattern: "PNG (*.png)" gives ".png".
QString FilterExtension(const QString& filter) {
  const qsizetype star = filter.indexOf(QStringLiteral("(*."));
  if (star < 0) return {};
  qsizetype end = star + 2;
  while (end < filter.size() && filter[end] != u' ' && filter[end] != u')') ++end;
  return filter.mid(star + 2, end - star - 2);
}

// `name` with the extension of its file-name part replaced by `extension`.
QString WithExtension(const QString& name, const QString& extension) {
  const qsizetype slash = name.lastIndexOf(u'/');
  const qsizetype dot = name.lastIndexOf(u'.');
  return (dot > slash + 1 ? name.left(dot) : name) + extension;
}

std::optional<QString> RunPictureDialog(QWidget* owner, QFileDialog::AcceptMode mode,
                                        const std::string& systemFilter, QString* lastName,
                                        QString* lastFilter, int* filterIndex,
                                        const QString& picturePath = QString()) {
  QFileDialog dialog(owner);
  dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails |
                    QFileDialog::DontConfirmOverwrite);
  dialog.setAcceptMode(mode);
  dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                     : QFileDialog::AnyFile);
  const QStringList filters = ToQtNameFilters(QString::fromStdString(systemFilter));
  dialog.setNameFilters(filters);
  const QString startFilter = lastFilter->isEmpty() ? filters.value(0) : *lastFilter;
  dialog.selectNameFilter(startFilter);
  if (!picturePath.isEmpty()) {
    // Saving a picture starts where it is, under its name with the extension the filter writes
    // (the dialog changes the extension shown when another filter is chosen).
    dialog.selectFile(SaveNameFor(picturePath, startFilter));
  } else if (!lastName->isEmpty()) {
    dialog.selectFile(*lastName);
  }
  if (mode == QFileDialog::AcceptOpen) AddPicturePreview(dialog);
  FitColumns(dialog);
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

namespace {

// One filter "Title(*.a, *.b)|*.a;*.b" of the given extensions.
std::string Filter(const std::string& title, const std::vector<std::string_view>& extensions) {
  std::string shown;
  std::string patterns;
  for (const std::string_view extension : extensions) {
    if (!patterns.empty()) {
      shown += ", ";
      patterns += ";";
    }
    // Appended piece by piece: GCC 12 at -O3 takes `"*" + std::string(...)` for an
    // overlapping copy (-Wrestrict); so below.
    shown += '*';
    shown += extension;
    patterns += '*';
    patterns += extension;
  }
  return title + "(" + shown + ")|" + patterns;
}

std::vector<std::string_view> Extensions(const kavun::PictureFormat& format, bool firstOnly) {
  std::vector<std::string_view> list;
  for (const std::string_view extension : format.Extensions) {
    if (!extension.empty() && (!firstOnly || list.empty())) list.push_back(extension);
  }
  return list;
}

}  // namespace

std::string OpenPictureFilter() {
  std::vector<std::string_view> every;
  std::string each;
  for (const kavun::PictureFormat& format : kavun::PictureFormats()) {
    const std::vector<std::string_view> own = Extensions(format, false);
    every.insert(every.end(), own.begin(), own.end());
    each += '|';
    each += Filter(format.Title, own);
  }
  return Filter("対応形式", every) + each;
}

std::string SavePictureFilter() {
  std::string filter;
  for (const kavun::PictureFormat& format : kavun::PictureFormats()) {
    if (!filter.empty()) filter += "|";
    filter += Filter(format.Title, Extensions(format, true));
  }
  return filter;
}

QString SaveNameFor(const QString& picturePath, const QString& filter) {
  const QString extension = FilterExtension(filter);
  return extension.isEmpty() ? picturePath : WithExtension(picturePath, extension);
}

std::optional<QString> TQtUserDialogs::GetSaveFileName(int* filterIndex,
                                                       const QString& picturePath) {
  return RunPictureDialog(owner_, QFileDialog::AcceptSave, kSavePictureFilter, &lastSaveName_,
                          &lastSaveFilter_, filterIndex, picturePath);
}

std::optional<kavun::TRect> TQtUserDialogs::AskSelectionRect(const kavun::TRect& initial,
                                                             int32_t pictureWidth,
                                                             int32_t pictureHeight) {
  TSelNumForm form(owner_);
  form.SetPictureSize(pictureWidth, pictureHeight);
  form.SetRect(initial);
  if (form.exec() != QDialog::Accepted) return std::nullopt;
  return form.Rect();
}
