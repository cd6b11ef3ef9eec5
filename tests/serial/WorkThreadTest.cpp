// The worker: cutting received bytes into clusters, line events and status,
// finishing writes, and never using a handle the close path has released.
#include "tests/serial/PtyFixture.h"

#include <QElapsedTimer>
#include <algorithm>
#include <atomic>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>
#include <utility>

TEST_F(SerialTest, ShortBurstArrivesWholeAfterTheReceiveTimeout)
{
    Open();
    // A first byte, cut by the time-out, shows that the worker is polling.
    Line.Write("0");
    ASSERT_TRUE(WaitUntil([&] { return !Rec->Clusters.empty(); }));
    Rec->Clusters.clear();
    QElapsedTimer t;
    t.start();
    Line.Write("ABCDE");
    ASSERT_TRUE(WaitUntil([&] { return !Rec->Clusters.empty(); }));
    // 5 x 1.1 ms + 250 ms counted from a poll at most 75 ms before the write.
    EXPECT_GE(t.elapsed(), 150);
    SpinFor(300);
    EXPECT_EQ(Rec->Clusters, std::vector<std::string>{"ABCDE"});
}

TEST_F(SerialTest, ContinuousStreamGivesClustersOfAboutClusterSize)
{
    Open();
    std::string stream;
    for (int i = 0; i < 600; ++i)
        stream.push_back(char('A' + i % 26));
    std::thread writer([&] {
        for (size_t i = 0; i < stream.size(); ++i) {
            Line.Write(stream.substr(i, 1));
            usleep(1000);  // about 9600 bit/s
        }
    });
    const bool all = WaitUntil([&] { return Rec->Received().size() == stream.size(); }, 20000);
    writer.join();
    ASSERT_TRUE(all);
    EXPECT_EQ(Rec->Received(), stream);
    for (size_t i = 0; i + 1 < Rec->Clusters.size(); ++i)
        EXPECT_GE(Rec->Clusters[i].size(), 12u) << "cluster " << i;
    // Cut by the 75 ms poll, nearly every cluster would be about 75 bytes; a busy
    // machine may delay a few hand-offs and so make a few clusters larger.
    std::vector<size_t> sizes;
    for (const auto& cluster : Rec->Clusters)
        sizes.push_back(cluster.size());
    std::nth_element(sizes.begin(), sizes.begin() + sizes.size() / 2, sizes.end());
    EXPECT_LT(sizes[sizes.size() / 2], 60u) << "clusters are cut by size, not by the poll period";
    // One event per cluster, each finding its own cluster as the only one queued.
    ASSERT_EQ(Rec->SizeAtEvent.size(), Rec->Clusters.size());
    for (size_t i = 0; i < Rec->Clusters.size(); ++i)
        EXPECT_EQ(Rec->SizeAtEvent[i], int32_t(Rec->Clusters[i].size()));
}

TEST_F(SerialTest, BytesWaitingAtOnePollMakeOneCluster)
{
    Open();
    std::string thirty(30, 'x');
    thirty[7] = '\0';  // zero bytes pass unchanged
    Line.Write(thirty);
    ASSERT_TRUE(WaitUntil([&] { return !Rec->Clusters.empty(); }));
    SpinFor(400);
    EXPECT_EQ(Rec->Clusters, std::vector<std::string>{thirty});
}

TEST_F(SerialTest, WhileTheClusterHandlerRunsTheWorkerTakesNothingMore)
{
    Open();
    bool first = true, queuedMeanwhile = false;
    std::string taken;
    Port->OnRxClusterEvent = [&](TSerialPortNG* port) {
        taken += port->PopClusterText();
        if (!std::exchange(first, false))
            return;
        // The worker sleeps on the line while this runs; what arrives now must wait.
        Line.Write("SECOND-CLUSTER");
        SpinFor(300);
        queuedMeanwhile = port->QueuedClusterSize() >= 0;
    };
    Line.Write("FIRST-CLUSTER");
    ASSERT_TRUE(WaitUntil([&] { return taken == "FIRST-CLUSTERSECOND-CLUSTER"; }));
    EXPECT_FALSE(queuedMeanwhile);
}

TEST_F(SerialTest, ReadRequestReadsWhateverIsWaiting)
{
    Port->SetRTOExtraDelayTime(60000);  // only the request can cut these
    Open();
    Port->SetClusterSize(1000);
    Line.Write("abc");
    SpinFor(300);
    EXPECT_TRUE(Rec->Clusters.empty());
    Port->SetReadRequest(true);
    ASSERT_TRUE(WaitUntil([&] { return !Rec->Clusters.empty(); }, 3000));
    EXPECT_EQ(Rec->Clusters[0], "abc");
    EXPECT_FALSE(Port->ReadRequest());

    Port->SetReadRequest(true);  // nothing waiting: it stays set
    SpinFor(300);
    EXPECT_TRUE(Port->ReadRequest());
    Line.Write("d");
    ASSERT_TRUE(WaitUntil([&] { return Rec->Clusters.size() == 2; }, 3000));
    EXPECT_EQ(Rec->Clusters[1], "d");
    EXPECT_FALSE(Port->ReadRequest());
}

