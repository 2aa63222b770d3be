#include "app_test_support.h"

#include <QFile>

#include "imagefile/imagefile.h"

kavun::Bitmap MakePatternBitmap(int width, int height) {
  kavun::Bitmap bitmap(width, height, kavun::PixelFormat::Bits24);
  for (int y = 0; y < height; ++y) {
    auto row = bitmap.ScanLine(y);
    for (int x = 0; x < width; ++x) {
      row[3 * x] = static_cast<uint8_t>(x * 7 + y * 3);
      row[3 * x + 1] = static_cast<uint8_t>(x * 13 + y * 29 + 5);
      row[3 * x + 2] = static_cast<uint8_t>(x * y + 11);
    }
  }
  return bitmap;
}

void MainFormTest::SetUp() {
  ASSERT_TRUE(dir_.isValid());
  RecreateForm();
}

void MainFormTest::TearDown() {
  form_.reset();
}

void MainFormTest::RecreateForm(const std::optional<QByteArray>& settingsText) {
  form_.reset();
  const QString settings = dir_.filePath(QStringLiteral("kavun.ini"));
  if (settingsText) {
    QFile file(settings);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(*settingsText);
  }
  TMainFormOptions options;
  options.Dialogs = &dialogs_;
  options.SettingsPath = settings;
  form_ = std::make_unique<TMainForm>(options);
}

QString MainFormTest::WritePicture(const QString& name, int width, int height) {
  const QString path = dir_.filePath(name);
  const QString ext = QString::fromStdString(kavun::FileExtension(path.toStdString()));
  kavun::SaveImageFile(path.toStdString(), ext.toStdString(), MakePatternBitmap(width, height));
  return path;
}
