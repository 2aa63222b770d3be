#pragma once

#include <QFutureWatcher>
#include <QImage>
#include <QString>
#include <QWidget>

#include <memory>

class QLabel;
namespace kavun {
class DecodeWatch;
}

// What the preview shows of one file: a thumbnail and a line about the picture, or a line
// saying why it cannot be shown.
struct TPreviewResult {
  QString path;
  QImage thumbnail;  // null when the file cannot be read
  QString info;      // "640 × 480 ピクセル  24 ビット", or the reason it cannot be read
};

// Decodes of `path` no more than a thumbnail of `box` needs (kavun::MakeThumbnail), with the
// program's own decoders and their limits; `watch` (may be null) can stop it. Runs on any thread;
// never throws.
TPreviewResult MakePreview(const QString& path, QSize box, kavun::DecodeWatch* watch = nullptr);

// The picture preview beside the open dialog's file list. Decoding runs on a worker thread so
// that the dialog never waits; at most one file is decoded at a time, a decode whose file is no
// longer chosen is stopped, and only the file chosen last is shown. The preview's end (the
// dialog closed, whatever its answer) stops its decode and waits for it, so that no preview
// decode runs beside the opening of the chosen file or keeps the program from ending.
class TPicturePreview : public QWidget {
  Q_OBJECT

 public:
  explicit TPicturePreview(QWidget* parent = nullptr);
  ~TPicturePreview() override;

  // Shows the file at `path`; a folder, a missing file or an empty path clears the preview.
  void ShowFile(const QString& path);

  QString InfoText() const;
  QImage Thumbnail() const;
  // True while a decode runs or waits.
  bool IsBusy() const;

 signals:
  // The preview shows a new result.
  void Shown();

 private:
  void StartDecode(const QString& path);
  void DecodeFinished();
  void Show(const TPreviewResult& result);

  QLabel* image_ = nullptr;
  QLabel* info_ = nullptr;
  QFutureWatcher<TPreviewResult> watcher_;
  std::shared_ptr<kavun::DecodeWatch> decodeWatch_;  // of the decode running
  QString wanted_;                                   // the file chosen last
  bool running_ = false;
};
