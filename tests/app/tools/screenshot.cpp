// Opens a picture in the main window, zooms it, draws a selection and writes a picture of the
// window: kavun_screenshot IN_PICTURE OUT_PNG [RATIO]. Used to look at the window under Xvfb.
#include <QApplication>
#include <QDir>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

#include "app/main_form.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: kavun_screenshot IN_PICTURE OUT_PNG [RATIO]\n");
    return 2;
  }
  const QString in = QString::fromLocal8Bit(argv[1]);
  const QString out = QString::fromLocal8Bit(argv[2]);
  const int ratio = argc > 3 ? QString::fromLocal8Bit(argv[3]).toInt() : 3;

  QTemporaryDir settingsDir;
  TMainFormOptions options;
  options.SettingsPath = settingsDir.filePath(QStringLiteral("kavun.ini"));
  TMainForm form(options);
  form.show();
  form.LoadPicture(in);
  form.Global().SetRatio(ratio);
  // A selection of a few image pixels, as a user would draw it.
  auto& selection = form.Selection();
  selection.SetBounds(112 * ratio, 12 * ratio, 40 * ratio, 32 * ratio);
  form.ShowSelection();
  selection.PlaceHandles();
  form.MirrorSelection();
  form.ExecuteButtonClick();  // scrambles the selection and shows the time taken
  int status = 1;
  QTimer::singleShot(500, [&] {
    status = form.grab().save(out) ? 0 : 1;
    app.quit();
  });
  app.exec();
  if (status != 0) std::fprintf(stderr, "could not write %s\n", argv[2]);
  return status;
}
