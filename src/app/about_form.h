#pragma once

// The About box: a frameless window with the program's icon, name, version, release date,
// author and two links (web site, mail). It is created once at start, hidden, and shown by the
// main window's "About" command; "Close" only hides it again.
//
// Wiring in the program entry / main window:
//   TAboutForm about;                       // created hidden after the main window
//   mainForm.SetAboutForm(&about);          // "About": mainForm disables itself, about.show()
//   about.SetOnClose([&] { mainForm.setEnabled(true); });   // or connect TAboutForm::closed

#include <QPixmap>
#include <QString>
#include <QWidget>

#include <functional>

class QFrame;
class QKeyEvent;
class QLabel;
class QPushButton;

// Opens a web or mailto address; false when it could not be opened. The default one uses
// QDesktopServices::openUrl; tests install one that records the address.
class IUrlOpener {
 public:
  virtual ~IUrlOpener() = default;
  virtual bool OpenUrl(const QString& target) = 0;
};

// Shows the box's error messages (OK button only). The default one uses QMessageBox.
class IAboutMessages {
 public:
  virtual ~IAboutMessages() = default;
  virtual void ShowMessage(const QString& text, const QString& caption) = 0;
};

// The program's icon, drawn (the same picture as packaging/kavun.svg): a rounded melon-green
// tile holding a 4 x 4 mosaic of scrambled blocks.
QPixmap KavunIconPixmap(int size);

class TAboutForm : public QWidget {
  Q_OBJECT

 public:
  // Texts of the box.
  static constexpr const char* kReleaseDateText = "2006/9/23";
  static constexpr const char* kAuthorName = "Kavun Project";
  static constexpr const char* kSiteName = "Kavun Project Site";
  static constexpr const char* kWebAddress = "https://kavun.example.org/";
  static constexpr const char* kQueryText = "?from=about";
  static constexpr const char* kMailAddress = "kavun@example.org";
  // Client area (the window has no frame).
  static constexpr int kClientWidth = 226;
  static constexpr int kClientHeight = 122;

  // `opener` and `messages` may be null: the QDesktopServices / QMessageBox defaults are used.
  // Neither is owned; both must outlive the box.
  explicit TAboutForm(QWidget* parent = nullptr, IUrlOpener* opener = nullptr,
                      IAboutMessages* messages = nullptr);
  ~TAboutForm() override;

  void SetUrlOpener(IUrlOpener* opener);
  void SetMessages(IAboutMessages* messages);
  // Called (after the `closed` signal) whenever the box is closed.
  void SetOnClose(std::function<void()> onClose);

  // Handlers, public so that the window and the tests can reach them.
  void FormShow();
  void CloseButtonClick();
  void URLLabelClick();
  void MailLabelClick();
  void URLLabelMouseEnter(QLabel* label);
  void URLLabelMouseLeave(QLabel* label);

  // The controls, named as the box names them.
  QFrame* Panel = nullptr;
  QLabel* IconImage = nullptr;
  QLabel* NameLabel = nullptr;
  QLabel* VersionLabel = nullptr;
  QLabel* ReleaseDateLabel = nullptr;
  QLabel* ReleaseLabel = nullptr;
  QLabel* AuthorCaption = nullptr;
  QLabel* AuthorLabel = nullptr;
  QLabel* WebSiteCaption = nullptr;
  QLabel* WebSiteLabel = nullptr;
  QLabel* URLLabel = nullptr;
  QLabel* MailCaption = nullptr;
  QLabel* MailLabel = nullptr;
  QPushButton* CloseButton = nullptr;

 signals:
  // The box was closed (hidden by "Close" or by the window system).
  void closed();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  // Esc closes the box like "Close".
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void FormCreate();
  void FormClose();
  void Open(const QString& target, const QString& failureText);

  IUrlOpener* opener_ = nullptr;
  IAboutMessages* messages_ = nullptr;
  std::function<void()> onClose_;
};
