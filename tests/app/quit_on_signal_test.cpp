// The program ends in order on a termination signal.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

#include "app_test_support.h"

#ifdef KAVUN_GUI
namespace {

// The program ends in order when the session asks it to: the signal does not kill it, it ends
// as after "終了", with status 0 and its settings written. The program runs from a copy in a
// temporary folder, where it keeps its settings file.
TEST(ProgramEnd, TerminationSignalsEndTheProgramAsExitWould) {
  for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(sig);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString program = dir.filePath(QStringLiteral("kavun"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(KAVUN_GUI), program));
    const QString ini = dir.filePath(QStringLiteral("kavun.ini"));
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.start(program, {});
    ASSERT_TRUE(process.waitForStarted());
    // The settings file is created at start, once the window exists.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(ini), 20000);
    ::kill(static_cast<pid_t>(process.processId()), sig);
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_TRUE(ReadAll(ini).startsWith("[Setup]\r\n")) << ReadAll(ini).toStdString();
  }
}

}  // namespace
#endif
