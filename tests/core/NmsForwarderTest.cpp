// NMS forwarding against a telnet NMS host of the test's own on 127.0.0.1,
// with the forwarder's clock set by the test.
#include "core/NmsForwarder.h"
#include "net/TnCnx.h"
#include "tests/net/FreePort.h"
#include "tests/net/LoopbackHost.h"

#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <poll.h>
#include <thread>
#include <vector>

namespace {

// What a client answers to the host's opening below.
const std::string kAnswers = "\xff\xfb\x18\xff\xfa\x18" + std::string(1, '\0') + "VT100\xff\xf0";

// The NMS host: asks for the terminal type and records every byte it gets.
class FakeNms : public LoopbackHost {
public:
    explicit FakeNms(int port, int receiveBuffer = 0)
        : LoopbackHost(port, "\xff\xfd\x18\xff\xfa\x18\x01\xff\xf0", receiveBuffer)
    {}
    // Connected and the negotiation answered: data may follow.
    bool WaitNegotiated() { return WaitReceived(kAnswers.size()) && received == kAnswers; }
};

// An NMS host that offers and asks for options without end and never reads the answers.
class StormHost {
public:
    explicit StormHost(int port) : port_(port)
    {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        int on = 1, small = 4096;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sa.sin_port = htons(uint16_t(port));
        ok_ = bind(listener_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 && listen(listener_, 1) == 0;
        thread_ = std::thread([this] {
            pollfd waiting{listener_, POLLIN, 0};
            if (poll(&waiting, 1, 20000) != 1)
                return;
            conn_ = accept(listener_, nullptr, nullptr);
            std::string storm;
            for (int i = 0; i < 1000; ++i)
                storm += "\xff\xfb\x05\xff\xfd\x1f";  // WILL 5, DO 31
            while (!stop_ && send(conn_, storm.data(), storm.size(), MSG_NOSIGNAL) > 0)
                sent += storm.size();
        });
    }
    ~StormHost()
    {
        stop_ = true;
        shutdown(listener_, SHUT_RDWR);
        if (conn_ >= 0)
            shutdown(conn_, SHUT_RDWR);
        thread_.join();
        if (conn_ >= 0)
            close(conn_);
        close(listener_);
    }
    StormHost(const StormHost&) = delete;
    StormHost& operator=(const StormHost&) = delete;

    bool ok() const { return ok_; }
    int port() const { return port_; }
    std::atomic<uint64_t> sent{0};

private:
    int port_;
    int listener_ = -1;
    std::atomic<int> conn_{-1};
    std::atomic<bool> stop_{false};
    bool ok_ = false;
    std::thread thread_;
};

std::string Lines(char letter, size_t bytes)
{
    std::string text;
    while (text.size() < bytes)
        text += std::string(1022, letter) + "\r\n";
    text.resize(bytes);
    return text;
}

class NmsForwarder : public ::testing::Test {
protected:
    void SetUp() override
    {
        nms_ = std::make_unique<TNmsForwarder>(TNmsForwarder::Hooks{
                                                   [this] { return enabled_; },
                                                   [this] { return settings_; },
                                                   [this](const std::string& problem) { problems_.push_back(problem); },
                                               },
                                               [this] { return now_; });
        nms_->OnUp = [this](const std::string& link) { events_.push_back("up " + link); };
        nms_->OnDown = [this](const std::string& link, const std::string&) { events_.push_back("down " + link); };
        nms_->OnDropped = [this](uint64_t bytes) { droppedTold_ += bytes; };
        nms_->Link().Socket()->OnChangeState = [this](TWSocket*, TSocketState, TSocketState to) {
            attempts_ += to == wsOpened;
        };
    }
    // The host and port as a Save would leave them.
    void Apply(int port)
    {
        settings_.Port = std::to_string(port);
        nms_->Apply();
    }
    // Set up ten seconds before t0 while nothing listened on the port: the
    // first output at t0 is due a new attempt.
    void StartedLongAgo(int port)
    {
        At(-10);
        settings_.Port = std::to_string(port);
        nms_->Start();
        ASSERT_TRUE(WaitFor([&] { return nms_->Link().State() == wsClosed; }));
        attempts_ = 0;
        At(0);
    }
    void At(double seconds) { now_ = t0_.addMSecs(qint64(seconds * 1000)); }
    bool WaitConnected()
    {
        return WaitFor([&] { return nms_->Link().State() == wsConnected; });
    }

