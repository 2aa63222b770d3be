#include "app/sel_num_form.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QFormLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdint>

#include "app/number_edit.h"
#include "applogic/number_field.h"

namespace {

// Five digits hold the largest side a picture may have (65535).
constexpr int kFieldLimit = 5;

QLineEdit* MakeField(QWidget* parent, const char* name) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setAlignment(Qt::AlignRight);
  edit->setFixedWidth(80);
  edit->setAcceptDrops(false);
  KeepDigitsOnly(edit, kFieldLimit);
  return edit;
}

}  // namespace

TSelNumForm::TSelNumForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("SelNumForm"));
  setWindowTitle(QStringLiteral("選択範囲を数値で指定"));
  Edit_SelNumLeft = MakeField(this, "Edit_SelNumLeft");
  Edit_SelNumTop = MakeField(this, "Edit_SelNumTop");
  Edit_SelNumWidth = MakeField(this, "Edit_SelNumWidth");
  Edit_SelNumHeight = MakeField(this, "Edit_SelNumHeight");
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("左"), Edit_SelNumLeft);
  form->addRow(QStringLiteral("上"), Edit_SelNumTop);
  form->addRow(QStringLiteral("幅"), Edit_SelNumWidth);
  form->addRow(QStringLiteral("高さ"), Edit_SelNumHeight);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  PictureSizeLabel = new QLabel(this);
  PictureSizeLabel->setObjectName(QStringLiteral("PictureSizeLabel"));
  PictureSizeLabel->hide();
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(PictureSizeLabel);
  layout->addWidget(buttons);
  // Wide enough for the whole title in the caption bar, beside the window manager's buttons.
  const QFontMetrics metrics(font());
  const int captionButtons = 4 * style()->pixelMetric(QStyle::PM_TitleBarHeight);
  setMinimumWidth(metrics.horizontalAdvance(windowTitle()) * 5 / 4 + captionButtons);
  for (QLineEdit* edit : Fields()) edit->installEventFilter(this);
}

std::array<QLineEdit*, 4> TSelNumForm::Fields() const {
  return {Edit_SelNumLeft, Edit_SelNumTop, Edit_SelNumWidth, Edit_SelNumHeight};
}

void TSelNumForm::SetPictureSize(int32_t width, int32_t height) {
  PictureSizeLabel->setVisible(width > 0 && height > 0);
  PictureSizeLabel->setText(QStringLiteral("画像の大きさ: %1 × %2").arg(width).arg(height));
}

void TSelNumForm::SetRect(const kavun::TRect& rect) {
  const int64_t values[] = {rect.Left, rect.Top, int64_t{rect.Right} - rect.Left,
                            int64_t{rect.Bottom} - rect.Top};
  const std::array<QLineEdit*, 4> fields = Fields();
  for (size_t i = 0; i < fields.size(); ++i) {
    fields[i]->setText(QString::number(std::max<int64_t>(values[i], 0)));
  }
  Edit_SelNumLeft->setFocus();
  Edit_SelNumLeft->selectAll();
}

kavun::TRect TSelNumForm::Rect() const {
  const auto value = [](const QLineEdit* edit) {
    return kavun::ParseDecimalOr(edit->text().toStdU16String(), 0);
  };
  const int32_t left = value(Edit_SelNumLeft);
  const int32_t top = value(Edit_SelNumTop);
  // Each field holds at most five digits, so the sums stay far inside 32 bits.
  return kavun::TRect{left, top, left + value(Edit_SelNumWidth), top + value(Edit_SelNumHeight)};
}

bool TSelNumForm::eventFilter(QObject* watched, QEvent* event) {
  auto* edit = qobject_cast<QLineEdit*>(watched);
  if (edit != nullptr && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    // Enter and Escape answer the dialog as its buttons do.
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ||
        key->key() == Qt::Key_Escape) {
      return QDialog::eventFilter(watched, event);
    }
    return FilterNumberKeyPress(edit, key, kFieldLimit);
  }
  return QDialog::eventFilter(watched, event);
}
