// The operator's watch in the window: the event log of a session, a port that
// comes back by itself on a pty, the silence watchdog and the remote session
// in the status bar. The units' own rules are tested in tests/core.
#include "app/StringGrid.h"
#include "app/TerminalMemo.h"
#include "core/SentLines.h"
#include "core/SilenceWatch.h"
#include "serial/SerialNG.h"
#include "support/MyCript.h"
#include "support/TrayIconShell.h"
#include "tests/app/FormFixture.h"
#include "tests/app/NoteShell.h"
#include "tests/app/PtyPort.h"
#include "tests/net/FreePort.h"
#include "tests/net/LoopbackHost.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <functional>

class Watch : public FormFixture {
protected:
    void TearDown() override
    {
        form_.reset();
        pbx_.reset();
        FormFixture::TearDown();
    }

    // The window on a pty reached through a link of its own name, as a
    // device node that comes and goes.
    TForm1& CreateOnLink(TForm1Options options = {})
    {
        pbx_ = std::make_unique<PtyPort>();
        link_ = dir_.filePath(QStringLiteral("pbx-link")).toStdString();
        Relink();
        WriteFile("Setings.ini", std::string(30, '\0'));  // port 0: the link
        options.ExtraPorts = {link_};
        options.PortRetryMs = 100;
        options.Beep = [this] { ++beeps_; };
        options.TrayShell = [this] { return std::make_unique<NoteShell>(notes_); };
        return Create(std::move(options));
    }
    void Relink()
    {
        QFile::remove(QString::fromStdString(link_));
        ASSERT_TRUE(QFile::link(QString::fromStdString(pbx_->SlavePath()), QString::fromStdString(link_)));
    }
    // The device hangs up and its name goes, as a USB adapter pulled out: a
    // pty another program opens next may get the old number.
    void Unplug()
    {
        pbx_.reset();
        QFile::remove(QString::fromStdString(link_));
    }
    QString Log() const { return QString::fromUtf8(ReadFile(QStringLiteral("archive/2026/12/07-12-26.LOG"))); }
    bool Logged(const QString& line) const { return Log().contains(line); }
    void Type(const QString& text)
    {
        for (const QChar c : text) {
            const int key = c == '\r' ? int(Qt::Key_Return) : int(c.toUpper().unicode());
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, c == '\r' ? QString() : QString(c));
            QApplication::sendEvent(Memo(), &press);
        }
    }

    std::unique_ptr<PtyPort> pbx_;
    std::string link_;
    int beeps_ = 0;
    std::vector<std::string> notes_;
};

TEST_F(Watch, AnOperatorsSessionIsLoggedLineByLine)
{
    CreateOnLink();
    ASSERT_TRUE(Port().Active());
    EXPECT_TRUE(Logged(QStringLiteral("10:00:00.000\tprogram-start\t" MORVEL_TEST_VERSION "\n")));
    EXPECT_TRUE(Logged(QString::fromStdString("\tport-open\t" + link_ + " 1200\n")));

    Type(QStringLiteral("DIS 1\r"));
    EXPECT_EQ(pbx_->Read(6), "DIS 1\r");
    EXPECT_TRUE(Logged(QStringLiteral("\tsent\tkey DIS 1\n")));
    Type(QStringLiteral("ST"));
    EXPECT_FALSE(Logged(QStringLiteral("\tsent\tkey ST"))) << "the line is still being typed";
    now_ = now_.addSecs(2);
    for (TSentLines* lines : form_->findChildren<TSentLines*>())
        lines->Check();
    EXPECT_TRUE(Logged(QStringLiteral("10:00:02.000\tsent\tkey ST\n"))) << "two seconds without a key end it";

    Type(QStringLiteral("AB"));
    QApplication::clipboard()->setText(QStringLiteral("L1\nL2"));
    Action("PastefromClipboard1")->trigger();
    EXPECT_EQ(pbx_->Read(10), "STABL1\r\nL2");
    EXPECT_TRUE(Logged(QStringLiteral("\tsent\tkey AB\n10:00:02.000\tsent\tpaste L1\\x0D\\x0AL2\n")))
        << "the typed line comes first, the paste is one event";
    QKeyEvent alt(QEvent::KeyPress, Qt::Key_B, Qt::AltModifier, QStringLiteral("b"));
    QApplication::sendEvent(Memo(), &alt);
    EXPECT_TRUE(Logged(QStringLiteral("\tsent\tbreak\n")));

    Grid()->SetCells(2, 3, QStringLiteral("STA 9"));
    Grid()->SetCells(3, 3, QStringLiteral("^M"));
    Button("meta3")->click();
    EXPECT_TRUE(Logged(QStringLiteral("\tsent\tmeta:1:3 STA 9\\x0D\n")));

    OpenSettings();
    Button("Button3")->click();
    EXPECT_TRUE(Logged(QStringLiteral("\tsettings-saved\t\n")));
    ASSERT_TRUE(form_->close());
    const QString log = Log();
    EXPECT_TRUE(log.endsWith(QString::fromStdString("\tport-closed\t" + link_ + "\n10:00:02.000\tprogram-end\t\n")))
        << log.toStdString();
    EXPECT_TRUE(errors_.isEmpty());
}

