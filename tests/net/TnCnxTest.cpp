#include "net/TnCnx.h"
#include "tests/net/NetTestUtil.h"

#include <QElapsedTimer>
#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// A telnet server of the test's own on 127.0.0.1 that records what it gets.
class TelnetServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        srv.SetAddr("127.0.0.1");
        srv.SetPort("0");
        srv.OnSessionAvailable = [this](TWSocket* s, uint16_t) { peer.Dup(s->Accept()); };
        peer.SetLingerOnOff(wsLingerOff);
        peer.OnDataAvailable = [this](TWSocket* s, uint16_t) { fromClient += s->ReceiveString(); };
        srv.Listen();
        cnx.SetHost("127.0.0.1");
        cnx.SetPort(srv.GetXPort());
        cnx.OnDataAvailable = [this](TTnCnx*, const char* data, int len) {
            EXPECT_EQ(data[len], '\0');
            deliveries.emplace_back(data, size_t(len));
        };
        cnx.OnDisplay = [this](TTnCnx*, const std::string& text) { displayed += text; };
        cnx.OnSessionClosed = [this](TTnCnx*, uint16_t) { ++closed; };
    }

    void ConnectBoth()
    {
        int connected = -1;
        cnx.OnSessionConnected = [&](TTnCnx*, uint16_t error) { connected = error; };
        cnx.Connect();
        ASSERT_TRUE(WaitFor([&] { return connected == 0 && peer.State() == wsConnected; }));
        ASSERT_EQ(cnx.State(), wsConnected);
    }

    std::string Delivered() const
    {
        std::string all;
        for (auto& d : deliveries)
            all += d;
        return all;
    }

    TWSocket srv, peer;
    TTnCnx cnx;
    std::string fromClient, displayed;
    std::vector<std::string> deliveries;
    int closed = 0;
};

}  // namespace

TEST_F(TelnetServer, AnswersTheNegotiation)
{
    ConnectBoth();
    int echoNotes = 0;
    cnx.OnLocalEcho = [&](TTnCnx*) { ++echoNotes; };
    cnx.SetLocalEcho(true);
    peer.SendString("\xff\xfd\x18\xff\xfa\x18\x01\xff\xf0\xff\xfd\x1f\xff\xfb\x05\xff\xfc\x05\xff\xfb\x01");
    std::string expected = "\xff\xfb\x18\xff\xfa\x18" + std::string(1, '\0') +
                           "VT100\xff\xf0"
                           "\xff\xfc\x1f\xff\xfe\x05\xff\xfc\x05\xff\xfd\x01";
    ASSERT_TRUE(WaitFor([&] { return fromClient.size() >= expected.size(); }));
    EXPECT_EQ(fromClient, expected);
    EXPECT_FALSE(cnx.LocalEcho());
    EXPECT_EQ(echoNotes, 1);

    fromClient.clear();
    peer.SendString("\xff\xfc\x01");
    ASSERT_TRUE(WaitFor([&] { return cnx.LocalEcho(); }));
    // A reply would have been sent before this marker.
    cnx.SendString("!");
    ASSERT_TRUE(WaitFor([&] { return !fromClient.empty() && fromClient.back() == '!'; }));
    EXPECT_EQ(fromClient, "!") << "WONT ECHO gets no reply";
    EXPECT_TRUE(deliveries.empty());
}

TEST_F(TelnetServer, DeliversDataWithoutCommands)
{
    ConnectBoth();
    peer.SendString(std::string("a\xff\xff"
                                "b\xff\xf1"
                                "c\xff\xef",
                                9));
    int records = 0;
    cnx.OnEndOfRecord = [&](TTnCnx*) { ++records; };
    ASSERT_TRUE(WaitFor([&] { return Delivered().size() >= 4; }));
    EXPECT_EQ(Delivered(), "a\xff"
                           "bc");
    EXPECT_EQ(records, 1);
}

TEST_F(TelnetServer, ReadsAtMost2048BytesAtATime)
{
    ConnectBoth();
    std::string data(3000, 'd');
    peer.SendString(data);
    ASSERT_TRUE(WaitFor([&] { return Delivered().size() >= data.size(); }));
    ASSERT_EQ(deliveries.size(), 2u);
    EXPECT_EQ(deliveries[0].size(), 2048u);
    EXPECT_EQ(deliveries[1].size(), 952u);
    EXPECT_EQ(Delivered(), data);
}

TEST_F(TelnetServer, SendsBytesUnchanged)
{
    ConnectBoth();
    std::string text("line\xff\r\n", 7);
    EXPECT_EQ(cnx.SendString(text), 7);
    ASSERT_TRUE(WaitFor([&] { return fromClient.size() >= 7; }));
    EXPECT_EQ(fromClient, text);
    EXPECT_EQ(cnx.BufferedByteCount(), 0u);
}

TEST_F(TelnetServer, RemoteCloseIsShownAndReported)
{
    ConnectBoth();
    peer.SendString("bye");
    peer.Close();
    ASSERT_TRUE(WaitFor([&] { return closed == 1; }));
    EXPECT_EQ(Delivered(), "bye");
    EXPECT_EQ(displayed, "\r\n**** Remote has closed ****\r\n");
    EXPECT_EQ(cnx.State(), wsClosed);
}

