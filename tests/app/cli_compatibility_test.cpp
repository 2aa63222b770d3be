// The window and kavun-cli restore each other's pictures: both drive the same engine with the
// same parameters.
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include "app/image_view.h"
#include "app/selection_widgets.h"
#include "app_test_support.h"
#include "engine/beep.h"
#include "engine/bitshift.h"
#include "engine/mosaic.h"
#include "engine/xor.h"
#include "imagefile/imagefile.h"

#ifdef KAVUN_CLI
namespace {

// Runs kavun-cli with `args`; true when it exits with status 0.
bool RunCli(const QStringList& args) {
  QProcess cli;
  cli.start(QStringLiteral(KAVUN_CLI), args);
  if (!cli.waitForFinished(30000)) return false;
  if (cli.exitStatus() != QProcess::NormalExit || cli.exitCode() != 0) {
    ADD_FAILURE() << "kavun-cli " << args.join(u' ').toStdString() << ": "
                  << cli.readAllStandardError().toStdString();
    return false;
  }
  return true;
}

QString RectArg(const kavun::TRect& r) {
  return QStringLiteral("%1,%2,%3,%4").arg(r.Left).arg(r.Top).arg(r.Right).arg(r.Bottom);
}

struct CliCase {
  const char* name;
  const char* method;    // the panel's method radio button
  QStringList scramble;  // the kavun-cli command and options that scramble
  QStringList restore;   // ... and those that restore
  std::function<void(TMainForm&, bool inverse)> choose;  // the same in the panel
};

class CliCompatibilityTest : public SelectionPanelTest,
                             public testing::WithParamInterface<CliCase> {};

// A picture scrambled in the window is restored by kavun-cli, and one scrambled by kavun-cli is
// restored in the window: both drive the same engine with the same parameters.
TEST_P(CliCompatibilityTest, EachSideRestoresTheOther) {
  const CliCase& c = GetParam();
  Open(70, 50, 3);
  const kavun::Bitmap original = form_->Global().WorkBitmap;
  Drag(QPoint(7, 10), QPoint(190, 140));
  const kavun::TRect rect = ImageRect();
  ASSERT_FALSE(rect.IsEmpty());
  const QString password = TempPath(QStringLiteral("password.txt"));
  {
    QFile f(password);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QStringLiteral("ひみつ").toUtf8());
  }
  auto cliArgs = [&](const QStringList& base, const QString& in, const QString& out) {
    QStringList args = {base.front(), in, out, QStringLiteral("--rect"), RectArg(rect)};
    args += base.mid(1);
    if (base.front() == QStringLiteral("xor"))
      args += {QStringLiteral("--password-file"), password};
    return args;
  };

  // Window scrambles, kavun-cli restores.
  auto* method = form_->findChild<QRadioButton*>(QString::fromLatin1(c.method));
  ASSERT_NE(method, nullptr);
  QTest::mouseClick(method, Qt::LeftButton);
  c.choose(*form_, false);
  QTest::mouseClick(form_->ExecuteButton, Qt::LeftButton);
  ASSERT_FALSE(SamePixels(form_->Global().WorkBitmap, original));
  const QString byWindow = TempPath(QStringLiteral("by-window.png"));
  dialogs_.saveName = byWindow;
  dialogs_.saveFilterIndex = 1;
  form_->MainMenu_F_SaveAs->trigger();
  const QString restoredByCli = TempPath(QStringLiteral("restored-by-cli.png"));
  ASSERT_TRUE(RunCli(cliArgs(c.restore, byWindow, restoredByCli)));
  EXPECT_TRUE(SamePixels(kavun::LoadImageFile(restoredByCli.toStdString()), original));

  // kavun-cli scrambles, the window restores.
  const QString byCli = TempPath(QStringLiteral("by-cli.png"));
  ASSERT_TRUE(RunCli(cliArgs(c.scramble, path_, byCli)));
  form_->LoadPicture(byCli);
  form_->Global().SetRatio(3);
  Drag(QPoint(7, 10), QPoint(190, 140));
  ASSERT_EQ(ImageRect(), rect);
  c.choose(*form_, true);
  QTest::mouseClick(form_->ExecuteButton, Qt::LeftButton);
  EXPECT_TRUE(SamePixels(form_->Global().WorkBitmap, original));
  EXPECT_TRUE(dialogs_.errors.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Transforms, CliCompatibilityTest,
    testing::Values(CliCase{"Mosaic",
                            "RadioButton_ProcSelRM",
                            {"mosaic", "--block", "5x3", "--keys", "7,11"},
                            {"mosaic", "--block", "5x3", "--keys", "7,11", "--decode"},
                            [](TMainForm& f, bool inverse) {
                              f.Edit_ProcRevMosBlockW->setText(QStringLiteral("5"));
                              f.Edit_ProcRevMosBlockH->setText(QStringLiteral("3"));
                              f.Edit_ProcRevMosKey1->setText(QStringLiteral("7"));
                              f.Edit_ProcRevMosKey2->setText(QStringLiteral("11"));
                              (inverse ? f.RadioButton_ProcRevMosDecode
                                       : f.RadioButton_ProcRevMosEncode)
                                  ->setChecked(true);
                            }},
                    CliCase{"Shift",
                            "RadioButton_ProcSelBS",
                            {"shift", "--bits", "-9"},
                            {"shift", "--bits", "9"},
                            [](TMainForm& f, bool inverse) {
                              f.Edit_ProcBitShiftLen->setText(QStringLiteral("9"));
                              (inverse ? f.RadioButton_ProcBitShiftR : f.RadioButton_ProcBitShiftL)
                                  ->setChecked(true);
                            }},
                    CliCase{"XorMTwister",
                            "RadioButton_ProcSelXOR",
                            {"xor", "--mode", "mt"},
                            {"xor", "--mode", "mt"},
                            [](TMainForm& f, bool) {
                              f.RadioButton_ProcXorFuncMT->setChecked(true);
                              f.Edit_ProcXorKey->setText(QStringLiteral("ひみつ"));
                            }},
                    CliCase{"XorMd5Ofb",
                            "RadioButton_ProcSelXOR",
                            {"xor", "--mode", "md5ofb"},
                            {"xor", "--mode", "md5ofb"},
                            [](TMainForm& f, bool) {
                              f.RadioButton_ProcXorFuncMD5OFB->setChecked(true);
                              f.Edit_ProcXorKey->setText(QStringLiteral("ひみつ"));
                            }}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
#endif
