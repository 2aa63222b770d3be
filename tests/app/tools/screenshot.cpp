// Writes pictures of the desktop program as a user sees it, to look at it under Xvfb:
//   kavun_screenshot IN_PICTURE OUT_PNG [RATIO]
//     the main window with the picture open and zoomed, a selection scrambled;
//   kavun_screenshot --edge IN_PICTURE OUT_PNG
//     the main window with a selection frame dragged past the edge of a small picture;
//   kavun_screenshot --open-dialog IN_PICTURE OUT_PNG
//     the open-picture dialog with the picture chosen and its preview shown.
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <functional>

#include "app/main_form.h"
#include "app/qt_translation.h"

namespace {

// A selection of a few image pixels over the zoomed picture, scrambled as a user would.
void ScrambledSelection(TMainForm& form, int ratio) {
  form.Global().SetRatio(ratio);
  auto& selection = form.Selection();
  selection.SetBounds(112 * ratio, 12 * ratio, 40 * ratio, 32 * ratio);
  form.ShowSelection();
  selection.PlaceHandles();
  form.MirrorSelection();
  form.ExecuteButtonClick();  // scrambles the selection and shows the time taken
}

// The frame as it stands while the mouse drags it past the picture's lower right corner.
void FramePastTheEdge(TMainForm& form) {
  const kavun::Bitmap& picture = form.Global().WorkBitmap;
  auto& selection = form.Selection();
  selection.SetBounds(picture.Width() - 70, picture.Height() - 50, 110, 80);
  form.ShowSelection();
  selection.PlaceHandles();
  form.MirrorSelection();
}

// Writes a picture of `widget` after `delay` ms and ends the program.
void GrabLater(QApplication& app, std::function<QWidget*()> widget, const QString& out, int delay,
               int* status) {
  QTimer::singleShot(delay, [&app, widget, out, status] {
    QWidget* shown = widget();
    *status = shown != nullptr && shown->grab().save(out) ? 0 : 1;
    if (auto* dialog = qobject_cast<QDialog*>(shown)) dialog->reject();
    app.quit();
  });
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  InstallJapaneseQtTranslation(&app);
  const bool edge = argc > 1 && std::strcmp(argv[1], "--edge") == 0;
  const bool openDialog = argc > 1 && std::strcmp(argv[1], "--open-dialog") == 0;
  const int first = edge || openDialog ? 2 : 1;
  if (argc < first + 2) {
    std::fprintf(stderr,
                 "usage: kavun_screenshot [--edge | --open-dialog] IN_PICTURE OUT_PNG [RATIO]\n");
    return 2;
  }
  const QString in = QString::fromLocal8Bit(argv[first]);
  const QString out = QString::fromLocal8Bit(argv[first + 1]);
  const int ratio = argc > first + 2 ? QString::fromLocal8Bit(argv[first + 2]).toInt() : 3;

  QTemporaryDir settingsDir;
  TMainFormOptions options;
  options.SettingsPath = settingsDir.filePath(QStringLiteral("kavun.ini"));
  TMainForm form(options);
  form.show();
  int status = 1;
  if (openDialog) {
    // The real dialog, opened by the menu command; the picture is chosen once the dialog has
    // listed its folder (which it does in the background).
    QTimer::singleShot(0, &form, [&form] { form.MainMenu_F_Open->trigger(); });
    const auto dialog = [] {
      return qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    };
    QTimer::singleShot(300, [in, dialog] {
      if (dialog() != nullptr) dialog()->setDirectory(QFileInfo(in).absolutePath());
    });
    QTimer::singleShot(1000, [in, dialog] {
      // Typed into the name field, as a user would: the dialog then selects it in its list.
      auto* name = dialog() != nullptr
                       ? dialog()->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
                       : nullptr;
      if (name != nullptr) name->setText(QFileInfo(in).fileName());
    });
    GrabLater(app, dialog, out, 2000, &status);
  } else {
    form.LoadPicture(in);
    if (edge) {
      FramePastTheEdge(form);
    } else {
      ScrambledSelection(form, ratio);
    }
    GrabLater(
        app, [&form] { return &form; }, out, 500, &status);
  }
  app.exec();
  if (status != 0) std::fprintf(stderr, "could not write %s\n", argv[first + 1]);
  return status;
}