    const QDateTime t0_ = QDateTime(QDate(2026, 12, 7), QTime(10, 0));
    QDateTime now_ = t0_;
    bool enabled_ = true;
    TNmsSettings settings_{"127.0.0.1", "23"};
    std::vector<std::string> problems_;
    std::vector<std::string> events_;  // "up HOST:PORT", "down HOST:PORT"
    uint64_t droppedTold_ = 0;
    int attempts_ = 0;
    std::unique_ptr<TNmsForwarder> nms_;
};

}  // namespace

TEST_F(NmsForwarder, UnreachableHostGetsOneAttemptPerSevenSecondsWhileAllTextIsKept)
{
    StartedLongAgo(FreePort());
    std::string all;
    for (int s = 0; s <= 15; ++s) {
        At(s);
        const std::string text = "line " + std::to_string(s) + "\r\n";
        nms_->Forward(text);
        all += text;
        WaitFor([&] { return nms_->Link().State() != wsConnecting; });
    }
    EXPECT_EQ(attempts_, 3) << "at 0, 7 and 14 seconds";
    EXPECT_EQ(nms_->NmsPending(), all);
    EXPECT_EQ(events_.size(), 1u) << "down is told once, not at every retry";
}

TEST_F(NmsForwarder, RetryComesAfterSevenFullSecondsNotBefore)
{
    StartedLongAgo(FreePort());
    nms_->Forward("a");
    EXPECT_EQ(attempts_, 1);
    At(6.9);
    nms_->Forward("b");
    EXPECT_EQ(attempts_, 1);
    At(7.5);
    nms_->Forward("c");
    EXPECT_EQ(attempts_, 2);
    EXPECT_EQ(nms_->NmsPending(), "abc");
}

TEST_F(NmsForwarder, KeptTextGoesOutAheadOfTheNextClusterWithIacDoubled)
{
    const int port = FreePort();
    StartedLongAgo(port);
    FakeNms nms(port);
    ASSERT_TRUE(nms.ok());

    nms_->Forward("one \xFF\r\n");  // starts the connection; kept meanwhile
    ASSERT_TRUE(nms.WaitNegotiated());
    ASSERT_TRUE(WaitConnected());
    EXPECT_FALSE(WaitFor([&] { return nms.Poll(), nms.received.size() > kAnswers.size(); }, 200));
    EXPECT_EQ(nms.received, kAnswers) << "nothing is sent until the next cluster";

    nms_->Forward("two \xFF\xFF");
    const std::string data = "one \xFF\xFF\r\ntwo \xFF\xFF\xFF\xFF";
    ASSERT_TRUE(nms.WaitReceived(kAnswers.size() + data.size()));
    EXPECT_EQ(nms.received, kAnswers + data);
    EXPECT_EQ(nms_->NmsPending(), "");
}

TEST_F(NmsForwarder, ApplyWithEnableTickedDropsKeptTextAndConnectsAnew)
{
    const int port = FreePort();
    StartedLongAgo(FreePort());
    nms_->Forward("stale\r\n");
    ASSERT_EQ(nms_->NmsPending(), "stale\r\n");

    FakeNms nms(port);
    ASSERT_TRUE(nms.ok());
    Apply(port);
    EXPECT_EQ(nms_->NmsPending(), "");
    ASSERT_TRUE(nms.WaitNegotiated());
    ASSERT_TRUE(WaitConnected());
    const std::string link = "127.0.0.1:" + std::to_string(port);
    ASSERT_FALSE(events_.empty());
    EXPECT_EQ(events_.back(), "up " + link);
    nms_->Forward("fresh\r\n");
    ASSERT_TRUE(nms.WaitReceived(kAnswers.size() + 7));
    EXPECT_EQ(nms.received, kAnswers + "fresh\r\n");

    // A bad host and an empty port keep what was applied before.
    settings_ = {"127.0.0.300", ""};
    nms_->Apply();
    EXPECT_EQ(nms_->Link().Host(), "127.0.0.1");
    EXPECT_EQ(nms_->Link().Port(), std::to_string(port));
    ASSERT_TRUE(WaitFor([&] { return nms.Poll(), nms.accepted == 2; }));
    ASSERT_TRUE(WaitConnected());

    // Unticked: the link closes and text is no longer kept.
    enabled_ = false;
    nms_->Apply();
    EXPECT_EQ(nms_->Link().State(), wsClosed);
    nms_->Forward("off\r\n");
    EXPECT_EQ(nms_->NmsPending(), "");
    EXPECT_TRUE(problems_.empty());
    EXPECT_EQ(events_.back(), "down " + link);
    EXPECT_EQ(std::count(events_.begin(), events_.end(), "up " + link), 2);
}

TEST_F(NmsForwarder, KeptTextIsBoundedAndTheLossIsAnnouncedFirst)
{
    const int port = FreePort();
    StartedLongAgo(port);
    std::string all;
    for (int i = 0; i < 17; ++i) {
        const std::string text = Lines(char('a' + i), 1024 * 1024 + 100);
        nms_->Forward(text);
        all += text;
        EXPECT_LE(nms_->NmsPending().size(), TNmsForwarder::kPendingLimit);
    }
    FakeNms nms(port);
    ASSERT_TRUE(nms.ok());
    At(8);
    nms_->Forward("tail\r\n");
    all += "tail\r\n";
    ASSERT_TRUE(nms.WaitNegotiated());
    ASSERT_TRUE(WaitConnected());
    const size_t dropped = all.size() - nms_->NmsPending().size();
    ASSERT_GT(dropped, 0u);
    EXPECT_EQ(droppedTold_, dropped);
    nms_->Forward("end\r\n");
    all += "end\r\n";

    const std::string note =
        "\r\n*** " + std::to_string(dropped) + " bytes of PBX output were dropped while the NMS link was down ***\r\n";
    const std::string expected = kAnswers + note + all.substr(dropped);
    ASSERT_TRUE(nms.WaitReceived(expected.size()));
    EXPECT_TRUE(nms.received == expected) << "got " << nms.received.size() << " bytes";
}

TEST_F(NmsForwarder, AHostThatStopsReadingLeavesTheLinkQueueBoundedAndLosesNothing)
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
    for (int i = 0; nms_->NmsPending().size() < 2u * 1024 * 1024 && i < 400; ++i) {
        const std::string text = Lines(char('a' + i % 26), 64 * 1024);
        nms_->Forward(text);
        all += text;
        maxQueued = std::max(maxQueued, nms_->Link().BufferedByteCount());
        QCoreApplication::processEvents();
    }
    EXPECT_GE(nms_->NmsPending().size(), 2u * 1024 * 1024) << "the host never filled up";
    EXPECT_LE(maxQueued, TNmsForwarder::kLinkQueueLimit + 64 * 1024);

