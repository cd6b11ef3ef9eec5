#include "net/WSocket.h"
#include "tests/net/NetTestUtil.h"

#include <QTimer>
#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string ErrorText(const std::function<void()>& action)
{
    try {
        action();
    } catch (const ESocketException& e) {
        return e.what();
    }
    return "(no error)";
}

// A listener on 127.0.0.1 and the socket that adopts each accepted connection.
class Loopback : public ::testing::Test {
protected:
    void SetUp() override
    {
        srv.SetAddr("127.0.0.1");
        srv.SetPort("0");
        srv.OnSessionAvailable = [this](TWSocket* s, uint16_t error) {
            log.push_back("available:" + std::to_string(error));
            cli.Dup(s->Accept());
        };
        cli.OnDataAvailable = [this](TWSocket* s, uint16_t) {
            std::string text = s->ReceiveString();
            if (!text.empty()) {
                received += text;
                log.push_back("data");
            }
        };
        cli.OnSessionClosed = [this](TWSocket*, uint16_t error) {
            log.push_back("closed:" + std::to_string(error) + " after " + std::to_string(received.size()));
        };
        srv.Listen();
        port = std::stoi(srv.GetXPort());
    }

    // A peer connected and adopted by cli.
    std::unique_ptr<RawPeer> Admit(int receiveBuffer = 0)
    {
        auto peer = std::make_unique<RawPeer>(port, receiveBuffer);
        EXPECT_TRUE(WaitFor([&] { return cli.State() == wsConnected; }));
        return peer;
    }

    TWSocket srv, cli;
    std::vector<std::string> log;
    std::string received;
    int port = 0;
};

}  // namespace

TEST_F(Loopback, SessionRunsItsEventsInOrder)
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

TEST_F(Loopback, CloseNotifiesOnceAndRestoresDefaults)
{
    auto peer = Admit();
    cli.Close();
    cli.Close();
    EXPECT_EQ(cli.State(), wsClosed);
    EXPECT_EQ(log.back(), "closed:0 after 0");
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](auto& s) { return s.rfind("closed", 0) == 0; }), 1);
    EXPECT_TRUE(peer->WaitEnded());

    srv.Close();
    EXPECT_EQ(srv.State(), wsClosed);
    std::string text = ErrorText([&] { srv.Listen(); });
    EXPECT_EQ(text, "Error 10022 in function listen: port not assigned\r\nInvalid argument");
    EXPECT_EQ(srv.LastError(), 10022);
    EXPECT_EQ(srv.Proto(), "tcp");
    EXPECT_EQ(srv.LingerOnOff(), wsLingerOn);
    EXPECT_EQ(ErrorText([&] { cli.Connect(); }), "Connect: No Port Specified");
}

