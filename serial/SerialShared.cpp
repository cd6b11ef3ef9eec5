#include "serial/SerialShared.h"

#include "serial/MainThreadCall.h"
#include "serial/SerialDevicePosix.h"

uint32_t SerialTick()
{
    using namespace std::chrono;
    return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

TSerialShared::TSerialShared()
{
    WakeError = SerialDevice::CreateWake(WakeFd);
    HandOff = std::make_unique<MainThreadCall>();
}

TSerialShared::~TSerialShared()
{
    delete WriteJob.exchange(nullptr);
    HandOff.reset();
    SerialDevice::CloseWake(WakeFd);
}

TSerialHandle::Lease::Lease(TSerialHandle& handle) : handle_(handle)
{
    std::lock_guard<std::mutex> l(handle_.mutex_);
    fd_ = handle_.fd_;
    if (fd_ >= 0)
        ++handle_.leases_;
}

TSerialHandle::Lease::~Lease()
{
    if (fd_ < 0)
        return;
    std::lock_guard<std::mutex> l(handle_.mutex_);
    if (--handle_.leases_ == 0)
        handle_.returned_.notify_all();
}

int TSerialHandle::Release(int wakeFd)
{
    std::unique_lock<std::mutex> l(mutex_);
    const int fd = fd_.exchange(-1);
    if (leases_ > 0)
        SerialDevice::SignalWake(wakeFd);
    returned_.wait(l, [this] { return leases_ == 0; });
    return fd;
}

void TRunningFlag::Set(bool running)
{
    if (set_ == running)
        return;
    {
        std::lock_guard<std::mutex> l(mutex_);
        set_ = running;
    }
    if (!running)
        cleared_.notify_all();
}

bool TRunningFlag::WaitUntilClear(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> l(mutex_);
    return cleared_.wait_for(l, limit, [this] { return !set_; });
}
