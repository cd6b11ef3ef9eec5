#include "tests/serial/PtyFixture.h"

#include "serial/SerialDevicePosix.h"

#include <QElapsedTimer>
#include <atomic>
#include <cerrno>
#include <stdexcept>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

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

TEST_F(SerialTest, HangUpIsReportedOnceAndDoesNotSpin)
{
    Open();
    SpinFor(200);
    Line.CloseMaster();
    ASSERT_TRUE(WaitUntil([&] { return Rec->Count(9804) == 1; }, 3000));
    EXPECT_EQ(Rec->Reports.back().Code, uint32_t(EIO));
    EXPECT_EQ(Rec->Reports.back().Noise, 0);
    const double before = ProcessCpuSeconds();
    SpinFor(2000);
    const double used = ProcessCpuSeconds() - before;
    // A spinning worker would use a whole core; the test's own spinning loop uses little.
    EXPECT_LT(used, 0.5) << used << " s of CPU in 2 s";
    EXPECT_EQ(Rec->Count(9804), 1);
    Port->SetActive(false);
    EXPECT_FALSE(Port->Active());
}

TEST_F(SerialTest, AnOpenedNonTerminalKeepsTheWorkerPaced)
{
    // /dev/null opens but is no serial line: every status query fails while
    // poll() calls it readable at once.
    Port->SetCommPort("/dev/null");
    Port->SetActive(true);
    ASSERT_TRUE(Port->Active());
    EXPECT_EQ(Rec->Count(801), 1);
    ASSERT_TRUE(WaitUntil([&] { return Rec->Count(9803) > 0; }, 3000));
    const double before = ProcessCpuSeconds();
    const int reportsBefore = Rec->Count(9803);
    SpinFor(2000);
    const double used = ProcessCpuSeconds() - before;
    // One failed query per pass, and passes are at least a wait apart.
    EXPECT_LT(Rec->Count(9803) - reportsBefore, 200);
    EXPECT_LT(used, 0.5) << used << " s of CPU in 2 s";
    Port->SetActive(false);
    EXPECT_FALSE(Port->Active());
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
    SpinFor(100);  // the hand-off machinery outlives its owner safely
}

TEST_F(SerialTest, DestroyingWhileTheWorkerWaitsForTheMainThread)
{
    Open();
    Line.Write(std::string(40, 'w'));
    usleep(400 * 1000);  // the worker is now blocked in a hand-off that nobody serves
    QElapsedTimer t;
    t.start();
    Port.reset();
    EXPECT_LT(t.elapsed(), 3000);
    SpinFor(100);
}

TEST_F(SerialTest, CloseWhileReceivingNeverTouchesTheReleasedHandle)
{
    Port->OnRxClusterEvent = [&](TSerialPortNG* p) {
        Rec->Clusters.push_back(p->PopClusterText());
        usleep(20 * 1000);  // a slow display
    };
    Open();
    std::atomic<bool> stop{false};
    std::thread pbx([&] {
        while (!stop) {
            if (write(Line.Master(), "0123456789abcdef", 16) < 0)
                usleep(500);
            usleep(300);
        }
    });
    SpinFor(300);
    const int fd = int(Port->ComHandle());
    QElapsedTimer t;
    t.start();
    Port->SetActive(false);
    EXPECT_LT(t.elapsed(), 1500);
    // The descriptor number now names a pipe full of bytes the worker must not read.
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    ASSERT_EQ(dup2(pipeFds[0], fd), fd);
    ASSERT_EQ(write(pipeFds[1], "keep", 4), 4);
    SpinFor(500);
    stop = true;
    pbx.join();
    int waiting = 0;
    ASSERT_EQ(ioctl(fd, FIONREAD, &waiting), 0);
    EXPECT_EQ(waiting, 4);
    EXPECT_EQ(Rec->Count(104), 0);
    close(fd);
    close(pipeFds[0]);
    close(pipeFds[1]);
    Port->SetActive(true);  // and it opens again
    EXPECT_TRUE(Port->Active());
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
