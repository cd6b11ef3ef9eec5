// The remote access service against plain TCP clients on 127.0.0.1; what it
// hands to the PBX is collected by the test.
#include "core/RemoteAccess.h"
#include "net/WSocket.h"
#include "tests/net/FreePort.h"
#include "tests/net/NetTestUtil.h"

#include <QElapsedTimer>
#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <thread>
#include <vector>

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

// Connects and at once resets: the connection is gone before it is accepted.
void ConnectAndReset(int port)
{
    RawPeer peer;
    ASSERT_TRUE(peer.Connect(port));
    linger abort{1, 0};
    setsockopt(peer.fd(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
}

// Lowers the process's descriptor limit so that the next new descriptor fails
// with EMFILE; puts the old limit back when it goes.
class DescriptorsExhausted {
public:
    DescriptorsExhausted()
    {
        getrlimit(RLIMIT_NOFILE, &old_);
        const int lowestFree = dup(0);
        close(lowestFree);
        rlimit low = old_;
        low.rlim_cur = rlim_t(lowestFree);
        setrlimit(RLIMIT_NOFILE, &low);
    }
    ~DescriptorsExhausted() { setrlimit(RLIMIT_NOFILE, &old_); }
    DescriptorsExhausted(const DescriptorsExhausted&) = delete;
    DescriptorsExhausted& operator=(const DescriptorsExhausted&) = delete;

private:
    rlimit old_{};
};

class RemoteAccess : public ::testing::Test {
protected:
    void SetUp() override
    {
        port_ = FreePort();
        settings_ = {"127.0.0.1", std::to_string(port_), "secret", "look"};
        TRemoteAccess::Hooks hooks;
        hooks.Enabled = [this] { return enabled_; };
        hooks.Settings = [this] { return settings_; };
        hooks.SendToPort = [this](const std::string& text) {
            toPort_ += text;
            portBusy_ = busyAfterWrite_;
        };
        hooks.OnEvent = [this](const TRemoteEvent& event) { events_.push_back(event); };
        hooks.PortBusy = [this] { return portBusy_; };
        remote_ = std::make_unique<TRemoteAccess>(std::move(hooks), [this] { return now_; });
        remote_->Start();
        ASSERT_EQ(remote_->Server().State(), wsListening);
    }

    // A client at the password prompt.
    void Greeted(RawPeer& client, const char* from = nullptr)
    {
        ASSERT_TRUE(client.Connect(port_, 0, from));
        ASSERT_TRUE(client.WaitReceived(kGreeting.size()));
        ASSERT_EQ(client.received, kGreeting);
        client.received.clear();
    }
    void LoggedIn(RawPeer& client, const std::string& password, const std::string& answer, const char* from = nullptr)
    {
        Greeted(client, from);
        client.Send(password + "\r\n");
        ASSERT_TRUE(client.WaitReceived(answer.size()));
        ASSERT_EQ(client.received, answer);
        client.received.clear();
    }
    // What was handed to the PBX by now.
    std::string ToPort(size_t atLeast)
    {
        WaitFor([&] { return toPort_.size() >= atLeast; });
        return toPort_;
    }

    // A wrong password from a client at 127.0.0.1, who hangs up once told.
    void Guess()
    {
        RawPeer guesser;
        Greeted(guesser);
        guesser.Send("guess\r");
        ASSERT_TRUE(guesser.WaitReceived(kWrong.size()));
        ASSERT_EQ(guesser.received, kWrong);
    }
    int Count(TRemoteEvent::Kind kind) const
    {
        return int(std::count_if(events_.begin(), events_.end(), [kind](auto& e) { return e.kind == kind; }));
    }

    QDateTime now_ = QDateTime(QDate(2026, 12, 7), QTime(10, 0));
    bool portBusy_ = false;
    bool busyAfterWrite_ = false;  // every write keeps the port busy until the test ends it
    std::vector<TRemoteEvent> events_;
    bool enabled_ = true;
    TRemoteSettings settings_;
    int port_ = 0;
    std::string toPort_;
    std::unique_ptr<TRemoteAccess> remote_;
};

}  // namespace

TEST_F(RemoteAccess, FullAccessPasswordInOnePieceThenInputGoesToThePortUnchanged)
{
    RawPeer client;
    LoggedIn(client, "secret", kFull);
    EXPECT_TRUE(remote_->RemoteAuthorised());
    EXPECT_TRUE(remote_->RemoteFullAccess());

    client.Send(std::string("DIS 12\r\x03\n\0", 10));
    // The line feed that closed the password line is not among them.
    EXPECT_EQ(ToPort(10), std::string("DIS 12\r\x03\n\0", 10));

    remote_->Relay("EXT 12 IDLE\r\n");
    ASSERT_TRUE(client.WaitReceived(13));
    EXPECT_EQ(client.received, "EXT 12 IDLE\r\n");
}

TEST_F(RemoteAccess, PasswordTypedByteByByteGivesAViewerWhoSeesAllOutputButReachesNothing)
{
    RawPeer client;
    Greeted(client);
    for (char c : std::string("look\r")) {
        client.Send(std::string(1, c));
        // One byte per read: the service has taken this one before the next is sent.
        ASSERT_TRUE(WaitFor([&] { return remote_->Client().RcvdCount() == 0; }));
    }
    ASSERT_TRUE(client.WaitReceived(kViewer.size()));
    EXPECT_EQ(client.received, kViewer);
    client.received.clear();
    EXPECT_TRUE(remote_->RemoteAuthorised());
    EXPECT_FALSE(remote_->RemoteFullAccess());

    remote_->Relay("ALARM 7\r\n");
    remote_->Relay(std::string("\xFF\0x", 3));
    ASSERT_TRUE(client.WaitReceived(12));
    EXPECT_EQ(client.received, std::string("ALARM 7\r\n\xFF\0x", 12));

    client.Send("RESET\r");
    // Nothing is to arrive: a short look is all a test can do.
    EXPECT_FALSE(WaitFor([&] { return !toPort_.empty(); }, 300));
    EXPECT_EQ(toPort_, "");
}

TEST_F(RemoteAccess, LineFeedDoesNotEndThePasswordAndLongInputWithoutCrIsRefused)
{
    RawPeer client;
    Greeted(client);
    // Nothing is to arrive: a short look is all a test can do.
    auto answered = [&] { return client.Poll(), !client.received.empty(); };
    client.Send("secret\n");
    EXPECT_FALSE(WaitFor(answered, 300));
    EXPECT_EQ(client.received, "");
    EXPECT_FALSE(remote_->RemoteAuthorised());

    client.Send(std::string(248, 'x'));  // 255 bytes now
    EXPECT_FALSE(WaitFor(answered, 300));
    EXPECT_EQ(client.received, "");
    client.Send("y");
    ASSERT_TRUE(client.WaitReceived(kWrong.size()));
    EXPECT_EQ(client.received, kWrong);
    EXPECT_TRUE(ReadToOrderlyEnd(client));
    EXPECT_FALSE(remote_->RemoteAuthorised());
}

TEST_F(RemoteAccess, AnEmptyPasswordSwitchesItsAccessLevelOff)
{
    settings_.FullAccessPassword.clear();  // read at the moment of use
    RawPeer client;
    Greeted(client);
    client.Send("\r");
    ASSERT_TRUE(client.WaitReceived(kWrong.size()));
    EXPECT_EQ(client.received, kWrong);
    EXPECT_FALSE(remote_->RemoteAuthorised());
    EXPECT_TRUE(ReadToOrderlyEnd(client));

    RawPeer viewer;
    LoggedIn(viewer, "look", kViewer);
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

TEST_F(RemoteAccess, WrongPasswordEndsTheSessionLaterWithoutBlockingTheCaller)
{
    RawPeer client;
    Greeted(client);
    QElapsedTimer clock;
    clock.start();
    client.Send("guess\r\n");
    ASSERT_TRUE(client.WaitReceived(kWrong.size()));
    EXPECT_EQ(client.received, kWrong);

    // During the pause: output goes on being relayed (to nobody), and no second attempt counts.
    EXPECT_FALSE(client.ended);
    remote_->Relay("DURING PAUSE\r\n");
    client.Send("secret\r\n");
    EXPECT_TRUE(ReadToOrderlyEnd(client));
    EXPECT_GE(clock.elapsed(), 500);
    EXPECT_EQ(client.received, kWrong);
    EXPECT_FALSE(remote_->RemoteAuthorised());
    EXPECT_NE(remote_->Client().State(), wsConnected);
    EXPECT_EQ(toPort_, "");

    // The next connection starts afresh.
    RawPeer next;
    LoggedIn(next, "look", kViewer);
}

TEST_F(RemoteAccess, AClientArrivingDuringTheRefusalPauseIsGreetedOnceItEnds)
{
    RawPeer refused;
    Greeted(refused);
    refused.Send("guess\r");
    ASSERT_TRUE(refused.WaitReceived(kWrong.size()));
    // Connected during the pause, however long this machine takes to get here.
    RawPeer waiting;
    ASSERT_TRUE(waiting.Connect(port_));
    ASSERT_TRUE(refused.WaitEnded());
    ASSERT_TRUE(waiting.WaitReceived(kGreeting.size()));
    EXPECT_EQ(waiting.received, kGreeting) << "taken after the refused client, not told it is busy";
    waiting.received.clear();
    waiting.Send("secret\r");
    ASSERT_TRUE(waiting.WaitReceived(kFull.size()));
    EXPECT_EQ(waiting.received, kFull);

    // While that session lasts, the next client is told it is busy.
    RawPeer other;
    ASSERT_TRUE(other.Connect(port_));
    ASSERT_TRUE(ReadToOrderlyEnd(other));
    EXPECT_EQ(other.received, kBusy) << "the session is taken again";
}

TEST_F(RemoteAccess, DisabledWithoutApplyStopsOnlyTheRelay)
{
    RawPeer client;
    LoggedIn(client, "secret", kFull);
    enabled_ = false;
    remote_->Relay("hidden\r\n");
    client.Send("typed");
    EXPECT_EQ(ToPort(5), "typed");
    RawPeer other;
    ASSERT_TRUE(other.Connect(port_));
    EXPECT_TRUE(ReadToOrderlyEnd(other)) << "the listener is still up";
    EXPECT_EQ(other.received, kBusy);

    enabled_ = true;
    remote_->Relay("shown\r\n");
    ASSERT_TRUE(client.WaitReceived(7));
    EXPECT_EQ(client.received, "shown\r\n");
}

TEST_F(RemoteAccess, ApplyKeepsTheSessionWhenEnabledAndEndsEverythingWhenNot)
{
    RawPeer client;
    LoggedIn(client, "look", kViewer);
    remote_->Apply();
    EXPECT_EQ(remote_->Server().State(), wsListening);
    remote_->Relay("still here\r\n");
    ASSERT_TRUE(client.WaitReceived(12));

    enabled_ = false;
    remote_->Apply();
    EXPECT_TRUE(client.WaitEnded());
    EXPECT_EQ(remote_->Server().State(), wsClosed);
    EXPECT_FALSE(remote_->RemoteAuthorised());
    RawPeer late;
    EXPECT_FALSE(late.Connect(port_));
}

TEST_F(RemoteAccess, AddressAndPortFallBackAndAListenerFailureReachesTheCaller)
{
    settings_.Address = "127.0.0.256";
    remote_->Apply();
    EXPECT_EQ(remote_->Server().Addr(), "127.0.0.1");
    RawPeer client;
    Greeted(client);

    // An address of no local interface: the bind fails without taking port 2323.
    settings_.Address = "192.0.2.1";
    settings_.Port = "xyz";
    try {
        remote_->Apply();
        FAIL() << "the listener started";
    } catch (const ESocketException& e) {
        EXPECT_EQ(std::string(e.what()), "Error 10049 in function Bind\r\nAddress not available");
    }
    EXPECT_EQ(remote_->Server().Port(), "2323");
    EXPECT_EQ(remote_->Server().State(), wsClosed);
    EXPECT_EQ(remote_->Client().State(), wsConnected) << "the session outlives the listener";
}

TEST_F(RemoteAccess, AClientThatStopsReadingIsDroppedAtOneMebibyteWithoutBlockingTheRelay)
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
    qint64 longestRelay = 0;
    QElapsedTimer call;
    while (remote_->Client().State() == wsConnected && sent < 64u * 1024 * 1024) {
        call.start();
        remote_->Relay(cluster);
        longestRelay = std::max(longestRelay, call.elapsed());
        sent += cluster.size();
        maxQueued = std::max(maxQueued, remote_->Client().BufferedByteCount());
        QCoreApplication::processEvents();
    }
    EXPECT_NE(remote_->Client().State(), wsConnected);
    EXPECT_LT(sent, 64u * 1024 * 1024) << "never dropped";
    EXPECT_LT(longestRelay, 5000) << "a relay waited for the client";
    // Seen just before the cluster that passed the limit.
    EXPECT_GT(maxQueued, 1024u * 1024 - cluster.size()) << "closed before the client filled up";
    EXPECT_LE(maxQueued, 1024u * 1024);
    EXPECT_FALSE(remote_->RemoteAuthorised());
    EXPECT_TRUE(client.WaitEnded());

    remote_->Relay(cluster);  // nobody to relay to: returns at once
    EXPECT_NE(remote_->Client().State(), wsConnected);
    RawPeer next;
    LoggedIn(next, "look", kViewer);
}

TEST_F(RemoteAccess, StopEndsSessionAndListener)
{
    RawPeer client;
    LoggedIn(client, "secret", kFull);
    remote_->Stop();
    EXPECT_TRUE(client.WaitEnded());
    EXPECT_EQ(remote_->Server().State(), wsClosed);
    RawPeer late;
    EXPECT_FALSE(late.Connect(port_));
}

TEST_F(RemoteAccess, DestroyingTheServiceDuringTheRefusalPauseIsSafe)
{
    RawPeer client;
    Greeted(client);
    client.Send("guess\r");
    ASSERT_TRUE(client.WaitReceived(kWrong.size()));
    remote_.reset();
    EXPECT_TRUE(client.WaitEnded());
    // Past the moment the pause would have ended, nothing may fire.
    WaitFor([] { return false; }, TRemoteAccess::kRefusalPauseMs + 100);
}

TEST_F(RemoteAccess, ClientsThatResetAtOnceEndOnlyTheirOwnConnections)
{
    for (int i = 0; i < 4; ++i)
        ConnectAndReset(port_);
    RunReadyEvents();
    EXPECT_EQ(remote_->Server().State(), wsListening);
    RawPeer client;
    Greeted(client);

    // The same while a session exists: the spare socket meets the resets.
    for (int i = 0; i < 4; ++i)
        ConnectAndReset(port_);
    RunReadyEvents();
    EXPECT_EQ(remote_->Server().State(), wsListening);
    RawPeer busy;
    ASSERT_TRUE(busy.Connect(port_));
    ASSERT_TRUE(ReadToOrderlyEnd(busy));
    EXPECT_EQ(busy.received, kBusy);
    client.Send("secret\r");
    ASSERT_TRUE(client.WaitReceived(kFull.size()));
    EXPECT_EQ(client.received, kFull);
}

TEST_F(RemoteAccess, AcceptingWithoutFreeDescriptorsPausesAndThenTakesTheWaitingClient)
{
    // A session and a socket error first: while no descriptor is free, code
    // run for the first time would find UndefinedBehaviorSanitizer unable to
    // check it (its check opens a pipe).
    {
        RawPeer first;
        LoggedIn(first, "look", kViewer);
        EXPECT_THROW(TWSocket().Accept(), ESocketException);
    }
    ASSERT_TRUE(WaitFor([&] { return remote_->Client().State() != wsConnected; }));
    RawPeer client;
    ASSERT_TRUE(client.Connect(port_));
    {
        DescriptorsExhausted exhausted;
        // Several accepts fail meanwhile; a listener that gave up would be closed.
        WaitFor([] { return false; }, 700);
        EXPECT_EQ(remote_->Server().State(), wsListening);
        client.Poll();
        EXPECT_EQ(client.received, "");
    }
    ASSERT_TRUE(client.WaitReceived(kGreeting.size()));
    EXPECT_EQ(client.received, kGreeting);
    client.received.clear();
    client.Send("look\r");
    ASSERT_TRUE(client.WaitReceived(kViewer.size()));
    EXPECT_EQ(client.received, kViewer);
    EXPECT_EQ(Count(TRemoteEvent::AcceptPaused), 1) << "said once for the whole shortage";
}

TEST_F(RemoteAccess, AGuesserWhoHangsUpAtOnceStillGetsNoMoreThanTwoGuessesASecond)
{
    QElapsedTimer clock;
    for (int i = 0; i < TSourcePenalties::kWrongLimit; ++i) {
        Guess();
        if (i == 0)
            clock.start();
    }
    EXPECT_GE(clock.elapsed(), (TSourcePenalties::kWrongLimit - 1) * 500);
    EXPECT_EQ(Count(TRemoteEvent::WrongPassword), TSourcePenalties::kWrongLimit);
    EXPECT_EQ(remote_->Counts().WrongPasswords, uint64_t(TSourcePenalties::kWrongLimit));
}

TEST_F(RemoteAccess, FiveWrongPasswordsShutTheAddressOutForAMinuteWhileOthersLogIn)
{
    for (int i = 0; i < TSourcePenalties::kWrongLimit; ++i)
        Guess();
    ASSERT_EQ(Count(TRemoteEvent::Penalty), 1);
    EXPECT_EQ(events_.back().Address, "127.0.0.1");
    EXPECT_EQ(events_.back().PenaltyMs, 60 * 1000);

    RawPeer shutOut;
    ASSERT_TRUE(shutOut.Connect(port_));
    EXPECT_TRUE(shutOut.WaitEnded());
    EXPECT_EQ(shutOut.received, "") << "refused without a greeting";
    EXPECT_EQ(Count(TRemoteEvent::Refused), 1);

    RawPeer operatorClient;
    LoggedIn(operatorClient, "secret", kFull, "127.0.0.2");
    operatorClient.Close();
    ASSERT_TRUE(WaitFor([&] { return remote_->Client().State() != wsConnected; }));

    now_ = now_.addSecs(59);
    RawPeer stillOut;
    ASSERT_TRUE(stillOut.Connect(port_));
    EXPECT_TRUE(stillOut.WaitEnded());
    EXPECT_EQ(stillOut.received, "");
    now_ = now_.addSecs(2);
    RawPeer back;
    LoggedIn(back, "look", kViewer);
    EXPECT_EQ(remote_->Counts().Penalties, 1u);
    EXPECT_EQ(remote_->Counts().Refused, 2u);
}

TEST_F(RemoteAccess, WhileOneAddressFloodsGuessesAnOperatorElsewhereLogsInEveryTime)
{
    std::atomic<bool> stop{false}, stopped{false};
    std::thread flood([&] {
        while (!stop) {
            const int fd = socket(AF_INET, SOCK_STREAM, 0);
            timeval wait{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
            sockaddr_in sa{};
            sa.sin_family = AF_INET;
            sa.sin_port = htons(uint16_t(port_));
            sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
                char buf[256];
                if (recv(fd, buf, sizeof buf, 0) > 0) {
                    send(fd, "guess\r", 6, MSG_NOSIGNAL);
                    recv(fd, buf, sizeof buf, 0);
                }
            }
            close(fd);
        }
        stopped = true;
    });
    EXPECT_TRUE(WaitFor([&] { return Count(TRemoteEvent::Penalty) == 1; }, 60000));
    int logins = 0;
    for (int i = 0; i < 10; ++i) {
        RawPeer operatorClient;
        LoggedIn(operatorClient, "secret", kFull, "127.0.0.2");
        logins += remote_->RemoteFullAccess();
        operatorClient.Close();
        WaitFor([&] { return remote_->Client().State() != wsConnected; });
    }
    stop = true;
    WaitFor([&] { return bool(stopped); });
    flood.join();
    EXPECT_EQ(logins, 10);
    EXPECT_GT(remote_->Counts().Refused, 0u);
    EXPECT_EQ(remote_->Counts().WrongPasswords, uint64_t(TSourcePenalties::kWrongLimit));
}

TEST_F(RemoteAccess, AClientWithoutAPasswordLineWithinThirtySecondsIsTimedOut)
{
    RawPeer silent;
    Greeted(silent);
    silent.Send("secr");
    now_ = now_.addSecs(29);
    // Nothing is to arrive: a short look is all a test can do.
    EXPECT_FALSE(silent.WaitReceived(1, 1500));
    now_ = now_.addSecs(2);
    EXPECT_TRUE(ReadToOrderlyEnd(silent));
    EXPECT_EQ(silent.received, "Login time-out\r\n");
    EXPECT_EQ(Count(TRemoteEvent::LoginTimeOut), 1);
    EXPECT_EQ(Count(TRemoteEvent::WrongPassword), 0);

    // A client that logged in in time stays, however long it is quiet.
    RawPeer quiet;
    LoggedIn(quiet, "look", kViewer);
    now_ = now_.addSecs(3600);
    EXPECT_FALSE(quiet.WaitReceived(1, 1500));
    EXPECT_EQ(remote_->Client().State(), wsConnected);
}

TEST_F(RemoteAccess, ASessionUsesKeepAliveToFindAVanishedClient)
{
    RawPeer client;
    Greeted(client);
    auto option = [&](int level, int name) {
        int value = -1;
        socklen_t size = sizeof value;
        getsockopt(remote_->Client().HSocket(), level, name, &value, &size);
        return value;
    };
    EXPECT_EQ(option(SOL_SOCKET, SO_KEEPALIVE), 1);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPIDLE), 60);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPINTVL), 10);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPCNT), 3);
}

