// The component: properties, opening and closing, line control, sending,
// reports and the end of its life.
#include "tests/serial/PtyFixture.h"

#include "serial/SerialDevicePosix.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cerrno>
#include <memory>
#include <stdexcept>
#include <unistd.h>

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

TEST_F(SerialTest, OpeningAMissingDeviceReportsAndStaysClosed)
{
    Port->SetCommPort("/dev/morvel-no-such-port");
    Port->SetActive(true);
    EXPECT_FALSE(Port->Active());
    EXPECT_EQ(Port->ComHandle(), 0xFFFFFFFFu);
    EXPECT_EQ(Rec->Places(), (std::vector<uint32_t>{110, 112}));
    EXPECT_EQ(Rec->Reports[1].Code, uint32_t(ENOENT));
    EXPECT_EQ(Rec->Reports[1].Noise, 0);
    EXPECT_EQ(Rec->Reports[1].Msg, "Error reopening Port");
}

TEST_F(SerialTest, NameChangeWhileOpenClosesAndReopens)
{
    Open();
    Port->SetActive(true);  // already open: nothing
    Pty other;
    Rec->Reports.clear();
    Port->SetCommPort(other.SlavePath());
    EXPECT_EQ(Rec->Places(), (std::vector<uint32_t>{100, 110}));
    EXPECT_TRUE(Port->Active());
    other.Write(std::string(12, 'n'));
    ASSERT_TRUE(WaitUntil([&] { return Rec->Received() == std::string(12, 'n'); }));
}

TEST_F(SerialTest, SecondOpenerIsRefused)
{
    Open();
    TSerialPortNG second;
    Recorder rec(second);
    second.SetCommPort(Line.SlavePath());
    second.SetActive(true);
    EXPECT_FALSE(second.Active());
    ASSERT_EQ(rec.Count(112), 1);
    EXPECT_EQ(rec.Reports.back().Code, uint32_t(EBUSY));
    Port->SetActive(false);  // released again: the next opener gets it
    second.SetActive(true);
    EXPECT_TRUE(second.Active());
}

TEST_F(SerialTest, SettingsReachTheDeviceAndFollowChanges)
{
    Port->SetBaudRate(14400);
    Open();
    EXPECT_TRUE(Rec->Reports.size() == 1 && Rec->Reports[0].Place == 110);
    SerialDevice::TermiosImage t;
    ASSERT_EQ(SerialDevice::GetTermios(int(Port->ComHandle()), t), 0);
    EXPECT_EQ(t.c_ospeed, 14400u);
    EXPECT_EQ(t.c_cflag & SerialDevice::kCbaud, SerialDevice::kBother);
    Port->SetBaudRate(19200);  // re-applied while open
    ASSERT_EQ(SerialDevice::GetTermios(int(Port->ComHandle()), t), 0);
    EXPECT_EQ(t.c_ospeed, 19200u);
    // A pty always runs 8 bits without parity: the read-back catches what it refused.
    Port->SetParityType(2);
    EXPECT_EQ(Rec->Count(802), 1);
    EXPECT_EQ(Rec->Reports.back().Msg, "Error setting CommState, 87 indicate that Parms are incorrect");
    Port->SetDataBits(9);
    EXPECT_EQ(Rec->Count(802), 2);
    EXPECT_TRUE(Port->Active());
}

TEST_F(SerialTest, ParityMarkingLeavesTheReceivedBytesAlone)
{
    Open();
    // The pty refuses the parity itself (802) but takes the input flags, so
    // it marks: every 255 it receives is doubled.
    Port->SetParityType(2);
    ASSERT_EQ(Rec->Count(802), 1);
    Line.Write(std::string("a\xff"
                           "b\xff\xff\0c",
                           7));
    ASSERT_TRUE(WaitUntil([&] { return Rec->Received().size() >= 7; }, 3000));
    EXPECT_EQ(Rec->Received(), std::string("a\xff"
                                           "b\xff\xff\0c",
                                           7));
}

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

