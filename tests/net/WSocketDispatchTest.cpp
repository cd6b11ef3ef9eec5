#include "net/WSocket.h"
#include "tests/net/NetTestUtil.h"

#include <QElapsedTimer>
#include <QTimer>
#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

class LoopbackEvents : public Loopback {};

}  // namespace

TEST_F(LoopbackEvents, SessionRunsItsEventsInOrder)
{
    EXPECT_EQ(srv.State(), wsListening);
    EXPECT_EQ(int(wsConnected), 4);
    EXPECT_EQ(int(wsClosed), 7);
    auto peer = Admit();
    EXPECT_EQ(cli.PeerAddr(), "127.0.0.1");

    ASSERT_TRUE(peer->Send("hello"));
    ASSERT_TRUE(WaitFor([&] { return received == "hello"; }));
    EXPECT_EQ(cli.SendString("world\r\n"), 7);
    ASSERT_TRUE(peer->WaitReceived(7));
    EXPECT_EQ(peer->received, "world\r\n");

    peer->Close();
    ASSERT_TRUE(WaitFor([&] { return cli.State() == wsClosed; }));
    EXPECT_EQ(log, (std::vector<std::string>{"available:0", "data", "closed:0 after 5"}));
    EXPECT_EQ(srv.State(), wsListening) << "the listener goes on after its session ends";
}

TEST_F(LoopbackEvents, DataWaitingAtPeerCloseIsAllDeliveredFirst)
{
    // Read in small pieces so that the receive loop has to come back.
    cli.OnDataAvailable = [this](TWSocket* s, uint16_t) {
        char buf[100];
        int n = s->Receive(buf, sizeof buf);
        if (n > 0)
            received.append(buf, size_t(n));
    };
    auto peer = std::make_unique<RawPeer>(port);
    std::string data(20000, 'x');
    ASSERT_TRUE(peer->Send(data));
    peer->Close();
    ASSERT_TRUE(WaitFor([&] { return cli.State() == wsClosed && !log.empty() && log.back().rfind("closed", 0) == 0; }));
    EXPECT_EQ(log.back(), "closed:0 after 20000");
    EXPECT_EQ(received, data);
}

TEST_F(LoopbackEvents, HandlerThatDoesNotReadIsAskedAgainOnlyAfterAReceive)
{
    int calls = 0;
    cli.OnDataAvailable = [&](TWSocket*, uint16_t) { ++calls; };
    auto peer = Admit();
    ASSERT_TRUE(peer->Send("abc"));
    ASSERT_TRUE(WaitFor([&] { return calls > 0; }));
    RunReadyEvents();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(cli.ReceiveString(), "abc");
    ASSERT_TRUE(peer->Send("def"));
    EXPECT_TRUE(WaitFor([&] { return calls == 2; }));
}

TEST_F(LoopbackEvents, PeerSendingFasterThanTheHandlerReadsDoesNotHoldTheEventLoop)
{
    std::atomic<bool> stop{false}, flooding{true};
    bool firedDuringFlood = false, fired = false, posted = false;
    // Posted from the first read: it runs once that read event lets go.
    cli.OnDataAvailable = [&](TWSocket* s, uint16_t) {
        char buf[64];
        s->Receive(buf, sizeof buf);
        if (posted)
            return;
        posted = true;
        QTimer::singleShot(0, [&] {
            firedDuringFlood = flooding;
            fired = true;
            stop = true;
        });
    };
    auto peer = Admit();
    fcntl(peer->fd(), F_SETFL, fcntl(peer->fd(), F_GETFL) & ~O_NONBLOCK);
    std::thread flood([&] {
        std::string chunk(65536, 'f');
        QElapsedTimer timer;
        timer.start();
        while (!stop && timer.elapsed() < 10000 && send(peer->fd(), chunk.data(), chunk.size(), MSG_NOSIGNAL) > 0) {
        }
        flooding = false;
    });
    EXPECT_TRUE(WaitFor([&] { return fired; }, 30000));
    stop = true;
    shutdown(peer->fd(), SHUT_RDWR);
    flood.join();
    EXPECT_TRUE(firedDuringFlood) << "other events waited until the peer paused";
}

TEST_F(LoopbackEvents, ConnectionAdoptedInsideAHandlerGetsItsEvents)
{
    // The second connection waits while the first is served, then takes over
    // from inside the first one's session-closed handler.
    TSocketHandle waiting = INVALID_SOCKET;
    srv.OnSessionAvailable = [&](TWSocket* s, uint16_t) {
        TSocketHandle h = s->Accept();
        if (cli.State() == wsConnected)
            waiting = h;
        else
            cli.Dup(h);
    };
    int sent = 0;
    cli.OnDataSent = [&](TWSocket*, uint16_t) { ++sent; };
    cli.OnSessionClosed = [&](TWSocket* s, uint16_t) {
        if (waiting == INVALID_SOCKET)
            return;
        s->Dup(waiting);
        waiting = INVALID_SOCKET;
        s->SendString("next");
    };
    auto first = Admit();
    RawPeer second(port);
    ASSERT_TRUE(WaitFor([&] { return waiting != INVALID_SOCKET; }));
    first->Close();
    ASSERT_TRUE(second.WaitReceived(4));
    EXPECT_EQ(second.received, "next");
    EXPECT_TRUE(WaitFor([&] { return sent == 1; }, 5000)) << "OnDataSent follows the send";
    EXPECT_EQ(cli.State(), wsConnected);
}