TEST_F(RemoteAccess, InputWaitsWhileThePortWritesAndPastTheBoundInTheClientsConnection)
{
    busyAfterWrite_ = true;
    RawPeer client;
    LoggedIn(client, "secret", kFull);
    client.Send("A");
    ASSERT_EQ(ToPort(1), "A");
    client.Send("B");
    client.Send("C");
    ASSERT_TRUE(WaitFor([&] { return remote_->PortQueueBytes() == 2; }));
    EXPECT_EQ(toPort_, "A");
    portBusy_ = false;
    remote_->PortWriteDone();
    EXPECT_EQ(toPort_, "ABC");

    std::string burst;
    for (int i = 0; burst.size() < 300 * 1024; ++i)
        burst += "LINE " + std::to_string(i) + "\r";
    size_t sent = 0;
    ASSERT_TRUE(WaitFor([&] {
        const ssize_t n = send(client.fd(), burst.data() + sent, burst.size() - sent, MSG_NOSIGNAL);
        sent += n > 0 ? size_t(n) : 0;
        return remote_->PortQueueBytes() == TRemoteAccess::kPortQueueLimit;
    }));
    EXPECT_FALSE(WaitFor([&] { return remote_->PortQueueBytes() > TRemoteAccess::kPortQueueLimit; }, 300));
    EXPECT_TRUE(remote_->Client().ReceivePaused()) << "the rest waits in the connection";

    ASSERT_TRUE(WaitFor([&] {
        if (sent < burst.size()) {
            const ssize_t n = send(client.fd(), burst.data() + sent, burst.size() - sent, MSG_NOSIGNAL);
            sent += n > 0 ? size_t(n) : 0;
        }
        portBusy_ = false;
        remote_->PortWriteDone();
        return toPort_.size() == 3 + burst.size();
    }));
    EXPECT_TRUE(toPort_ == "ABC" + burst) << "input lost or out of order";
    client.Poll();
    EXPECT_EQ(client.received, "");

    // A write whose end is not reported is looked at again a moment later.
    client.Send("D");
    ASSERT_TRUE(WaitFor([&] { return remote_->PortQueueBytes() == 1; }));
    portBusy_ = false;
    EXPECT_TRUE(WaitFor([&] { return toPort_.back() == 'D'; }));
}

