// The program entry: creates the main window, then the hidden About box, and runs the loop.
#include <QApplication>

#include "app/about_form.h"
#include "app/main_form.h"
#include "engine/beep.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  kavun::SetBeepHandler([] { QApplication::beep(); });
  TMainForm mainForm;
  TAboutForm aboutForm;  // hidden until "About"
  mainForm.SetAboutForm(&aboutForm);
  mainForm.show();
  return app.exec();
}