    nms.reading = true;
    ASSERT_TRUE(WaitFor([&] { return nms.Poll(), nms_->Link().BufferedByteCount() == 0; }));
    nms_->Forward("last\r\n");
    all += "last\r\n";
    ASSERT_TRUE(nms.WaitReceived(all.size()));
    EXPECT_TRUE(nms.received == all);
}

TEST_F(NmsForwarder, AConnectErrorIsReportedOnceWhileClustersAreKept)
{
    // The port was reported at start-up, then NMS was switched off and saved,
    // then ticked again without a save: the link still has that port.
    settings_.Port = "abcdef";
    EXPECT_THROW(nms_->Start(), ESocketException);
    enabled_ = false;
    nms_->Apply();
    enabled_ = true;
    for (int s = 0; s <= 16; s += 8) {
        At(s);
        nms_->Forward("L" + std::to_string(s) + "\r\n");
    }
    ASSERT_EQ(problems_.size(), 1u);
    EXPECT_EQ(problems_[0], "NMS forwarding: connect: WSocketResolvePort: Cannot convert port 'abcdef', Error #11004");
    EXPECT_EQ(nms_->NmsPending(), "L0\r\nL8\r\nL16\r\n");

    // Set up again, still with that port: the next failure is reported anew.
    enabled_ = false;
    nms_->Apply();
    enabled_ = true;
    At(24);
    nms_->Forward("L24\r\n");
    EXPECT_EQ(problems_.size(), 2u);
}

