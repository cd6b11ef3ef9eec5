#include "net/WSocket.h"
#include "tests/net/NetTestUtil.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

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
