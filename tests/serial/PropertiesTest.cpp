#include "tests/serial/PtyFixture.h"

#include <cerrno>

TEST(SerialProperties, ConstructedClosedWithTheInitialValues)
{
    TSerialPortNG port;
    EXPECT_FALSE(port.Active());
    EXPECT_EQ(port.CommPort(), "COM2");
    EXPECT_EQ(port.ComHandle(), 0xFFFFFFFFu);
    EXPECT_EQ(port.BaudRate(), 9600u);
    EXPECT_EQ(port.ClusterSize(), 3072);
    EXPECT_EQ(port.XONLimDiv(), 33);
    EXPECT_EQ(port.RTOCharDelayTime(), 1100u);
    EXPECT_EQ(port.RTOExtraDelayTime(), 250);
    EXPECT_TRUE(port.XTOAuto());
    EXPECT_TRUE(port.RTSState());
    EXPECT_TRUE(port.DTRState());
    EXPECT_FALSE(port.BREAKState());
    EXPECT_EQ(port.QueuedClusterSize(), -1);
    EXPECT_EQ(port.PopClusterText(), "");
    EXPECT_EQ(port.QueuedClusterSize(), -1);
}

TEST(SerialProperties, AutoTimeoutsFollowTheSpeed)
{
    TSerialPortNG port;
    const std::pair<uint32_t, uint32_t> rows[] = {{19200, 570}, {9600, 1100}, {100, 1100},  {110, 100000},
                                                  {14400, 760}, {56000, 200}, {300000, 43}, {38399, 570}};
    // the last row passed wins
    for (auto [baud, delay] : rows) {
        port.SetBaudRate(baud);
        EXPECT_EQ(port.RTOCharDelayTime(), delay) << baud;
        EXPECT_EQ(port.WTOCharDelayTime(), delay) << baud;
    }
    port.SetXTOAuto(false);
    port.SetBaudRate(1200);
    EXPECT_EQ(port.RTOCharDelayTime(), 570u);
    port.SetXTOAuto(true);  // becoming True recomputes at once
    EXPECT_EQ(port.RTOCharDelayTime(), 9000u);
}

TEST(SerialProperties, LimitAbove100IsCappedWithAWarning)
{
    TSerialPortNG port;
    Recorder rec(port);
    port.SetXONLimDiv(150);
    port.SetXOFFLimDiv(101);
    EXPECT_EQ(port.XONLimDiv(), 100);
    EXPECT_EQ(port.XOFFLimDiv(), 100);
    ASSERT_EQ(rec.Reports.size(), 2u);
    EXPECT_EQ(rec.Reports[0].Place, 100u);
    EXPECT_EQ(rec.Reports[0].Code, 150u);
    EXPECT_EQ(rec.Reports[0].Noise, 1);
    EXPECT_EQ(rec.Reports[0].Msg, "Warning XOnLimDef set to 100");
    EXPECT_EQ(rec.Reports[1].Msg, "Warning XOffLimDef set to 100");
}

TEST(SerialProperties, ErrorNoiseFiltersReports)
{
    TSerialPortNG port;
    Recorder rec(port);
    port.SetErrorNoise(0);
    port.SetXONLimDiv(150);     // warning: dropped
    port.SetRxQueueSize(1024);  // closed: the device refuses the sizes (Noise 0)
    ASSERT_EQ(rec.Reports.size(), 1u);
    EXPECT_EQ(rec.Reports[0].Place, 101u);
    EXPECT_EQ(rec.Reports[0].Msg, "Error can not set Quesize");
    EXPECT_EQ(port.RxQueueSize(), 1024);
    port.SetRxQueueSize(1024);  // unchanged: nothing
    port.SetTxQueueSize(2048);
    ASSERT_EQ(rec.Reports.size(), 2u);
    EXPECT_EQ(rec.Reports[1].Place, 102u);
    port.SetErrorNoise(1);
    port.SetXOFFLimDiv(200);
    EXPECT_EQ(rec.Reports.size(), 3u);
}

TEST(SerialProperties, ClosedPortIgnoresLineSettersAndNameChanges)
{
    TSerialPortNG port;
    Recorder rec(port);
    port.SetRTSState(false);
    port.SetDTRState(false);
    port.SetBREAKState(true);
    EXPECT_TRUE(port.RTSState());
    EXPECT_TRUE(port.DTRState());
    EXPECT_FALSE(port.BREAKState());
    port.SetCommPort("/dev/null-no-such-port");
    EXPECT_FALSE(port.Active());
    EXPECT_TRUE(rec.Reports.empty());
}

TEST(SerialProperties, InjectedClustersQueueInOrder)
{
    TSerialPortNG port;
    int events = 0;
    port.OnRxClusterEvent = [&](TSerialPortNG*) { ++events; };
    port.InjectCluster(std::string("a\0b", 3));
    port.InjectCluster("");
    EXPECT_EQ(events, 2);
    EXPECT_EQ(port.QueuedClusterSize(), 3);
    EXPECT_EQ(port.PopClusterText(), std::string("a\0b", 3));
    EXPECT_EQ(port.QueuedClusterSize(), 0);  // a queued empty cluster
    EXPECT_EQ(port.PopClusterText(), "");
    EXPECT_EQ(port.QueuedClusterSize(), -1);
}

TEST(SerialProperties, AnEventMayClearOrReplaceItselfWhileItRuns)
{
    TSerialPortNG port;
    EXPECT_FALSE(port.OnRxClusterEvent);
    port.OnRxClusterEvent(&port);  // nothing assigned: nothing happens
    std::vector<std::string> calls;
    auto text = std::make_shared<std::string>("first");
    port.OnRxClusterEvent = [&, text](TSerialPortNG* p) {
        p->OnRxClusterEvent = nullptr;  // destroys the stored copy of this lambda
        calls.push_back(*text);         // ... but not the one that runs
    };
    text.reset();
    EXPECT_TRUE(port.OnRxClusterEvent);
    port.InjectCluster("x");
    EXPECT_FALSE(port.OnRxClusterEvent);
    port.InjectCluster("y");
    EXPECT_EQ(calls, std::vector<std::string>{"first"});
    EXPECT_EQ(port.QueuedClusterSize(), 1);
}
