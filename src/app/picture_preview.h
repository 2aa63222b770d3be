#pragma once

#include <QFutureWatcher>
#include <QImage>
#include <QString>
#include <QWidget>

class QLabel;

// What the preview shows of one file: a thumbnail and a line about the picture, or a line
// saying why it cannot be shown.
struct TPreviewResult {
  QString path;
  QImage thumbnail;  // null when the file cannot be read
  QString info;      // "640 × 480 ピクセル  24 ビット", or the reason it cannot be read
};

// Decodes `path` with the program's own decoders and scales it into `box` (never enlarged).
// Runs on any thread; never throws.
TPreviewResult MakePreview(const QString& path, QSize box);

// The picture preview beside the open dialog's file list. Decoding runs on a worker thread so
// that the dialog never waits; at most one file is decoded at a time and only the file chosen
// last is shown.
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
  QString wanted_;  // the file chosen last
  bool running_ = false;
};
