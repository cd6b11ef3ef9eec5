#include "serial/SerialShared.h"

#include "serial/SerialDevicePosix.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <poll.h>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

// Runs f on a thread of its own; false when it has not returned in time (the
// thread is then left behind, so f must only touch what outlives the test).
bool ReturnsWithin(std::function<void()> f, std::chrono::milliseconds limit)
{
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> returned = done->get_future();
    std::thread([f = std::move(f), done] {
        f();
        done->set_value();
    }).detach();
    return returned.wait_for(limit) == std::future_status::ready;
}

}  // namespace

TEST(SerialHandle, ALeaseIsReturnedEvenWhenItsUserThrows)
{
    auto* handle = new TSerialHandle;  // left behind if Release hangs
    handle->Set(7);
    try {
        TSerialHandle::Lease lease(*handle);
        ASSERT_TRUE(lease);
        EXPECT_EQ(lease.Fd(), 7);
        throw std::runtime_error("device call failed");
    } catch (const std::runtime_error&) {
    }
    auto released = std::make_shared<int>(-1);
    ASSERT_TRUE(ReturnsWithin([handle, released] { *released = handle->Release(-1); }, 5000ms));
    EXPECT_EQ(*released, 7);
    delete handle;
}

TEST(SerialHandle, ReleaseWakesTheLeaseHoldersPollAndWaitsForIt)
{
    TSerialHandle handle;
    int wakeFd = -1;
    ASSERT_EQ(SerialDevice::CreateWake(wakeFd), 0);
    handle.Set(9);
    std::atomic<bool> leased{false}, pollEnded{false};
    std::thread worker([&] {
        TSerialHandle::Lease lease(handle);
        leased = true;
        pollfd p{wakeFd, POLLIN, 0};
        ::poll(&p, 1, 20000);
        std::this_thread::sleep_for(50ms);  // still using the descriptor
        pollEnded = true;
    });
    while (!leased)
        std::this_thread::yield();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(handle.Release(wakeFd), 9);
    EXPECT_TRUE(pollEnded) << "released while a lease was held";
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s) << "the poll was not woken";
    worker.join();
    EXPECT_EQ(handle.Fd(), -1);
    TSerialHandle::Lease late(handle);
    EXPECT_FALSE(late);
    SerialDevice::CloseWake(wakeFd);
}

TEST(SerialHandle, ReleaseWithoutLeasesAndLeasesOnAClosedHandle)
{
    TSerialHandle handle;
    EXPECT_FALSE(TSerialHandle::Lease(handle));
    EXPECT_EQ(handle.Release(-1), -1);
    handle.Set(3);
    {
        TSerialHandle::Lease a(handle), b(handle);
        EXPECT_TRUE(a && b);
    }
    EXPECT_EQ(handle.Release(-1), 3);
}

TEST(SerialRunningFlag, WaitEndsWhenClearedOrAtTheLimit)
{
    TRunningFlag flag;
    EXPECT_TRUE(flag.WaitUntilClear(0ms));
    flag.Set(true);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(flag.WaitUntilClear(100ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);

    std::thread worker([&] {
        std::this_thread::sleep_for(50ms);
        flag.Set(false);
    });
    EXPECT_TRUE(flag.WaitUntilClear(20s));
    EXPECT_FALSE(flag.IsSet());
    worker.join();
}