TEST_F(Loopback, LargeSendGoesOutAcrossBlocksInOrder)
{
    auto peer = Admit(4096);
    std::string big(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = char((i * 7 + i / 1460) & 0xFF);
    EXPECT_EQ(cli.SendString(big), int(big.size()));
    EXPECT_GT(cli.BufferedByteCount(), 0u) << "a peer that has not read leaves bytes queued";
    EXPECT_FALSE(cli.AllSent());
    ASSERT_TRUE(peer->WaitReceived(big.size()));
    EXPECT_TRUE(peer->received == big);
    EXPECT_TRUE(WaitFor([&] { return cli.AllSent(); }));
    EXPECT_EQ(cli.BufferedByteCount(), 0u);
}

TEST_F(Loopback, DataWaitingAtPeerCloseIsAllDeliveredFirst)
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

TEST_F(Loopback, HandlerThatDoesNotReadIsAskedAgainOnlyAfterAReceive)
{
    int calls = 0;
    cli.OnDataAvailable = [&](TWSocket*, uint16_t) { ++calls; };
    auto peer = Admit();
    ASSERT_TRUE(peer->Send("abc"));
    ASSERT_TRUE(WaitFor([&] { return calls > 0; }));
    RunEventsFor(200);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(cli.ReceiveString(), "abc");
    ASSERT_TRUE(peer->Send("def"));
    EXPECT_TRUE(WaitFor([&] { return calls == 2; }));
}

TEST_F(Loopback, PeerSendingFasterThanTheHandlerReadsDoesNotHoldTheEventLoop)
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

TEST_F(Loopback, DupReplacesASessionWithoutNotifying)
{
    auto first = Admit();
    ASSERT_TRUE(WaitFor([&] { return log.size() == 1; }));
    auto second = std::make_unique<RawPeer>(port);
    ASSERT_TRUE(WaitFor([&] { return log.size() == 2; }));
    EXPECT_EQ(cli.State(), wsConnected);
    EXPECT_TRUE(first->WaitEnded());
    cli.SendString("to second");
    EXPECT_TRUE(second->WaitReceived(9));
    EXPECT_EQ(log, (std::vector<std::string>{"available:0", "available:0"}));
}

TEST_F(Loopback, ConnectionAdoptedInsideAHandlerGetsItsEvents)
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

TEST_F(Loopback, ExceptionInHandlerAbortsThatSocket)
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

TEST_F(Loopback, PortTextsAndAddressInUse)
{
    TWSocket other;
    other.SetAddr("127.0.0.1");
    other.SetPort(std::to_string(port) + "x");
    EXPECT_EQ(ErrorText([&] { other.Listen(); }), "Error 10048 in function Bind\r\nAddress already in use");
    EXPECT_EQ(other.State(), wsClosed);

    srv.Close();
    other.SetPort(std::to_string(port) + "x");
    other.Listen();
    EXPECT_EQ(other.GetXPort(), std::to_string(port)) << "only the leading digits count";
    EXPECT_EQ(ErrorText([&] { other.SetPort("23"); }), "Cannot change Port if not closed");
    EXPECT_EQ(ErrorText([&] { other.SetAddr("127.0.0.1"); }), "(no error)") << "the same text changes nothing";
}

TEST(WSocket, ResolveTexts)
{
    EXPECT_EQ(WSocketResolvePort("2323x", "tcp"), 2323);
    EXPECT_EQ(WSocketResolvePort(" 23 ", "tcp"), 23);
    EXPECT_EQ(ErrorText([] { WSocketResolvePort("nosuchservice", "tcp"); }),
              "WSocketResolvePort: Cannot convert port 'nosuchservice', Error #11004");
    EXPECT_EQ(ErrorText([] { WSocketResolvePort("", "tcp"); }), "WSocketResolvePort: Invalid Port.");
    EXPECT_EQ(ErrorText([] { WSocketResolvePort("99999", "tcp"); }), "WSocketResolvePort: Invalid Port.");
    EXPECT_EQ(ErrorText([] { WSocketResolvePort("23", ""); }), "WSocketResolvePort: Invalid Proto.");
    EXPECT_EQ(WSocketResolveProto("tcp"), 6);
    EXPECT_EQ(WSocketResolveProto("17abc"), 17);
    EXPECT_EQ(ErrorText([] { WSocketResolveProto(""); }), "WSocketResolveProto: Invalid Protocol.");
    EXPECT_EQ(ErrorText([] { WSocketResolveProto("nosuchproto"); }),
              "WSocketResolveProto: Cannot convert protocol 'nosuchproto', Error #11004");

    EXPECT_EQ(WSocketResolveHost(" 127.0.0.1 "), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(WSocketResolveHost("255.255.255.255"), 0xFFFFFFFFu);
    EXPECT_EQ(ErrorText([] { WSocketResolveHost(""); }), "WSocketResolveHost: '' Invalid Hostname.");
    EXPECT_EQ(ErrorText([] { WSocketResolveHost("01.2.3.4"); }), "WSocketResolveHost: '01.2.3.4' Invalid IP address.");
    EXPECT_TRUE(WSocketIsDottedIP("  10.0.0.255 "));
    EXPECT_FALSE(WSocketIsDottedIP("10.0.0.256"));
    EXPECT_FALSE(WSocketIsDottedIP(".10.0.0.1"));
    EXPECT_FALSE(WSocketIsDottedIP("10.0.0"));
    EXPECT_FALSE(WSocketIsDottedIP("10.0.0.1.2"));

    EXPECT_EQ(WSocketErrorDesc(10061), "Connection refused");
    EXPECT_EQ(WSocketErrorDesc(11004), "No Data");
    EXPECT_EQ(WSocketErrorDesc(12345), "Not a WinSock error");
}

TEST(WSocket, ListenWithUnknownServiceFailsWithItsText)
{
    TWSocket s;
    s.SetAddr("127.0.0.1");
    s.SetPort("nosuchservice");
    EXPECT_EQ(ErrorText([&] { s.Listen(); }),
              "listen: WSocketResolvePort: Cannot convert port 'nosuchservice', Error #11004");
    EXPECT_EQ(s.State(), wsClosed);
}

TEST(WSocket, SendWithoutConnection)
{
    TWSocket s;
    EXPECT_EQ(ErrorText([&] { s.Send("x", 1); }), "Error 10057 in function Send\r\nSocket is not connected");
    int errors = 0;
    s.OnError = [&](TWSocket*) { ++errors; };
    EXPECT_EQ(s.Send("x", 1), -1);
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(s.LastError(), 10057);
    EXPECT_EQ(s.SendString(""), 0) << "an empty text is not sent at all";
    EXPECT_EQ(errors, 1);
}

TEST(WSocket, ConnectRefusedIsReportedAsEvents)
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

TEST(WSocket, ConnectsAndExchangesWithAListener)
{
    TWSocket srv, served, client;
    srv.SetAddr("127.0.0.1");
    srv.SetPort("0");
    srv.OnSessionAvailable = [&](TWSocket* s, uint16_t) { served.Dup(s->Accept()); };
    std::string atServer, atClient;
    served.OnDataAvailable = [&](TWSocket* s, uint16_t) { atServer += s->ReceiveString(); };
    client.OnDataAvailable = [&](TWSocket* s, uint16_t) { atClient += s->ReceiveString(); };
    int connected = -1;
    client.OnSessionConnected = [&](TWSocket*, uint16_t e) { connected = e; };
    srv.Listen();

    client.SetAddr("127.0.0.1");
    client.SetPort(srv.GetXPort());
    client.SetComponentOptions(wsoTcpNoDelay);
    client.Connect();
    ASSERT_TRUE(WaitFor([&] { return connected == 0 && served.State() == wsConnected; }));
    client.SendString("ping");
    ASSERT_TRUE(WaitFor([&] { return atServer == "ping"; }));
    served.SendString("pong");
    ASSERT_TRUE(WaitFor([&] { return atClient == "pong"; }));
    EXPECT_EQ(ErrorText([&] { client.Connect(); }), "Connect: Socket already in use");
}

TEST(WSocket, AdoptingAClosedHandleReportsNotASocket)
{
    TWSocket s;
    // Far above any descriptor this process has open.
    EXPECT_EQ(ErrorText([&] { s.Dup(1 << 20); }),
              "Error 10038 in function setsockopt(SO_LINGER)\r\nSocket operation on non-socket");
    EXPECT_EQ(s.LastError(), 10038);
    EXPECT_NE(s.State(), wsConnected);
}
