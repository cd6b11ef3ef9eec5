// NMS forwarding against a telnet NMS host of the test's own on 127.0.0.1,
// with the window's clock set by the test.
#include "app/TerminalMemo.h"
#include "net/TnCnx.h"
#include "serial/SerialNG.h"
#include "tests/app/FormFixture.h"
#include "tests/app/FreePort.h"
#include "tests/net/NetTestUtil.h"

#include <QCheckBox>
#include <QLineEdit>

namespace {

// What a client answers to the host's opening below.
const std::string kAnswers = "\xff\xfb\x18\xff\xfa\x18" + std::string(1, '\0') + "VT100\xff\xf0";

// The NMS host: accepts one connection at a time, asks for the terminal type
// and records every byte it gets.
class FakeNms {
public:
    // A small receive buffer lets the sender's queue grow when this stops reading.
    explicit FakeNms(int port, int receiveBuffer = 0)
    {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        int on = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (receiveBuffer > 0)
            setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sa.sin_port = htons(uint16_t(port));
        ok_ = bind(listener_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 && listen(listener_, 5) == 0;
    }
    ~FakeNms()
    {
        if (conn_ >= 0)
            close(conn_);
        close(listener_);
    }
    bool ok() const { return ok_; }

    void Poll()
    {
        int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK);
        if (fd >= 0) {
            if (conn_ >= 0)
                close(conn_);
            conn_ = fd;
            ++accepted;
            received.clear();
            const std::string opening = "\xff\xfd\x18\xff\xfa\x18\x01\xff\xf0";
            send(conn_, opening.data(), opening.size(), MSG_NOSIGNAL);
        }
        if (conn_ < 0 || !reading)
            return;
        char buf[65536];
        ssize_t n;
        while ((n = recv(conn_, buf, sizeof buf, 0)) > 0)
            received.append(buf, size_t(n));
        if (n == 0) {
            close(conn_);
            conn_ = -1;
            ++ended;
        }
    }
    bool WaitReceived(size_t count, int timeoutMs = 20000)
    {
        return WaitFor([&] { return Poll(), received.size() >= count; }, timeoutMs);
    }
    // Connected and the negotiation answered: data may follow.
    bool WaitNegotiated() { return WaitReceived(kAnswers.size()) && received == kAnswers; }

    std::string received;
    int accepted = 0;
    int ended = 0;
    bool reading = true;

private:
    int listener_ = -1;
    int conn_ = -1;
    bool ok_ = false;
};

std::string Lines(char letter, size_t bytes)
{
    std::string text;
    while (text.size() < bytes)
        text += std::string(1022, letter) + "\r\n";
    text.resize(bytes);
    return text;
}

class Nms : public FormFixture {
protected:
    void SetUp() override
    {
        FormFixture::SetUp();
        Create();
        t0_ = now_;
        form_->TnCnx->Socket()->OnChangeState = [this](TWSocket*, TSocketState, TSocketState to) {
            attempts_ += to == wsOpened;
        };
        form_->CBoxTrap->setChecked(true);
        form_->EipTrap->setText(QStringLiteral("127.0.0.1"));
    }
    // The host and port as a Save would leave them.
    void Apply(int port)
    {
        form_->EportTrap->setText(QString::number(port));
        form_->ApplyNms();
    }
    void At(double seconds) { now_ = t0_.addMSecs(qint64(seconds * 1000)); }
    bool WaitConnected()
    {
        return WaitFor([&] { return form_->TnCnx->State() == wsConnected; });
    }

    QDateTime t0_;
    int attempts_ = 0;
};

}  // namespace

TEST_F(Nms, UnreachableHostGetsOneAttemptPerSevenSecondsWhileAllTextIsKept)
{
    // Ticked but never saved: the first cluster tries the last applied host at once.
    form_->TnCnx->SetPort(std::to_string(FreePort()));
    std::string all;
    for (int s = 0; s <= 15; ++s) {
        At(s);
        const std::string text = "line " + std::to_string(s) + "\r\n";
        Receive(text);
        all += text;
        RunEventsFor(10);
    }
    EXPECT_EQ(attempts_, 3) << "at 0, 7 and 14 seconds";
    EXPECT_EQ(form_->NmsPending, all);
    EXPECT_EQ(form_->Memo1->Line(15), "line 15");
}

