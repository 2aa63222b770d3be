#include "app/main_form.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <chrono>
#include <limits>
#include <optional>
#include <utility>

#include "app/busy_scope.h"
#include "app/image_view.h"
#include "app/main_form_parts.h"
#include "app/number_edit.h"
#include "app/panel_table.h"
#include "engine/beep.h"
#include "engine/mosaic.h"
#include "engine/password.h"
#include "engine/transform_params.h"

namespace {

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

// A numeric field: its component name and place from the panel's table, its text at start from
// the parameter's.
QLineEdit* AddNumberEdit(QWidget* parent, kavun::TNumberField field) {
  const mainform::TNumberFieldRow& row = mainform::NumberFieldRow(field);
  return AddEdit(parent, row.Name, QString::fromStdU16String(kavun::NumberFieldSpec(field).initial),
                 row.X, row.Y, row.Width);
}

// The label under a numeric field that states its range, e.g. "2～50".
QLabel* AddRangeLabel(QWidget* parent, kavun::TNumberField field, int x, int y, int w) {
  return AddLabel(parent, QString::fromStdU16String(kavun::RangeLabel(field)), x, y, w);
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

}  // namespace

QLineEdit* TMainForm::NumberEdit(kavun::TNumberField field) const {
  switch (field) {
    case kavun::TNumberField::BlockW:
      return Edit_ProcRevMosBlockW;
    case kavun::TNumberField::BlockH:
      return Edit_ProcRevMosBlockH;
    case kavun::TNumberField::Key1:
      return Edit_ProcRevMosKey1;
    case kavun::TNumberField::Key2:
      return Edit_ProcRevMosKey2;
    case kavun::TNumberField::ShiftLen:
      return Edit_ProcBitShiftLen;
  }
  return nullptr;
}

std::optional<kavun::TNumberField> TMainForm::FieldOf(const QObject* edit) const {
  for (const mainform::TNumberFieldRow& row : mainform::kNumberFieldRows) {
    if (edit != nullptr && NumberEdit(row.Param) == edit) return row.Param;
  }
  return std::nullopt;
}

QRadioButton*& TMainForm::XorButton(kavun::XorKeyMode mode) {
  switch (mode) {
    case kavun::XorKeyMode::MTwister:
      return RadioButton_ProcXorFuncMT;
    case kavun::XorKeyMode::MD5:
      return RadioButton_ProcXorFuncMD5;
    case kavun::XorKeyMode::MD5OFB:
      break;
  }
  return RadioButton_ProcXorFuncMD5OFB;
}

// ---------------------------------------------------------------------------------------------
// Processing panel

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
  Edit_ProcRevMosBlockW = AddNumberEdit(TabSheet1, kavun::TNumberField::BlockW);
  AddLabel(TabSheet1, QStringLiteral("×"), 42, 24, 14);
  Edit_ProcRevMosBlockH = AddNumberEdit(TabSheet1, kavun::TNumberField::BlockH);
  AddRangeLabel(TabSheet1, kavun::TNumberField::BlockW, 30, 44, 60);
  AddLabel(TabSheet1, QStringLiteral("【線形変換係数】"), 0, 66, 103);
  Edit_ProcRevMosKey1 = AddNumberEdit(TabSheet1, kavun::TNumberField::Key1);
  AddLabel(TabSheet1, QStringLiteral("x +"), 42, 86, 18);
  Edit_ProcRevMosKey2 = AddNumberEdit(TabSheet1, kavun::TNumberField::Key2);
  AddRangeLabel(TabSheet1, kavun::TNumberField::Key1, 30, 106, 60);
  ChkBijButton = new QPushButton(QString::fromUtf8(mainform::kReversibilityCaption), TabSheet1);
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
  Edit_ProcBitShiftLen = AddNumberEdit(TabSheet2, kavun::TNumberField::ShiftLen);
  AddRangeLabel(TabSheet2, kavun::TNumberField::ShiftLen, 50, 28, 50);
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
  for (const mainform::TXorButtonRow& row : mainform::kXorButtonRows) {
    XorButton(row.Mode) =
        AddRadio(TabSheet3, row.Name, QString::fromUtf8(mainform::XorButtonCaption(row.Mode)), 6,
                 row.Y, row.Mode == kavun::kDefaultXorMode);
  }
  AddLabel(TabSheet3, QStringLiteral("【パスワード】"), 0, 88);
  Edit_ProcXorKey = AddEdit(TabSheet3, "Edit_ProcXorKey", QString(), 4, 106, 93);
  // The password has no length limit (a line edit stops at 32767 characters by default).
  Edit_ProcXorKey->setMaxLength(std::numeric_limits<int>::max());
  AddEndMark(TabSheet3, 132);
  ProcValPageControl->addWidget(TabSheet3);

