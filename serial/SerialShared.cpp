#include "serial/SerialShared.h"

#include "serial/MainThreadCall.h"
#include "serial/SerialDevicePosix.h"

#include <chrono>
#include <thread>

uint32_t SerialTick()
{
    using namespace std::chrono;
    return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

TSerialShared::TSerialShared()
{
    SerialDevice::CreateWake(WakeFd);
    HandOff = std::make_unique<MainThreadCall>();
}

TSerialShared::~TSerialShared()
{
    delete WriteJob.exchange(nullptr);
    HandOff.reset();
    SerialDevice::CloseWake(WakeFd);
}

int TSerialShared::EnterHandle()
{
    HandleInUse.store(true);
    int fd = Handle.load();
    if (fd < 0)
        HandleInUse.store(false);
    return fd;
}

void TSerialShared::LeaveHandle() { HandleInUse.store(false); }

int TSerialShared::ReleaseHandle()
{
    int fd = Handle.exchange(-1);
    // The worker only holds the handle around short non-blocking calls and a
    // wait that the wake handle ends.
    while (HandleInUse.load()) {
        SerialDevice::SignalWake(WakeFd);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return fd;
}
