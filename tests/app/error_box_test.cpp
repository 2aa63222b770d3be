// The texts of the error box: its title, the period after a message and the line breaks of
// long paths.
#include <QString>

#include <gtest/gtest.h>

#include <utility>

#include "app/error_box.h"

namespace {

TEST(ErrorBoxTest, AppendsAPeriodAfterCharactersAboveIt) {
  const std::pair<const char*, const char*> rows[] = {{"Cannot open file", "Cannot open file."},
                                                      {"Done.", "Done."},
                                                      {"Why?", "Why?."},   // '?' is above '.'
                                                      {"Oops!", "Oops!"},  // '!' is below '.'
                                                      {"a-", "a-"},
                                                      {"x/", "x/."},
                                                      {"画像を読めません", "画像を読めません."},
                                                      {"", ""}};
  for (const auto& [in, out] : rows) {
    EXPECT_EQ(ErrorBoxText(QString::fromUtf8(in)), QString::fromUtf8(out)) << in;
  }
}

TEST(ErrorBoxTest, TitleIsTheExecutableNameUpToItsFirstDot) {
  EXPECT_EQ(ApplicationTitleFor(QStringLiteral("/usr/bin/kavun")), QStringLiteral("kavun"));
  EXPECT_EQ(ApplicationTitleFor(QStringLiteral("C:/x/KAVUN.EXE")), QStringLiteral("Kavun"));
  EXPECT_EQ(ApplicationTitleFor(QStringLiteral("/a.b/My.tool.bin")), QStringLiteral("My"));
  EXPECT_EQ(ApplicationTitleFor(QStringLiteral("kAvUn")), QStringLiteral("kavun"));
}

TEST(MessageTextTest, LongPathsGetPlacesToBreakAndNothingElseChanges) {
  const QString path =
      QStringLiteral("/home/user/") + QString(130, u'a') + QStringLiteral("/写真.png");
  const QString text = u'"' + path + QStringLiteral("\" を読み込めませんでした。");
  const QString shown = WithLineBreakOpportunities(text);
  QString back = shown;
  back.remove(QChar(0x200B));
  EXPECT_EQ(back, text);
  int run = 0;
  for (const QChar c : shown) {
    run = c == QChar(0x200B) || c.isSpace() || c.unicode() >= 0x2E80 ? 0 : run + 1;
    ASSERT_LE(run, 40);
  }
  // Words and Japanese text are left as they are.
  for (const QString& plain : {QStringLiteral("ファイルを確かめてください。"),
                               QStringLiteral("2026-12-08_summer_holiday_photo_0001.png")}) {
    EXPECT_EQ(WithLineBreakOpportunities(plain), plain);
  }
}

}  // namespace
