// The program entry: creates the main window, then the hidden About box, and runs the loop.
#include <QApplication>
#include <QIcon>

#include "app/about_form.h"
#include "app/main_form.h"
#include "app/platform.h"
#include "app/qt_translation.h"
#include "app/quit_on_signal.h"
#include "engine/beep.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  InstallJapaneseQtTranslation(&app);  // without the file, Qt's own texts stay English
  // The program's icon for its windows and task bar entry; the desktop entry names the same.
  QApplication::setWindowIcon(QIcon(KavunIconPixmap(48)));
  QGuiApplication::setDesktopFileName(QStringLiteral("org.example.Kavun"));
  kavun::SetBeepHandler([] { QApplication::beep(); });
  QuitOnTerminationSignals();  // SIGTERM, SIGINT, SIGHUP: end in order, settings written
  TMainForm mainForm;
  TAboutForm aboutForm;  // hidden until "About"
  mainForm.SetAboutForm(&aboutForm);
  EndInOrderWithSession([&mainForm] { mainForm.SaveSettingsNow(); });  // Windows' log-off
  mainForm.show();
  return app.exec();
}
