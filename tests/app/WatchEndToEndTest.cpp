// The PBX simulator behind a link name, the main window on that link: the
// simulator goes away and comes back as a new pty under the same name, and a
// line it keeps quiet trips the silence watchdog.
#include "app/TerminalMemo.h"
#include "core/SilenceWatch.h"
#include "serial/SerialNG.h"
#include "tests/app/FormFixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

class WatchEndToEnd : public FormFixture {
protected:
    void TearDown() override
    {
        form_.reset();
        for (QProcess* sim : {&sim_, &next_}) {
            sim->terminate();
            sim->waitForFinished(10000);
        }
        FormFixture::TearDown();
    }

    bool StartSimulator(QProcess& sim, const QStringList& args)
    {
        sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        sim.start(QStringLiteral(PBXSIM_PATH), QStringList{"--link", Link()} + args);
        return sim.waitForStarted() && sim.waitForReadyRead(10000);
    }
    QString Link() const { return dir_.filePath(QStringLiteral("pbx")); }
    TForm1& CreateOnLink()
    {
        WriteFile("Setings.ini", std::string(30, '\0'));  // port 0: the link
        TForm1Options options;
        options.ExtraPorts = {Link().toStdString()};
        options.PortRetryMs = 200;
        options.Beep = [] {};
        return Create(options);
    }
    int Count(const char* text) const
    {
        const std::string shown = Memo()->Text();
        int n = 0;
        for (size_t at = shown.find(text); at != std::string::npos; at = shown.find(text, at + 1))
            ++n;
        return n;
    }
    std::string Log() const { return ReadFile(QStringLiteral("archive/2026/12/07-12-26.LOG")); }

    QProcess sim_, next_;
};

TEST_F(WatchEndToEnd, TheTerminalReopensByItselfWhenThePbxComesBackUnderTheSameName)
{
    ASSERT_TRUE(StartSimulator(sim_, {"--period", "200"}));
    CreateOnLink();
    ASSERT_TRUE(Port().Active());
    ASSERT_TRUE(WaitFor([&] { return Count("CDR") + Count("ALM") >= 2; })) << Memo()->Text();

    sim_.terminate();
    ASSERT_TRUE(sim_.waitForFinished(10000));
    ASSERT_TRUE(WaitFor([&] { return Status(7).startsWith("Port lost "); })) << Status(7).toStdString();
    EXPECT_NE(Log().find("\tport-lost\t" + Link().toStdString() + " "), std::string::npos) << Log();

    ASSERT_TRUE(StartSimulator(next_, {"--period", "0"}));
    ASSERT_TRUE(WaitFor([&] { return Log().find("\tport-back\t") != std::string::npos; })) << Log();
    EXPECT_TRUE(Status(7).isEmpty());
    TypeInDisplay("ver\r");
    EXPECT_TRUE(WaitFor([&] { return Count("MORVEL MX-2000 MAINTENANCE PORT") == 1; })) << Memo()->Text();
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join('|').toStdString();
}

TEST_F(WatchEndToEnd, ASilencedLineTripsTheWatchdog)
{
    WriteFile("Extras.ini", "[watch]\nquiet_minutes=1\n");
    ASSERT_TRUE(StartSimulator(sim_, {"--period", "200"}));
    CreateOnLink();
    auto* silence = form_->findChild<TSilenceWatch*>();
    ASSERT_NE(silence, nullptr);
    ASSERT_TRUE(WaitFor([&] { return Count("CDR") + Count("ALM") >= 2; }));

    // While the PBX talks, a minute on the clock is no silence.
    now_ = now_.addSecs(120);
    ASSERT_TRUE(WaitFor([&] { return silence->LastHeard() == now_; }));
    silence->Check();
    EXPECT_FALSE(silence->Silent());

    TypeInDisplay("silent\r");
    ASSERT_TRUE(WaitFor([&] { return Count("PERIODIC OUTPUT STOPPED") == 1; }));
    QElapsedTimer quiet;  // what the simulator had under way has arrived
    quiet.start();
    while (quiet.elapsed() < 1000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    now_ = now_.addSecs(61);
    silence->Check();
    EXPECT_EQ(Status(7), "Silent since 10:02");
    EXPECT_NE(Log().find("10:03:01.000\tsilence\t1\n"), std::string::npos) << Log();

    TypeInDisplay("resume\r");
    ASSERT_TRUE(WaitFor([&] { return Status(7).isEmpty(); }));
    EXPECT_NE(Log().find("\tsilence-end\t\n"), std::string::npos);
}
