#include "serial/SerialNG.h"

#include "serial/MainThreadCall.h"
#include "serial/SerialDevicePosix.h"
#include "serial/WorkThread.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

namespace {

constexpr uint32_t kInvalidHandle = 0xFFFFFFFF;
constexpr uint32_t kAllLineEvents = 0x1FF;

struct AutoTimeout {
    uint32_t Baud;
    uint32_t Delay;
};
constexpr AutoTimeout AutoTimeoutTable[] = {
    {110, 100000}, {300, 37000}, {600, 18000}, {1200, 9000}, {2400, 4500}, {4800, 2300}, {9600, 1100}, {14400, 760},
    {19200, 570},  {38400, 290}, {56000, 200}, {57600, 190}, {115200, 95}, {128000, 85}, {256000, 43},
};

}  // namespace

TSerialPortNG::TSerialPortNG()
{
    FPlatform = GetPlatformId();
    SerialDevice::CreateWake(FWakeFd);
    FHandOff = std::make_unique<MainThreadCall>();
    FWorker = std::make_unique<TWorkThread>(*this);
}

TSerialPortNG::~TSerialPortNG()
{
    FDestroying = true;
    SwitchActive(false);
    // From here the worker never waits for the main thread, so it can always wind down.
    FHandOff->SetReleased(true);
    FWorker->Terminate();
    WaitThreadIdle(10);
    {
        std::lock_guard<std::mutex> l(ClusterLock);
        ClusterList.clear();
    }
    FWorker.reset();
    delete FWriteJob.exchange(nullptr);
    FHandOff.reset();
    SerialDevice::CloseWake(FWakeFd);
}

int32_t TSerialPortNG::GetPlatformId()
{
    return 2;  // counted with the NT family: no made-up ring events
}

// ---- reports ----

void TSerialPortNG::ProcessError(uint32_t Place, uint32_t Code, const std::string& Msg, uint8_t Noise)
{
    if (FDestroying || Noise > FErrorNoise || !OnProcessError)
        return;
    auto handler = OnProcessError;  // the handler may replace itself
    handler(this, Place, Code, Msg, Noise);
}

// ---- opening and closing ----

void TSerialPortNG::SwitchActive(bool Open)
{
    if (FActive) {
        ProcessError(100, 0, "Msg start deactivating Port", 2);
        if (int e = SetCommMask(0))
            ProcessError(101, uint32_t(e), "Error disabling CommEvents", 0);
        FActive = false;
        if (FSendInProgress)
            FWriteAbort = true;
        if (int e = SerialDevice::Purge(FHandle))
            ProcessError(102, uint32_t(e), "Error clearing Queues", 0);
        WaitThreadIdle(15);
        if (FThreadIsRunning)
            ProcessError(104, 0, "Warning ThreadIsRunning", 1);
        LowerLinesOnClose();
        if (int e = SerialDevice::Close(ReleaseHandle()))
            ProcessError(103, uint32_t(e), "Error closing Port", 0);
    }
    if (!Open)
        return;
    ProcessError(110, 0, "Msg start reactivating Port", 2);
    int fd = -1;
    int e = SerialDevice::Open(SerialDevice::DevicePath(FCommPort), fd);
    if (e != 0) {
        ProcessError(112, uint32_t(e), "Error reopening Port", 0);
        return;
    }
    FHandle = fd;
    ++FOpenGeneration;
    FActive = true;
    SerialDevice::SignalWake(FWakeFd);
    SetQueueSizes(111);
    ApplyCommSettings();
    SetDTRState(true);
    SetRTSState(true);
    if (int err = SetCommMask(kAllLineEvents))
        ProcessError(201, uint32_t(err), "Error activating CommEventMask", 0);
}

void TSerialPortNG::LowerLinesOnClose()
{
    // Active is already False here, so the property setters would not act.
    if (int e = SerialDevice::SetLine(FHandle, SerialDevice::Line::Dtr, false))
        ProcessError(602, uint32_t(e), "Error clearing DTR", 0);
    FDTRState = false;
    if (int e = SerialDevice::SetLine(FHandle, SerialDevice::Line::Rts, false))
        ProcessError(502, uint32_t(e), "Error clearing RTS", 0);
    FRTSState = false;
}