  for (const mainform::TNumberFieldRow& row : mainform::kNumberFieldRows) {
    QLineEdit* edit = NumberEdit(row.Param);
    edit->installEventFilter(this);
    // Pasted text (keys, context menu, middle button) is held to the field's digits and limit.
    KeepDigitsOnly(edit, kavun::NumberFieldSpec(row.Param).limit);
  }
  mainform::SetButtonShortcuts(
      this, ExecuteButton,
      {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)});
}

void TMainForm::RadioButton_ProcSelRMClick() {
  const QObject* from = sender();
  if (from == RadioButton_ProcSelRM) {
    ProcValPageControl->setCurrentIndex(0);
  } else if (from == RadioButton_ProcSelBS) {
    ProcValPageControl->setCurrentIndex(1);
  } else if (from == RadioButton_ProcSelXOR) {
    ProcValPageControl->setCurrentIndex(2);
  }
}

// The number fields' key presses and exits, handed to their handlers: the two block fields and
// the shift field share one key handler, the two coefficient fields the other.
bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (ViewEventFilter(watched, event)) return true;
  if (watched == ImgBaseScrollBox && event->type() == QEvent::KeyPress) {
    if (ImgBaseScrollBoxKeyPress(static_cast<QKeyEvent*>(event))) return true;
  }
  auto* edit = qobject_cast<QLineEdit*>(watched);
  const bool block =
      edit != nullptr && (edit == Edit_ProcRevMosBlockW || edit == Edit_ProcRevMosBlockH);
  const bool coefficient =
      edit != nullptr && (edit == Edit_ProcRevMosKey1 || edit == Edit_ProcRevMosKey2);
  const bool shift = edit != nullptr && edit == Edit_ProcBitShiftLen;
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (block || shift) return Edit_ProcRevMosBlockWKeyPress(edit, key);
    if (coefficient) return Edit_ProcRevMosKey1KeyPress(edit, key);
  } else if (event->type() == QEvent::FocusOut) {
    // Leaving the field, not the window: switching to another window or opening a popup
    // (the edit's context menu) keeps the focus in the field when it comes back.
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
      if (block) Edit_ProcRevMosBlockWExit(edit);
      if (coefficient) Edit_ProcRevMosKey1Exit(edit);
      if (shift) Edit_ProcBitShiftLenExit(edit);
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

int TMainForm::KeyLimit(const QLineEdit* edit) const {
  const std::optional<kavun::TNumberField> field = FieldOf(edit);
  return field ? kavun::NumberFieldSpec(*field).limit : 0;
}

bool TMainForm::Edit_ProcRevMosBlockWKeyPress(QLineEdit* sender, QKeyEvent* key) {
  return FilterNumberKey(sender, key, KeyLimit(sender));
}

bool TMainForm::Edit_ProcRevMosKey1KeyPress(QLineEdit* sender, QKeyEvent* key) {
  return FilterNumberKey(sender, key, KeyLimit(sender));
}

void TMainForm::Edit_ProcRevMosBlockWExit(QLineEdit* sender) {
  RangeCheck(sender);
}

void TMainForm::Edit_ProcRevMosKey1Exit(QLineEdit* sender) {
  RangeCheck(sender);
}

void TMainForm::Edit_ProcBitShiftLenExit(QLineEdit* sender) {
  RangeCheck(sender);
}

bool TMainForm::FilterNumberKey(QLineEdit* edit, QKeyEvent* event, int limit) {
  return FilterNumberKeyPress(edit, event, limit);
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
    std::optional<TBusyScope> busy(std::in_place, this);
    const int32_t r = GlobalValue->GetRatio();
    const kavun::TRect rect = selection_.SelectionImageRect(r);
    const auto t0 = std::chrono::steady_clock::now();
    // The transform is chosen by the checked method button, not by the page shown.
    kavun::TransformRequest request;
    if (RadioButton_ProcSelRM->isChecked()) {
      request.Kind = kavun::TransformKind::ReversibleMosaic;
      request.Decode = !RadioButton_ProcRevMosEncode->isChecked();
      request.BlockW = FieldValue(Edit_ProcRevMosBlockW);
      request.BlockH = FieldValue(Edit_ProcRevMosBlockH);
      request.Key1 = FieldValue(Edit_ProcRevMosKey1);
      request.Key2 = FieldValue(Edit_ProcRevMosKey2);
    } else if (RadioButton_ProcSelBS->isChecked()) {
      request.Kind = kavun::TransformKind::BitShift;
      request.Shift = kavun::SignedShift(FieldValue(Edit_ProcBitShiftLen),
                                         RadioButton_ProcBitShiftR->isChecked());
    } else {
      request.Kind = kavun::TransformKind::Xor;
      for (const mainform::TXorButtonRow& row : mainform::kXorButtonRows) {
        if (XorButton(row.Mode)->isChecked()) request.Mode = row.Mode;
      }
      request.Password = kavun::PasswordToCp932(Edit_ProcXorKey->text().toUtf8().toStdString());
    }
    PrepareUndo(rect, request);
    kavun::ApplyTransform(GlobalValue->WorkBitmap, rect, request);
    ExecuteDone();
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - t0);
    StatusPanels[1]->setText(
        QStringLiteral("処理時間: %1 ミリ秒").arg(static_cast<long long>(elapsed.count())));
    MainPBox->BitmapChanged();
    SetLastSelection(rect);
    // A mosaic whose rectangle holds no whole block has changed nothing: that is said instead of
    // passing as done (after the busy state, so that the notice takes the answer). An unusable
    // order has had its beep instead.
    if (request.Kind == kavun::TransformKind::ReversibleMosaic &&
        (!request.Decode || kavun::MosaicIsReversible(request)) &&
        kavun::MosaicCoveredRect(rect, request.BlockW, request.BlockH).IsEmpty()) {
      busy.reset();
      dialogs_->ShowNotice(
          QStringLiteral("選択範囲 (%1 × %2 ピクセル) にはブロック (%3 × %4) が一つも収まらないた"
                         "め、\r\n画像は変更されていません。\r\n選択範囲を広げるか、ブロックサイ"
                         "ズを小さくしてください。")
              .arg(rect.Right - rect.Left)
              .arg(rect.Bottom - rect.Top)
              .arg(request.BlockW)
              .arg(request.BlockH),
          QStringLiteral("可逆モザイク"));
    }
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
    // Read whatever method is chosen.
    kavun::TransformRequest mosaic;
    mosaic.BlockW = FieldValue(Edit_ProcRevMosBlockW);
    mosaic.BlockH = FieldValue(Edit_ProcRevMosBlockH);
    bool ok = false;
    {
      // Only the check itself: the notice below must take the user's answer.
      TBusyScope busy(this);
      mosaic.Key1 = FieldValue(Edit_ProcRevMosKey1);
      mosaic.Key2 = FieldValue(Edit_ProcRevMosKey2);
      ok = kavun::MosaicIsReversible(mosaic);
    }
    dialogs_->ShowNotice(QString::fromStdString(mainform::ReversibilityText(ok, "\r\n")),
                         QString::fromUtf8(mainform::kReversibilityCaption));
  });
}
