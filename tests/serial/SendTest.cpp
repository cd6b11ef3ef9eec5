#include "tests/serial/PtyFixture.h"

#include <cerrno>
#include <unistd.h>

TEST_F(SerialTest, SendTextWritesTheBytesAndReportsDone)
{
    int done = 0;
    Port->OnWriteDone = [&](TSerialPortNG*) { ++done; };
    Open();
    Port->SendText(std::string("dis ext\r\0", 9));
    EXPECT_EQ(done, 1);  // a short write finishes at once
    EXPECT_EQ(Port->WrittenBytes(), 9u);
    EXPECT_FALSE(Port->SendInProgress());
    ASSERT_TRUE(WaitUntil([&] { return Line.ReadAvailable() == std::string("dis ext\r\0", 9); }, 3000));
    Port->SendText("");
    EXPECT_EQ(done, 1);
}

TEST_F(SerialTest, SecondSendWhilePendingIsDroppedAndCloseAbortsTheFirst)
{
    int done = 0;
    Port->OnWriteDone = [&](TSerialPortNG*) { ++done; };
    Open();
    // The PBX does not read: the pty fills and the write stays pending.
    Port->SendText(std::string(256 * 1024, 'w'));
    ASSERT_TRUE(Port->SendInProgress());
    EXPECT_EQ(done, 0);
    Port->SendText("second");
    ASSERT_FALSE(Rec->Reports.empty());
    EXPECT_EQ(Rec->Reports.back().Place, 901u);
    EXPECT_EQ(Rec->Reports.back().Noise, 2);
    Port->SetActive(false);
    ASSERT_TRUE(WaitUntil([&] { return done == 1; }));
    EXPECT_FALSE(Port->SendInProgress());
    EXPECT_EQ(Rec->Count(9702), 1);
    EXPECT_EQ(Line.ReadAvailable().find("second"), std::string::npos);
}

TEST_F(SerialTest, WriteThatOutlastsItsTimeOutEndsShort)
{
    int done = 0;
    Port->OnWriteDone = [&](TSerialPortNG*) { ++done; };
    Port->SetXTOAuto(false);
    Port->SetWTOCharDelayTime(0);
    Port->SetWTOExtraDelayTime(300);
    Open();
    Port->SendText(std::string(256 * 1024, 'w'));
    ASSERT_TRUE(Port->SendInProgress());
    ASSERT_TRUE(WaitUntil([&] { return done == 1; }));
    EXPECT_EQ(Rec->Count(9701), 1);
    EXPECT_LT(Port->WrittenBytes(), 256u * 1024u);
    EXPECT_GT(Port->WrittenBytes(), 0u);
    Port->SendText("again");  // the port is usable again
    EXPECT_EQ(Rec->Count(901), 0);
}

TEST_F(SerialTest, SendOnAClosedPortReportsAndSendsNothing)
{
    Port->SendText("lost");
    EXPECT_EQ(Rec->Places(), (std::vector<uint32_t>{902, 903}));
    EXPECT_EQ(Rec->Reports[1].Code, uint32_t(EBADF));
    EXPECT_EQ(Rec->Reports[1].Noise, 0);
    EXPECT_FALSE(Port->SendInProgress());
}

TEST_F(SerialTest, BreakAndLinesFollowOpenAndClose)
{
    Open();
    EXPECT_TRUE(Port->DTRState());
    EXPECT_TRUE(Port->RTSState());
    Port->SetBREAKState(true);
    EXPECT_TRUE(Port->BREAKState());
    Port->SetBREAKState(false);
    Port->SetRTSState(false);
    EXPECT_FALSE(Port->RTSState());
    Port->SetActive(false);
    EXPECT_FALSE(Port->DTRState());
    EXPECT_FALSE(Port->RTSState());
    Port->SetActive(true);
    EXPECT_TRUE(Port->DTRState());
    EXPECT_TRUE(Port->RTSState());
    for (uint32_t p : Rec->Places())
        EXPECT_TRUE(p == 100 || p == 110) << p;  // no failures on a pty
}

TEST_F(SerialTest, ALongWriteGetsItsWholeTimeOutWhereThirtyTwoBitsWouldWrap)
{
    int done = 0;
    Port->OnWriteDone = [&](TSerialPortNG*) { ++done; };
    Port->SetXTOAuto(false);
    Port->SetWTOCharDelayTime(16384);  // x 256 KiB = 2^32 us: wraps to 0 in 32 bits
    Port->SetWTOExtraDelayTime(1);
    Open();
    const std::string text(256 * 1024, 'p');
    Port->SendText(text);
    ASSERT_TRUE(Port->SendInProgress());
    std::string received;
    // A slow reader: far longer than the 1 ms a wrapped time-out would allow.
    ASSERT_TRUE(WaitUntil(
        [&] {
            received += Line.ReadAvailable();
            usleep(3000);
            return done == 1;
        },
        30000));
    WaitUntil(
        [&] {
            received += Line.ReadAvailable();
            return received.size() >= text.size();
        },
        3000);
    EXPECT_EQ(Rec->Count(9701), 0);
    EXPECT_EQ(Port->WrittenBytes(), text.size());
    EXPECT_EQ(received, text);
}
