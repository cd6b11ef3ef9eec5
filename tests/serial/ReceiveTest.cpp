#include "tests/serial/PtyFixture.h"

#include "serial/SerialDevicePosix.h"

#include <QElapsedTimer>
#include <algorithm>
#include <atomic>
#include <numeric>
#include <thread>
#include <unistd.h>

TEST_F(SerialTest, ShortBurstArrivesWholeAfterTheReceiveTimeout)
{
    Open();
    SpinFor(300);  // the worker has seen the empty queue
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
    SpinFor(200);  // the worker sees the bytes waiting for the PBX
    EXPECT_EQ(Line.ReadAvailable(), "out");
    EXPECT_TRUE(WaitUntil([&] { return !events.empty() && events[0] == "txempty"; }, 3000));
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
    EXPECT_GT(stat, 0);
    EXPECT_GT(events, 0);
    EXPECT_EQ(late, 0);
    const std::string all = Rec->Received();
    for (size_t i = 0; i < all.size(); ++i)
        ASSERT_EQ(all[i], "0123456789ab"[i % 12]) << "byte " << i;
}
