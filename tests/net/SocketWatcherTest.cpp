#include "net/SocketWatcher.h"
#include "tests/net/NetTestUtil.h"

#include <gtest/gtest.h>
#include <memory>
#include <utility>
#include <vector>

using namespace SockApi;

namespace {

using Events = std::vector<std::pair<unsigned, int>>;

// A connection on 127.0.0.1: the accepted handle under watch, and the far end.
class Watched : public ::testing::Test {
protected:
    void SetUp() override
    {
        listener = OpenStream(6, true);
        ASSERT_GE(listener, 0);
        uint32_t addr = 0;
        ASSERT_EQ(Bind(listener, htonl(INADDR_LOOPBACK), 0), 0);
        ASSERT_EQ(Listen(listener, 1), 0);
        ASSERT_EQ(GetSockName(listener, addr, port), 0);
        ASSERT_TRUE(peer.Connect(port));
        ASSERT_TRUE(WaitFor([&] { return (handle = Accept(listener)) != kInvalidHandle; }));
    }
    void TearDown() override
    {
        watcher.reset();
        CloseSocket(handle);
        CloseSocket(listener);
    }
    void Watch(TSocketWatcher::Mode mode = TSocketWatcher::Mode::Connected)
    {
        ASSERT_EQ(watcher->Watch(handle, mode), 0);
    }
    std::string ReadAll()
    {
        char buf[256];
        int n = Recv(handle, buf, sizeof buf);
        return n > 0 ? std::string(buf, size_t(n)) : std::string();
    }

    Events events;
    std::function<void(unsigned)> onEvent;
    std::unique_ptr<TSocketWatcher> watcher = std::make_unique<TSocketWatcher>([this](unsigned bits, int error) {
        events.emplace_back(bits, error);
        if (onEvent)
            onEvent(bits);
    });
    Handle listener = kInvalidHandle, handle = kInvalidHandle;
    uint16_t port = 0;
    RawPeer peer;
};

}  // namespace

TEST_F(Watched, ReadIsReportedAgainOnlyAfterTheOwnerRead)
{
    Watch();
    ASSERT_TRUE(peer.Send("abc"));
    ASSERT_TRUE(WaitFor([&] { return !events.empty(); }));
    RunReadyEvents();
    EXPECT_EQ(events, (Events{{FdRead, 0}}));
    watcher->ReadDone();  // nothing read: the bytes still wait and are reported again
    ASSERT_TRUE(WaitFor([&] { return events.size() == 2; }));
    EXPECT_EQ(ReadAll(), "abc");
    watcher->ReadDone();
    RunReadyEvents();
    EXPECT_EQ(events, (Events{{FdRead, 0}, {FdRead, 0}}));
}

TEST_F(Watched, PeerCloseComesOnceAfterTheData)
{
    Watch();
    ASSERT_TRUE(peer.Send("x"));
    peer.Close();
    ASSERT_TRUE(WaitFor([&] { return !events.empty(); }));
    EXPECT_EQ(ReadAll(), "x");
    watcher->ReadDone();
    ASSERT_TRUE(WaitFor([&] { return events.size() == 2; }));
    watcher->ReadDone();
    RunReadyEvents();
    EXPECT_EQ(events, (Events{{FdRead, 0}, {FdClose, 0}}));
}

TEST_F(Watched, ResetIsReportedWithItsCode)
{
    Watch();
    linger abortive{1, 0};
    setsockopt(peer.fd(), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    peer.Close();
    ASSERT_TRUE(WaitFor([&] { return !events.empty(); }));
    EXPECT_EQ(events, (Events{{FdClose, ErrConnReset}}));
}

TEST_F(Watched, WriteIsReportedOnlyWhenWanted)
{
    Watch();
    RunReadyEvents();
    EXPECT_TRUE(events.empty()) << "a writable socket is not reported unasked";
    watcher->WantWrite();
    ASSERT_TRUE(WaitFor([&] { return !events.empty(); }));
    RunReadyEvents();
    EXPECT_EQ(events, (Events{{FdWrite, 0}}));
}

TEST_F(Watched, EventsPostedInsideTheHandlerWaitForItToReturn)
{
    int depth = 0, deepest = 0;
    onEvent = [&](unsigned bits) {
        deepest = std::max(deepest, ++depth);
        if (bits == FdRead) {
            watcher->Post(FdWrite, 7);
            RunReadyEvents();
        }
        --depth;
    };
    Watch();
    ASSERT_TRUE(peer.Send("a"));
    ASSERT_TRUE(WaitFor([&] { return events.size() == 2; }));
    EXPECT_EQ(events, (Events{{FdRead, 0}, {FdWrite, 7}}));
    EXPECT_EQ(deepest, 1);
}

TEST_F(Watched, EventsPostedForAnEarlierHandleAreDropped)
{
    Watch();
    watcher->Post(FdWrite);
    watcher->Stop();
    Watch();  // the same descriptor again, as after a close and a new accept
    watcher->Post(FdClose);
    RunReadyEvents();
    EXPECT_EQ(events, (Events{{FdClose, 0}}));
}

TEST_F(Watched, HandlerMayDestroyTheWatcher)
{
    onEvent = [&](unsigned) { watcher.reset(); };
    Watch();
    watcher->Post(FdWrite);
    watcher->Post(FdClose);
    ASSERT_TRUE(WaitFor([&] { return !watcher; }));
    RunReadyEvents();
    EXPECT_EQ(events, (Events{{FdWrite, 0}}));
}

TEST_F(Watched, ConnectOutcomeComesAsOneConnectEvent)
{
    Handle out = OpenStream(6, false);
    ASSERT_EQ(watcher->Watch(out, TSocketWatcher::Mode::Connecting), 0);
    ASSERT_EQ(watcher->StartConnect(htonl(INADDR_LOOPBACK), port), 0);
    ASSERT_TRUE(WaitFor([&] { return !events.empty(); }));
    EXPECT_EQ(events, (Events{{FdConnect | FdWrite, 0}}));

    // Nobody listens on the port once the listener is gone.
    CloseSocket(listener);
    listener = kInvalidHandle;
    CloseSocket(out);
    out = OpenStream(6, false);
    events.clear();
    ASSERT_EQ(watcher->Watch(out, TSocketWatcher::Mode::Connecting), 0);
    ASSERT_EQ(watcher->StartConnect(htonl(INADDR_LOOPBACK), port), 0);
    ASSERT_TRUE(WaitFor([&] { return !events.empty(); }));
    RunReadyEvents();
    EXPECT_EQ(events, (Events{{FdConnect, 10061}}));
    watcher->Stop();
    CloseSocket(out);
}
