#include "app/picture_preview.h"

#include <QFileInfo>
#include <QLabel>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <new>

#include "app/file_names.h"
#include "app/image_view.h"
#include "applogic/error_text.h"
#include "engine/error.h"
#include "imagefile/decode_watch.h"
#include "imagefile/thumbnail.h"

namespace {

constexpr int kPreviewSide = 200;

}  // namespace

TPreviewResult MakePreview(const QString& path, QSize box, kavun::DecodeWatch* watch) {
  TPreviewResult result;
  result.path = path;
  try {
    const kavun::Thumbnail thumbnail =
        kavun::MakeThumbnail(SystemPath(path), std::max(box.width(), box.height()), watch);
    const QImage shown = DisplayImageFor(thumbnail.Picture);
    if (!shown.isNull()) {
      result.thumbnail = shown.width() > box.width() || shown.height() > box.height()
                             ? shown.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                             : shown.copy();
    }
    result.info = QStringLiteral("%1 × %2 ピクセル  %3 ビット")
                      .arg(thumbnail.Width)
                      .arg(thumbnail.Height)
                      .arg(thumbnail.BitsPerPixel);
  } catch (const kavun::Error& e) {
    result.thumbnail = QImage();
    // The file is the one under the cursor: the sentence need not repeat its path.
    result.info =
        QStringLiteral("プレビューできません。\n") +
        QString::fromStdString(kavun::JapaneseErrorText(kavun::Error(e.Kind(), "", e.Detail())));
  } catch (const std::bad_alloc&) {
    result.thumbnail = QImage();
    result.info = QStringLiteral("メモリが足りないためプレビューできません。");
  }
  return result;
}

TPicturePreview::TPicturePreview(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("PicturePreview"));
  image_ = new QLabel(this);
  image_->setObjectName(QStringLiteral("PicturePreviewImage"));
  image_->setFixedSize(kPreviewSide + 4, kPreviewSide + 4);
  image_->setAlignment(Qt::AlignCenter);
  image_->setFrameShape(QFrame::StyledPanel);
  info_ = new QLabel(this);
  info_->setObjectName(QStringLiteral("PicturePreviewInfo"));
  info_->setWordWrap(true);
  info_->setFixedWidth(kPreviewSide + 4);
  info_->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 0, 0, 0);
  layout->addWidget(image_);
  layout->addWidget(info_);
  layout->addStretch(1);
  connect(&watcher_, &QFutureWatcher<TPreviewResult>::finished, this,
          &TPicturePreview::DecodeFinished);
}

// A decode still running is stopped and waited for: it ends within a row or a block of the file.
TPicturePreview::~TPicturePreview() {
  if (decodeWatch_) decodeWatch_->Cancel();
  watcher_.waitForFinished();
}

void TPicturePreview::ShowFile(const QString& path) {
  const QFileInfo info(path);
  // Only regular files are decoded: a folder, FIFO or device shows nothing.
  if (path.isEmpty() || !info.isFile()) {
    wanted_.clear();
    if (running_ && decodeWatch_) decodeWatch_->Cancel();
    Show({});
    return;
  }
  if (path == wanted_) return;  // being decoded or shown already
  wanted_ = path;
  // The decode of a file no longer chosen is stopped; the chosen one starts when it has ended.
  if (running_ && decodeWatch_) decodeWatch_->Cancel();
  if (!running_) StartDecode(path);
}

void TPicturePreview::StartDecode(const QString& path) {
  running_ = true;
  info_->setText(QStringLiteral("読み込み中…"));
  const QSize box(kPreviewSide, kPreviewSide);
  decodeWatch_ = std::make_shared<kavun::DecodeWatch>();
  watcher_.setFuture(QtConcurrent::run(
      [path, box, watch = decodeWatch_] { return MakePreview(path, box, watch.get()); }));
}

void TPicturePreview::DecodeFinished() {
  running_ = false;
  const bool stopped = decodeWatch_ && decodeWatch_->Cancelled();
  decodeWatch_.reset();
  const TPreviewResult result = watcher_.result();
  if (wanted_.isEmpty()) return;  // cleared meanwhile
  if (result.path != wanted_ || stopped) {
    StartDecode(wanted_);  // another file was chosen meanwhile: show that one instead
    return;
  }
  Show(result);
}

void TPicturePreview::Show(const TPreviewResult& result) {
  image_->setPixmap(result.thumbnail.isNull() ? QPixmap() : QPixmap::fromImage(result.thumbnail));
  info_->setText(result.info);
  emit Shown();
}

QString TPicturePreview::InfoText() const {
  return info_->text();
}

QImage TPicturePreview::Thumbnail() const {
  return image_->pixmap().toImage();
}

bool TPicturePreview::IsBusy() const {
  return running_;
}