TEST_F(Watch, AFailedPortIsReopenedByItselfAndTheNextLinesArrive)
{
    CreateOnLink();
    ASSERT_TRUE(Port().Active());
    pbx_->Write("before\r\n");
    ASSERT_TRUE(WaitFor([&] { return Memo()->Text().find("before") != std::string::npos; }));

    now_ = QDateTime(QDate(2026, 12, 7), QTime(10, 20, 30));
    Unplug();
    ASSERT_TRUE(WaitFor([&] { return Status(7) == "Port lost 10:20:30, retrying"; })) << Status(7).toStdString();
    ASSERT_EQ(notes_.size(), 1u);
    EXPECT_EQ(notes_[0].rfind("Port lost: " + link_, 0), 0u) << notes_[0];
    EXPECT_TRUE(Logged(QString::fromStdString("10:20:30.000\tport-lost\t" + link_ + " ")));

    // Retries go on quietly: no error box, the panel keeps its text.
    QTest::qWait(500);
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join('|').toStdString();
    EXPECT_EQ(Status(7), "Port lost 10:20:30, retrying");

    // A key meanwhile is not sent silently into nothing.
    Type(QStringLiteral("x"));
    EXPECT_EQ(beeps_, 1);
    EXPECT_TRUE(WaitFor([&] { return Status(7).isEmpty(); }, 5000)) << "the lost state flashes";
    EXPECT_TRUE(WaitFor([&] { return Status(7) == "Port lost 10:20:30, retrying"; }, 5000));

    now_ = now_.addSecs(5);
    pbx_ = std::make_unique<PtyPort>();
    Relink();
    ASSERT_TRUE(WaitFor([&] { return Logged(QStringLiteral("10:20:35.000\tport-back\t")); }));
    EXPECT_TRUE(Status(7).isEmpty());
    EXPECT_TRUE(Port().Active());
    pbx_->Write("after\r\n");
    ASSERT_TRUE(WaitFor([&] { return Memo()->Text().find("after") != std::string::npos; }));
    Type(QStringLiteral("y"));
    EXPECT_EQ(pbx_->Read(1), "y") << "the same port, the same settings";
    EXPECT_EQ(Port().BaudRate(), 1200u);
    EXPECT_EQ(beeps_, 1);
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join('|').toStdString();
}

TEST_F(Watch, ChoosingAPortStopsTheRetries)
{
    CreateOnLink();
    Unplug();
    ASSERT_TRUE(WaitFor([&] { return Status(7).startsWith("Port lost"); }));
    OpenSettings();
    QComboBox* ports = Combo("ComboBox2");
    ports->setCurrentIndex(-1);
    ports->setEditText(QString());
    emit ports->activated(-1);
    EXPECT_TRUE(Status(7).isEmpty());
    EXPECT_TRUE(Logged(QString::fromStdString("\tport-closed\t" + link_ + "\n")));
    pbx_ = std::make_unique<PtyPort>();
    Relink();
    QTest::qWait(500);
    EXPECT_FALSE(Port().Active()) << "nothing reopens after the operator's choice";
    EXPECT_FALSE(Logged(QStringLiteral("port-back")));
}

TEST_F(Watch, ASilentLineTripsTheWatchdogAndTheNextByteEndsIt)
{
    WriteFile("Extras.ini", "[watch]\nquiet_minutes=1\n");
    CreateOnLink();
    EXPECT_EQ(Find<QSpinBox>("SpinQuiet")->value(), 1);
    auto* silence = form_->findChild<TSilenceWatch*>();
    ASSERT_NE(silence, nullptr);
    pbx_->Write("line\r\n");
    ASSERT_TRUE(WaitFor([&] { return Memo()->Text().find("line") != std::string::npos; }));

    now_ = now_.addSecs(59);
    silence->Check();
    EXPECT_TRUE(Status(7).isEmpty());
    now_ = now_.addSecs(1);
    silence->Check();
    EXPECT_EQ(Status(7), "Silent since 10:00");
    ASSERT_EQ(notes_.size(), 1u);
    EXPECT_EQ(notes_[0], "Line silent: Silent since 10:00 on " + link_);
    EXPECT_TRUE(Logged(QStringLiteral("10:01:00.000\tsilence\t1\n")));

    now_ = now_.addSecs(30);
    pbx_->Write("x");
    ASSERT_TRUE(WaitFor([&] { return Status(7).isEmpty(); }));
    EXPECT_TRUE(Logged(QStringLiteral("10:01:30.000\tsilence-end\t\n")));
    EXPECT_EQ(notes_.size(), 1u);
}

