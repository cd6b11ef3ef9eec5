// The remote access service against plain TCP clients on 127.0.0.1, with a
// pseudo-terminal standing in for the PBX's serial line.
#include "app/TerminalMemo.h"
#include "net/WSocket.h"
#include "serial/SerialNG.h"
#include "tests/app/FormFixture.h"
#include "tests/app/FreePort.h"
#include "tests/net/NetTestUtil.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <stdlib.h>

namespace {

const std::string kGreeting = "\r\nWelcome to Morvel PBX.\r\nEnter password:";
const std::string kFull = "\r\nYou have Full Access to PBX.\r\n";
const std::string kViewer = "\r\nYou have Access as Viewer to PBX.\r\n";
const std::string kWrong = "\r\nWrong Password. Access denied.\r\n";
const std::string kBusy = "Busy ! Try later...\r\n";

// Reads until the connection ends; true when it ended in order and no reset
// followed (a reset lets the client's system discard text not yet read).
bool ReadToOrderlyEnd(RawPeer& peer, int timeoutMs = 20000)
{
    bool orderly = false;
    bool done = WaitFor(
        [&] {
            char buf[4096];
            for (;;) {
                ssize_t n = recv(peer.fd(), buf, sizeof buf, 0);
                if (n > 0) {
                    peer.received.append(buf, size_t(n));
                    continue;
                }
                if (n == 0) {
                    tcp_info info{};
                    socklen_t size = sizeof info;
                    getsockopt(peer.fd(), IPPROTO_TCP, TCP_INFO, &info, &size);
                    orderly = info.tcpi_state == TCP_CLOSE_WAIT;
                } else if (errno == EAGAIN)
                    return false;
                peer.ended = true;
                return true;
            }
        },
        timeoutMs);
    return done && orderly;
}

class RemoteAccess : public FormFixture {
protected:
    void SetUp() override
    {
        FormFixture::SetUp();
        pbx_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(pbx_, 0);
        ASSERT_EQ(grantpt(pbx_), 0);
        ASSERT_EQ(unlockpt(pbx_), 0);
        // All-zero words select the first port of the list: the pseudo-terminal.
        WriteFile("Setings.ini", std::string(30, '\0'));
        TForm1Options options;
        options.ExtraPorts = {ptsname(pbx_)};
        Create(options);
        ASSERT_TRUE(form_->SerialPortNG1->Active());
        port_ = FreePort();
        form_->CBoxEnDi->setChecked(true);
        form_->EipAddRA->setText(QStringLiteral("127.0.0.1"));
        form_->EportRA->setText(QString::number(port_));
        form_->EpassRA->setText(QStringLiteral("secret"));
        form_->EpassRAviewer->setText(QStringLiteral("look"));
        form_->ApplyRemoteAccess();
        ASSERT_EQ(form_->WSvr->State(), wsListening);
    }
    void TearDown() override
    {
        FormFixture::TearDown();
        close(pbx_);
    }

    // A client at the password prompt.
    void Greeted(RawPeer& client)
    {
        ASSERT_TRUE(client.Connect(port_));
        ASSERT_TRUE(client.WaitReceived(kGreeting.size()));
        ASSERT_EQ(client.received, kGreeting);
        client.received.clear();
    }
    void LoggedIn(RawPeer& client, const std::string& password, const std::string& answer)
    {
        Greeted(client);
        client.Send(password + "\r\n");
        ASSERT_TRUE(client.WaitReceived(answer.size()));
        ASSERT_EQ(client.received, answer);
        client.received.clear();
    }
    // What reached the PBX side of the serial line by now.
    std::string FromPort(size_t atLeast, int timeoutMs = 20000)
    {
        WaitFor([&] { return ReadPbx(), toPbx_.size() >= atLeast; }, timeoutMs);
        return toPbx_;
    }
    void ReadPbx()
    {
        char buf[4096];
        ssize_t n;
        while ((n = read(pbx_, buf, sizeof buf)) > 0)
            toPbx_.append(buf, size_t(n));
    }

    int pbx_ = -1;
    int port_ = 0;
    std::string toPbx_;
};

}  // namespace

TEST_F(RemoteAccess, FullAccessPasswordInOnePieceThenInputGoesToThePortUnchanged)
{
    RawPeer client;
    LoggedIn(client, "secret", kFull);
    EXPECT_TRUE(form_->RemoteAuthorised);
    EXPECT_TRUE(form_->RemoteFullAccess);

    client.Send(std::string("DIS 12\r\x03\n\0", 10));
    // The line feed that closed the password line is not among them.
    EXPECT_EQ(FromPort(10), std::string("DIS 12\r\x03\n\0", 10));

    Receive("EXT 12 IDLE\r\n");
    ASSERT_TRUE(client.WaitReceived(13));
    EXPECT_EQ(client.received, "EXT 12 IDLE\r\n");
}

