// The real program, started as the operator would start it.
#include "core/InstanceCheck.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

namespace {

bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 30000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(20);
    }
    return true;
}

void Start(QProcess& process, const QString& dir)
{
    process.setWorkingDirectory(dir);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral(MORVEL_PBX_PATH), {"--port", dir + "/no-such-port"});
}

bool HasCaptureFile(const QString& dir)
{
    return !QDir(dir + "/archive").entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty();
}

}  // namespace

TEST(Program, ASecondInstanceEndsAtOnceAndTheFirstSavesAtTheEndOfTheSession)
{
    if (CountProcessesNamed("morvel-pbx") > 0)
        GTEST_SKIP() << "morvel-pbx is already running on this machine";
    QTemporaryDir first, second;
    QProcess one;
    Start(one, first.path());
    ASSERT_TRUE(one.waitForStarted());
    ASSERT_TRUE(WaitFor([&] { return HasCaptureFile(first.path()); })) << "the first instance did not start";

    QProcess two;
    Start(two, second.path());
    ASSERT_TRUE(two.waitForFinished(30000));
    EXPECT_EQ(two.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(two.exitCode(), 0);
    EXPECT_TRUE(QDir(second.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
    EXPECT_EQ(one.state(), QProcess::Running);

    // The end of the session: port and capture closed, the words saved, no question asked.
    ::kill(pid_t(one.processId()), SIGTERM);
    ASSERT_TRUE(one.waitForFinished(30000));
    EXPECT_EQ(one.exitStatus(), QProcess::NormalExit);
    QFile settings(first.path() + "/Setings.ini");
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
    EXPECT_EQ(settings.readAll(), QByteArray(30, '\0'));
}
