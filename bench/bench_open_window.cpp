// Opening a picture in the window, one way per run, for measuring with /usr/bin/time -v:
//
//   bench_open_window reopen FILE   opens FILE, then 同じファイルを開きなおす
//   bench_open_window dialog FILE   opens FILE, then 開く through a dialog whose preview shows
//                                   FILE for a tenth of a second before the choice is confirmed
//   bench_open_window first FILE    the same dialog with no picture open before
//   bench_open_window quit FILE     the preview shows FILE for a tenth of a second, the dialog
//                                   is cancelled and 終了 chosen
//   bench_open_window hold FILE     opens FILE and waits (send SIGTERM while it decodes)
//
// Prints the milliseconds the measured step took, the preview's tenth of a second left out, and
// the memory resident afterwards (for quit: the wall clock at 終了, in ms since the epoch, to
// compare with the time the process ended). Runs on any Qt platform, offscreen too.
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include <unistd.h>

#include "app/main_form.h"
#include "app/picture_preview.h"
#include "app/quit_on_signal.h"
#include "app/user_dialogs.h"

namespace {

// Answers like a user who looks at the preview for a moment, then confirms or cancels.
class TGlancingDialogs : public IUserDialogs {
 public:
  TGlancingDialogs(QString file, bool confirm) : file_(std::move(file)), confirm_(confirm) {}
  bool AskYesNo(const QString&, const QString&) override { return true; }
  void ShowNotice(const QString&, const QString&) override {}
  void ShowError(const QString& text, const QString&, kavun::ErrorKind) override {
    std::fprintf(stderr, "error: %s\n", text.toUtf8().constData());
  }
  std::optional<QString> GetOpenFileName() override {
    auto dialog = std::make_unique<QDialog>();
    auto* preview = new TPicturePreview(dialog.get());
    preview->ShowFile(file_);
    QElapsedTimer glance;
    glance.start();
    while (glance.elapsed() < 100) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    glanced += glance.elapsed();
    dialog.reset();
    if (!confirm_) return std::nullopt;
    return file_;
  }
  std::optional<QString> GetSaveFileName(int*, const QString&) override { return std::nullopt; }
  std::optional<kavun::TRect> AskSelectionRect(const kavun::TRect&, int32_t, int32_t) override {
    return std::nullopt;
  }
  qint64 glanced = 0;  // ms spent looking at the preview

 private:
  QString file_;
  bool confirm_;
};

long ResidentMiB() {
  long pages = 0;
  long resident = 0;
  if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024) / 1024;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench_open_window reopen|dialog|first|quit|hold FILE\n");
    return 2;
  }
  QApplication app(argc, argv);
  QuitOnTerminationSignals();
  const char* mode = argv[1];
  const QString file = QString::fromLocal8Bit(argv[2]);
  TGlancingDialogs dialogs(file, std::strcmp(mode, "quit") != 0);
  TMainFormOptions options;
  options.Dialogs = &dialogs;
  options.SettingsPath = QStringLiteral("/dev/null/kavun.ini");  // nothing read or written
  TMainForm form(options);
  QTimer::singleShot(0, [&] {
    QElapsedTimer step;
    if (std::strcmp(mode, "quit") == 0) {
      form.MainMenu_F_OpenClick();
      const auto now = std::chrono::system_clock::now().time_since_epoch();
      std::printf("%lld\n",
                  static_cast<long long>(
                      std::chrono::duration_cast<std::chrono::milliseconds>(now).count()));
      std::fflush(stdout);
      form.MainMenu_F_ExitClick();
      QCoreApplication::exit(0);
      return;
    }
    if (std::strcmp(mode, "first") != 0) form.LoadPicture(file);
    if (std::strcmp(mode, "hold") == 0) return;
    step.start();
    if (std::strcmp(mode, "first") == 0) form.MainMenu_F_OpenClick();
    if (std::strcmp(mode, "reopen") == 0) form.MainMenu_F_ReOpenClick();
    if (std::strcmp(mode, "dialog") == 0) form.MainMenu_F_OpenClick();
    // The user's glance at the preview is not the program's time.
    std::printf("%lld ms, resident after: %ld MiB\n",
                static_cast<long long>(step.elapsed() - dialogs.glanced), ResidentMiB());
    QCoreApplication::exit(0);
  });
  return app.exec();
}