TEST_F(RemoteAccess, PasswordTypedByteByByteGivesAViewerWhoSeesAllOutputButReachesNothing)
{
    RawPeer client;
    Greeted(client);
    for (char c : std::string("look\r")) {
        client.Send(std::string(1, c));
        RunEventsFor(30);
    }
    ASSERT_TRUE(client.WaitReceived(kViewer.size()));
    EXPECT_EQ(client.received, kViewer);
    client.received.clear();
    EXPECT_FALSE(form_->RemoteFullAccess);

    // Relayed whatever the display does: here it is frozen for reading.
    form_->CaptureClick();
    Receive("ALARM 7\r\n");
    Receive(std::string("\xFF\0x", 3));
    ASSERT_TRUE(client.WaitReceived(12));
    EXPECT_EQ(client.received, std::string("ALARM 7\r\n\xFF\0x", 12));

    client.Send("RESET\r");
    RunEventsFor(300);
    EXPECT_EQ(FromPort(1, 300), "");
}

TEST_F(RemoteAccess, LineFeedDoesNotEndThePasswordAndLongInputWithoutCrIsRefused)
{
    RawPeer client;
    Greeted(client);
    client.Send("secret\n");
    RunEventsFor(300);
    client.Poll();
    EXPECT_EQ(client.received, "");
    EXPECT_FALSE(form_->RemoteAuthorised);

    client.Send(std::string(248, 'x'));  // 255 bytes now
    RunEventsFor(300);
    client.Poll();
    EXPECT_EQ(client.received, "");
    client.Send("y");
    ASSERT_TRUE(client.WaitReceived(kWrong.size()));
    EXPECT_EQ(client.received, kWrong);
    EXPECT_TRUE(ReadToOrderlyEnd(client));
    EXPECT_FALSE(form_->RemoteAuthorised);
}

TEST_F(RemoteAccess, EmptyFullAccessPasswordIsABareCarriageReturn)
{
    form_->EpassRA->clear();
    RawPeer client;
    Greeted(client);
    client.Send("\r");
    ASSERT_TRUE(client.WaitReceived(kFull.size()));
    EXPECT_EQ(client.received, kFull);
    EXPECT_TRUE(form_->RemoteFullAccess);
}

TEST_F(RemoteAccess, SecondClientGetsBusyInFullWhileTheFirstStaysAtThePrompt)
{
    RawPeer first, second;
    Greeted(first);
    ASSERT_TRUE(second.Connect(port_));
    second.Send("\xff\xfd\x01\xff\xfb\x18");  // a telnet client speaks first
    EXPECT_TRUE(ReadToOrderlyEnd(second)) << "the text must not be cut off by a reset";
    EXPECT_EQ(second.received, kBusy);

    first.Send("secret\r\n");
    ASSERT_TRUE(first.WaitReceived(kFull.size()));
    EXPECT_EQ(first.received, kFull);
}

TEST_F(RemoteAccess, WrongPasswordEndsTheSessionLaterWithoutHoldingTheWindow)
{
    RawPeer client;
    Greeted(client);
    QElapsedTimer clock;
    clock.start();
    client.Send("guess\r\n");
    ASSERT_TRUE(client.WaitReceived(kWrong.size()));
    EXPECT_EQ(client.received, kWrong);
    QElapsedTimer pause;
    pause.start();

    // During the pause: the display goes on, and the slot stays taken.
    EXPECT_FALSE(client.ended);
    Receive("DURING PAUSE\r\n");
    EXPECT_EQ(form_->Memo1->Line(0), "DURING PAUSE");
    client.Send("secret\r\n");  // no second attempt
    RawPeer third;
    ASSERT_TRUE(third.Connect(port_));
    EXPECT_TRUE(ReadToOrderlyEnd(third));
    if (pause.elapsed() < 500) {  // else this machine was too slow to tell
        EXPECT_EQ(third.received, kBusy);
    }

    EXPECT_TRUE(ReadToOrderlyEnd(client));
    EXPECT_GE(clock.elapsed(), 500);
    EXPECT_EQ(client.received, kWrong);
    EXPECT_FALSE(form_->RemoteAuthorised);
    EXPECT_NE(form_->WCli->State(), wsConnected);

    // The next connection starts afresh.
    RawPeer next;
    LoggedIn(next, "look", kViewer);
}