TEST_F(RemoteAccess, LoginsBusyClientsAndTheEndOfASessionAreToldOnce)
{
    RawPeer first;
    LoggedIn(first, "secret", kFull);
    ASSERT_EQ(Count(TRemoteEvent::LoggedIn), 1);
    EXPECT_EQ(events_.back().Address, "127.0.0.1");
    EXPECT_TRUE(events_.back().FullAccess);
    EXPECT_EQ(remote_->ClientAddress(), "127.0.0.1");

    RawPeer second;
    ASSERT_TRUE(second.Connect(port_));
    EXPECT_TRUE(ReadToOrderlyEnd(second));
    EXPECT_EQ(Count(TRemoteEvent::Busy), 1);

    first.Close();
    ASSERT_TRUE(WaitFor([&] { return Count(TRemoteEvent::LoggedOut) == 1; }));
    EXPECT_FALSE(remote_->RemoteAuthorised());

    RawPeer viewer;
    LoggedIn(viewer, "look", kViewer);
    ASSERT_EQ(Count(TRemoteEvent::LoggedIn), 2);
    EXPECT_FALSE(events_.back().FullAccess);
    remote_->Stop();
    remote_->Stop();
    EXPECT_EQ(Count(TRemoteEvent::LoggedOut), 2) << "Stop ends the session once";

    RawPeer refused;
    remote_->Start();
    Greeted(refused);
    refused.Close();
    QCoreApplication::processEvents();
    EXPECT_EQ(Count(TRemoteEvent::LoggedOut), 2) << "one who never logged in does not log out";
}
