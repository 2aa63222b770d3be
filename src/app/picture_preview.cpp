#include "app/picture_preview.h"

#include <QFileInfo>
#include <QLabel>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <new>

#include "app/image_view.h"
#include "applogic/error_text.h"
#include "engine/error.h"
#include "imagefile/imagefile.h"

namespace {

constexpr int kPreviewSide = 200;

}  // namespace

TPreviewResult MakePreview(const QString& path, QSize box) {
  TPreviewResult result;
  result.path = path;
  try {
    const kavun::Bitmap bitmap = kavun::LoadImageFile(path.toStdString());
    const QImage shown = DisplayImageFor(bitmap);
    if (!shown.isNull()) {
      result.thumbnail = shown.width() > box.width() || shown.height() > box.height()
                             ? shown.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                             : shown.copy();
    }
    result.info = QStringLiteral("%1 × %2 ピクセル  %3 ビット")
                      .arg(bitmap.Width())
                      .arg(bitmap.Height())
                      .arg(kavun::BitsPerPixel(bitmap.Format()));
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

// A decode still running finishes on its own thread; its result is dropped with the watcher,
// and the application waits for the thread pool before it ends.
TPicturePreview::~TPicturePreview() = default;

void TPicturePreview::ShowFile(const QString& path) {
  const QFileInfo info(path);
  // Only regular files are decoded: a folder, FIFO or device shows nothing.
  if (path.isEmpty() || !info.isFile()) {
    wanted_.clear();
    Show({});
    return;
  }
  if (path == wanted_) return;  // being decoded or shown already
  wanted_ = path;
  if (!running_) StartDecode(path);
}

void TPicturePreview::StartDecode(const QString& path) {
  running_ = true;
  info_->setText(QStringLiteral("読み込み中…"));
  const QSize box(kPreviewSide, kPreviewSide);
  watcher_.setFuture(QtConcurrent::run([path, box] { return MakePreview(path, box); }));
}

void TPicturePreview::DecodeFinished() {
  running_ = false;
  const TPreviewResult result = watcher_.result();
  if (wanted_.isEmpty()) return;  // cleared meanwhile
  if (result.path != wanted_) {
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