TEST_F(LoopbackEvents, ExceptionInHandlerAbortsThatSocket)
{
    std::string seen;
    cli.OnDataAvailable = [](TWSocket*, uint16_t) { throw std::runtime_error("handler failed"); };
    cli.OnBgException = [&](TWSocket*, const std::exception& e, bool&) { seen = e.what(); };
    auto peer = Admit();
    ASSERT_TRUE(peer->Send("x"));
    ASSERT_TRUE(WaitFor([&] { return cli.State() == wsClosed; }));
    EXPECT_EQ(seen, "handler failed");
    EXPECT_EQ(srv.State(), wsListening);
    EXPECT_TRUE(peer->WaitEnded());
}

TEST(WSocketEvents, ConnectRefusedIsReportedAsEvents)
{
    // A port that was just free: listen on 0, learn the port, close.
    TWSocket probe;
    probe.SetAddr("127.0.0.1");
    probe.SetPort("0");
    probe.Listen();
    std::string port = probe.GetXPort();
    probe.Close();

    TWSocket s;
    std::vector<std::string> events;
    s.OnSessionConnected = [&](TWSocket* x, uint16_t e) {
        events.push_back("connected:" + std::to_string(e) + ":" + std::to_string(x->State()));
    };
    s.OnSessionClosed = [&](TWSocket*, uint16_t e) { events.push_back("closed:" + std::to_string(e)); };
    s.SetAddr("127.0.0.1");
    s.SetPort(port);
    s.Connect();
    EXPECT_EQ(s.State(), wsConnecting);
    ASSERT_TRUE(WaitFor([&] { return s.State() == wsClosed; }));
    EXPECT_EQ(events, (std::vector<std::string>{"connected:10061:4", "closed:0"}));
}

TEST(WSocketEvents, SocketMayBeDestroyedInsideItsHandler)
{
    TWSocket srv;
    auto served = std::make_unique<TWSocket>();
    srv.SetAddr("127.0.0.1");
    srv.SetPort("0");
    srv.OnSessionAvailable = [&](TWSocket* s, uint16_t) { served->Dup(s->Accept()); };
    srv.Listen();
    RawPeer peer(std::stoi(srv.GetXPort()));
    ASSERT_TRUE(WaitFor([&] { return served->State() == wsConnected; }));
    // OnDataSent comes from an event the send posted, OnDataAvailable from
    // readiness of the handle.
    served->OnDataSent = [&](TWSocket*, uint16_t) { served.reset(); };
    served->SendString("bye");
    ASSERT_TRUE(WaitFor([&] { return !served; }));
    EXPECT_TRUE(peer.WaitReceived(3));

    served = std::make_unique<TWSocket>();
    RawPeer second(std::stoi(srv.GetXPort()));
    ASSERT_TRUE(WaitFor([&] { return served->State() == wsConnected; }));
    served->OnDataAvailable = [&](TWSocket*, uint16_t) { served.reset(); };
    ASSERT_TRUE(second.Send("hi"));
    ASSERT_TRUE(WaitFor([&] { return !served; }));
    EXPECT_TRUE(second.WaitEnded());
}

TEST_F(LoopbackEvents, PausedReceiveHoldsReadAndAcceptEventsWhileSendingGoesOn)
{
    auto peer = Admit();
    cli.PauseReceive();
    EXPECT_TRUE(cli.ReceivePaused());
    ASSERT_TRUE(peer->Send("abc"));
    // Nothing is to arrive: a short look is all a test can do.
    EXPECT_FALSE(WaitFor([&] { return !received.empty(); }, 300));
    cli.SendString("out");
    ASSERT_TRUE(peer->WaitReceived(3));
    cli.ResumeReceive();
    EXPECT_TRUE(WaitFor([&] { return received == "abc"; }));

    // A handler that read nothing is asked again once receiving resumes.
    int calls = 0;
    cli.OnDataAvailable = [&](TWSocket*, uint16_t) { ++calls; };
    ASSERT_TRUE(peer->Send("def"));
    ASSERT_TRUE(WaitFor([&] { return calls == 1; }));
    cli.PauseReceive();
    cli.ResumeReceive();
    EXPECT_TRUE(WaitFor([&] { return calls == 2; }));
    EXPECT_EQ(cli.ReceiveString(), "def");

    srv.PauseReceive();
    const size_t before = log.size();
    RawPeer waiting(port);
    EXPECT_FALSE(WaitFor([&] { return log.size() > before; }, 300));
    srv.ResumeReceive();
    EXPECT_TRUE(WaitFor([&] { return log.size() > before && log.back() == "available:0"; }));
}