TEST_F(Watch, QuietMinutesAreSavedAndADamagedFileMeansOff)
{
    WriteFile("Extras.ini", "[watch]\nquiet_minutes=banana\n");
    Create();
    QSpinBox* quiet = Find<QSpinBox>("SpinQuiet");
    EXPECT_EQ(quiet->value(), 0);
    const QLabel* label = Find<QLabel>("LabelQuiet");
    EXPECT_EQ(label->text(), "Quiet minutes");
    EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width()) << "the caption is whole";
    EXPECT_LE(quiet->minimumSizeHint().width(), quiet->width()) << "four digits fit";
    const QPushButton* network = Button("Bra");
    EXPECT_LE(network->fontMetrics().horizontalAdvance(network->text()) + 8, network->width());
    EXPECT_LE(network->geometry().right(), label->geometry().left());
    EXPECT_LE(label->geometry().right(), quiet->geometry().left());
    OpenSettings();
    quiet->setValue(15);
    Button("Button3")->click();
    EXPECT_TRUE(ReadFile("Extras.ini").find("quiet_minutes=15") != std::string::npos);
    EXPECT_EQ(form_->findChild<TSilenceWatch*>()->QuietMinutes(), 15);
    OpenSettings();
    quiet->setValue(3);
    Button("Button4")->click();
    EXPECT_EQ(quiet->value(), 15) << "Cancel shows what was saved";
}

TEST_F(Watch, TheRemoteSessionIsInSightAndItsLinesAreLoggedWithoutThePassword)
{
    pbx_ = std::make_unique<PtyPort>();
    const int listenPort = FreePort();
    WriteFile("Setings.ini", std::string(30, '\0'));
    WriteFile(QStringLiteral("Setings.str"), "1\r\n" + ScramblePassword("secret") + "^" + ScramblePassword("look") +
                                                 "^\r\n127.0.0.1\r\n" + std::to_string(listenPort) +
                                                 "\r\n0\r\n\r\n\r\n");
    TForm1Options options;
    options.ExtraPorts = {pbx_->SlavePath()};
    Create(options);
    EXPECT_EQ(Status(10), "");

    RawPeer client;
    ASSERT_TRUE(client.Connect(listenPort));
    ASSERT_TRUE(client.WaitReceived(10));
    client.Send("secret\r");
    ASSERT_TRUE(WaitFor([&] { return Status(10) == "Remote 127.0.0.1 full"; })) << Status(10).toStdString();
    client.Send("DIS 1\r\nST");
    EXPECT_EQ(pbx_->Read(10), "DIS 1\r\nST");
    client.Close();
    ASSERT_TRUE(WaitFor([&] { return Status(10).isEmpty(); }));

    RawPeer viewer;
    ASSERT_TRUE(viewer.Connect(listenPort));
    ASSERT_TRUE(viewer.WaitReceived(10));
    viewer.Send("look\r");
    ASSERT_TRUE(WaitFor([&] { return Status(10) == "Remote 127.0.0.1 viewer"; })) << Status(10).toStdString();

    const QString log = Log();
    EXPECT_TRUE(log.contains("\tremote-login\t127.0.0.1 full\n"));
    EXPECT_TRUE(log.contains("\tsent\tremote:127.0.0.1 DIS 1\n"));
    EXPECT_TRUE(log.contains("\tsent\tremote:127.0.0.1 ST\n")) << "the session's end ends its open line";
    EXPECT_TRUE(log.contains("\tremote-logout\t127.0.0.1\n"));
    EXPECT_TRUE(log.contains("\tremote-login\t127.0.0.1 viewer\n"));
    EXPECT_FALSE(log.contains("secret"));
    EXPECT_FALSE(log.contains("look"));
}

TEST_F(Watch, TheNmsLinkAndLostCaptureLinesAreLogged)
{
    if (!QFileInfo::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    LoopbackHost nms(FreePort());
    ASSERT_TRUE(nms.ok());
    WriteFile(QStringLiteral("Setings.str"),
              "0\r\n^^\r\n127.0.0.1\r\n2323\r\n1\r\n127.0.0.1\r\n" + std::to_string(nms.port()) + "\r\n");
    ASSERT_TRUE(QDir().mkpath(QStringLiteral("archive/2026/12")));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/full"), QStringLiteral("archive/2026/12/07-12-26.CAP")));
    Create();
    const QString link = QStringLiteral("127.0.0.1:%1").arg(nms.port());
    ASSERT_TRUE(WaitFor([&] { return nms.Poll(), Logged("\tnms-up\t" + link + "\n"); })) << Log().toStdString();

    // A full disk: the capture backlog overflows and says how much it dropped.
    std::string cluster;
    for (int i = 0; i < 1000; ++i)
        cluster += std::string(999, 'x') + "\n";
    for (int i = 0; i < 20 && !Logged(QStringLiteral("\tcapture-dropped\t")); ++i) {
        Receive(cluster);
        Settle();
    }
    EXPECT_TRUE(Logged(QStringLiteral("\tcapture-dropped\t")));

    OpenSettings();
    Check("CBoxTrap")->setChecked(false);
    Button("Button3")->click();
    EXPECT_TRUE(Logged("\tnms-down\t" + link + " "));
}
