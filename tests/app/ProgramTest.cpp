// The real program, started as the operator would start it.
#include "core/InstanceCheck.h"
#include "tests/app/PtyPort.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>
#include <unistd.h>

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

void Start(QProcess& process, const QString& dir, QStringList args = {})
{
    process.setWorkingDirectory(dir);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(env);
    if (args.isEmpty())
        args = QStringList{"--port", dir + "/no-such-port"};
    process.start(QStringLiteral(MORVEL_PBX_PATH), args);
}

// Runs the program to its end: exit status and what it printed.
struct Finished {
    int status = -1;
    QString out, err;
};
Finished RunToEnd(const QStringList& args)
{
    QTemporaryDir dir;
    QProcess process;
    Start(process, dir.path(), args);
    Finished run;
    if (!process.waitForFinished(30000))
        return run;
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

bool HasCaptureFile(const QString& dir)
{
    return !QDir(dir + "/archive").entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty();
}

}  // namespace

TEST(Program, ASecondInstanceEndsAtOnceAndTheFirstSavesAtTheEndOfTheSession)
{
    if (CountProcessesNamed("morvel-pbx", ::getuid()) > 0)
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
    const QString said = QString::fromLocal8Bit(two.readAllStandardError());
    EXPECT_TRUE(said.contains("a copy is already running")) << said.toStdString();
    EXPECT_TRUE(said.contains("asked to come to the front")) << said.toStdString();
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

TEST(Program, VersionHelpAndBadOptions)
{
    const Finished version = RunToEnd({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(version.out.startsWith("morvel-pbx ")) << version.out.toStdString();
    const Finished help = RunToEnd({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.contains("--speed")) << help.out.toStdString();
    for (const QStringList& bad : {QStringList{"--speed", "57600"}, QStringList{"--no-such-option"}}) {
        const Finished run = RunToEnd(bad);
        EXPECT_EQ(run.status, 2) << bad.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains("morvel-pbx: ")) << run.err.toStdString();
    }
}

TEST(Program, AFreshDataFolderStartedWithAPortOpensItAtOnce)
{
    if (CountProcessesNamed("morvel-pbx", ::getuid()) > 0)
        GTEST_SKIP() << "morvel-pbx is already running on this machine";
    PtyPort pbx;
    QTemporaryDir folder;
    QProcess terminal;
    Start(terminal, folder.path(), {"--port", QString::fromStdString(pbx.SlavePath()), "--speed", "19200"});
    ASSERT_TRUE(terminal.waitForStarted());
    // The PBX's line reaches the capture file: the port is open, with no settings file.
    const QString capture = folder.path() + "/archive/" + QDate::currentDate().toString("yyyy/MM/dd-MM-yy") + ".CAP";
    ASSERT_TRUE(WaitFor([&] {
        pbx.Write("HELLO\r\n");
        QFile file(capture);
        return file.open(QIODevice::ReadOnly) && file.readAll().contains("HELLO\r\n");
    }));
    EXPECT_EQ(pbx.Speed(), 19200u);
    EXPECT_FALSE(QFile::exists(folder.path() + "/Setings.ini"));
    terminal.terminate();
    EXPECT_TRUE(terminal.waitForFinished(30000));
}

TEST(Program, ArchiveSearchAndExportRunWithoutADisplayBesideARunningCopy)
{
    if (CountProcessesNamed("morvel-pbx", ::getuid()) > 0)
        GTEST_SKIP() << "morvel-pbx is already running on this machine";
    QTemporaryDir running, data;
    QProcess one;
    Start(one, running.path());
    ASSERT_TRUE(one.waitForStarted());
    ASSERT_TRUE(WaitFor([&] { return HasCaptureFile(running.path()); })) << "the first copy did not start";

    ASSERT_TRUE(QDir(data.path()).mkpath("archive/2026/12"));
    QFile capture(data.path() + "/archive/2026/12/07-12-26.CAP");
    ASSERT_TRUE(capture.open(QIODevice::WriteOnly));
    capture.write("TRUNK 7 DOWN\r\nTRUNK 7 UP\r\n");
    capture.close();
    const auto run = [&](const QStringList& args) {
        QProcess process;
        process.setWorkingDirectory(data.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(name);
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(MORVEL_PBX_PATH), QStringList{"--data-folder", data.path()} + args);
        Finished result;
        if (process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit)
            result.status = process.exitCode();
        result.out = QString::fromUtf8(process.readAllStandardOutput());
        result.err = QString::fromLocal8Bit(process.readAllStandardError());
        return result;
    };
    const Finished found = run({"--search", "down"});
    EXPECT_EQ(found.status, 0) << found.err.toStdString();
    EXPECT_EQ(found.out, "2026-12-07\t\tTRUNK 7 DOWN\n");
    EXPECT_EQ(run({"--search", "down", "--match-case"}).status, 1);
    EXPECT_EQ(run({"--search", "[", "--regex"}).status, 2);

    const Finished exported = run({"--export", "2026-12-07 00:00", "2026-12-07 23:59", "out.cap"});
    EXPECT_EQ(exported.status, 0) << exported.err.toStdString();
    QFile out(data.path() + "/out.cap");
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    EXPECT_EQ(out.readAll(), "TRUNK 7 DOWN\r\nTRUNK 7 UP\r\n");
    EXPECT_EQ(one.state(), QProcess::Running);

    ::kill(pid_t(one.processId()), SIGTERM);
    ASSERT_TRUE(one.waitForFinished(30000));
}
