#include "app/about_form.h"

#include <QApplication>
#include <QEnterEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include <vector>

namespace {

class TRecordingOpener : public IUrlOpener {
 public:
  bool OpenUrl(const QString& target) override {
    targets.push_back(target);
    return succeed;
  }
  bool succeed = true;
  std::vector<QString> targets;
};

class TRecordingMessages : public IAboutMessages {
 public:
  void ShowMessage(const QString& text, const QString& caption) override {
    shown.push_back({text, caption});
  }
  std::vector<std::pair<QString, QString>> shown;
};

class AboutFormTest : public ::testing::Test {
 protected:
  TRecordingOpener opener;
  TRecordingMessages messages;
  TAboutForm form{nullptr, &opener, &messages};
};

QColor TextColor(const QLabel* label) {
  return label->palette().color(QPalette::WindowText);
}

TEST_F(AboutFormTest, ShowsVersionAndReleaseDate) {
  EXPECT_EQ(form.VersionLabel->text(), QStringLiteral("ver 0.21"));
  EXPECT_EQ(form.ReleaseDateLabel->text(), QStringLiteral("2006/9/23"));
  EXPECT_EQ(form.ReleaseLabel->text(), QStringLiteral("Release"));
  EXPECT_EQ(form.NameLabel->text(), QStringLiteral("Kavun"));
  EXPECT_EQ(form.AuthorCaption->text(), QStringLiteral("Author"));
  EXPECT_EQ(form.WebSiteCaption->text(), QStringLiteral("WebSite"));
  EXPECT_EQ(form.MailCaption->text(), QStringLiteral("MailAddress"));
  EXPECT_EQ(form.CloseButton->text(), QStringLiteral("Close"));
  EXPECT_TRUE(form.CloseButton->isFlat());
  EXPECT_EQ(form.size(), QSize(226, 122));
  EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_FALSE(form.isVisible());  // created hidden
  EXPECT_EQ(form.IconImage->pixmap().size(), QSize(32, 32));
  EXPECT_EQ(form.URLLabel->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(form.MailLabel->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(AboutFormTest, LinksTurnRedUnderThePointer) {
  const QColor normal = QApplication::palette().color(QPalette::WindowText);
  for (QLabel* link : {form.URLLabel, form.MailLabel}) {
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
    QApplication::sendEvent(link, &enter);
    EXPECT_EQ(TextColor(link), QColor(255, 48, 48)) << link->objectName().toStdString();
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(link, &leave);
    EXPECT_EQ(TextColor(link), normal) << link->objectName().toStdString();
  }
}

TEST_F(AboutFormTest, ClicksOpenTheAddresses) {
  form.show();
  QTest::mouseClick(form.URLLabel, Qt::LeftButton);
  QTest::mouseClick(form.MailLabel, Qt::LeftButton);
  QTest::mouseClick(form.MailLabel, Qt::RightButton);  // not a click
  ASSERT_EQ(opener.targets.size(), 2u);
  EXPECT_EQ(opener.targets[0], QStringLiteral("https://kavun.example.org/?from=about"));
  EXPECT_EQ(opener.targets[1], QStringLiteral("mailto:kavun@example.org"));
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(AboutFormTest, FailureShowsTheMessage) {
  opener.succeed = false;
  form.URLLabelClick();
  form.MailLabelClick();
  ASSERT_EQ(messages.shown.size(), 2u);
  EXPECT_EQ(messages.shown[0].first, QStringLiteral("URLを開けませんでした"));
  EXPECT_EQ(messages.shown[0].second, QStringLiteral("エラー"));
  EXPECT_EQ(messages.shown[1].first, QStringLiteral("mailtoを開けませんでした"));
  EXPECT_EQ(messages.shown[1].second, QStringLiteral("エラー"));
}

TEST_F(AboutFormTest, CloseHidesFiresCallbackAndShowingAgainCentres) {
  int callbacks = 0;
  int signalCount = 0;
  form.SetOnClose([&] { ++callbacks; });
  QObject::connect(&form, &TAboutForm::closed, [&] { ++signalCount; });

  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  const QPoint centred(screen.x() + (screen.width() - 226) / 2,
                       screen.y() + (screen.height() - 122) / 2);
  form.show();
  EXPECT_EQ(form.pos(), centred);

  QTest::mouseClick(form.CloseButton, Qt::LeftButton);
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(callbacks, 1);
  EXPECT_EQ(signalCount, 1);

  form.move(3, 4);
  form.show();
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.pos(), centred);
  form.CloseButtonClick();
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(callbacks, 2);
}

TEST(KavunIcon, DrawsAtAnySize) {
  for (int size : {16, 32, 48}) {
    const QImage image = KavunIconPixmap(size).toImage();
    EXPECT_EQ(image.size(), QSize(size, size));
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);                  // rounded corner stays clear
    EXPECT_EQ(qAlpha(image.pixel(size / 2, size / 2)), 255);  // the mosaic is opaque
  }
}

}  // namespace