TEST_F(Nms, RetryComesAfterSevenFullSecondsNotBefore)
{
    form_->TnCnx->SetPort(std::to_string(FreePort()));
    Receive("a");
    EXPECT_EQ(attempts_, 1);
    At(6.9);
    Receive("b");
    EXPECT_EQ(attempts_, 1);
    At(7.5);
    Receive("c");
    EXPECT_EQ(attempts_, 2);
    EXPECT_EQ(form_->NmsPending, "abc");
}

TEST_F(Nms, KeptTextGoesOutAheadOfTheNextClusterWithIacDoubled)
{
    const int port = FreePort();
    FakeNms nms(port);
    ASSERT_TRUE(nms.ok());
    form_->TnCnx->SetPort(std::to_string(port));

    Receive("one \xFF\r\n");  // starts the connection; kept meanwhile
    ASSERT_TRUE(nms.WaitNegotiated());
    ASSERT_TRUE(WaitConnected());
    RunEventsFor(200);
    nms.Poll();
    EXPECT_EQ(nms.received, kAnswers) << "nothing is sent until the next cluster";

    Receive("two \xFF\xFF");
    const std::string data = "one \xFF\xFF\r\ntwo \xFF\xFF\xFF\xFF";
    ASSERT_TRUE(nms.WaitReceived(kAnswers.size() + data.size()));
    EXPECT_EQ(nms.received, kAnswers + data);
    EXPECT_EQ(form_->NmsPending, "");
}

TEST_F(Nms, ApplyWithEnableTickedDropsKeptTextAndConnectsAnew)
{
    const int port = FreePort();
    form_->TnCnx->SetPort(std::to_string(FreePort()));
    Receive("stale\r\n");
    ASSERT_EQ(form_->NmsPending, "stale\r\n");

    FakeNms nms(port);
    ASSERT_TRUE(nms.ok());
    Apply(port);
    EXPECT_EQ(form_->NmsPending, "");
    ASSERT_TRUE(nms.WaitNegotiated());
    ASSERT_TRUE(WaitConnected());
    Receive("fresh\r\n");
    ASSERT_TRUE(nms.WaitReceived(kAnswers.size() + 7));
    EXPECT_EQ(nms.received, kAnswers + "fresh\r\n");

    // A bad host and an empty port keep what was applied before.
    form_->EipTrap->setText(QStringLiteral("127.0.0.300"));
    form_->EportTrap->clear();
    form_->ApplyNms();
    EXPECT_EQ(form_->TnCnx->Host(), "127.0.0.1");
    EXPECT_EQ(form_->TnCnx->Port(), std::to_string(port));
    ASSERT_TRUE(WaitFor([&] { return nms.Poll(), nms.accepted == 2; }));

    // Unticked: the link closes and text is no longer kept.
    form_->CBoxTrap->setChecked(false);
    form_->ApplyNms();
    EXPECT_EQ(form_->TnCnx->State(), wsClosed);
    Receive("off\r\n");
    EXPECT_EQ(form_->NmsPending, "");
}

TEST_F(Nms, KeptTextIsBoundedAndTheLossIsAnnouncedFirst)
{
    const int port = FreePort();
    form_->TnCnx->SetPort(std::to_string(port));
    std::string all;
    for (int i = 0; i < 17; ++i) {
        const std::string text = Lines(char('a' + i), 1024 * 1024 + 100);
        Receive(text);
        all += text;
        EXPECT_LE(form_->NmsPending.size(), 16u * 1024 * 1024);
    }
    FakeNms nms(port);
    ASSERT_TRUE(nms.ok());
    At(8);
    Receive("tail\r\n");
    all += "tail\r\n";
    ASSERT_TRUE(nms.WaitNegotiated());
    ASSERT_TRUE(WaitConnected());
    const size_t dropped = all.size() - form_->NmsPending.size();
    ASSERT_GT(dropped, 0u);
    Receive("end\r\n");
    all += "end\r\n";

    const std::string note =
        "\r\n*** " + std::to_string(dropped) + " bytes of PBX output were dropped while the NMS link was down ***\r\n";
    const std::string expected = kAnswers + note + all.substr(dropped);
    ASSERT_TRUE(nms.WaitReceived(expected.size()));
    EXPECT_TRUE(nms.received == expected) << "got " << nms.received.size() << " bytes";
}

