#include "app/about_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QUrl>

#include <array>
#include <utility>

#include "kavun_version.h"

namespace {

// The colour of a link label under the pointer.
const QColor kLinkHoverColor(255, 48, 48);

class TDesktopUrlOpener : public IUrlOpener {
 public:
  bool OpenUrl(const QString& target) override {
    return QDesktopServices::openUrl(QUrl(target, QUrl::TolerantMode));
  }
};

class TMessageBoxMessages : public IAboutMessages {
 public:
  explicit TMessageBoxMessages(QWidget* owner) : owner_(owner) {}
  void ShowMessage(const QString& text, const QString& caption) override {
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, owner_);
    box.exec();
  }

 private:
  QWidget* owner_;
};

// The icon's colours: rind, and the four shades of the scrambled blocks.
constexpr QRgb kRind = qRgb(0x2f, 0x6b, 0x2a);
constexpr std::array<QRgb, 4> kShades = {qRgb(0xf3, 0x9c, 0x32), qRgb(0xff, 0xd8, 0x8a),
                                         qRgb(0x9c, 0xcc, 0x4a), qRgb(0xe0, 0x6a, 0x2c)};
// Which shade each block of the 4 x 4 mosaic has, row by row.
constexpr std::array<int, 16> kBlockShade = {0, 1, 2, 3, 2, 0, 3, 1, 3, 2, 1, 0, 1, 3, 0, 2};

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int x, int y, int w,
                  int h = 14) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(x, y, w, h);
  return label;
}

}  // namespace

QPixmap KavunIconPixmap(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing, true);
  p.scale(size / 48.0, size / 48.0);  // drawn on the 48 x 48 grid of the scalable icon
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(kRind));
  p.drawRoundedRect(QRectF(2, 2, 44, 44), 9, 9);
  p.setRenderHint(QPainter::Antialiasing, false);
  for (int i = 0; i < 16; ++i) {
    p.setBrush(QColor(kShades[static_cast<size_t>(kBlockShade[static_cast<size_t>(i)])]));
    p.drawRect(QRectF(8 + (i % 4) * 8, 8 + (i / 4) * 8, 8, 8));
  }
  return pixmap;
}

TAboutForm::TAboutForm(QWidget* parent, IUrlOpener* opener, IAboutMessages* messages)
    // A dialog to the window system: kept above the main window it belongs to (a plain window
    // would not be, and the main window raised over it could never be used again).
    : QWidget(parent, Qt::Dialog | Qt::FramelessWindowHint), opener_(opener), messages_(messages) {
  setObjectName(QStringLiteral("AboutForm"));
  setWindowTitle(QStringLiteral("About"));
  // The box alone never keeps the program running once the main window has gone.
  setAttribute(Qt::WA_QuitOnClose, false);
  setFixedSize(kClientWidth, kClientHeight);

  // One bevelled panel inside a 1-pixel margin.
  Panel = new QFrame(this);
  Panel->setObjectName(QStringLiteral("Panel"));
  Panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel->setLineWidth(1);
  Panel->setGeometry(1, 1, kClientWidth - 2, kClientHeight - 2);

  IconImage = MakeLabel(Panel, "IconImage", QString(), 8, 8, 32, 32);
  IconImage->setPixmap(KavunIconPixmap(32));

  NameLabel = MakeLabel(Panel, "NameLabel", QStringLiteral("Kavun"), 48, 6, 100, 16);
  QFont nameFont = NameLabel->font();
  nameFont.setBold(true);
  NameLabel->setFont(nameFont);
  // The designed placeholders; FormCreate puts in the real version and date.
  VersionLabel = MakeLabel(Panel, "VersionLabel", QStringLiteral("ver 0.00"), 48, 24, 56);
  ReleaseDateLabel =
      MakeLabel(Panel, "ReleaseDateLabel", QStringLiteral("0000/00/00"), 104, 24, 62);
  ReleaseLabel = MakeLabel(Panel, "ReleaseLabel", QStringLiteral("Release"), 170, 24, 48);

  AuthorCaption = MakeLabel(Panel, "AuthorCaption", QStringLiteral("Author"), 8, 46, 72);
  AuthorLabel = MakeLabel(Panel, "AuthorLabel", QString::fromLatin1(kAuthorName), 82, 46, 138);
  WebSiteCaption = MakeLabel(Panel, "WebSiteCaption", QStringLiteral("WebSite"), 8, 60, 72);
  WebSiteLabel = MakeLabel(Panel, "WebSiteLabel", QString::fromLatin1(kSiteName), 82, 60, 138);
  URLLabel = MakeLabel(Panel, "URLLabel", QString::fromLatin1(kWebAddress), 20, 74, 200);
  MailCaption = MakeLabel(Panel, "MailCaption", QStringLiteral("MailAddress"), 8, 88, 72);
  MailLabel = MakeLabel(Panel, "MailLabel", QString::fromLatin1(kMailAddress), 82, 88, 138);
  for (QLabel* link : {URLLabel, MailLabel}) {
    link->setCursor(Qt::PointingHandCursor);
    link->installEventFilter(this);
  }

  CloseButton = new QPushButton(QStringLiteral("Close"), Panel);
  CloseButton->setObjectName(QStringLiteral("CloseButton"));
  CloseButton->setFlat(true);
  CloseButton->setGeometry(Panel->width() - 62, Panel->height() - 22, 56, 18);
  connect(CloseButton, &QPushButton::clicked, this, &TAboutForm::CloseButtonClick);

  FormCreate();
}

