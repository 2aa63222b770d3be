// Writes pictures of the desktop program as a user sees it, to look at it under Xvfb:
//   kavun_screenshot IN_PICTURE OUT_PNG [RATIO]
//     the main window with the picture open and zoomed, a selection scrambled;
//   kavun_screenshot --edge IN_PICTURE OUT_PNG
//     the main window with a selection frame dragged past the edge of a small picture;
//   kavun_screenshot --open-dialog IN_PICTURE OUT_PNG
//     the open-picture dialog with the picture chosen and its preview shown;
//   kavun_screenshot --frame IN_PICTURE OUT_PNG RATIO
//     the selection frame on a scrambled part of the picture, its corner in the middle of the
//     view;
//   kavun_screenshot --mosaic-strips IN_PICTURE OUT_PNG
//     a mosaic whose blocks do not fill the selection, the clear strips hatched;
//   kavun_screenshot --about IN_PICTURE OUT_PNG
//     the screen with the About box over the main window, after the main window was raised
//     (run it under a window manager);
//   kavun_screenshot --sel-num IN_PICTURE OUT_PNG
//     the screen with the dialog of 選択範囲を数値で指定 (under a window manager: its title bar);
//   kavun_screenshot --size | --find-on-screen | --screen-digest | --changes-inside ...
//     the pixel checks of the end-to-end test (screen_pixels.h).
#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPainter>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <cstdio>
#include <cstring>
#include <functional>

#include "app/about_form.h"
#include "app/main_form.h"
#include "app/qt_translation.h"
#include "screen_pixels.h"

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

// A part of the picture scrambled with XOR and selected again, as a receiver about to restore it
// sees it; at ratios above 1 the view shows the frame's top-left corner in its middle.
void FrameOnNoise(TMainForm& form, int ratio) {
  const kavun::Bitmap& picture = form.Global().WorkBitmap;
  const kavun::TRect rect{picture.Width() / 16, picture.Height() / 16, picture.Width() / 16 + 200,
                          picture.Height() / 16 + 150};
  form.SelectImageRect(rect);
  form.RadioButton_ProcSelXOR->click();
  form.ExecuteButtonClick();
  form.Global().SetRatio(ratio);
  form.SelectImageRect(rect);
  form.RevealSelection();
  if (ratio > 1) {
    const QSize page = form.ImgBaseScrollBox->viewport()->size();
    form.ImgBaseScrollBox->horizontalScrollBar()->setValue(rect.Left * ratio - page.width() / 2);
    form.ImgBaseScrollBox->verticalScrollBar()->setValue(rect.Top * ratio - page.height() / 2);
  }
}

// A mosaic of 16 x 16 blocks on a selection that they do not fill; the strips left clear are
// hatched and the first panel names them.
void MosaicStrips(TMainForm& form) {
  form.Global().SetRatio(2);
  const kavun::TRect rect{20, 20, 20 + 16 * 6 + 11, 20 + 16 * 4 + 7};
  form.SelectImageRect(rect);
  form.RadioButton_ProcSelRM->click();
  form.ExecuteButtonClick();
}

// Writes the whole screen, cut to what the windows cover (the root window is black): what a
// user sees, window manager's frames included.
bool GrabScreen(const QString& out) {
  const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
  QRect covered;
  for (int y = 0; y < screen.height(); y += 2) {
    for (int x = 0; x < screen.width(); x += 2) {
      if ((screen.pixel(x, y) & 0xffffff) != 0) covered |= QRect(x, y, 2, 2);
    }
  }
  return !covered.isEmpty() && screen.copy(covered.adjusted(-6, -6, 6, 6)).save(out);
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
  if (const int status = RunPixelCommand(argc, argv); status >= 0) return status;
  QApplication app(argc, argv);
  InstallJapaneseQtTranslation(&app);
  const bool edge = argc > 1 && std::strcmp(argv[1], "--edge") == 0;
  const bool openDialog = argc > 1 && std::strcmp(argv[1], "--open-dialog") == 0;
  const bool frame = argc > 1 && std::strcmp(argv[1], "--frame") == 0;
  const bool strips = argc > 1 && std::strcmp(argv[1], "--mosaic-strips") == 0;
  const bool about = argc > 1 && std::strcmp(argv[1], "--about") == 0;
  const bool selNum = argc > 1 && std::strcmp(argv[1], "--sel-num") == 0;
  const int first = edge || openDialog || frame || strips || about || selNum ? 2 : 1;
  if (argc < first + 2) {
    std::fprintf(
        stderr,
        "usage: kavun_screenshot [--edge | --open-dialog | --frame | --mosaic-strips | --about | "
        "--sel-num] "
        "IN_PICTURE OUT_PNG [RATIO]\n");
    return 2;
  }
  const QString in = QString::fromLocal8Bit(argv[first]);
  const QString out = QString::fromLocal8Bit(argv[first + 1]);
  const int ratio = argc > first + 2 ? QString::fromLocal8Bit(argv[first + 2]).toInt() : 3;

  QTemporaryDir settingsDir;
  TMainFormOptions options;
  options.SettingsPath = settingsDir.filePath(QStringLiteral("kavun.ini"));
  TMainForm form(options);
  TAboutForm aboutForm;
  form.SetAboutForm(&aboutForm);
  form.show();
  int status = 1;
  if (about) {
    form.LoadPicture(in);
    QTimer::singleShot(500, &form, [&form] { form.MainMenu_H_About->trigger(); });
    // A click on the main window raises it; the box must stay above it.
    QTimer::singleShot(1000, &form, [&form] {
      form.raise();
      form.activateWindow();
    });
    QTimer::singleShot(2000, [&app, &aboutForm, out, &status] {
      status = GrabScreen(out) ? 0 : 1;
      aboutForm.close();
      app.quit();
    });
  } else if (selNum) {
    form.LoadPicture(in);
    QTimer::singleShot(500, &form, [&form] { form.TB_SelNum->click(); });
    QTimer::singleShot(2000, [&app, out, &status] {
      status = GrabScreen(out) ? 0 : 1;
      if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
        dialog->reject();
      }
      app.quit();
    });
  } else if (openDialog) {
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
    } else if (frame) {
      FrameOnNoise(form, ratio);
    } else if (strips) {
      MosaicStrips(form);
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
