// The program entry: creates the main window, then the hidden About box, and runs the loop.
#include <QApplication>

#include "app/main_form.h"
#include "engine/beep.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  kavun::SetBeepHandler([] { QApplication::beep(); });
  TMainForm mainForm;
  mainForm.show();
  return app.exec();
}