void TSerialPortNG::WaitThreadIdle(int times)
{
    // The worker may be waiting for a hand-off right now; let it go on (its
    // procedures run later from the event loop) instead of stalling both threads.
    FHandOff->SetReleased(true);
    SerialDevice::SignalWake(FWakeFd);
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(75 * times);
    while (FThreadIsRunning && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (!FDestroying)
        FHandOff->SetReleased(false);
}

int TSerialPortNG::SetCommMask(uint32_t mask)
{
    int e = SerialDevice::CheckHandle(FHandle);
    if (e == 0) {
        FEventMask = mask;
        SerialDevice::SignalWake(FWakeFd);  // ends a pending wait for line events
    }
    return e;
}

int TSerialPortNG::EnterHandle()
{
    FHandleInUse.store(true);
    int fd = FHandle.load();
    if (fd < 0)
        FHandleInUse.store(false);
    return fd;
}

void TSerialPortNG::LeaveHandle() { FHandleInUse.store(false); }

int TSerialPortNG::ReleaseHandle()
{
    int fd = FHandle.exchange(-1);
    // The worker only holds the handle around short non-blocking calls and a
    // wait that the wake handle ends.
    while (FHandleInUse.load()) {
        SerialDevice::SignalWake(FWakeFd);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return fd;
}

// ---- settings ----

SerialDevice::LineSettings TSerialPortNG::CurrentLineSettings() const
{
    SerialDevice::LineSettings s;
    s.BaudRate = FBaudRate;
    s.DataBits = FDataBits;
    s.ParityType = FParityType;
    s.StopBits = FStopBits;
    s.FlowControl = FFlowControl;
    s.ParityErrorReplacement = FParityErrorReplacement;
    s.XONChar = FXONChar;
    s.XOFFChar = FXOFFChar;
    s.WakeCount = uint8_t(std::clamp<uint16_t>(FClusterSize, 1, 255));
    return s;
}

void TSerialPortNG::ApplyCommSettings()
{
    const int fd = FHandle;
    SerialDevice::TermiosImage t;
    if (int e = SerialDevice::GetTermios(fd, t)) {
        ProcessError(801, uint32_t(e), "Error getting DCB from CommState", 0);
        return;
    }
    const SerialDevice::LineSettings s = CurrentLineSettings();
    const int fillError = SerialDevice::FillTermios(t, s);
    // Linux has no XON/XOFF thresholds: the line discipline keeps its own.
    if (int e = CheckTimeoutsReadable())
        ProcessError(802, uint32_t(e), "Error setting CommTimeout", 0);
    else
        FWriteTimeoutConstant = 0;
    int e = fillError ? fillError : SerialDevice::SetTermios(fd, t);
    if (e) {
        ProcessError(802, uint32_t(e), "Error setting CommState, 87 indicate that Parms are incorrect", 0);
        return;
    }
    FWakeCount = s.WakeCount;
    FStripNulls = FStripNullChars;
}

int TSerialPortNG::CheckTimeoutsReadable() const { return SerialDevice::CheckHandle(FHandle); }

void TSerialPortNG::ApplyIfActive()
{
    if (FActive)
        ApplyCommSettings();
}

void TSerialPortNG::ComputeAutoTimeouts()
{
    uint32_t delay = 1100;
    for (const AutoTimeout& row : AutoTimeoutTable)
        if (row.Baud <= FBaudRate)
            delay = row.Delay;
    SetRTOCharDelayTime(delay);
    SetWTOCharDelayTime(delay);
}

void TSerialPortNG::SetQueueSizes(uint32_t failPlace)
{
    // Linux sizes its tty buffers itself; the sizes are kept for the limits only.
    if (int e = SerialDevice::CheckHandle(FHandle))
        ProcessError(failPlace, uint32_t(e), failPlace == 111 ? "Error setup Queuesize" : "Error can not set Quesize",
                     0);
}

bool TSerialPortNG::SetLimDiv(uint8_t& field, uint8_t value, const char* warning)
{
    if (value > 100) {
        ProcessError(100, value, warning, 1);
        value = 100;
    }
    if (field == value)
        return false;
    field = value;
    ApplyIfActive();
    return true;
}

// ---- property getters and setters ----

bool TSerialPortNG::Active() const { return FActive; }
void TSerialPortNG::SetActive(bool value)
{
    if (value != FActive)
        SwitchActive(value);
}

std::string TSerialPortNG::CommPort() const { return FCommPort; }
void TSerialPortNG::SetCommPort(const std::string& value)
{
    std::string name = value.substr(0, 255);
    if (name == FCommPort)
        return;
    FCommPort = name;
    SwitchActive(FActive);
}

uint32_t TSerialPortNG::BaudRate() const { return FBaudRate; }
void TSerialPortNG::SetBaudRate(uint32_t value)
{
    if (value == FBaudRate)
        return;
    FBaudRate = value;
    if (FXTOAuto)
        ComputeAutoTimeouts();
    ApplyIfActive();
}

#define MORVEL_APPLIED_PROPERTY(Type, Name)                                                                            \
    Type TSerialPortNG::Name() const { return F##Name; }                                                               \
    void TSerialPortNG::Set##Name(Type value)                                                                          \
    {                                                                                                                  \
        if (value == F##Name)                                                                                          \
            return;                                                                                                    \
        F##Name = value;                                                                                               \
        ApplyIfActive();                                                                                               \
    }
MORVEL_APPLIED_PROPERTY(uint8_t, ParityType)
MORVEL_APPLIED_PROPERTY(char, ParityErrorChar)
MORVEL_APPLIED_PROPERTY(bool, ParityErrorReplacement)
MORVEL_APPLIED_PROPERTY(uint8_t, StopBits)
MORVEL_APPLIED_PROPERTY(uint8_t, DataBits)
MORVEL_APPLIED_PROPERTY(char, XONChar)
MORVEL_APPLIED_PROPERTY(char, XOFFChar)
MORVEL_APPLIED_PROPERTY(int32_t, FlowControl)
MORVEL_APPLIED_PROPERTY(bool, StripNullChars)
MORVEL_APPLIED_PROPERTY(char, EventChar)
MORVEL_APPLIED_PROPERTY(uint32_t, WTOCharDelayTime)
MORVEL_APPLIED_PROPERTY(uint16_t, WTOExtraDelayTime)
#undef MORVEL_APPLIED_PROPERTY

#define MORVEL_STORED_PROPERTY(Type, Name)                                                                             \
    Type TSerialPortNG::Name() const { return F##Name; }                                                               \
    void TSerialPortNG::Set##Name(Type value) { F##Name = value; }
MORVEL_STORED_PROPERTY(uint32_t, RTOCharDelayTime)
MORVEL_STORED_PROPERTY(uint16_t, RTOExtraDelayTime)
MORVEL_STORED_PROPERTY(uint16_t, ClusterSize)
MORVEL_STORED_PROPERTY(uint8_t, ErrorNoise)
MORVEL_STORED_PROPERTY(bool, ReadRequest)
MORVEL_STORED_PROPERTY(bool, ThreadQuietMode)
#undef MORVEL_STORED_PROPERTY

uint8_t TSerialPortNG::XONLimDiv() const { return FXONLimDiv; }
void TSerialPortNG::SetXONLimDiv(uint8_t value) { SetLimDiv(FXONLimDiv, value, "Warning XOnLimDef set to 100"); }
uint8_t TSerialPortNG::XOFFLimDiv() const { return FXOFFLimDiv; }
void TSerialPortNG::SetXOFFLimDiv(uint8_t value) { SetLimDiv(FXOFFLimDiv, value, "Warning XOffLimDef set to 100"); }

bool TSerialPortNG::XTOAuto() const { return FXTOAuto; }
void TSerialPortNG::SetXTOAuto(bool value)
{
    if (value == FXTOAuto)
        return;
    FXTOAuto = value;
    if (value)
        ComputeAutoTimeouts();
}

uint16_t TSerialPortNG::RxQueueSize() const { return FRxQueueSize; }
void TSerialPortNG::SetRxQueueSize(uint16_t value)
{
    if (value == FRxQueueSize)
        return;
    FRxQueueSize = value;
    SetQueueSizes(101);
}
uint16_t TSerialPortNG::TxQueueSize() const { return FTxQueueSize; }
void TSerialPortNG::SetTxQueueSize(uint16_t value)
{
    if (value == FTxQueueSize)
        return;
    FTxQueueSize = value;
    SetQueueSizes(102);
}

bool TSerialPortNG::RTSState() const { return FRTSState; }
void TSerialPortNG::SetRTSState(bool value)
{
    if (!FActive)
        return;
    if (int e = SerialDevice::SetLine(FHandle, SerialDevice::Line::Rts, value))
        ProcessError(value ? 501 : 502, uint32_t(e), value ? "Error setting RTS" : "Error clearing RTS", 0);
    FRTSState = value;
}
bool TSerialPortNG::DTRState() const { return FDTRState; }
void TSerialPortNG::SetDTRState(bool value)
{
    if (!FActive)
        return;
    if (int e = SerialDevice::SetLine(FHandle, SerialDevice::Line::Dtr, value))
        ProcessError(value ? 601 : 602, uint32_t(e), value ? "Error setting DTR" : "Error clearing DTR", 0);
    FDTRState = value;
}
bool TSerialPortNG::BREAKState() const { return FBREAKState; }
void TSerialPortNG::SetBREAKState(bool value)
{
    if (!FActive)
        return;
    if (int e = SerialDevice::SetBreak(FHandle, value))
        ProcessError(value ? 701 : 702, uint32_t(e), value ? "Error setting BREAK State" : "Error clearing BREAK State",
                     0);
    FBREAKState = value;
}

uint32_t TSerialPortNG::ComHandle() const
{
    int fd = FHandle;
    return fd < 0 ? kInvalidHandle : uint32_t(fd);
}
bool TSerialPortNG::CTSState() const { return FCTSState; }
bool TSerialPortNG::DSRState() const { return FDSRState; }
bool TSerialPortNG::RLSDState() const { return FRLSDState; }
bool TSerialPortNG::RingState() const { return FRingState; }
uint32_t TSerialPortNG::ModemState() const { return FModemState; }
uint32_t TSerialPortNG::CommError() const { return FCommError; }
TComStateFlags TSerialPortNG::CommStateFlags() const { return FCommStateFlags; }
uint32_t TSerialPortNG::CommStateInQueue() const { return FInQueue; }
uint32_t TSerialPortNG::CommStateOutQueue() const { return FOutQueue; }
uint32_t TSerialPortNG::CommEvent() const { return FCommEvent; }
bool TSerialPortNG::SendInProgress() const { return FSendInProgress; }
uint32_t TSerialPortNG::WrittenBytes() const { return FWrittenBytes; }

// ---- writing ----

void TSerialPortNG::FireWriteDone()
{
    auto handler = OnWriteDone;
    if (handler)
        handler(this);
}

void TSerialPortNG::SendData(const void* Buffer, uint32_t Count)
{
    if (FSendInProgress) {
        ProcessError(901, 0, "Msg, dont enter SendData while SendInProgress is set", 2);
        return;
    }
    const int fd = FHandle;
    if (int e = CheckTimeoutsReadable())
        ProcessError(902, uint32_t(e), "Error setting CommTimeout", 0);
    else
        FWriteTimeoutConstant = Count * FWTOCharDelayTime / 1000 + FWTOExtraDelayTime;
    FBytesToWrite = Count;
    const SerialDevice::IoResult r = SerialDevice::Write(fd, Buffer, Count);
    if (r.Status == SerialDevice::IoStatus::Data && r.Count > 0)
        FTxSent = true;
    if (r.Status == SerialDevice::IoStatus::Data && r.Count == Count) {
        FWrittenBytes = Count;
        FireWriteDone();
        return;
    }
    if (r.Status == SerialDevice::IoStatus::Data || r.Status == SerialDevice::IoStatus::WouldBlock) {
        auto job = std::make_unique<WriteJob>();
        job->Bytes.assign(static_cast<const char*>(Buffer), Count);
        job->Done = r.Status == SerialDevice::IoStatus::Data ? r.Count : 0;
        job->StartTick = SerialTick();
        job->TimeoutMs = FWriteTimeoutConstant;
        FWriteAbort = false;
        delete FWriteJob.exchange(job.release());
        FSendInProgress = true;
        SerialDevice::SignalWake(FWakeFd);
        return;
    }
    ProcessError(903, uint32_t(r.Error), "Error writing Data", 0);
    FSendInProgress = false;
}

void TSerialPortNG::SendText(const std::string& Text)
{
    if (!Text.empty())
        SendData(Text.data(), uint32_t(Text.size()));
}

// ---- received clusters ----

int32_t TSerialPortNG::QueuedClusterSize()
{
    std::lock_guard<std::mutex> l(ClusterLock);
    std::erase(ClusterList, nullptr);
    return ClusterList.empty() ? -1 : int32_t(ClusterList.front()->GetSize());
}

std::string TSerialPortNG::PopClusterText()
{
    std::lock_guard<std::mutex> l(ClusterLock);
    std::erase(ClusterList, nullptr);
    if (ClusterList.empty())
        return {};
    std::string text = std::move(ClusterList.front()->Data);
    ClusterList.pop_front();
    return text;
}

void TSerialPortNG::InjectCluster(std::string bytes, uint32_t errorFlags)
{
    {
        std::lock_guard<std::mutex> l(ClusterLock);
        ClusterList.push_back(std::make_unique<TSerialCluster>(std::move(bytes), errorFlags));
    }
    auto handler = OnRxClusterEvent;
    if (handler)
        handler(this);
}