TEST_F(TelnetServer, NewConnectionStartsWithAFreshParser)
{
    // Each connection is cut off in the middle of a command; the next one's
    // first bytes would finish that command if the parser kept its state.
    struct Case {
        std::string cut, next, data;
    };
    const Case cases[] = {
        {"\xff", "\xfbhello", "\xfbhello"},                // after IAC: would be WILL 'h'
        {"\xff\xfa\x18\x01", "\xff\xf0mid", "mid"},        // in a subnegotiation: would send the terminal type
        {"\xff\xfa\x18\x01\xff", "\xf0last", "\xf0last"},  // after IAC in one: would end it
    };
    for (const auto& [cut, next, expected] : cases) {
        ConnectBoth();
        peer.SendString(cut);
        ASSERT_TRUE(WaitFor([&] { return cnx.Socket()->ReadCount() == cut.size(); }));
        peer.Close();
        closed = 0;
        ASSERT_TRUE(WaitFor([&] { return closed == 1; }));
        deliveries.clear();
        fromClient.clear();
        ConnectBoth();
        peer.SendString(next);
        ASSERT_TRUE(WaitFor([&] { return Delivered().size() >= expected.size(); }));
        EXPECT_EQ(Delivered(), expected);
        // A reply would have been sent before this marker.
        cnx.SendString("!");
        ASSERT_TRUE(WaitFor([&] { return !fromClient.empty() && fromClient.back() == '!'; }));
        EXPECT_EQ(fromClient, "!") << "nothing answered";
        cnx.Close();
        ASSERT_TRUE(WaitFor([&] { return peer.State() == wsClosed; }));
    }
}

TEST_F(TelnetServer, A240InsideASubnegotiationDoesNotEndIt)
{
    ConnectBoth();
    peer.SendString("\xff\xfa\x18\xf0\x01\xff\xf0"
                    "ok");
    ASSERT_TRUE(WaitFor([&] { return Delivered().size() >= 2; }));
    EXPECT_EQ(Delivered(), "ok");
}

TEST_F(TelnetServer, ConnectsToAZeroPaddedAddress)
{
    cnx.SetHost("127.000.000.001");
    ConnectBoth();
    peer.SendString("up");
    ASSERT_TRUE(WaitFor([&] { return Delivered().size() >= 2; }));
    EXPECT_EQ(Delivered(), "up");
}

TEST(TnCnx, ConnectErrorsReachTheCaller)
{
    TTnCnx cnx;
    EXPECT_EQ(cnx.Port(), "23");
    EXPECT_EQ(cnx.TermType(), "VT100");
    EXPECT_EQ(cnx.Location(), "TNCNX");
    cnx.SetHost("127.0.0.1");
    cnx.SetPort("nosuchservice");
    try {
        cnx.Connect();
        FAIL() << "no error";
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(), "connect: WSocketResolvePort: Cannot convert port 'nosuchservice', Error #11004");
    }
    EXPECT_THROW(cnx.SendString("x"), ESocketException);
}

TEST_F(TelnetServer, ReadingWaitsWhileTheSendQueueIsOverItsLimit)
{
    ConnectBoth();
    cnx.SetSendQueueLimit(64 * 1024);
    int small = 4096;
    setsockopt(cnx.Socket()->HSocket(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    peer.PauseReceive();  // the server stops reading
    const std::string big(1024 * 1024, 'b');
    cnx.SendString(big);
    ASSERT_GT(cnx.BufferedByteCount(), 64u * 1024);
    peer.SendString("\xff\xfd\x1f"
                    "after");
    // Nothing is to arrive: a short look is all a test can do.
    EXPECT_FALSE(WaitFor([&] { return !deliveries.empty(); }, 300));

    peer.ResumeReceive();
    ASSERT_TRUE(WaitFor([&] { return Delivered() == "after"; }));
    ASSERT_TRUE(WaitFor([&] { return fromClient.size() == big.size() + 3; }));
    EXPECT_EQ(fromClient.substr(big.size()), "\xff\xfc\x1f") << "the answer follows what was queued";
}

TEST_F(TelnetServer, TheReadRateLimitSpreadsALargeSendOverTime)
{
    ConnectBoth();
    const size_t rate = 256 * 1024;
    cnx.SetReceiveRateLimit(rate);
    const std::string data(640 * 1024, 'r');
    QElapsedTimer clock;
    clock.start();
    peer.SendString(data);
    double mostAhead = 0;
    ASSERT_TRUE(WaitFor([&] {
        const double seconds = double(clock.elapsed()) / 1000;
        mostAhead = std::max(mostAhead, double(Delivered().size()) - seconds * double(rate));
        return Delivered().size() == data.size();
    }));
    EXPECT_GE(clock.elapsed(), 2000) << "640 KiB at 256 KiB a second";
    EXPECT_LE(mostAhead, double(rate) / 8) << "ahead of the rate by more than the allowance";
    EXPECT_TRUE(Delivered() == data);
}