TAboutForm::~TAboutForm() = default;

void TAboutForm::SetUrlOpener(IUrlOpener* opener) {
  opener_ = opener;
}
void TAboutForm::SetMessages(IAboutMessages* messages) {
  messages_ = messages;
}
void TAboutForm::SetOnClose(std::function<void()> onClose) {
  onClose_ = std::move(onClose);
}

void TAboutForm::FormCreate() {
  // "ver 0.21": the version of the build.
  VersionLabel->setText(QStringLiteral("ver ") + QString::fromLatin1(kavun::kVersion));
  ReleaseDateLabel->setText(QString::fromLatin1(kReleaseDateText));
}

void TAboutForm::FormShow() {
  const QScreen* screen = this->screen();
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect area = screen->geometry();
  // C++ division truncates toward zero, also for a box larger than the screen.
  move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
}

void TAboutForm::FormClose() {
  emit closed();
  if (onClose_) onClose_();
}

void TAboutForm::CloseButtonClick() {
  close();
}

void TAboutForm::Open(const QString& target, const QString& failureText) {
  TDesktopUrlOpener desktop;
  IUrlOpener* opener = opener_ != nullptr ? opener_ : &desktop;
  if (opener->OpenUrl(target)) return;
  TMessageBoxMessages boxes(this);
  IAboutMessages* messages = messages_ != nullptr ? messages_ : &boxes;
  messages->ShowMessage(failureText, QStringLiteral("エラー"));
}

void TAboutForm::URLLabelClick() {
  Open(URLLabel->text() + QString::fromLatin1(kQueryText), QStringLiteral("URLを開けませんでした"));
}

void TAboutForm::MailLabelClick() {
  Open(QStringLiteral("mailto:") + MailLabel->text(), QStringLiteral("mailtoを開けませんでした"));
}

void TAboutForm::URLLabelMouseEnter(QLabel* label) {
  QPalette pal = label->palette();
  pal.setColor(QPalette::WindowText, kLinkHoverColor);
  label->setPalette(pal);
}

void TAboutForm::URLLabelMouseLeave(QLabel* label) {
  QPalette pal = label->palette();
  pal.setColor(QPalette::WindowText, QApplication::palette().color(QPalette::WindowText));
  label->setPalette(pal);
}

void TAboutForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (event->spontaneous()) return;
  FormShow();
  // The box takes the keyboard, so that Esc reaches it.
  activateWindow();
  CloseButton->setFocus(Qt::ActiveWindowFocusReason);
}

void TAboutForm::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    CloseButtonClick();
    return;
  }
  QWidget::keyPressEvent(event);
}

void TAboutForm::closeEvent(QCloseEvent* event) {
  event->accept();  // closing only hides the box; it is shown again later
  FormClose();
}

bool TAboutForm::eventFilter(QObject* watched, QEvent* event) {
  auto* label = qobject_cast<QLabel*>(watched);
  if (label != nullptr && (label == URLLabel || label == MailLabel)) {
    switch (event->type()) {
      case QEvent::Enter:
        URLLabelMouseEnter(label);
        break;
      case QEvent::Leave:
        URLLabelMouseLeave(label);
        break;
      case QEvent::MouseButtonRelease: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton &&
            label->rect().contains(mouse->position().toPoint())) {
          if (label == URLLabel) {
            URLLabelClick();
          } else {
            MailLabelClick();
          }
          return true;
        }
        break;
      }
      default:
        break;
    }
  }
  return QWidget::eventFilter(watched, event);
}