TEST_F(SerialTest, QuietModeQueuesClustersWithoutEvents)
{
    Port->SetThreadQuietMode(true);
    Open();
    Line.Write(std::string(20, 'q'));
    ASSERT_TRUE(WaitUntil([&] { return Port->QueuedClusterSize() > 0; }));
    Line.Write(std::string(13, 'r'));
    ASSERT_TRUE(WaitUntil([&] {
        return Port->QueuedClusterSize() == 20 && Port->CommStateInQueue() == 0 && Port->PopClusterText().size() == 20;
    }));
    ASSERT_TRUE(WaitUntil([&] { return Port->QueuedClusterSize() == 13; }));
    EXPECT_TRUE(Rec->Clusters.empty());
}

TEST_F(SerialTest, LineEventsAndStatusReachTheirHandlers)
{
    std::vector<std::string> events;
    Port->OnRxCharEvent = [&](TSerialPortNG*) { events.push_back("rxchar"); };
    Port->OnTxQueueEmptyEvent = [&](TSerialPortNG*) { events.push_back("txempty"); };
    Port->OnCommEvent = [&](TSerialPortNG* p) { events.push_back("comm " + std::to_string(p->CommEvent())); };
    int stat = 0;
    Port->OnCommStat = [&](TSerialPortNG*) { ++stat; };
    Open();
    Line.Write(std::string(12, 'z'));
    ASSERT_TRUE(WaitUntil([&] { return Rec->Received().size() == 12; }));
    ASSERT_TRUE(WaitUntil([&] { return events.size() >= 2; }));
    EXPECT_EQ(events[0], "rxchar");
    EXPECT_EQ(events[1], "comm 1");
    EXPECT_GE(stat, 1);

    events.clear();
    Port->SendText("out");
    std::string out;
    EXPECT_TRUE(WaitUntil([&] { return (out += Line.ReadAvailable()) == "out"; }, 3000)) << out;
    EXPECT_TRUE(WaitUntil([&] { return !events.empty() && events[0] == "txempty"; }, 3000));
}

TEST_F(SerialTest, HandlersMayBeAssignedAndClearedWhileTheWorkerIsBusy)
{
    Open();
    std::atomic<bool> stop{false};
    std::atomic<size_t> sent{0};
    std::thread pbx([&] {
        while (!stop) {
            if (write(Line.Master(), "0123456789ab", 12) == 12)
                sent += 12;
            usleep(2000);
        }
    });
    int stat = 0, events = 0, late = 0;
    for (int round = 0; round < 100; ++round) {
        Port->OnCommStat = [&](TSerialPortNG*) { ++stat; };
        Port->OnRxCharEvent = [&](TSerialPortNG*) { ++events; };
        Port->OnCommEvent = [&](TSerialPortNG*) { ++events; };
        Port->OnRIEvent = [&](TSerialPortNG*) { ++events; };
        Port->OnTxQueueEmptyEvent = [&](TSerialPortNG*) { ++events; };
        SpinFor(5);
        Port->OnCommStat = nullptr;
        Port->OnRxCharEvent = nullptr;
        Port->OnCommEvent = nullptr;
        Port->OnTxQueueEmptyEvent = nullptr;
        Port->OnRIEvent = nullptr;
        SpinFor(5);
    }
    // A hand-off already on its way finds the handler gone and calls nothing.
    Port->OnCommStat = [&](TSerialPortNG*) { ++late; };
    Port->OnRxCharEvent = [&](TSerialPortNG*) { ++late; };
    Port->OnCommStat = nullptr;
    Port->OnRxCharEvent = nullptr;
    SpinFor(200);
    stop = true;
    pbx.join();
    ASSERT_TRUE(WaitUntil([&] { return Rec->Received().size() == sent; }));
    // The status handler runs only when the status changes, which a busy line
    // may never show between two polls: only the other handlers must have run.
    EXPECT_GT(events, 0);
    EXPECT_EQ(late, 0);
    const std::string all = Rec->Received();
    for (size_t i = 0; i < all.size(); ++i)
        ASSERT_EQ(all[i], "0123456789ab"[i % 12]) << "byte " << i;
}

TEST_F(SerialTest, HangUpIsReportedOnceAndDoesNotSpin)
{
    Open();
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
    ASSERT_TRUE(WaitUntil([&] { return Rec->Clusters.size() >= 3; }));
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