TEST_F(SerialTest, DestroyingFromInsideAHandlerEndsInBoundedTime)
{
    Open();
    QElapsedTimer t;
    bool destroyed = false;
    Port->OnRxClusterEvent = [&](TSerialPortNG*) {
        t.start();
        Port.reset();
        destroyed = true;
    };
    Line.Write(std::string(40, 'd'));
    ASSERT_TRUE(WaitUntil([&] { return destroyed; }));
    EXPECT_LT(t.elapsed(), 3000);
    // The hand-off machinery outlives its owner safely.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

TEST_F(SerialTest, DestroyingWhileTheWorkerWaitsForTheMainThread)
{
    Open();
    Line.Write(std::string(40, 'w'));
    // Without the event loop: once the cluster is queued the worker is blocked
    // in a hand-off that nobody serves.
    QElapsedTimer t;
    t.start();
    while (Port->QueuedClusterSize() < 0 && t.elapsed() < 10000)
        usleep(1000);
    ASSERT_GT(Port->QueuedClusterSize(), 0);
    t.start();
    Port.reset();
    EXPECT_LT(t.elapsed(), 3000);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

TEST_F(SerialTest, AnExceptionInAHandlerGoesToTheSinkAndTheWorkerGoesOn)
{
    std::vector<std::string> shown;
    Port->OnHandlerError = [&](const std::string& text) { shown.push_back(text); };
    Port->OnRxClusterEvent = [&](TSerialPortNG* p) {
        Rec->Clusters.push_back(p->PopClusterText());
        if (Rec->Clusters.size() == 1)
            throw std::runtime_error("handler failed");
    };
    Open();
    Line.Write(std::string(12, 'a'));
    ASSERT_TRUE(WaitUntil([&] { return Rec->Clusters.size() == 1; }));
    Line.Write(std::string(12, 'b'));
    ASSERT_TRUE(WaitUntil([&] { return Rec->Clusters.size() == 2; }));
    EXPECT_EQ(Rec->Clusters[1], std::string(12, 'b'));
    EXPECT_EQ(shown, std::vector<std::string>{"handler failed"});
}

TEST_F(SerialTest, AHandlerThatDestroysThePortAndThrowsStillReachesTheSink)
{
    std::vector<std::string> shown;
    Port->OnHandlerError = [&](const std::string& text) { shown.push_back(text); };
    Port->OnRxClusterEvent = [&](TSerialPortNG*) {
        Port.reset();
        throw std::runtime_error("closed and failed");
    };
    Open();
    Line.Write(std::string(12, 'c'));
    ASSERT_TRUE(WaitUntil([&] { return !shown.empty(); }));
    EXPECT_EQ(shown, std::vector<std::string>{"closed and failed"});
    EXPECT_FALSE(Port);
}

class SerialTestWithoutWakeHandles : public SerialTest {
protected:
    void SetUp() override
    {
        SerialDevice::MakeEventFd = [] {
            errno = EMFILE;
            return -1;
        };
        SerialTest::SetUp();
    }
    void TearDown() override
    {
        SerialTest::TearDown();
        SerialDevice::MakeEventFd = nullptr;
    }
};

TEST_F(SerialTestWithoutWakeHandles, OpeningReportsTheMissingEventsAndDataStillFlows)
{
    Open();
    ASSERT_GE(Rec->Reports.size(), 3u);
    EXPECT_EQ(Rec->Reports[0].Place, 110u);
    for (size_t i : {1u, 2u}) {
        EXPECT_EQ(Rec->Reports[i].Place, 1001u);
        EXPECT_EQ(Rec->Reports[i].Code, uint32_t(EMFILE));
        EXPECT_EQ(Rec->Reports[i].Noise, 0);
        EXPECT_EQ(Rec->Reports[i].Msg, "Error Creating Overlapped Event");
    }
    Line.Write(std::string(30, 'e'));
    ASSERT_TRUE(WaitUntil([&] { return Rec->Received() == std::string(30, 'e'); }));
    Port->SendText("ack\r");
    ASSERT_TRUE(WaitUntil([&] { return Line.ReadAvailable() == "ack\r"; }, 3000));
    Port->SetActive(false);
    EXPECT_FALSE(Port->Active());
    EXPECT_EQ(Rec->Count(104), 0);
}