TEST_F(Nms, AHostThatStopsReadingLeavesTheLinkQueueBoundedAndLosesNothing)
{
    const int port = FreePort();
    FakeNms nms(port, 4096);
    ASSERT_TRUE(nms.ok());
    Apply(port);
    ASSERT_TRUE(nms.WaitNegotiated());
    ASSERT_TRUE(WaitConnected());
    nms.received.clear();
    nms.reading = false;

    std::string all;
    size_t maxQueued = 0;
    for (int i = 0; form_->NmsPending.size() < 2u * 1024 * 1024 && i < 400; ++i) {
        const std::string text = Lines(char('a' + i % 26), 64 * 1024);
        Receive(text);
        all += text;
        maxQueued = std::max(maxQueued, form_->TnCnx->BufferedByteCount());
        QCoreApplication::processEvents();
    }
    EXPECT_GE(form_->NmsPending.size(), 2u * 1024 * 1024) << "the host never filled up";
    EXPECT_LE(maxQueued, 1024u * 1024 + 64 * 1024);

    nms.reading = true;
    ASSERT_TRUE(WaitFor([&] { return nms.Poll(), form_->TnCnx->BufferedByteCount() == 0; }));
    Receive("last\r\n");
    all += "last\r\n";
    ASSERT_TRUE(nms.WaitReceived(all.size()));
    EXPECT_TRUE(nms.received == all);
}

TEST_F(Nms, AConnectErrorIsReportedOnceWhileClustersAreDisplayedCapturedAndKept)
{
    // Ticked, not saved, and the last applied port names no service.
    form_->TnCnx->SetPort("abcdef");
    for (int s = 0; s <= 16; s += 8) {
        At(s);
        Receive("L" + std::to_string(s) + "\r\n");
    }
    Settle();
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_EQ(errors_[0], "NMS forwarding: connect: WSocketResolvePort: Cannot convert port 'abcdef', Error #11004");
    EXPECT_EQ(form_->Memo1->Line(2), "L16");
    form_->CaptureFile.Flush();
    EXPECT_EQ(ReadFile(QStringLiteral("archive/2026/12/07-12-26.CAP")), "L0\r\nL8\r\nL16\r\n");
    EXPECT_EQ(form_->NmsPending, "L0\r\nL8\r\nL16\r\n");
}

TEST_F(Nms, AConnectErrorThatSaveReportedIsNotShownAgainByForwarding)
{
    form_->EportTrap->setText(QStringLiteral("abcdef"));
    EXPECT_THROW(form_->ApplyNms(), ESocketException);
    Receive("kept\r\n");
    At(8);
    Receive("kept\r\n");
    Settle();
    EXPECT_TRUE(errors_.isEmpty());
    EXPECT_EQ(form_->NmsPending, "kept\r\nkept\r\n");
}

namespace {

std::string NetworkFile(int listenPort, int nmsPort)
{
    return "1\r\n^^\r\n127.0.0.1\r\n" + std::to_string(listenPort) + "\r\n1\r\n127.0.0.1\r\n" +
           std::to_string(nmsPort) + "\r\n";
}

}  // namespace

using NetworkStartup = FormFixture;

TEST_F(NetworkStartup, StartsTheListenerThenTheNmsLink)
{
    const int nmsPort = FreePort();
    FakeNms nms(nmsPort);
    ASSERT_TRUE(nms.ok());
    WriteFile(QStringLiteral("Setings.str"), NetworkFile(FreePort(), nmsPort));
    Create();
    EXPECT_EQ(form_->WSvr->State(), wsListening);
    EXPECT_TRUE(nms.WaitNegotiated());
    Settle();
    EXPECT_TRUE(errors_.isEmpty());
}

TEST_F(NetworkStartup, AListenerThatCannotStartIsReportedOnceAndTheNmsLinkIsNotStarted)
{
    const int taken = FreePort();
    FakeNms occupant(taken);
    ASSERT_TRUE(occupant.ok());
    WriteFile(QStringLiteral("Setings.str"), NetworkFile(taken, FreePort()));
    Create();
    EXPECT_EQ(form_->WSvr->State(), wsClosed);
    EXPECT_EQ(form_->TnCnx->State(), wsClosed);
    EXPECT_FALSE(form_->NmsLastAttempt.isValid());
    Settle();
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_EQ(errors_[0], "Error 10048 in function Bind\r\nAddress already in use");
}