TEST_F(RemoteAccess, UntickingEnableWithoutSaveStopsOnlyTheRelay)
{
    RawPeer client;
    LoggedIn(client, "secret", kFull);
    form_->CBoxEnDi->setChecked(false);
    Receive("hidden\r\n");
    client.Send("typed");
    EXPECT_EQ(FromPort(5), "typed");
    RawPeer other;
    ASSERT_TRUE(other.Connect(port_));
    EXPECT_TRUE(ReadToOrderlyEnd(other)) << "the listener is still up";
    EXPECT_EQ(other.received, kBusy);

    form_->CBoxEnDi->setChecked(true);
    Receive("shown\r\n");
    ASSERT_TRUE(client.WaitReceived(7));
    EXPECT_EQ(client.received, "shown\r\n");
}

TEST_F(RemoteAccess, ApplyKeepsTheSessionWhenEnabledAndEndsEverythingWhenNot)
{
    RawPeer client;
    LoggedIn(client, "look", kViewer);
    form_->ApplyRemoteAccess();
    EXPECT_EQ(form_->WSvr->State(), wsListening);
    Receive("still here\r\n");
    ASSERT_TRUE(client.WaitReceived(12));

    form_->CBoxEnDi->setChecked(false);
    form_->ApplyRemoteAccess();
    EXPECT_TRUE(client.WaitEnded());
    EXPECT_EQ(form_->WSvr->State(), wsClosed);
    EXPECT_FALSE(form_->RemoteAuthorised);
    RawPeer late;
    EXPECT_FALSE(late.Connect(port_));
}

TEST_F(RemoteAccess, AddressAndPortFallBackAndAListenerFailureReachesTheCaller)
{
    form_->EipAddRA->setText(QStringLiteral("127.0.0.256"));
    form_->ApplyRemoteAccess();
    EXPECT_EQ(form_->WSvr->Addr(), "127.0.0.1");
    RawPeer client;
    Greeted(client);

    // An address of no local interface: the bind fails without taking port 2323.
    form_->EipAddRA->setText(QStringLiteral("192.0.2.1"));
    form_->EportRA->setText(QStringLiteral("xyz"));
    try {
        form_->ApplyRemoteAccess();
        FAIL() << "the listener started";
    } catch (const ESocketException& e) {
        EXPECT_EQ(std::string(e.what()), "Error 10049 in function Bind\r\nAddress not available");
    }
    EXPECT_EQ(form_->WSvr->Port(), "2323");
    EXPECT_EQ(form_->WSvr->State(), wsClosed);
    EXPECT_EQ(form_->WCli->State(), wsConnected) << "the session outlives the listener";
}

TEST_F(RemoteAccess, AClientThatStopsReadingIsDroppedAtOneMebibyteWhileTheCaptureKeepsAll)
{
    RawPeer client(port_, 4096);
    ASSERT_TRUE(client.WaitReceived(kGreeting.size()));
    client.Send("look\r");
    ASSERT_TRUE(client.WaitReceived(kGreeting.size() + kViewer.size()));

    const std::string line = std::string(1022, 'L') + "\r\n";
    std::string cluster;
    for (int i = 0; i < 64; ++i)
        cluster += line;
    size_t sent = 0, maxQueued = 0;
    while (form_->WCli->State() == wsConnected && sent < 64u * 1024 * 1024) {
        Receive(cluster);
        sent += cluster.size();
        maxQueued = std::max(maxQueued, form_->WCli->BufferedByteCount());
        QCoreApplication::processEvents();
    }
    EXPECT_NE(form_->WCli->State(), wsConnected);
    // Seen just before the cluster that passed the limit.
    EXPECT_GT(maxQueued, 1024u * 1024 - cluster.size()) << "closed before the client filled up";
    EXPECT_LE(maxQueued, 1024u * 1024);
    EXPECT_FALSE(form_->RemoteAuthorised);
    form_->CaptureFile.Flush();
    EXPECT_EQ(ReadFile(QStringLiteral("archive/2026/12/07-12-26.CAP")).size(), sent);
}

TEST_F(RemoteAccess, ClosingTheWindowEndsSessionAndListener)
{
    RawPeer client;
    LoggedIn(client, "secret", kFull);
    form_->close();
    EXPECT_EQ(confirms_, 1);
    EXPECT_TRUE(client.WaitEnded());
    EXPECT_EQ(form_->WSvr->State(), wsClosed);
    RawPeer late;
    EXPECT_FALSE(late.Connect(port_));
}

TEST_F(RemoteAccess, DestroyingTheWindowDuringTheRefusalPauseIsSafe)
{
    RawPeer client;
    Greeted(client);
    client.Send("guess\r");
    ASSERT_TRUE(client.WaitReceived(kWrong.size()));
    form_.reset();
    EXPECT_TRUE(client.WaitEnded());
    RunEventsFor(700);
}