TEST_F(NmsForwarder, AConnectErrorThatSaveReportedIsNotShownAgainByForwarding)
{
    settings_.Port = "abcdef";
    EXPECT_THROW(nms_->Apply(), ESocketException);
    nms_->Forward("kept\r\n");
    At(8);
    nms_->Forward("kept\r\n");
    EXPECT_TRUE(problems_.empty());
    EXPECT_EQ(nms_->NmsPending(), "kept\r\nkept\r\n");
}

// A send that finds the connection reset closes the link: the text it did not take is kept.
TEST_F(NmsForwarder, TextTheLinkCouldNotSendIsKeptForTheNextConnection)
{
    const int port = FreePort();
    FakeNms nms(port);
    ASSERT_TRUE(nms.ok());
    Apply(port);
    ASSERT_TRUE(nms.WaitNegotiated());
    ASSERT_TRUE(WaitConnected());

    nms.Reset();
    // The reset has arrived, but no event has told the link yet.
    pollfd link{nms_->Link().Socket()->HSocket(), POLLIN, 0};
    ASSERT_EQ(poll(&link, 1, 20000), 1);
    nms_->Forward("first\r\n");
    At(8);
    nms_->Forward("second\r\n");
    ASSERT_TRUE(nms.WaitNegotiated());
    ASSERT_TRUE(WaitConnected());
    nms_->Forward("third\r\n");
    const std::string expected = kAnswers + "first\r\nsecond\r\nthird\r\n";
    nms.WaitReceived(expected.size());
    EXPECT_EQ(nms.received, expected);
}

TEST_F(NmsForwarder, ANegotiationStormKeepsTheLinkQueueAndTheReadRateBounded)
{
    StormHost storm(FreePort());
    ASSERT_TRUE(storm.ok());
    Apply(storm.port());
    ASSERT_TRUE(WaitConnected());
    // Little room in the system: the answers pile up in the link's own queue.
    int small = 4096;
    setsockopt(nms_->Link().Socket()->HSocket(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);

    QElapsedTimer clock;
    clock.start();
    size_t maxQueued = 0;
    std::string last;
    for (int line = 0; clock.elapsed() < 4000; ++line) {
        last = "PBX LINE " + std::to_string(line) + "\r\n";
        nms_->Forward(last);
        WaitFor([] { return false; }, 50);
        maxQueued = std::max(maxQueued, nms_->Link().BufferedByteCount());
    }
    const double seconds = double(clock.elapsed()) / 1000;
    const uint32_t read = nms_->Link().Socket()->ReadCount();
    EXPECT_LE(maxQueued, TNmsForwarder::kLinkQueueLimit + 64 * 1024);
    EXPECT_GT(read, 0u);
    EXPECT_LE(read, TNmsForwarder::kHostReadRate * (seconds + 0.5)) << "read in " << seconds << " s";
    // The queue is full of answers: PBX output waits here, none lost.
    ASSERT_GE(nms_->NmsPending().size(), last.size());
    EXPECT_EQ(nms_->NmsPending().substr(nms_->NmsPending().size() - last.size()), last);
}
